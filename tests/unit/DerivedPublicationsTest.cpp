// The three publications computed from several slots: their figures, the
// empty value kept empty, and how often each may fetch the block.
#include "correlations/CorrelationClasses.h"
#include "support/CorrelationFixture.h"

#include <cmath>

namespace pvt::test {
namespace {

using Values = std::vector<double>;
constexpr double E = kEmptyValue;

// A block with every phase present and nothing else set.
PropertyBlock EmptyBlock() {
    PropertyBlock block{};
    for (int& present : block.phasePresent) present = 1;
    return block;
}

void SetSlot(PropertyBlock& block, int slot, double p0, double p1, double p2, double overall) {
    block.slots[slot][0] = p0;
    block.slots[slot][1] = p1;
    block.slots[slot][2] = p2;
    block.slots[slot][4] = overall;
}

template <class T>
class DerivedTest : public CorrelationFixtureOf<T> {
protected:
    Values Publish(const PropertyBlock& block) {
        Connection c = this->Connect(block);
        EXPECT_EQ(S_OK, this->correlation->Calculate(c.id));
        fetches = c.fluid->fetches;
        return this->PhaseValues(c);
    }
    int fetches = 0;
};

using MassFlowRateTest = DerivedTest<CMassFlowRate>;
using VolFlowRateTest = DerivedTest<CVolFlowRate>;
using ViscosityTest = DerivedTest<CViscosity>;

TEST_F(MassFlowRateTest, SplitsTheTotalByMassFraction) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 14, 0.5, 0.3, 0.2, 1.0);
    EXPECT_EQ((Values{10, 5, 3, 2}), Publish(block));
    EXPECT_EQ(1, fetches);
}

TEST_F(MassFlowRateTest, AnAbsentPhaseStaysEmpty) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 14, 0.5, 0.3, 0.2, 1.0);
    block.phasePresent[1] = 0;
    EXPECT_EQ((Values{10, 5, E, 2}), Publish(block)) << "not 10 x -32767";

    block = EmptyBlock();
    block.slots[13][4] = E;
    SetSlot(block, 14, 0.5, 0.3, 0.2, 1.0);
    EXPECT_EQ((Values{E, E, E, E}), Publish(block));
}

TEST_F(VolFlowRateTest, DividesMassFlowByDensity) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 10, 1.0, 5.0, 4.0, 2.0);
    SetSlot(block, 14, 0.5, 0.5, 0.0, 1.0);
    EXPECT_EQ((Values{5, 5, 1, 0}), Publish(block));
    EXPECT_LE(fetches, 3);
}

TEST_F(VolFlowRateTest, ZeroDensities) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 10, 1.0, 0.0, -0.0, 0.0);
    SetSlot(block, 14, 0.5, 0.5, 0.0, 1.0);
    EXPECT_EQ((Values{0.0, 5, E, E}), Publish(block));
}

TEST_F(VolFlowRateTest, AnAbsentPhaseOrMissingTotalStaysEmpty) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 10, 1.0, 5.0, 4.0, 2.0);
    SetSlot(block, 14, 0.5, 0.5, 0.0, 1.0);
    block.phasePresent[1] = 0;
    EXPECT_EQ((Values{5, 5, E, 0}), Publish(block)) << "not the whole flow";

    block.phasePresent[1] = 1;
    block.slots[13][4] = E;
    EXPECT_EQ((Values{E, E, E, E}), Publish(block));
}

TEST_F(VolFlowRateTest, NaNDensityGoesIntoTheDivision) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 10, 1.0, 5.0, 4.0, std::nan(""));
    SetSlot(block, 14, 0.5, 0.5, 0.0, 1.0);
    const Values values = Publish(block);
    ASSERT_EQ(4u, values.size());
    EXPECT_TRUE(std::isnan(values[0]));
}

// mu = 7, mu1 = 10, mu2 = 1, x0 = 0, rho1 = rho2 = 1; x1 and x2 vary.
PropertyBlock ViscosityBlock(double x0, double x1, double x2) {
    PropertyBlock block = EmptyBlock();
    SetSlot(block, 24, 3.0, 10.0, 1.0, 7.0);
    SetSlot(block, 14, x0, x1, x2, 1.0);
    SetSlot(block, 10, 1.0, 1.0, 1.0, 1.0);
    return block;
}

TEST_F(ViscosityTest, BlendsAnEmulsionToTheLastBit) {
    struct Case {
        double x1, x2, expected;
    } cases[] = {
        {0.2, 0.8, 1.4727272727272727},  // Taylor
        {0.8, 0.2, 20.544332106438876},  // exponential
        {0.4, 0.6, 36.84906950276397},   // linear blend
        {0.5, 0.5, 60.496474644129464},  // blend weight exactly 1
    };
    for (const Case& c : cases) {
        EXPECT_EQ((Values{c.expected, 3.0, 10.0, 1.0}), Publish(ViscosityBlock(0.0, c.x1, c.x2)))
            << "x1 = " << c.x1;
    }
    EXPECT_LE(fetches, 8);
}

TEST_F(ViscosityTest, OverallValueWhenPhaseZeroIsPresentOrAPhaseIsMissing) {
    EXPECT_EQ((Values{7.0, 3.0, 10.0, 1.0}), Publish(ViscosityBlock(5e-05, 0.2, 0.8)));

    PropertyBlock noPhase0 = ViscosityBlock(0.0, 0.2, 0.8);
    noPhase0.phasePresent[0] = 0;  // x0 reads empty: below the threshold
    EXPECT_EQ((Values{1.4727272727272727, E, 10.0, 1.0}), Publish(noPhase0));

    PropertyBlock noPhase2 = ViscosityBlock(0.0, 0.2, 0.8);
    noPhase2.phasePresent[2] = 0;
    EXPECT_EQ((Values{7.0, 3.0, 10.0, E}), Publish(noPhase2));
}

// Without a volume fraction (f = 0/0 or inf/inf) there is no blend: the
// overall viscosity, never NaN.
TEST_F(ViscosityTest, NoVolumeFractionPublishesTheOverallViscosity) {
    PropertyBlock zeroDensity = ViscosityBlock(0.0, 0.2, 0.8);
    zeroDensity.slots[10][1] = 0.0;  // rho1
    for (const PropertyBlock& block : {ViscosityBlock(0.0, 0.0, 0.0), zeroDensity}) {
        EXPECT_EQ((Values{7.0, 3.0, 10.0, 1.0}), Publish(block));
    }
}

// With a fluid that never reports its block unchanged, each read before the
// hold flag may fetch; the counts are the most each publication may make.
TEST_F(ViscosityTest, FetchesAtMostOncePerReadBeforeTheHoldFlag) {
    Publish(ViscosityBlock(0.0, 0.4, 0.6));
    EXPECT_EQ(8, fetches);
}

TEST_F(VolFlowRateTest, FetchesAtMostThreeTimes) {
    PropertyBlock block = EmptyBlock();
    block.slots[13][4] = 10.0;
    SetSlot(block, 10, 1.0, 5.0, 4.0, 2.0);
    Publish(block);
    EXPECT_EQ(3, fetches);
}

}  // namespace
}  // namespace pvt::test
