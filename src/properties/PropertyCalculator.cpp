#include "properties/PropertyCalculator.h"

#include "module/ComModule.h"

#include <cstring>

namespace pvt {

CPropertyCalculator& CPropertyCalculator::Instance() {
    static CPropertyCalculator instance;
    return instance;
}

CPropertyCalculator::CPropertyCalculator() { std::memset(&propertyBlock, 0, sizeof propertyBlock); }

CPropertyCalculator::~CPropertyCalculator() {
    if (Module().ForeignCallsAllowed()) {
        DetachFluid();
    } else {
        boundFluid = nullptr;  // the host's objects may be gone already
    }
    std::memset(&propertyBlock, 0, sizeof propertyBlock);
    blockValid_ = false;
}

void CPropertyCalculator::AttachFluid(IFluidPropertySource* fluid) {
    if (fluid != nullptr) fluid->AddRef();
    boundFluid = fluid;
}

void CPropertyCalculator::DetachFluid() {
    if (boundFluid == nullptr) return;
    IFluidPropertySource* fluid = boundFluid;
    boundFluid = nullptr;
    fluid->Release();
}

bool CPropertyCalculator::Refresh() {
    if (boundFluid == nullptr) return false;
    try {
        VARIANT_BOOL unchanged = 0;
        boundFluid->IsUnchanged(&unchanged);  // result ignored
        if (unchanged != 0 && blockValid_) return true;
        if (holdFlag != 0) return blockValid_;
        std::memset(&propertyBlock, 0, sizeof propertyBlock);
        blockValid_ = false;
        blockValid_ = SUCCEEDED(boundFluid->GetPropertyBlock(&propertyBlock));
        return blockValid_;
    } catch (...) {
        return false;  // the block keeps whatever the fluid wrote
    }
}

double CPropertyCalculator::GetValue(int slot, int index) {
    if (!Refresh()) return kEmptyValue;
    if (slot < 0 || slot >= kPropertySlotCount || index < 0 || index > kOverallIndex) {
        return kEmptyValue;
    }
    if (index != kOverallIndex && propertyBlock.phasePresent[index] == 0) return kEmptyValue;
    return propertyBlock.slots[slot][index];
}

}  // namespace pvt
