// Fluid files: a property block written as text.
//
//   # comment (from '#' to the end of the line)
//   present 1 1 1 0                      presence flags of phases 0 to 3
//   mass_density 125 742 1012 n/a 553.1  phases 0 to 3, then overall
//   unit mass_density kg/m3              optional: a property's unit
//
// Properties are named (PropertyNames()); a property not given is "not
// available" (-32767.0) in all five places, and so is a value written n/a.
// A unit is the rest of its line (blanks allowed); it only labels output.
#pragma once

#include "host/HostInterfaces.h"

#include <array>
#include <string>

namespace pvthost {

inline constexpr double kEmptyValue = -32767.0;

// The name of each of the 29 slots of the block, by slot number.
const std::array<const char*, pvt::kPropertySlotCount>& PropertyNames();

// The units a fluid file gives, by slot; empty where it gives none.
using FluidUnits = std::array<std::string, pvt::kPropertySlotCount>;

// Parses fluid text; a syntax error throws CommandError (exit code
// kExitFluid) naming sourceName and the line. The units go to *units when
// it is not null.
pvt::PropertyBlock ParseFluidText(const std::string& text, const std::string& sourceName,
                                  FluidUnits* units = nullptr);

// Reads and parses a fluid file.
pvt::PropertyBlock ReadFluidFile(const std::wstring& path, FluidUnits* units = nullptr);

}  // namespace pvthost
