#include "properties/Publication.h"

#include "host/HostPtr.h"
#include "host/PhaseValuesName.h"

namespace pvt {

namespace {

// What one publication obtains from the host. Everything is let go in one
// order on every path, exceptions included: the variable, the turn's
// binding of the fluid (clearing the hold flag), the fluid, the item.
class PublicationObjects {
public:
    explicit PublicationObjects(PublicationTurn& turn) : turn_(turn) {}
    ~PublicationObjects() { ReleaseAll(); }
    PublicationObjects(const PublicationObjects&) = delete;
    PublicationObjects& operator=(const PublicationObjects&) = delete;

    // False when a host Release threw; every other release is made anyway.
    bool ReleaseAll() noexcept {
        bool released = variable.Reset();
        if (!turn_.Unbind()) released = false;
        if (!fluid.Reset()) released = false;
        if (!item.Reset()) released = false;
        return released;
    }

    HostPtr<ISourceItem> item;
    HostPtr<IFluidPropertySource> fluid;
    HostPtr<IHostVariable> variable;

private:
    PublicationTurn& turn_;
};

void WriteValues(IHostVariable* variable, PublicationTurn& turn, Publication publication,
                 int slot) {
    switch (publication) {
        case Publication::MassFlowRate:
            return WriteMassFlowRate(variable, turn);
        case Publication::VolFlowRate:
            return WriteVolFlowRate(variable, turn);
        case Publication::Viscosity:
            return WriteViscosity(variable, turn);
        case Publication::Common:
            break;
    }
    WriteCommon(variable, turn, slot);
}

// The fluid of item as IFluidPropertySource, into fluid; E_FAIL when
// releasing the object the item gave throws.
HRESULT GetItemFluid(ISourceItem* item, HostPtr<IFluidPropertySource>& fluid) {
    HostPtr<IUnknown> fluidObject;
    const HRESULT hr = Receive(fluidObject, [&](IUnknown** out) { return item->GetFluid(out); });
    if (FAILED(hr)) return hr;
    if (fluidObject) QueryHostObject(fluidObject.Get(), fluid);
    return fluidObject.Reset() ? S_OK : E_FAIL;
}

// "Phase_Values" of connectionSet as IHostVariable, into variable (left
// empty when the set has no such variable).
HRESULT FindPhaseValues(IHostVariableSet* connectionSet, HostPtr<IHostVariable>& variable) {
    HostPtr<IUnknown> found;
    if (FAILED(Receive(found, [&](IUnknown** out) {
            return connectionSet->FindVariable(kPhaseValuesName.text(), out);
        }))) {
        return E_FAIL;
    }
    if (found) QueryHostObject(found.Get(), variable);
    return found.Reset() ? S_OK : E_FAIL;
}

HRESULT Publish(PublicationObjects& objects, PublicationTurn& turn, IConnectionSource* source,
                LONG itemKey, IHostVariableSet* connectionSet, Publication publication, int slot) {
    HRESULT hr =
        Receive(objects.item, [&](ISourceItem** out) { return source->GetItem(itemKey, out); });
    if (FAILED(hr)) return hr;
    if (!objects.item) return E_FAIL;  // success must come with an item

    LONG ready = 1;
    if (FAILED(objects.item->IsReady(&ready))) ready = 1;
    if (ready == 0) return S_OK;

    hr = GetItemFluid(objects.item.Get(), objects.fluid);
    if (FAILED(hr)) return hr;
    if (connectionSet == nullptr || !objects.fluid) return E_FAIL;

    turn.Bind(objects.fluid.Get());
    if (FAILED(FindPhaseValues(connectionSet, objects.variable))) return E_FAIL;
    if (!objects.variable) return S_OK;  // nothing to write into

    WriteValues(objects.variable.Get(), turn, publication, slot);
    return S_OK;
}

}  // namespace

HRESULT PublishPhaseValues(PublicationTurn& turn, IConnectionSource* source, LONG itemKey,
                           IHostVariableSet* connectionSet, Publication publication, int slot) {
    PublicationObjects objects(turn);
    const HRESULT hr = Publish(objects, turn, source, itemKey, connectionSet, publication, slot);
    return objects.ReleaseAll() ? hr : E_FAIL;
}

void WriteCommon(IHostVariable* variable, PublicationTurn& turn, int slot) {
    CPropertyCalculator& calculator = turn.Calculator();
    // The first read may fetch the block; the hold keeps it for the rest.
    variable->SetValue(0, calculator.GetValue(slot, kOverallIndex));
    turn.Hold();
    variable->SetValue(1, calculator.GetValue(slot, 0));
    variable->SetValue(2, calculator.GetValue(slot, 1));
    variable->SetValue(3, calculator.GetValue(slot, 2));
    turn.EndHold();
}

}  // namespace pvt
