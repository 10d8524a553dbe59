// The module's correlation classes, one per catalogue row: each is the
// common correlation object bound to its row and to a type-information
// holder of its own interface.
#pragma once

#include "correlations/Correlation.h"

#include "PvtCorrelator.h"

namespace pvt {

template <int Index>
class CCorrelationClass : public CCorrelation {
public:
    static constexpr int kCatalogueIndex = Index;

    CCorrelationClass() : CCorrelation(kCatalogue[Index], TypeInfo()) {}

    // One holder per class, shared by all its objects.
    static CComTypeInfoHolder& TypeInfo() {
        static CComTypeInfoHolder holder(LIBID_PVTCORRELATORLib, kCatalogue[Index].interfaceId);
        return holder;
    }
};

// CBubblePtPressure, CBubblePtTemperature, ... CVolFlowRate.
#define PVT_CORRELATION_CLASS(name, index) \
    class C##name : public CCorrelationClass<index> {};
#include "CatalogueClasses.inc"
#undef PVT_CORRELATION_CLASS

}  // namespace pvt
