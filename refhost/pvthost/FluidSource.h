// The host side of a connection: a source that hands out one item per key,
// whose fluid answers the property block read from a fluid file.
#pragma once

#include "host/HostInterfaces.h"

namespace pvthost {

// The item key under which a source offers its fluid.
inline constexpr LONG kFluidItemKey = 1;

// A new connection source (one reference, owned by the caller) whose item
// kFluidItemKey gives a fluid with this block. Throws std::bad_alloc.
pvt::IConnectionSource* CreateFluidSource(const pvt::PropertyBlock& block);

// Source, item and fluid objects alive in the process.
long LiveSourceObjects();

}  // namespace pvthost
