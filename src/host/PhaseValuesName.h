// The tagged name of the variable every correlation publishes into.
#pragma once

#include "com/Text.h"

namespace pvt {

inline constexpr char kPhaseValuesNarrow[] = "Phase_Values";
// Handed to the data server as a plain wide string in BSTR layout.
inline constexpr StaticBstr<13> kPhaseValuesName = MakeStaticBstr(L"Phase_Values");

}  // namespace pvt
