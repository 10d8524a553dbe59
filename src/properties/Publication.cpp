#include "properties/Publication.h"

#include "host/HostPtr.h"
#include "host/Text.h"

namespace pvt {

namespace {

// What one publication obtains from the host. Everything is let go in one
// order on every path, exceptions included: the variable, the calculator's
// binding of the fluid (clearing the hold flag), the fluid, the item.
class PublicationObjects {
public:
    explicit PublicationObjects(CPropertyCalculator& calculator) : calculator_(calculator) {}
    ~PublicationObjects() { ReleaseAll(); }
    PublicationObjects(const PublicationObjects&) = delete;
    PublicationObjects& operator=(const PublicationObjects&) = delete;

    // False when a host Release threw; every other release is made anyway.
    bool ReleaseAll() noexcept {
        bool released = variable.Reset();
        calculator_.holdFlag = 0;
        if (!calculator_.DetachFluid()) released = false;
        if (!fluid.Reset()) released = false;
        if (!item.Reset()) released = false;
        return released;
    }

    HostPtr<ISourceItem> item;
    HostPtr<IFluidPropertySource> fluid;
    HostPtr<IHostVariable> variable;

private:
    CPropertyCalculator& calculator_;
};

void WriteValues(IHostVariable* variable, CPropertyCalculator& calculator,
                 const CorrelationRow& row) {
    switch (row.publication) {
        case Publication::MassFlowRate: return WriteMassFlowRate(variable, calculator);
        case Publication::VolFlowRate: return WriteVolFlowRate(variable, calculator);
        case Publication::Viscosity: return WriteViscosity(variable, calculator);
        case Publication::Common: break;
    }
    WriteCommon(variable, calculator, row.slot);
}

// The fluid of item as IFluidPropertySource, into fluid; E_FAIL when
// releasing the object the item gave throws.
HRESULT GetItemFluid(ISourceItem* item, HostPtr<IFluidPropertySource>& fluid) {
    HostPtr<IUnknown> fluidObject;
    const HRESULT hr = Receive(fluidObject, [&](IUnknown** out) { return item->GetFluid(out); });
    if (FAILED(hr)) return hr;
    if (fluidObject) QueryHostObject(fluidObject.Get(), IID_IFluidPropertySource, fluid);
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
    if (found) QueryHostObject(found.Get(), IID_IHostVariable, variable);
    return found.Reset() ? S_OK : E_FAIL;
}

HRESULT Publish(PublicationObjects& objects, CPropertyCalculator& calculator,
                IConnectionSource* source, LONG itemKey, IHostVariableSet* connectionSet,
                const CorrelationRow& row) {
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

    calculator.AttachFluid(objects.fluid.Get());
    if (FAILED(FindPhaseValues(connectionSet, objects.variable))) return E_FAIL;
    if (!objects.variable) return S_OK;  // nothing to write into

    WriteValues(objects.variable.Get(), calculator, row);
    return S_OK;
}

}  // namespace

HRESULT PublishPhaseValues(IConnectionSource* source, LONG itemKey,
                           IHostVariableSet* connectionSet, const CorrelationRow& row) {
    CPropertyCalculator& calculator = CPropertyCalculator::Instance();
    PublicationObjects objects(calculator);
    const HRESULT hr = Publish(objects, calculator, source, itemKey, connectionSet, row);
    return objects.ReleaseAll() ? hr : E_FAIL;
}

void WriteCommon(IHostVariable* variable, CPropertyCalculator& calculator, int slot) {
    // The first read may fetch the block; the hold flag keeps it for the rest.
    variable->SetValue(0, calculator.GetValue(slot, kOverallIndex));
    calculator.holdFlag = 1;
    variable->SetValue(1, calculator.GetValue(slot, 0));
    variable->SetValue(2, calculator.GetValue(slot, 1));
    variable->SetValue(3, calculator.GetValue(slot, 2));
    calculator.holdFlag = 0;
}

}  // namespace pvt
