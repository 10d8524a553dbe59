// The shared property calculator: when it fetches, reuses or refuses the
// block, and what a read returns.
#include "properties/PropertyCalculator.h"
#include "support/HostFixture.h"

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
    calculator->AttachFluid(fluid.Get());
    EXPECT_EQ(10 * 10 + 4 + 0.5, calculator->GetValue(10, 4));
    EXPECT_EQ(28 * 10 + 2 + 0.5, calculator->GetValue(28, 2));
    EXPECT_EQ(0 * 10 + 0 + 0.5, calculator->GetValue(0, 0));
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, AbsentPhaseIsEmptyButOverallIgnoresPresence) {
    fluid->block.phasePresent[1] = 0;
    calculator->AttachFluid(fluid.Get());
    EXPECT_EQ(kEmptyValue, calculator->GetValue(6, 1));
    EXPECT_EQ(6 * 10 + 2 + 0.5, calculator->GetValue(6, 2));
    for (int& present : fluid->block.phasePresent) present = 0;
    EXPECT_EQ(6 * 10 + 4 + 0.5, calculator->GetValue(6, 4));
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, StoredEmptyValueAndNaNAreReturnedUnchanged) {
    fluid->block.slots[3][4] = kEmptyValue;
    fluid->block.slots[3][0] = std::nan("");
    calculator->AttachFluid(fluid.Get());
    EXPECT_EQ(kEmptyValue, calculator->GetValue(3, 4));
    EXPECT_TRUE(std::isnan(calculator->GetValue(3, 0)));
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, UnchangedOnFirstUseStillFetches) {
    // A block that no fetch filled is never served as if it were real.
    fluid->unchanged = VARIANT_TRUE;
    calculator->AttachFluid(fluid.Get());
    EXPECT_EQ(0 * 10 + 4 + 0.5, calculator->GetValue(0, 4));
    EXPECT_EQ(1, fluid->fetches);
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, UnchangedAfterAGoodFetchReusesTheBlock) {
    calculator->AttachFluid(fluid.Get());
    calculator->GetValue(0, 4);
    fluid->unchanged = VARIANT_TRUE;
    fluid->block.slots[0][4] = 99.0;
    EXPECT_EQ(0 * 10 + 4 + 0.5, calculator->GetValue(0, 4));
    EXPECT_EQ(1, fluid->fetches);
    EXPECT_EQ(2, fluid->unchangedQueries);
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, HoldFlagKeepsTheBlockButAsksUnchangedEveryRead) {
    calculator->AttachFluid(fluid.Get());
    calculator->GetValue(0, 4);
    calculator->holdFlag = 1;
    fluid->block.slots[0][0] = 99.0;
    EXPECT_EQ(0 * 10 + 0 + 0.5, calculator->GetValue(0, 0));
    EXPECT_EQ(1, fluid->fetches);
    EXPECT_EQ(2, fluid->unchangedQueries);
    calculator->holdFlag = 0;
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, FailedFetchUnderTheHoldFlagGivesOnlyEmptyValues) {
    fluid->fetchResult = E_FAIL;
    calculator->AttachFluid(fluid.Get());
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    calculator->holdFlag = 1;
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4)) << "not the zeroed block's 0.0";
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 0));
    EXPECT_EQ(1, fluid->fetches) << "no second fetch while held";
    calculator->holdFlag = 0;
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, ExceptionsFromTheFluidGiveTheEmptyValue) {
    calculator->AttachFluid(fluid.Get());
    fluid->throwOnFetch = true;
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    fluid->throwOnFetch = false;
    fluid->throwOnUnchanged = true;
    EXPECT_EQ(kEmptyValue, calculator->GetValue(0, 4));
    calculator->DetachFluid();
}

TEST_F(PropertyCalculatorTest, DetachReleasesExactlyTheAttachReference) {
    const LONG before = fluid->RefCount();
    calculator->AttachFluid(fluid.Get());
    EXPECT_EQ(before + 1, fluid->RefCount());
    calculator->DetachFluid();
    EXPECT_EQ(before, fluid->RefCount());
    EXPECT_EQ(nullptr, calculator->boundFluid);
    calculator->DetachFluid();
    EXPECT_EQ(before, fluid->RefCount());
}

TEST_F(PropertyCalculatorTest, DestructionReleasesAFluidStillBound) {
    const LONG before = fluid->RefCount();
    calculator->AttachFluid(fluid.Get());
    calculator.reset();
    EXPECT_EQ(before, fluid->RefCount());
}

TEST_F(PropertyCalculatorTest, OnlyOneTurnAtATime) {
    ASSERT_TRUE(calculator->TryAcquire());
    EXPECT_FALSE(calculator->TryAcquire());
    calculator->ReleaseAcquired();
    EXPECT_TRUE(calculator->TryAcquire());
    calculator->ReleaseAcquired();
}

}  // namespace
}  // namespace pvt::test
