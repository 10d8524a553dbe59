// Host objects for timing: a connection source, item, fluid, variable set
// and variable that do the least their interfaces ask (reference counts,
// one copied block, four stored values) and log nothing, so that what is
// timed around them is the caller's cost. They live in their own source
// file so that calls to them stay real virtual calls.
#pragma once

#include "host/HostInterfaces.h"

namespace pvt::bench {

// Live lean objects (every kind), to check that everything was released.
long LeanLiveObjects();

// The fluid: IsUnchanged answers `unchanged`; GetPropertyBlock copies `block`.
struct LeanFluidControl {
    PropertyBlock block{};
    VARIANT_BOOL unchanged = 0;
    long fetches = 0;
    long unchangedQueries = 0;
};

// Each function returns a new object holding one reference for the caller.
IFluidPropertySource* NewLeanFluid(LeanFluidControl& control);
// An item that is ready and gives fluid (adding its own reference).
ISourceItem* NewLeanItem(IUnknown* fluid);
// A source whose GetItem gives item for any key.
IConnectionSource* NewLeanSource(ISourceItem* item);
// A variable that keeps the first four elements written into it.
IHostVariable* NewLeanVariable();
// A set holding variable under "Phase_Values"; Clone gives a new set holding
// a new variable (no copy of values).
IHostVariableSet* NewLeanSet(IHostVariable* variable);

// The four elements last written into a lean variable.
const double* LeanValues(IHostVariable* variable);

}  // namespace pvt::bench
