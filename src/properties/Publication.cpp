#include "properties/Publication.h"

#include "host/Text.h"

#include <wrl/client.h>

namespace pvt {

using Microsoft::WRL::ComPtr;

namespace {

template <class T>
void** OutPointer(ComPtr<T>& pointer) {
    return reinterpret_cast<void**>(pointer.ReleaseAndGetAddressOf());
}

// Unbinds the fluid and clears the hold flag when the publication ends, on
// every path, exceptions included.
class FluidBinding {
public:
    FluidBinding(CPropertyCalculator& calculator, IFluidPropertySource* fluid)
        : calculator_(calculator) {
        calculator_.AttachFluid(fluid);
    }
    ~FluidBinding() {
        calculator_.holdFlag = 0;
        calculator_.DetachFluid();
    }
    FluidBinding(const FluidBinding&) = delete;
    FluidBinding& operator=(const FluidBinding&) = delete;

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

}  // namespace

HRESULT PublishPhaseValues(IConnectionSource* source, LONG itemKey,
                           IHostVariableSet* connectionSet, const CorrelationRow& row) {
    ComPtr<ISourceItem> item;
    HRESULT hr = source->GetItem(itemKey, item.GetAddressOf());
    if (FAILED(hr)) return hr;
    if (!item) return E_FAIL;  // success must come with an item

    LONG ready = 1;
    if (FAILED(item->IsReady(&ready))) ready = 1;
    if (ready == 0) return S_OK;

    ComPtr<IFluidPropertySource> fluid;
    {
        ComPtr<IUnknown> fluidObject;
        hr = item->GetFluid(fluidObject.GetAddressOf());
        if (FAILED(hr)) return hr;
        if (fluidObject) fluidObject->QueryInterface(IID_IFluidPropertySource, OutPointer(fluid));
    }
    if (connectionSet == nullptr || !fluid) return E_FAIL;

    CPropertyCalculator& calculator = CPropertyCalculator::Instance();
    FluidBinding binding(calculator, fluid.Get());

    ComPtr<IHostVariable> variable;
    {
        ComPtr<IUnknown> found;
        if (FAILED(connectionSet->FindVariable(kPhaseValuesName.text(), found.GetAddressOf()))) {
            return E_FAIL;
        }
        if (found) found->QueryInterface(IID_IHostVariable, OutPointer(variable));
    }
    if (!variable) return S_OK;  // nothing to write into

    WriteValues(variable.Get(), calculator, row);
    return S_OK;
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
