// Host-failure sweeps: every host call that construction, Connect,
// Disconnect and Calculate make is made to fail, to succeed without its
// object, or to throw, one at a time, for every class. The result code is
// the documented one, nothing is written where nothing may be, and every
// reference is released.
#include "hardening/HardeningSupport.h"
#include "support/Counts.h"
#include "support/PhaseValues.h"

#include <cstdio>
#include <cstring>
#include <functional>

namespace pvt::test {
namespace {

long hostFaultsInjected = 0;

struct Fault {
    const char* what;
    std::function<void()> inject;
    HRESULT expected;
};

// Construction: the creations of the data server, then the variable's calls.
std::vector<Fault> ConstructionFaults() {
    std::vector<Fault> faults;
    const HRESULT failures[] = {E_FAIL, E_OUTOFMEMORY, static_cast<HRESULT>(0x80040001)};
    for (int n = 1; n <= 3; ++n) {
        for (HRESULT hr : failures) {
            faults.push_back({"creation fails", [n, hr] { VarHub_FailCreation(n, hr); }, E_FAIL});
        }
        faults.push_back(
            {"creation gives no object", [n] { VarHub_FailCreation(n, S_FALSE); }, E_FAIL});
    }
    // The fourth creation is never made: construction succeeds.
    faults.push_back({"fourth creation", [] { VarHub_FailCreation(4, E_FAIL); }, S_OK});
    // Methods whose failure construction relies on.
    for (const char* method : {"SetTaggedName", "SetFlag", "AddVariable"}) {
        faults.push_back({method, [method] { VarHub_FailMethod(method, E_ACCESSDENIED); }, E_FAIL});
        faults.push_back({method, [method] { VarHub_ThrowIn(method); }, E_FAIL});
    }
    // Calls construction does not make ("Phase_Values" has an empty display
    // name and is no enumeration).
    for (const char* method :
         {"SetDisplayName", "Clone", "FindVariable", "SetValue", "SetEnumFlag"}) {
        faults.push_back({method, [method] { VarHub_ThrowIn(method); }, S_OK});
    }
    return faults;
}

class HostFaultSweepTest : public HardeningFixture {
protected:
    static void TearDownTestSuite() {
        std::printf("[ sweep    ] host faults injected: %ld\n", hostFaultsInjected);
    }
};

TEST_F(HostFaultSweepTest, ConstructionOfEveryClassStandaloneAndAggregated) {
    const std::vector<Fault> faults = ConstructionFaults();
    for (int i = 0; i < kCatalogueSize; ++i) {
        for (const Fault& fault : faults) {
            for (bool aggregated : {false, true}) {
                const std::string what = std::string(kCatalogue[i].name) + ", " + fault.what +
                                         (aggregated ? ", aggregated" : "");
                const HubCounts before;
                const ComPtr<FakeUnknown> outer = Adopt(new FakeUnknown("Outer"));
                VarHub_Reset();
                fault.inject();
                ++hostFaultsInjected;
                IUnknown* object = reinterpret_cast<IUnknown*>(1);
                const HRESULT hr =
                    kClassTable[i].makeInstance(aggregated ? outer.Get() : nullptr,
                                                aggregated ? IID_IUnknown : IID_ICorrelation,
                                                reinterpret_cast<void**>(&object));
                VarHub_Reset();
                EXPECT_EQ(fault.expected, hr) << what;
                if (hr == S_OK) {
                    ASSERT_NE(nullptr, object) << what;
                    EXPECT_EQ(1, Module().GetLockCount()) << what;
                    EXPECT_EQ(0u, object->Release()) << what;
                } else {
                    EXPECT_EQ(nullptr, object) << what;
                }
                EXPECT_EQ(1, outer->RefCount()) << what;
                EXPECT_EQ(0, Module().GetLockCount()) << what;
                ExpectHubCounts(before, what);
                if (HasFailure()) return;
            }
        }
    }
}

// Connect: the source's query and the template set's Clone.
TEST_F(HostFaultSweepTest, ConnectOfEveryClass) {
    struct ConnectFault {
        const char* what;
        std::function<void(FakeConnection&)> inject;
        HRESULT expected;
        bool useForeignObject;
    };
    const std::vector<ConnectFault> faults = {
        {"source offers no IConnectionSource", [](FakeConnection&) {}, E_CONNECTION_REFUSED, true},
        {"source query throws", [](FakeConnection& c) { c.source->throwOnQuery = true; }, E_FAIL,
         false},
        {"source query fails leaving a pointer",
         [](FakeConnection& c) {
             c.source->queryResult = E_NOINTERFACE;
             c.source->leaveOnFailure = true;
         },
         E_CONNECTION_REFUSED, false},
        {"source Release throws", [](FakeConnection& c) { c.source->throwOnRelease = true; },
         E_FAIL, false},
        {"Clone fails", [](FakeConnection&) { VarHub_FailMethod("Clone", E_OUTOFMEMORY); },
         E_CONNECTION_REFUSED, false},
        {"Clone fails leaving a set",
         [](FakeConnection&) { VarHub_FailMethodLeaving("Clone", E_OUTOFMEMORY); },
         E_CONNECTION_REFUSED, false},
        {"Clone succeeds without a set",
         [](FakeConnection&) { VarHub_FailMethod("Clone", S_FALSE); }, E_CONNECTION_REFUSED, false},
        {"Clone throws", [](FakeConnection&) { VarHub_ThrowIn("Clone"); }, E_FAIL, false},
    };
    for (int i = 0; i < kCatalogueSize; ++i) {
        ComPtr<ICorrelation> correlation = Create(i);
        ASSERT_TRUE(correlation);
        for (const ConnectFault& fault : faults) {
            const std::string what = std::string(kCatalogue[i].name) + ", " + fault.what;
            FakeConnection fake;
            const ComPtr<FakeUnknown> foreign = Adopt(new FakeUnknown());
            const HubCounts before;
            const std::vector<LONG> counts = fake.Counts();
            VarHub_Reset();
            fault.inject(fake);
            ++hostFaultsInjected;
            LONG id = -77;
            IUnknown* set = reinterpret_cast<IUnknown*>(1);
            IUnknown* source =
                fault.useForeignObject
                    ? static_cast<IUnknown*>(foreign.Get())
                    : static_cast<IUnknown*>(static_cast<IConnectionSource*>(fake.source.Get()));
            const HRESULT hr = correlation->Connect(source, 1, &id, &set);
            VarHub_Reset();
            fake.source->throwOnQuery = false;
            EXPECT_EQ(fault.expected, hr) << what;
            EXPECT_EQ(-77, id) << what << ": the id location was written";
            EXPECT_EQ(counts, fake.Counts()) << what;
            EXPECT_EQ(1, foreign->RefCount()) << what;
            ExpectHubCounts(before, what);
            EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Calculate(1)) << what;
            fake.source->queryResult = S_OK;
            if (!fault.useForeignObject) {
                // The next Connect works: nothing of the host's was over-released.
                EXPECT_EQ(S_OK, correlation->Connect(source, 1, &id, &set)) << what << ", then";
                EXPECT_EQ(S_OK, correlation->Disconnect(id)) << what;
            }
            if (HasFailure()) return;
        }
    }
}

struct CalculateFault {
    const char* what;
    std::function<void(FakeConnection&)> inject;
    HRESULT expected;
    int writes;        // SetValue calls the publication makes; -1: any
    bool emptyValues;  // the common publication writes -32767.0 four times
};

std::vector<CalculateFault> CalculateFaults() {
    const HRESULT denied = E_ACCESSDENIED;
    return {
        {"GetItem fails", [=](FakeConnection& c) { c.source->itemResult = denied; }, denied, 0,
         false},
        {"GetItem gives no item", [](FakeConnection& c) { c.source->item.Reset(); }, E_FAIL, 0,
         false},
        {"GetItem throws", [](FakeConnection& c) { c.source->throwOnGetItem = true; }, E_FAIL, 0,
         false},
        {"GetItem fails leaving an item",
         [=](FakeConnection& c) {
             c.source->itemResult = denied;
             c.source->leaveOnFailure = true;
         },
         denied, 0, false},
        {"IsReady fails", [](FakeConnection& c) { c.item->readyResult = E_FAIL; }, S_OK, 4, false},
        {"IsReady says not ready", [](FakeConnection& c) { c.item->ready = 0; }, S_OK, 0, false},
        {"IsReady throws", [](FakeConnection& c) { c.item->throwOnIsReady = true; }, E_FAIL, 0,
         false},
        {"GetFluid fails", [](FakeConnection& c) { c.item->fluidResult = E_UNEXPECTED; },
         E_UNEXPECTED, 0, false},
        {"GetFluid gives no fluid", [](FakeConnection& c) { c.item->fluid.Reset(); }, E_FAIL, 0,
         false},
        {"GetFluid throws", [](FakeConnection& c) { c.item->throwOnGetFluid = true; }, E_FAIL, 0,
         false},
        {"GetFluid fails leaving a fluid",
         [](FakeConnection& c) {
             c.item->fluidResult = E_UNEXPECTED;
             c.item->leaveOnFailure = true;
         },
         E_UNEXPECTED, 0, false},
        {"fluid query fails leaving a pointer",
         [](FakeConnection& c) {
             c.fluid->queryResult = E_NOINTERFACE;
             c.fluid->leaveOnFailure = true;
         },
         E_FAIL, 0, false},
        {"item Release throws", [](FakeConnection& c) { c.item->throwOnRelease = true; }, E_FAIL, 4,
         false},
        {"fluid Release throws", [](FakeConnection& c) { c.fluid->throwOnRelease = true; }, E_FAIL,
         0, false},
        {"fluid without IFluidPropertySource",
         [](FakeConnection& c) { c.item->fluid = Adopt(new FakeUnknown("Foreign")); }, E_FAIL, 0,
         false},
        {"fluid query throws", [](FakeConnection& c) { c.fluid->throwOnQuery = true; }, E_FAIL, 0,
         false},
        {"FindVariable fails", [](FakeConnection&) { VarHub_FailMethod("FindVariable", E_FAIL); },
         E_FAIL, 0, false},
        {"FindVariable gives no object",
         [](FakeConnection&) { VarHub_FailMethod("FindVariable", S_FALSE); }, S_OK, 0, false},
        {"FindVariable throws", [](FakeConnection&) { VarHub_ThrowIn("FindVariable"); }, E_FAIL, 0,
         false},
        {"FindVariable fails leaving a variable",
         [](FakeConnection&) { VarHub_FailMethodLeaving("FindVariable", E_FAIL); }, E_FAIL, 0,
         false},
        {"found object is no variable",
         [](FakeConnection&) { VarHub_SetFindGivesForeignObject(1); }, S_OK, 0, false},
        {"SetValue fails", [](FakeConnection&) { VarHub_FailMethod("SetValue", E_FAIL); }, S_OK, 4,
         false},
        {"SetValue throws", [](FakeConnection&) { VarHub_ThrowIn("SetValue"); }, E_FAIL, 1, false},
        {"GetPropertyBlock fails", [](FakeConnection& c) { c.fluid->fetchResult = E_FAIL; }, S_OK,
         4, true},
        {"GetPropertyBlock throws", [](FakeConnection& c) { c.fluid->throwOnFetch = true; }, S_OK,
         4, true},
        {"IsUnchanged throws", [](FakeConnection& c) { c.fluid->throwOnUnchanged = true; }, S_OK, 4,
         true},
    };
}

TEST_F(HostFaultSweepTest, CalculateOfEveryClass) {
    const std::vector<CalculateFault> faults = CalculateFaults();
    for (int i = 0; i < kCatalogueSize; ++i) {
        ComPtr<ICorrelation> correlation = Create(i);
        ASSERT_TRUE(correlation);
        const bool common = kCatalogue[i].publication == Publication::Common;
        for (const CalculateFault& fault : faults) {
            const std::string what = std::string(kCatalogue[i].name) + ", " + fault.what;
            FakeConnection fake;
            LONG id = 0;
            IUnknown* set = nullptr;
            ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 5, &id, &set));
            // Values from a first calculation, which an early return must keep.
            ASSERT_EQ(S_OK, correlation->Calculate(id)) << what;
            ComPtr<IUnknown> variable;
            ASSERT_EQ(S_OK, FindPhaseValues(set, variable));
            std::vector<double> before;
            for (int e = 0; e < 4; ++e) before.push_back(VarHub_Value(variable.Get(), e));

            VarHub_Reset();
            fault.inject(fake);
            ++hostFaultsInjected;
            const Counts countsBefore;
            const std::vector<LONG> fakeCounts = fake.Counts();
            const HRESULT hr = correlation->Calculate(id);
            const int writes = WritesLogged();
            VarHub_Reset();
            // Whatever the publication obtained, it has let go again.
            ExpectCounts(countsBefore, what);
            EXPECT_EQ(fakeCounts, fake.Counts()) << what;

            EXPECT_EQ(fault.expected, hr) << what;
            if (fault.writes >= 0 && (common || fault.writes == 0 || fault.writes == 4)) {
                EXPECT_EQ(fault.writes, writes) << what;
            }
            if (writes == 0) {
                for (int e = 0; e < 4; ++e) {
                    EXPECT_EQ(before[e], VarHub_Value(variable.Get(), e))
                        << what << ": element " << e << " changed";
                }
            }
            if (fault.emptyValues && common) {
                for (int e = 0; e < 4; ++e) {
                    EXPECT_EQ(kEmptyValue, VarHub_Value(variable.Get(), e)) << what << " " << e;
                }
            }
            ExpectCalculatorIdle();
            variable.Reset();
            EXPECT_EQ(S_OK, correlation->Disconnect(id)) << what;
            if (HasFailure()) return;
        }
    }
}

// After every fault the same connection calculates normally again.
TEST_F(HostFaultSweepTest, CalculateRecoversAfterEveryFault) {
    const std::vector<CalculateFault> faults = CalculateFaults();
    for (int index : OneClassPerPublication()) {
        ComPtr<ICorrelation> correlation = Create(index);
        ASSERT_TRUE(correlation);
        for (const CalculateFault& fault : faults) {
            FakeConnection fake;
            LONG id = 0;
            IUnknown* set = nullptr;
            ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 5, &id, &set));
            ComPtr<IUnknown> variable;
            ASSERT_EQ(S_OK, FindPhaseValues(set, variable));
            fault.inject(fake);
            correlation->Calculate(id);
            VarHub_Reset();
            FakeConnection healthy;
            EXPECT_EQ(S_OK, correlation->Disconnect(id));
            ASSERT_EQ(S_OK, correlation->Connect(healthy.source.Get(), 5, &id, &set));
            variable.Reset();
            ASSERT_EQ(S_OK, FindPhaseValues(set, variable));
            EXPECT_EQ(S_OK, correlation->Calculate(id)) << fault.what;
            EXPECT_EQ(4, VarHub_ValueCount(variable.Get())) << fault.what;
            variable.Reset();
            EXPECT_EQ(S_OK, correlation->Disconnect(id));
        }
    }
}

// A source whose Release throws when its connection goes: Disconnect
// reports E_FAIL with the record gone and the ids renumbered; Cleanup and the
// final release go on with the rest.
TEST_F(HostFaultSweepTest, ThrowingSourceReleaseWhenTheConnectionGoes) {
    enum class Ending { Disconnect, Cleanup, FinalRelease };
    for (Ending ending : {Ending::Disconnect, Ending::Cleanup, Ending::FinalRelease}) {
        ComPtr<ICorrelation> correlation = Create(0);
        ASSERT_TRUE(correlation);
        FakeConnection first, second;
        const std::vector<LONG> counts = first.Counts();
        LONG id = 0;
        IUnknown* set = nullptr;
        ASSERT_EQ(S_OK, correlation->Connect(first.source.Get(), 1, &id, &set));
        ASSERT_EQ(S_OK, correlation->Connect(second.source.Get(), 2, &id, &set));
        first.source->throwOnRelease = true;
        switch (ending) {
            case Ending::Disconnect:
                EXPECT_EQ(E_FAIL, correlation->Disconnect(1));
                EXPECT_EQ(S_OK, correlation->Calculate(1)) << "the second, renumbered";
                EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Calculate(2));
                break;
            case Ending::Cleanup:
                EXPECT_EQ(0, static_cast<CCorrelation*>(correlation.Get())->Cleanup());
                EXPECT_EQ(1, second.source->RefCount()) << "the rest released";
                break;
            case Ending::FinalRelease:
                correlation.Reset();
                break;
        }
        correlation.Reset();
        EXPECT_EQ(counts, first.Counts());
        EXPECT_EQ(counts, second.Counts());
        if (HasFailure()) return;
    }
}

// The host lets go of the correlation, or cleans it up, from inside a call
// that Calculate or Connect makes: the call finishes on a live object, and
// the object goes when the outermost call returns.
struct Callback {
    const char* call;  // the host call that calls back
    bool cleanup;      // Cleanup instead of the last Release
    bool aggregated;
    bool connect;  // during Connect instead of Calculate
};

struct CallbackState {
    const char* call;
    std::function<void()> action;
    bool done = false;

    void At(const char* name) {
        if (done || std::strcmp(name, call) != 0) return;
        done = true;
        action();
    }
    static void FromHub(const char* name, void* state) {
        static_cast<CallbackState*>(state)->At(name);
    }
};

TEST_F(HostFaultSweepTest, HostLetsGoOfTheObjectDuringACall) {
    const Callback callbacks[] = {
        {"GetItem", false, false, false},       {"IsReady", false, false, false},
        {"FindVariable", false, false, false},  {"GetPropertyBlock", false, false, false},
        {"SetValue", false, false, false},      {"GetPropertyBlock", false, true, false},
        {"GetItem", true, false, false},        {"IsReady", true, false, false},
        {"GetFluid", true, false, false},       {"FindVariable", true, false, false},
        {"QueryInterface", false, false, true}, {"QueryInterface", false, true, true},
    };
    for (const Callback& c : callbacks) {
        const std::string what = std::string(c.call) + (c.cleanup ? ", Cleanup" : ", Release") +
                                 (c.aggregated ? ", aggregated" : "") +
                                 (c.connect ? ", Connect" : ", Calculate");
        const HubCounts hubBefore;
        FakeConnection fake;
        const std::vector<LONG> counts = fake.Counts();
        const ComPtr<FakeUnknown> outer = Adopt(new FakeUnknown("Outer"));
        IUnknown* owner = nullptr;  // the reference the host lets go of
        ASSERT_EQ(S_OK, kClassTable[0].makeInstance(c.aggregated ? outer.Get() : nullptr,
                                                    c.aggregated ? IID_IUnknown : IID_ICorrelation,
                                                    reinterpret_cast<void**>(&owner)));
        ICorrelation* correlation = nullptr;
        ASSERT_EQ(S_OK, owner->QueryInterface(IID_PPV_ARGS(&correlation)));
        correlation->Release();  // used through owner's reference, as an outer object does
        LONG id = 0;
        IUnknown* set = nullptr;
        if (!c.connect) {
            ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 1, &id, &set));
        }
        ComPtr<IUnknown> setReference(set);  // to read the values once the record is gone

        CallbackState state{c.call, [&] {
                                if (c.cleanup) {
                                    static_cast<CCorrelation*>(correlation)->Cleanup();
                                } else {
                                    owner->Release();
                                }
                            }};
        for (FakeBase* double_ : std::initializer_list<FakeBase*>{
                 fake.source.Get(), fake.item.Get(), fake.fluid.Get()}) {
            double_->onCall = [&state](const char* name) { state.At(name); };
        }
        VarHub_Reset();
        VarHub_SetHook(&CallbackState::FromHub, &state);
        const HRESULT hr = c.connect ? correlation->Connect(fake.source.Get(), 1, &id, &set)
                                     : correlation->Calculate(id);
        VarHub_SetHook(nullptr, nullptr);
        const int writes = WritesLogged();
        for (FakeBase* double_ : std::initializer_list<FakeBase*>{
                 fake.source.Get(), fake.item.Get(), fake.fluid.Get()}) {
            double_->onCall = nullptr;
        }
        EXPECT_TRUE(state.done) << what;
        EXPECT_EQ(S_OK, hr) << what;
        if (!c.connect) {
            EXPECT_EQ(4, writes) << what;
            ComPtr<IUnknown> variable;
            ASSERT_EQ(S_OK, FindPhaseValues(setReference.Get(), variable));
            EXPECT_EQ(4, VarHub_ValueCount(variable.Get())) << what;
        }
        setReference.Reset();
        if (c.cleanup) owner->Release();
        VarHub_Reset();
        EXPECT_EQ(0, Module().GetLockCount()) << what << ": the object is gone";
        EXPECT_EQ(1, outer->RefCount()) << what;
        EXPECT_EQ(counts, fake.Counts()) << what;
        ExpectHubCounts(hubBefore, what);
        ExpectCalculatorIdle();
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace pvt::test
