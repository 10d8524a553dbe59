// White-box access to the private state of the shared calculator and of a
// correlation, for the tests and the benchmarks alone.
#pragma once

#include "correlations/Correlation.h"
#include "properties/PropertyCalculator.h"

namespace pvt {

struct CalculatorTestAccess {
    static IFluidPropertySource* BoundFluid(const CPropertyCalculator& c) { return c.boundFluid; }
    static LONG& HoldFlag(CPropertyCalculator& c) { return c.holdFlag; }
    static void AttachFluid(CPropertyCalculator& c, IFluidPropertySource* fluid) {
        c.AttachFluid(fluid);
    }
    static bool DetachFluid(CPropertyCalculator& c) { return c.DetachFluid(); }
};

struct CorrelationTestAccess {
    static auto& connections(CCorrelation& c) { return c.connections; }
    // The record that id finds, or null: what Calculate and Disconnect use.
    static CConnectionInfo* Find(CCorrelation& c, LONG id) {
        const std::size_t position = c.FindConnection(id);
        return position < c.connections.size() ? c.connections[position].get() : nullptr;
    }
    static auto& classIdText(CCorrelation& c) { return c.classIdText; }
    static auto& displayName(CCorrelation& c) { return c.displayName; }
    static auto& kindCode(CCorrelation& c) { return c.kindCode; }
    static auto& integer1(CCorrelation& c) { return c.integer1; }
    static auto& integer4(CCorrelation& c) { return c.integer4; }
    static auto& templateSet(CCorrelation& c) { return c.templateSet; }
    static auto& exposedSet(CCorrelation& c) { return c.exposedSet; }
    static auto& phaseVariable(CCorrelation& c) { return c.phaseVariable; }
};

}  // namespace pvt
