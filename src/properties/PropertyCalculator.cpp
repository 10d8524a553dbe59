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

bool CPropertyCalculator::Fetch() {
    std::memset(&propertyBlock, 0, sizeof propertyBlock);
    blockValid_ = false;
    blockValid_ = SUCCEEDED(boundFluid->GetPropertyBlock(&propertyBlock));
    return blockValid_;
}

}  // namespace pvt
