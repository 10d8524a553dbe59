// Publishing a correlation's property for one connection into the
// connection's "Phase_Values": element 0 the overall value, elements 1 to 3
// phases 0 to 2.
#pragma once

#include "host/HostInterfaces.h"
#include "host/HostPtr.h"
#include "properties/PropertyCalculator.h"

namespace pvt {

// How a class turns the property block into its four published values.
enum class Publication { Common, MassFlowRate, VolFlowRate, Viscosity };

// What one publication obtains from the host, the objects it holds only
// until it has queried them included. Everything is let go in one order on
// every path: the variable, the turn's binding of the fluid (clearing the
// hold flag), the fluid, the item. The caller keeps it, so that what an
// interrupted publication held can still be reached and let go.
class PublicationObjects {
public:
    // Every path ends in ReleaseAll (PublishPhaseValues sees to it); the
    // holders release anything left besides.
    explicit PublicationObjects(PublicationTurn& turn) : turn_(turn) {}
    PublicationObjects(const PublicationObjects&) = delete;
    PublicationObjects& operator=(const PublicationObjects&) = delete;

    // False when a host Release threw; every other release is made anyway.
    bool ReleaseAll() noexcept {
        bool released = variable.Reset();
        if (!given.Reset()) released = false;
        if (!turn_.Unbind()) released = false;
        if (!fluid.Reset()) released = false;
        if (!item.Reset()) released = false;
        return released;
    }

    HostPtr<ISourceItem> item;
    HostPtr<IFluidPropertySource> fluid;
    HostPtr<IHostVariable> variable;
    // The item's fluid, or the set's "Phase_Values", as the host gave it,
    // until it has been queried.
    HostPtr<IUnknown> given;

private:
    PublicationTurn& turn_;
};

// Gets the connection's item and fluid into objects, binds the fluid for
// turn, finds "Phase_Values" in connectionSet and writes the values of
// publication there (slot: the slot of a common publication). turn must be
// acquired and objects empty. Host exceptions propagate; everything obtained
// is released, and the turn unbound, on every path. A host Release that
// throws gives E_FAIL.
HRESULT PublishPhaseValues(PublicationTurn& turn, PublicationObjects& objects,
                           IConnectionSource* source, LONG itemKey, IHostVariableSet* connectionSet,
                           Publication publication, int slot);

// The reads and writes of each kind of publication, on a bound turn.
void WriteCommon(IHostVariable* variable, PublicationTurn& turn, int slot);
void WriteMassFlowRate(IHostVariable* variable, PublicationTurn& turn);
void WriteVolFlowRate(IHostVariable* variable, PublicationTurn& turn);
void WriteViscosity(IHostVariable* variable, PublicationTurn& turn);

}  // namespace pvt
