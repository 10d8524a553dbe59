// The table of the module's creatable classes, in catalogue order, followed
// by an end marker.
#pragma once

#include "com/ComModule.h"
#include "correlations/Catalogue.h"

namespace pvt {

extern ClassTableEntry kClassTable[kCatalogueSize + 1];

}  // namespace pvt
