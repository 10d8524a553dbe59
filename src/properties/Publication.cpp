#include "properties/Publication.h"

#include "host/HostPtr.h"
#include "host/PhaseValuesName.h"

namespace pvt {

namespace {

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

// object queried for T into into; object is let go right after, also
// when the query throws. E_FAIL when releasing it throws.
template <class T>
HRESULT QueryAndLetGo(HostPtr<IUnknown>& object, HostPtr<T>& into) {
    try {
        if (object) QueryHostObject(object.Get(), into);
    } catch (...) {
        object.Reset();
        throw;
    }
    return object.Reset() ? S_OK : E_FAIL;
}

// The fluid of the item as IFluidPropertySource, into objects.fluid;
// E_FAIL when releasing the object the item gave throws.
HRESULT GetItemFluid(PublicationObjects& objects) {
    ISourceItem* const item = objects.item.Get();
    const HRESULT hr = Receive(objects.given, [&](IUnknown** out) { return item->GetFluid(out); });
    if (FAILED(hr)) return hr;
    return QueryAndLetGo(objects.given, objects.fluid);
}

// "Phase_Values" of connectionSet as IHostVariable, into objects.variable
// (left empty when the set has no such variable).
HRESULT FindPhaseValues(IHostVariableSet* connectionSet, PublicationObjects& objects) {
    if (FAILED(Receive(objects.given, [&](IUnknown** out) {
            return connectionSet->FindVariable(kPhaseValuesName.text(), out);
        }))) {
        return E_FAIL;
    }
    return FAILED(QueryAndLetGo(objects.given, objects.variable)) ? E_FAIL : S_OK;
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

    hr = GetItemFluid(objects);
    if (FAILED(hr)) return hr;
    if (connectionSet == nullptr || !objects.fluid) return E_FAIL;

    turn.Bind(objects.fluid.Get());
    if (FAILED(FindPhaseValues(connectionSet, objects))) return E_FAIL;
    if (!objects.variable) return S_OK;  // nothing to write into

    WriteValues(objects.variable.Get(), turn, publication, slot);
    return S_OK;
}

}  // namespace

HRESULT PublishPhaseValues(PublicationTurn& turn, PublicationObjects& objects,
                           IConnectionSource* source, LONG itemKey, IHostVariableSet* connectionSet,
                           Publication publication, int slot) {
    HRESULT hr;
    try {
        hr = Publish(objects, turn, source, itemKey, connectionSet, publication, slot);
    } catch (...) {
        objects.ReleaseAll();  // before the exception reaches the caller's boundary
        throw;
    }
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
