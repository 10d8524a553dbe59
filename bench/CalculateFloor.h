// The least one publication needs: exactly the host calls the contract asks
// for, in its order, with the arithmetic of each kind of publication and
// nothing else (no connection search, no guards beyond the result checks
// the contract names).
#pragma once

#include "correlations/Catalogue.h"
#include "host/HostInterfaces.h"

namespace pvt::bench {

// Publishes for one connection the way a correlation with this row must.
// Keeps its own block, as the module's calculator does.
HRESULT FloorPublish(IConnectionSource* source, LONG itemKey, IHostVariableSet* connectionSet,
                     const CorrelationRow& row);

}  // namespace pvt::bench
