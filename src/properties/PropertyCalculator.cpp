#include "properties/PropertyCalculator.h"

#include "host/HostPtr.h"

#include <cstring>

namespace pvt {

CPropertyCalculator& CPropertyCalculator::Instance() {
    static CPropertyCalculator instance;
    return instance;
}

CPropertyCalculator::CPropertyCalculator() : propertyBlock() {
    std::memset(&propertyBlock, 0, sizeof propertyBlock);
}

CPropertyCalculator::~CPropertyCalculator() {
    DetachFluid();  // after a shut-down, nothing is bound any more
    std::memset(&propertyBlock, 0, sizeof propertyBlock);
    blockValid_ = false;
    filledBy_ = nullptr;
}

void CPropertyCalculator::LetGoOfFluid(bool releaseAllowed) noexcept {
    if (releaseAllowed) {
        DetachFluid();
    } else {
        boundFluid = nullptr;
    }
}

void CPropertyCalculator::AttachFluid(IFluidPropertySource* fluid) {
    if (fluid != nullptr) fluid->AddRef();
    boundFluid = fluid;
}

bool CPropertyCalculator::DetachFluid() noexcept {
    IFluidPropertySource* fluid = boundFluid;
    boundFluid = nullptr;
    return ReleaseHostObject(fluid);
}

bool CPropertyCalculator::Fetch() {
    std::memset(&propertyBlock, 0, sizeof propertyBlock);
    blockValid_ = false;
    filledBy_ = boundFluid;
    blockValid_ = SUCCEEDED(boundFluid->GetPropertyBlock(&propertyBlock));
    return blockValid_;
}

}  // namespace pvt
