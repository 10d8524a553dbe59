// Publishing a correlation's property for one connection into the
// connection's "Phase_Values": element 0 the overall value, elements 1 to 3
// phases 0 to 2.
#pragma once

#include "correlations/Catalogue.h"
#include "host/HostInterfaces.h"
#include "properties/PropertyCalculator.h"

namespace pvt {

// Gets the connection's item and fluid, binds the fluid to the calculator,
// finds "Phase_Values" in connectionSet and writes the row's values there.
// The caller holds the calculator (TryAcquire). Host exceptions propagate;
// the calculator is unbound and its hold flag cleared on every path.
HRESULT PublishPhaseValues(IConnectionSource* source, LONG itemKey,
                           IHostVariableSet* connectionSet, const CorrelationRow& row);

// The reads and writes of each kind of publication, on a bound calculator.
void WriteCommon(IHostVariable* variable, CPropertyCalculator& calculator, int slot);
void WriteMassFlowRate(IHostVariable* variable, CPropertyCalculator& calculator);
void WriteVolFlowRate(IHostVariable* variable, CPropertyCalculator& calculator);
void WriteViscosity(IHostVariable* variable, CPropertyCalculator& calculator);

}  // namespace pvt
