// Publishing a correlation's property for one connection into the
// connection's "Phase_Values": element 0 the overall value, elements 1 to 3
// phases 0 to 2.
#pragma once

#include "host/HostInterfaces.h"
#include "properties/PropertyCalculator.h"

namespace pvt {

// How a class turns the property block into its four published values.
enum class Publication { Common, MassFlowRate, VolFlowRate, Viscosity };

// Gets the connection's item and fluid, binds the fluid for turn, finds
// "Phase_Values" in connectionSet and writes the values of publication
// there (slot: the slot of a common publication). turn must be acquired.
// Host exceptions propagate; everything obtained is released, and the turn
// unbound, on every path. A host Release that throws gives E_FAIL.
HRESULT PublishPhaseValues(PublicationTurn& turn, IConnectionSource* source, LONG itemKey,
                           IHostVariableSet* connectionSet, Publication publication, int slot);

// The reads and writes of each kind of publication, on a bound turn.
void WriteCommon(IHostVariable* variable, PublicationTurn& turn, int slot);
void WriteMassFlowRate(IHostVariable* variable, PublicationTurn& turn);
void WriteVolFlowRate(IHostVariable* variable, PublicationTurn& turn);
void WriteViscosity(IHostVariable* variable, PublicationTurn& turn);

}  // namespace pvt
