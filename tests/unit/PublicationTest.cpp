// Calculate on a connected correlation: what lands in "Phase_Values", which
// host calls are made, and what every failure leaves behind.
#include "support/CorrelationFixture.h"

namespace pvt::test {
namespace {

using Values = std::vector<double>;
using Lines = std::vector<std::string>;

// Slot 0 (bubble point pressure) of DistinctBlock: overall, phases 0 to 2.
const Values kSlot0 = {4.5, 0.5, 1.5, 2.5};
const Values kAllEmpty = {kEmptyValue, kEmptyValue, kEmptyValue, kEmptyValue};

class PublicationTest : public CorrelationFixture {};

TEST_F(PublicationTest, PublishesOverallThenPhasesZeroToTwoWithTheHostCallsInOrder) {
    Connection c = Connect(DistinctBlock(), 7);
    VarHub_Reset();
    ASSERT_EQ(S_OK, correlation->Calculate(c.id));
    const Lines log = Log(false);
    EXPECT_EQ(kSlot0, PhaseValues(c));

    Lines calls;
    for (const std::string& line : log) {
        if (line.rfind("Variable", 0) == 0 && line.find("SetValue") == std::string::npos) continue;
        calls.push_back(line);
    }
    EXPECT_EQ(Lines({"Source.GetItem(7)", "Item.IsReady()", "Item.GetFluid()",
                     "Set#1.FindVariable(\"Phase_Values\")", "Fluid.GetPropertyBlock()",
                     "Variable#1.SetValue(0, 4.5)", "Variable#1.SetValue(1, 0.5)",
                     "Variable#1.SetValue(2, 1.5)", "Variable#1.SetValue(3, 2.5)"}),
              calls);
    EXPECT_EQ(1, c.fluid->fetches);
    EXPECT_EQ(4, c.fluid->unchangedQueries);
    EXPECT_EQ(2, c.fluid->RefCount()) << "ours and the item's: the calculator let go";
    EXPECT_EQ(2, c.item->RefCount());
}

TEST_F(PublicationTest, AbsentPhaseOneIsEmptyInElementTwo) {
    PropertyBlock block = DistinctBlock();
    block.phasePresent[1] = 0;
    block.slots[0][3] = 777.0;  // phase 3 is never published
    Connection c = Connect(block);
    ASSERT_EQ(S_OK, correlation->Calculate(c.id));
    EXPECT_EQ((Values{4.5, 0.5, kEmptyValue, 2.5}), PhaseValues(c));
}

TEST_F(PublicationTest, FailedFetchPublishesFourEmptyValues) {
    Connection c = Connect(DistinctBlock());
    c.fluid->fetchResult = E_FAIL;
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    EXPECT_EQ(kAllEmpty, PhaseValues(c));
    EXPECT_EQ(1, c.fluid->fetches);
}

TEST_F(PublicationTest, NotReadyWritesNothingButAFailingIsReadyCountsAsReady) {
    Connection c = Connect(DistinctBlock());
    c.item->ready = 0;
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    EXPECT_EQ(Values{}, PhaseValues(c));
    EXPECT_EQ(0, c.fluid->fetches);

    c.item->readyResult = E_FAIL;
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    EXPECT_EQ(kSlot0, PhaseValues(c));
}

TEST_F(PublicationTest, HostFailuresAndTheirResults) {
    Connection c = Connect(DistinctBlock());

    c.source->itemResult = 0x80041234;
    EXPECT_EQ(static_cast<HRESULT>(0x80041234), correlation->Calculate(c.id));
    c.source->itemResult = S_OK;
    c.source->item.Reset();  // success without an item
    EXPECT_EQ(E_FAIL, correlation->Calculate(c.id));
    c.source->item = c.item;

    c.item->fluidResult = 0x80045678;
    EXPECT_EQ(static_cast<HRESULT>(0x80045678), correlation->Calculate(c.id));
    c.item->fluidResult = S_OK;

    c.item->fluid = Adopt(new FakeUnknown("NotAFluid"));
    EXPECT_EQ(E_FAIL, correlation->Calculate(c.id));
    c.item->fluid.Reset();
    EXPECT_EQ(E_FAIL, correlation->Calculate(c.id));
    c.item->fluid = c.fluid;

    VarHub_FailMethod("FindVariable", E_INVALIDARG);
    EXPECT_EQ(E_FAIL, correlation->Calculate(c.id));
    VarHub_Reset();

    IUnknown* set = CorrelationTestAccess::connections(*Object())[0]->connectionSet.Detach();
    EXPECT_EQ(E_FAIL, correlation->Calculate(c.id)) << "no connection set";
    CorrelationTestAccess::connections(*Object())[0]->connectionSet.Attach(
        static_cast<IHostVariableSet*>(set));

    EXPECT_EQ(Values{}, PhaseValues(c)) << "nothing written on any failure";
    EXPECT_EQ(0, c.fluid->fetches);
    EXPECT_EQ(2, c.fluid->RefCount()) << "only ours and the item's remain";
}

TEST_F(PublicationTest, VariableWithoutHostVariableInterfaceWritesNothing) {
    Connection c = Connect(DistinctBlock());
    VarHub_SetFindGivesForeignObject(1);
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    VarHub_SetFindGivesForeignObject(0);
    EXPECT_EQ(Values{}, PhaseValues(c));
    EXPECT_EQ(0, c.fluid->fetches);
}

TEST_F(PublicationTest, ReenteredCalculateIsTurnedAwayAndTheOuterOneFinishes) {
    Connection c = Connect(DistinctBlock());
    Connection other = Connect(DistinctBlock());
    HRESULT inner = S_OK;
    c.fluid->duringFetch = [&] {
        inner = correlation->Calculate(other.id);
        c.fluid->duringFetch = nullptr;
    };
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    EXPECT_EQ(E_FAIL, inner);
    EXPECT_EQ(kSlot0, PhaseValues(c));
    EXPECT_EQ(Values{}, PhaseValues(other));
    EXPECT_EQ(0, other.fluid->fetches);
    EXPECT_EQ(S_OK, correlation->Calculate(other.id)) << "the calculator is free again";
}

TEST_F(PublicationTest, DisconnectFromInsideTheFetchLeavesTheCallSafe) {
    Connection c = Connect(DistinctBlock());
    Connection second = Connect(DistinctBlock());
    IUnknown* set = c.set;
    set->AddRef();  // to read the values after the record is gone
    c.fluid->duringFetch = [&] { EXPECT_EQ(S_OK, correlation->Disconnect(c.id)); };
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    c.fluid->duringFetch = nullptr;
    c.set = set;
    EXPECT_EQ(kSlot0, PhaseValues(c));
    set->Release();
    ASSERT_EQ(1u, CorrelationTestAccess::connections(*Object()).size());
    EXPECT_EQ(CorrelationTestAccess::connections(*Object())[0].get(),
              CorrelationTestAccess::Find(*Object(), 1));
    EXPECT_EQ(second.source.Get(), CorrelationTestAccess::connections(*Object())[0]->source.Get());
    EXPECT_EQ(1, c.source->RefCount());
}

TEST_F(PublicationTest, ThrowingSetValueLeavesTheCalculatorUnboundAndFree) {
    Connection c = Connect(DistinctBlock());
    VarHub_ThrowIn("SetValue");
    EXPECT_EQ(E_FAIL, correlation->Calculate(c.id));
    EXPECT_EQ(nullptr, CalculatorTestAccess::BoundFluid(CPropertyCalculator::Instance()));
    EXPECT_EQ(0, CalculatorTestAccess::HoldFlag(CPropertyCalculator::Instance()));
    VarHub_Reset();
    EXPECT_EQ(S_OK, correlation->Calculate(c.id));
    EXPECT_EQ(kSlot0, PhaseValues(c));
}

// Fluids that always answer "unchanged": each publication still gets its own
// fluid's block, since the block held was filled by another fluid.
TEST_F(PublicationTest, UnchangedReusesOnlyTheBlockOfTheSameFluid) {
    PropertyBlock blockB = DistinctBlock();
    blockB.slots[0][kOverallIndex] = 99.5;
    PropertyBlock blockC = DistinctBlock();
    blockC.slots[0][kOverallIndex] = 77.5;
    Connection a = Connect(DistinctBlock());
    Connection b = Connect(blockB);
    Connection c = Connect(blockC);
    // First a block of a fluid that outlives the test, so that no earlier
    // fluid freed at the same address can have filled it.
    Connection first = Connect(DistinctBlock());
    ASSERT_EQ(S_OK, correlation->Calculate(first.id));
    for (Connection* fluidOf : {&a, &b, &c}) fluidOf->fluid->unchanged = VARIANT_TRUE;

    for (Connection* next : {&a, &b, &a, &a}) ASSERT_EQ(S_OK, correlation->Calculate(next->id));
    EXPECT_EQ(kSlot0, PhaseValues(a));
    EXPECT_EQ((Values{99.5, 0.5, 1.5, 2.5}), PhaseValues(b));
    EXPECT_EQ(2, a.fluid->fetches) << "fetched again after b; reused after itself";
    EXPECT_EQ(1, b.fluid->fetches);

    ASSERT_EQ(S_OK, correlation->Calculate(c.id));  // "unchanged" on its first use
    EXPECT_EQ((Values{77.5, 0.5, 1.5, 2.5}), PhaseValues(c));
    EXPECT_EQ(1, c.fluid->fetches);
}

TEST_F(PublicationTest, CalculateAllocatesNothingInTheModule) {
    Connection c = Connect(DistinctBlock());
    FakeCounters::SetLogging(false);  // the fakes' own log lines allocate
    ResetAllocationCount();
    const HRESULT hr = correlation->Calculate(c.id);
    const long allocations = AllocationCount();
    FakeCounters::SetLogging(true);
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(0, allocations);
}

}  // namespace
}  // namespace pvt::test
