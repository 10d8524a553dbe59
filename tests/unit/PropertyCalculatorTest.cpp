// The shared property calculator: when it fetches, reuses or refuses the
// block, and what a read returns.
#include "properties/PropertyCalculator.h"
#include "support/HostFixture.h"
#include "support/TestAccess.h"

#include <cmath>
#include <memory>

namespace pvt::test {
namespace {

class PropertyCalculatorTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        fluid = Adopt(new FakeFluid());
        fluid->block = DistinctBlock();
        calculator = std::make_unique<CPropertyCalculator>();
    }
    void TearDown() override {
        calculator.reset();
        fluid.Reset();
        HostFixture::TearDown();
    }

    Microsoft::WRL::ComPtr<FakeFluid> fluid;
    std::unique_ptr<CPropertyCalculator> calculator;
};

TEST_F(PropertyCalculatorTest, NoFluidBoundGivesTheEmptyValue) {
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    EXPECT_EQ(kEmptyValue, calculator->GetValue(28, 0));
    EXPECT_FALSE(calculator->Refresh());
}

TEST_F(PropertyCalculatorTest, ReadsTheSlotAndIndexAsStored) {
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    EXPECT_EQ(10 * 10 + 4 + 0.5, calculator->GetValue(10, 4));
    EXPECT_EQ(28 * 10 + 2 + 0.5, calculator->GetValue(28, 2));
    EXPECT_EQ(0 * 10 + 0 + 0.5, calculator->GetValue(0, 0));
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, AbsentPhaseIsEmptyButOverallIgnoresPresence) {
    fluid->block.phasePresent[1] = 0;
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    EXPECT_EQ(kEmptyValue, calculator->GetValue(6, 1));
    EXPECT_EQ(6 * 10 + 2 + 0.5, calculator->GetValue(6, 2));
    for (int& present : fluid->block.phasePresent) present = 0;
    EXPECT_EQ(6 * 10 + 4 + 0.5, calculator->GetValue(6, 4));
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, StoredEmptyValueAndNaNAreReturnedUnchanged) {
    fluid->block.slots[3][4] = kEmptyValue;
    fluid->block.slots[3][0] = std::nan("");
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    EXPECT_EQ(kEmptyValue, calculator->GetValue(3, 4));
    EXPECT_TRUE(std::isnan(calculator->GetValue(3, 0)));
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, UnchangedOnFirstUseStillFetches) {
    // A block that no fetch filled is never served as if it were real.
    fluid->unchanged = VARIANT_TRUE;
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    EXPECT_EQ(0 * 10 + 4 + 0.5, calculator->GetValue(0, 4));
    EXPECT_EQ(1, fluid->fetches);
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, UnchangedAfterAGoodFetchReusesTheBlock) {
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    calculator->GetValue(0, 4);
    fluid->unchanged = VARIANT_TRUE;
    fluid->block.slots[0][4] = 99.0;
    EXPECT_EQ(0 * 10 + 4 + 0.5, calculator->GetValue(0, 4));
    EXPECT_EQ(1, fluid->fetches);
    EXPECT_EQ(2, fluid->unchangedQueries);
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, HoldFlagKeepsTheBlockButAsksUnchangedEveryRead) {
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    calculator->GetValue(0, 4);
    CalculatorTestAccess::HoldFlag(*calculator) = 1;
    fluid->block.slots[0][0] = 99.0;
    EXPECT_EQ(0 * 10 + 0 + 0.5, calculator->GetValue(0, 0));
    EXPECT_EQ(1, fluid->fetches);
    EXPECT_EQ(2, fluid->unchangedQueries);
    CalculatorTestAccess::HoldFlag(*calculator) = 0;
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, FailedFetchUnderTheHoldFlagGivesOnlyEmptyValues) {
    fluid->fetchResult = E_FAIL;
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    CalculatorTestAccess::HoldFlag(*calculator) = 1;
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4)) << "not the zeroed block's 0.0";
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 0));
    EXPECT_EQ(1, fluid->fetches) << "no second fetch while held";
    CalculatorTestAccess::HoldFlag(*calculator) = 0;
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, ExceptionsFromTheFluidGiveTheEmptyValue) {
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    fluid->throwOnFetch = true;
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    fluid->throwOnFetch = false;
    fluid->throwOnUnchanged = true;
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    CalculatorTestAccess::DetachFluid(*calculator);
}

TEST_F(PropertyCalculatorTest, DetachReleasesExactlyTheAttachReference) {
    const LONG before = fluid->RefCount();
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    EXPECT_EQ(before + 1, fluid->RefCount());
    CalculatorTestAccess::DetachFluid(*calculator);
    EXPECT_EQ(before, fluid->RefCount());
    EXPECT_EQ(nullptr, CalculatorTestAccess::BoundFluid(*calculator));
    CalculatorTestAccess::DetachFluid(*calculator);
    EXPECT_EQ(before, fluid->RefCount());
}

TEST_F(PropertyCalculatorTest, DestructionReleasesAFluidStillBound) {
    const LONG before = fluid->RefCount();
    CalculatorTestAccess::AttachFluid(*calculator, fluid.Get());
    calculator.reset();
    EXPECT_EQ(before, fluid->RefCount());
}

TEST_F(PropertyCalculatorTest, OnlyOneTurnAtATime) {
    {
        PublicationTurn first;
        ASSERT_TRUE(first.Acquired());
        PublicationTurn second;
        EXPECT_FALSE(second.Acquired());
    }
    PublicationTurn again;
    EXPECT_TRUE(again.Acquired());
}

}  // namespace
}  // namespace pvt::test
