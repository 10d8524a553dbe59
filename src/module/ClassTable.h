// The table of the module's creatable classes, in catalogue order, followed
// by an end marker.
#pragma once

#include "correlations/Catalogue.h"
#include "module/ComModule.h"

namespace pvt {

extern ClassTableEntry kClassTable[kCatalogueSize + 1];

}  // namespace pvt
