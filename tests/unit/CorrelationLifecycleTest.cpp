// Construction, clean-up and destruction of the common correlation object.
#include "correlations/CorrelationClasses.h"
#include "host/HostObjects.h"
#include "host/PhaseValuesName.h"
#include "support/AllocationSweep.h"
#include "support/HostFixture.h"
#include "support/TestAccess.h"

#include <thread>

namespace pvt::test {
namespace {

using Lines = std::vector<std::string>;

CCorrelation* AsCorrelation(IUnknown* unknown) {
    return static_cast<CCorrelation*>(static_cast<IOwnDispatch*>(unknown));
}

class CorrelationLifecycleTest : public HostFixture {
protected:
    HRESULT Create(IUnknown** object) {
        return CComObject<CBubblePtPressure>::CreateInstance(IID_PPV_ARGS(object));
    }

    // Creates an object that must fail with expected, holding nothing after.
    void ExpectCreationFails(HRESULT expected) {
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(expected, Create(&object));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(0, Module().GetLockCount());
        EXPECT_EQ(0, VarHub_LiveObjects());
    }
};

const Lines kConstructionCalls = {
    "create Set#1",
    "create Set#2",
    "create Variable#1",
    "Variable#1.SetTaggedName(\"Phase_Values\")",
    "Variable#1.SetFlag(-1)",
    "Variable#1.SetTaggedName(\"Phase_Values\")",  // from the variable's definition
    "Set#2.AddVariable(Variable#1)",
};

TEST_F(CorrelationLifecycleTest, ConstructionMakesTheHostCallsInOrder) {
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, Create(&object));
    EXPECT_EQ(kConstructionCalls, Log(false));

    CCorrelation* correlation = AsCorrelation(object);
    EXPECT_EQ("{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}",
              CorrelationTestAccess::classIdText(*correlation));
    EXPECT_EQ("Bubble Point Pressure", CorrelationTestAccess::displayName(*correlation));
    EXPECT_EQ(2, CorrelationTestAccess::kindCode(*correlation));
    EXPECT_EQ(0, CorrelationTestAccess::integer1(*correlation));
    EXPECT_EQ(0, CorrelationTestAccess::integer4(*correlation));
    EXPECT_TRUE(CorrelationTestAccess::connections(*correlation).empty());
    EXPECT_TRUE(CorrelationTestAccess::exposedSet(*correlation) &&
                CorrelationTestAccess::templateSet(*correlation) &&
                CorrelationTestAccess::phaseVariable(*correlation));
    EXPECT_EQ(1, Module().GetLockCount());
    EXPECT_EQ(0u, object->Release());
}

TEST_F(CorrelationLifecycleTest, TaggedNameIsPassedInBstrLayoutWithoutAllocation) {
    // A host that reads the text as a BSTR finds the right length before it.
    EXPECT_EQ(12u, SysStringLen(const_cast<BSTR>(kPhaseValuesName.text())));
    EXPECT_EQ(std::wstring(L"Phase_Values"), kPhaseValuesName.text());
}

struct FailingStep {
    const char* what;
    void (*inject)();
    Lines releasedInOrder;  // host objects destroyed when the object goes
};

class ConstructionFailureTest : public CorrelationLifecycleTest,
                                public ::testing::WithParamInterface<FailingStep> {};

TEST_P(ConstructionFailureTest, FailsWithEFailAndReleasesWhatWasCreated) {
    GetParam().inject();
    ExpectCreationFails(E_FAIL);
    EXPECT_EQ(GetParam().releasedInOrder, LogWith("-> 0")) << GetParam().what;
    EXPECT_EQ(Lines{}, LogWith("Reserved"));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, ConstructionFailureTest,
    ::testing::Values(
        FailingStep{"exposed set", [] { VarHub_FailCreation(1, E_FAIL); }, {}},
        FailingStep{"exposed set given as success without an object",
                    [] { VarHub_FailCreation(1, S_FALSE); },
                    {}},
        FailingStep{"template set",
                    [] { VarHub_FailCreation(2, E_OUTOFMEMORY); },
                    {"Set#1.Release() -> 0"}},
        FailingStep{"variable",
                    [] { VarHub_FailCreation(3, E_FAIL); },
                    {"Set#1.Release() -> 0", "Set#2.Release() -> 0"}},
        FailingStep{"variable given as success without an object",
                    [] { VarHub_FailCreation(3, S_FALSE); },
                    {"Set#1.Release() -> 0", "Set#2.Release() -> 0"}},
        FailingStep{"SetTaggedName",
                    [] { VarHub_FailMethod("SetTaggedName", E_ACCESSDENIED); },
                    {"Set#1.Release() -> 0", "Set#2.Release() -> 0", "Variable#1.Release() -> 0"}},
        FailingStep{"SetFlag",
                    [] { VarHub_FailMethod("SetFlag", 0x80040001); },
                    {"Set#1.Release() -> 0", "Set#2.Release() -> 0", "Variable#1.Release() -> 0"}},
        FailingStep{"SetFlag throwing",
                    [] { VarHub_ThrowIn("SetFlag"); },
                    {"Set#1.Release() -> 0", "Set#2.Release() -> 0", "Variable#1.Release() -> 0"}},
        FailingStep{"template set given as success without an object",
                    [] { VarHub_FailCreation(2, S_FALSE); },
                    {"Set#1.Release() -> 0"}},
        FailingStep{
            "AddVariable",
            [] { VarHub_FailMethod("AddVariable", E_FAIL); },
            {"Set#1.Release() -> 0", "Set#2.Release() -> 0", "Variable#1.Release() -> 0"}}));

TEST_F(CorrelationLifecycleTest, NoXmlParserMeansNoDefinitionAndNoAddVariable) {
    // A thread without COM cannot create the XML document: the definition
    // cannot be applied, so construction fails before AddVariable.
    HRESULT hr = S_OK;
    IUnknown* object = nullptr;
    std::thread([&] { hr = Create(&object); }).join();
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(Lines{}, LogWith("AddVariable"));
    EXPECT_EQ(1u, LogWith("SetFlag(-1)").size());
}

TEST_F(CorrelationLifecycleTest, AllocationFailureAtEveryPointGivesOutOfMemory) {
    IUnknown* object = nullptr;
    const SweepOutcome sweep = SweepCreation(
        "creation", [this](IUnknown** out) { return Create(out); }, object);
    ASSERT_NE(nullptr, object);
    object->Release();
    EXPECT_GE(sweep.failingRuns, 3) << "the wrapper and both identity strings allocate";
}

TEST_F(CorrelationLifecycleTest, DestructionReleasesHostObjectsThenRecordsInOrder) {
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, Create(&object));
    CCorrelation* correlation = AsCorrelation(object);
    for (int i = 1; i <= 3; ++i) {
        auto record = std::make_unique<CConnectionInfo>();
        record->source.Attach(new FakeSource("Source" + std::to_string(i)));
        void* set = nullptr;
        ASSERT_EQ(S_OK, CreateHostObject(CLSID_HostVariableSet, IID_IHostVariableSet, &set));
        record->connectionSet.Attach(static_cast<IHostVariableSet*>(set));
        CorrelationTestAccess::connections(*correlation).push_back(std::move(record));
    }
    VarHub_Reset();
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(Lines({"Set#1.Release() -> 0",       // exposedSet
                     "Set#2.Release() -> 0",       // templateSet, which lets go of
                     "Variable#1.Release() -> 1",  //   the variable it holds
                     "Variable#1.Release() -> 0",  // phaseVariable
                     "Source1.Release() -> 0", "Set#3.Release() -> 0", "Source2.Release() -> 0",
                     "Set#4.Release() -> 0", "Source3.Release() -> 0", "Set#5.Release() -> 0"}),
              Log());
}

TEST_F(CorrelationLifecycleTest, CleanupTwiceKeepsTheIdentity) {
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, Create(&object));
    CCorrelation* correlation = AsCorrelation(object);
    EXPECT_EQ(0, correlation->Cleanup());
    EXPECT_EQ(0, VarHub_LiveObjects());
    VarHub_Reset();
    EXPECT_EQ(0, correlation->Cleanup());
    EXPECT_EQ(Lines{}, Log()) << "nothing left to release";
    EXPECT_EQ("{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}",
              CorrelationTestAccess::classIdText(*correlation));
    EXPECT_EQ("Bubble Point Pressure", CorrelationTestAccess::displayName(*correlation));
    EXPECT_EQ(2, CorrelationTestAccess::kindCode(*correlation));
    object->Release();
}

TEST_F(CorrelationLifecycleTest, QueryInterfaceAnswersOwnInterfaceAndDispatchWithOnePointer) {
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, Create(&object));
    const IID ownInterface = kCatalogue[0].interfaceId;
    void* own = nullptr;
    void* dispatch = nullptr;
    ASSERT_EQ(S_OK, object->QueryInterface(ownInterface, &own));
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IDispatch, &dispatch));
    EXPECT_EQ(static_cast<void*>(object), own);
    EXPECT_EQ(static_cast<void*>(object), dispatch);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(IID_IClassFactory, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IDispatch, nullptr));
    EXPECT_EQ(2u, object->Release());
    EXPECT_EQ(1u, object->Release());
    EXPECT_EQ(0u, object->Release());
}

#ifdef NDEBUG
TEST_F(CorrelationLifecycleTest, ClassIdToTextNeedsRoomFor39Characters) {
    char buffer[39] = "untouched";
    ClassIdToText(kCatalogue[0].classId, buffer, 38);
    EXPECT_STREQ("", buffer);
    ClassIdToText(kCatalogue[0].classId, buffer, 39);
    EXPECT_STREQ("{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}", buffer);
}
#endif

}  // namespace
}  // namespace pvt::test
