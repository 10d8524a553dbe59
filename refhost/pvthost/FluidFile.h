// Fluid files: a property block written as text.
//
//   # comment (from '#' to the end of the line)
//   present 1 1 1 0                      presence flags of phases 0 to 3
//   mass_density 125 742 1012 n/a 553.1  phases 0 to 3, then overall
//
// Properties are named (PropertyNames()); a property not given is "not
// available" (-32767.0) in all five places, and so is a value written n/a.
#pragma once

#include "host/HostInterfaces.h"

#include <array>
#include <string>

namespace pvthost {

inline constexpr double kEmptyValue = -32767.0;

// The name of each of the 29 slots of the block, by slot number.
const std::array<const char*, pvt::kPropertySlotCount>& PropertyNames();

// Parses fluid text; a syntax error throws CommandError (exit code
// kExitFluid) naming sourceName and the line.
pvt::PropertyBlock ParseFluidText(const std::string& text, const std::string& sourceName);

// Reads and parses a fluid file.
pvt::PropertyBlock ReadFluidFile(const std::wstring& path);

}  // namespace pvthost
