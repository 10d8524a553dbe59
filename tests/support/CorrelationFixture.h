// A fixture holding one new correlation, with helpers to connect it to fake
// sources serving a fluid.
#pragma once

#include "correlations/CorrelationClasses.h"
#include "properties/PropertyCalculator.h"
#include "support/HostFixture.h"
#include "support/PhaseValues.h"
#include "support/TestAccess.h"

#include <wrl/client.h>

namespace pvt::test {

using Microsoft::WRL::ComPtr;

// A source whose item serves fluid (which may be any object).
struct Connection {
    ComPtr<FakeSource> source;
    ComPtr<FakeItem> item;
    ComPtr<FakeFluid> fluid;
    LONG id = 0;
    IUnknown* set = nullptr;  // the record's reference, not ours
};

template <class T>
class CorrelationFixtureOf : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_EQ(S_OK, CComObject<T>::CreateInstance(IID_PPV_ARGS(correlation.GetAddressOf())));
        VarHub_Reset();
    }

    void TearDown() override {
        correlation.Reset();
        EXPECT_EQ(nullptr, CalculatorTestAccess::BoundFluid(CPropertyCalculator::Instance()));
        EXPECT_EQ(0, CalculatorTestAccess::HoldFlag(CPropertyCalculator::Instance()));
        HostFixture::TearDown();
    }

    CCorrelation* Object() { return static_cast<CCorrelation*>(correlation.Get()); }

    // A source, item and fluid with block, connected under itemKey.
    Connection Connect(const PropertyBlock& block, LONG itemKey = 7) {
        Connection c;
        c.source = Adopt(new FakeSource());
        c.item = Adopt(new FakeItem());
        c.fluid = Adopt(new FakeFluid());
        c.fluid->block = block;
        c.item->fluid = c.fluid;
        c.source->item = c.item;
        EXPECT_EQ(S_OK, correlation->Connect(c.source.Get(), itemKey, &c.id, &c.set));
        return c;
    }

    // The four elements of a connection's "Phase_Values", as written.
    std::vector<double> PhaseValues(const Connection& c) { return PhaseValuesOf(c.set); }

    ComPtr<ICorrelation> correlation;
};

using CorrelationFixture = CorrelationFixtureOf<CBubblePtPressure>;

}  // namespace pvt::test
