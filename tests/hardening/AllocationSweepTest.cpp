// Allocation-failure sweeps: each operation is run with its first, second,
// third ... allocation failing until it succeeds. Every failing run must
// report E_OUTOFMEMORY and leave no block allocated, no reference held and
// the module lock count where it was.
#include "hardening/HardeningSupport.h"
#include "support/AllocationSweep.h"
#include "support/Counts.h"

#include <cstdio>
#include <memory>

namespace pvt::test {
namespace {

// Whole registration runs reload every script, which is slow under Wine:
// every thirteenth allocation unless PVT_FULL_SWEEPS=1.
long WholeRunStride() { return EnvironmentNumber("PVT_FULL_SWEEPS", 0) != 0 ? 1 : 13; }

class AllocationSweepTest : public HardeningFixture {
protected:
    static void TearDownTestSuite() {
        std::printf("[ sweep    ] allocation points swept: %ld\n", SweptAllocationPoints());
    }
};

TEST_F(AllocationSweepTest, MakingAClassObject) {
    for (int i = 0; i < kCatalogueSize; ++i) {
        const Counts before;
        IClassFactory* factory = reinterpret_cast<IClassFactory*>(1);
        const SweepOutcome outcome = SweepAllocations(
            kCatalogue[i].name,
            [&] { return MakeClassObject(kClassTable[i].makeInstance, IID_PPV_ARGS(&factory)); },
            [&](long n) {
                EXPECT_EQ(nullptr, factory) << n;
                ExpectCounts(before, kCatalogue[i].name);
            },
            [&] { factory->Release(); });
        EXPECT_EQ(1, outcome.failingRuns) << "one allocation: the class object";
        ExpectCounts(before, kCatalogue[i].name);
    }
}

TEST_F(AllocationSweepTest, StandaloneCreationOfEveryClass) {
    for (int i = 0; i < kCatalogueSize; ++i) {
        Create(i).Reset();  // warm-up: one-time allocations of the runtime
        const Counts before;
        ICorrelation* object = reinterpret_cast<ICorrelation*>(1);
        const SweepOutcome outcome = SweepAllocations(
            kCatalogue[i].name,
            [&] { return kClassTable[i].makeInstance(nullptr, IID_PPV_ARGS(&object)); },
            [&](long n) {
                EXPECT_EQ(nullptr, object) << n;
                ExpectCounts(before, kCatalogue[i].name);
            },
            [&] { EXPECT_EQ(0u, object->Release()); });
        EXPECT_GE(outcome.failingRuns, 3) << "wrapper and both identity strings allocate";
        ExpectCounts(before, kCatalogue[i].name);
    }
}

TEST_F(AllocationSweepTest, AggregatedCreationOfEveryClass) {
    for (int i = 0; i < kCatalogueSize; ++i) {
        const ComPtr<FakeUnknown> outer = Adopt(new FakeUnknown("Outer"));
        const Counts before;
        IUnknown* inner = reinterpret_cast<IUnknown*>(1);
        const SweepOutcome outcome = SweepAllocations(
            kCatalogue[i].name,
            [&] { return kClassTable[i].makeInstance(outer.Get(), IID_PPV_ARGS(&inner)); },
            [&](long n) {
                EXPECT_EQ(nullptr, inner) << n;
                EXPECT_EQ(1, outer->RefCount()) << "the outer object's count, allocation " << n;
                ExpectCounts(before, kCatalogue[i].name);
            },
            [&] { EXPECT_EQ(0u, inner->Release()); });
        EXPECT_GE(outcome.failingRuns, 3);
        EXPECT_EQ(1, outer->RefCount());
        ExpectCounts(before, kCatalogue[i].name);
    }
}

TEST_F(AllocationSweepTest, CreationThroughTheClassFactory) {
    const int index = CatalogueIndex("GOR");
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, MakeClassObject(kClassTable[index].makeInstance,
                                    IID_PPV_ARGS(factory.GetAddressOf())));
    const Counts before;
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    SweepAllocations(
        "IClassFactory::CreateInstance",
        [&] { return factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)); },
        [&](long n) {
            EXPECT_EQ(nullptr, object) << n;
            ExpectCounts(before, "CreateInstance");
        },
        [&] { object->Release(); });
}

TEST_F(AllocationSweepTest, Connect) {
    for (int index : OneClassPerPublication()) {
        ComPtr<ICorrelation> correlation = Create(index);
        ASSERT_TRUE(correlation);
        FakeConnection fake;
        const std::vector<LONG> unconnected = fake.Counts();
        // A first connection, so that the sweep also meets a list that must grow.
        LONG firstId = 0;
        IUnknown* firstSet = nullptr;
        ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 1, &firstId, &firstSet));
        const Counts before;
        const std::vector<LONG> fakeCounts = fake.Counts();
        LONG id = -77;
        IUnknown* set = reinterpret_cast<IUnknown*>(1);
        SweepAllocations(
            "Connect", [&] { return correlation->Connect(fake.source.Get(), 2, &id, &set); },
            [&](long n) {
                EXPECT_EQ(-77, id) << "id written after failure " << n;
                EXPECT_EQ(fakeCounts, fake.Counts()) << n;
                EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Calculate(2)) << n;
                ExpectCounts(before, "Connect");
            },
            [&] {
                EXPECT_EQ(2, id);
                EXPECT_EQ(S_OK, correlation->Disconnect(2));
            });
        EXPECT_EQ(S_OK, correlation->Disconnect(1));
        EXPECT_EQ(unconnected, fake.Counts());
    }
}

TEST_F(AllocationSweepTest, TextGetters) {
    // The getters allocate only a BSTR, outside operator new: the sweep shows
    // that no allocation of the module's own stands in their way.
    ComPtr<ICorrelation> correlation = Create(0);
    ASSERT_TRUE(correlation);
    for (int getter = 0; getter < 2; ++getter) {
        BSTR text = nullptr;
        const SweepOutcome outcome = SweepAllocations(
            getter == 0 ? "GetDisplayName" : "GetClassIdText",
            [&] {
                return getter == 0 ? correlation->GetDisplayName(&text)
                                   : correlation->GetClassIdText(&text);
            },
            [&](long) { EXPECT_EQ(nullptr, text); },
            [&] {
                EXPECT_NE(nullptr, text);
                SysFreeString(text);
            });
        EXPECT_EQ(0, outcome.failingRuns);
    }
}

TEST_F(AllocationSweepTest, CalculateForEveryKindOfPublication) {
    for (int index : OneClassPerPublication()) {
        ComPtr<ICorrelation> correlation = Create(index);
        ASSERT_TRUE(correlation);
        FakeConnection fake;
        LONG id = 0;
        IUnknown* set = nullptr;
        ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 1, &id, &set));
        const Counts before;
        const std::vector<LONG> fakeCounts = fake.Counts();
        SweepAllocations(
            kCatalogue[index].name, [&] { return correlation->Calculate(id); },
            [&](long n) {
                EXPECT_EQ(fakeCounts, fake.Counts()) << n;
                ExpectCounts(before, "Calculate");
                ExpectCalculatorIdle();
            },
            [] {});
        EXPECT_EQ(fakeCounts, fake.Counts());
    }
}

// Registration over the registry double: the scripts run through the
// registrar, whose own allocations are swept (the double's are paused);
// the type library step goes to the platform's registry.
class RegistrationAllocationSweepTest : public AllocationSweepTest {
protected:
    void SetUp() override {
        AllocationSweepTest::SetUp();
        AttachClassTable();
    }
};

// Each class's script on its own, beside a neighbour class that shares the
// CLSID key with it.
TEST_F(RegistrationAllocationSweepTest, EachClassScript) {
    for (int k = 0; k < kCatalogueSize; ++k) {
        const int neighbour = k == 0 ? 1 : k - 1;
        const std::vector<ScriptStep> before = {{neighbour, true}};
        const std::string untouched = DumpAfter(before);
        for (bool registering : {true, false}) {
            const std::vector<ScriptStep> setup =
                registering ? before : std::vector<ScriptStep>{{neighbour, true}, {k, true}};
            std::unique_ptr<RegistryDouble> registry;
            std::unique_ptr<PausingRegistry> pausing;
            SweepAllocations(
                kCatalogue[k].name,
                [&] {
                    {
                        ScopedAllocationPause pause;
                        registry = MachineRegistry();
                        pausing = std::make_unique<PausingRegistry>(*registry);
                        ApplySteps(*registry, setup);
                    }
                    SetActiveRegistry(pausing.get());
                    const HRESULT hr = kClassTable[k].registration(registering);
                    SetActiveRegistry(nullptr);
                    ScopedAllocationPause pause;
                    EXPECT_EQ(0, registry->OpenHandles());
                    if (!registering && hr != S_OK) {
                        // Unregistering again finishes the job.
                        EXPECT_EQ(S_OK, RunScriptTexts(*registry, k, k + 1, false));
                    }
                    // A failed registration is taken back; an unregistration
                    // ends with the class gone.
                    if (!registering || hr != S_OK) {
                        EXPECT_EQ(untouched, registry->Dump()) << kCatalogue[k].name;
                    }
                    pausing.reset();
                    registry.reset();
                    return hr;
                },
                [&](long) { EXPECT_EQ(0, Module().GetLockCount()); }, [] {});
        }
    }
}

TEST_F(RegistrationAllocationSweepTest, RegisterServer) {
    TypeLibraryRestorer restorer;
    const std::vector<std::string> prefixes = RegisteredPrefixDumps();
    std::size_t lastPrefix = 0;
    SweepAllocations(
        "RegisterServer",
        [&] {
            std::unique_ptr<RegistryDouble> registry;
            std::unique_ptr<PausingRegistry> pausing;
            {
                ScopedAllocationPause pause;
                registry = MachineRegistry();
                pausing = std::make_unique<PausingRegistry>(*registry);
            }
            SetActiveRegistry(pausing.get());
            const HRESULT hr = RegisterServer(kClassTable);
            SetActiveRegistry(nullptr);
            ScopedAllocationPause pause;
            // What a failed registration leaves: the classes before the
            // failing one, and never fewer as the failure moves on.
            const std::string dump = registry->Dump();
            std::size_t k = 0;
            while (k < prefixes.size() && prefixes[k] != dump) ++k;
            EXPECT_LT(k, prefixes.size()) << "registry holds a partial class";
            EXPECT_GE(k, lastPrefix) << "fewer classes than after an earlier failure";
            if (k < prefixes.size()) lastPrefix = k;
            EXPECT_EQ(0, registry->OpenHandles());
            return hr;
        },
        [&](long) { EXPECT_EQ(0, Module().GetLockCount()); },
        [&] {
            EXPECT_EQ(prefixes.size() - 1, lastPrefix);
            EXPECT_TRUE(TypeLibraryRestorer::IsRegistered());
        },
        200000, WholeRunStride());
}

// Beneath a classes root of its own the type library's keys are built as a
// script of their own. With an empty class table only that step runs, so
// every one of its allocations fails in turn: each failure is taken back
// whole, the keys made for it (TypeLib, Interface) too.
TEST_F(RegistrationAllocationSweepTest, TypeLibraryKeysBeneathAClassesRootOfItsOwn) {
    constexpr wchar_t kScratch[] = L"Software\\PvtCorrelatorSweep";
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);  // left by a failed run
    HKEY root = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &root, nullptr));
    const ClassTableEntry noClasses[1] = {};
    SweepAllocations(
        "type library keys beneath a root of its own",
        [&] {
            std::unique_ptr<RegistryDouble> registry;
            std::unique_ptr<PausingRegistry> pausing;
            {
                ScopedAllocationPause pause;
                registry = std::make_unique<RegistryDouble>();
                pausing = std::make_unique<PausingRegistry>(*registry);
            }
            SetActiveRegistry(pausing.get());
            const HRESULT hr = RegisterServer(noClasses, root);
            ScopedAllocationPause pause;
            EXPECT_EQ(0, registry->OpenHandles());
            if (hr != S_OK) {
                EXPECT_EQ("", registry->Dump());
            } else {
                EXPECT_NE(std::string::npos, registry->Dump().find("HKCR\\TypeLib\\"));
                EXPECT_EQ(S_OK, UnregisterServer(noClasses, root));
                EXPECT_EQ("", registry->Dump());
            }
            SetActiveRegistry(nullptr);
            pausing.reset();
            registry.reset();
            return hr;
        },
        [&](long) { EXPECT_EQ(0, Module().GetLockCount()); }, [] {});
    RegCloseKey(root);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
}

TEST_F(RegistrationAllocationSweepTest, UnregisterServer) {
    TypeLibraryRestorer restorer;
    std::string emptied;
    {
        const std::unique_ptr<RegistryDouble> registry = MachineRegistry();
        ASSERT_EQ(S_OK, RunScriptTexts(*registry, 0, kCatalogueSize, true));
        ASSERT_EQ(S_OK, RunScriptTexts(*registry, 0, kCatalogueSize, false));
        emptied = registry->Dump();
    }
    ASSERT_EQ(S_OK, RegisterTypeLibrary());
    SweepAllocations(
        "UnregisterServer",
        [&] {
            std::unique_ptr<RegistryDouble> registry;
            std::unique_ptr<PausingRegistry> pausing;
            {
                ScopedAllocationPause pause;
                registry = MachineRegistry();
                pausing = std::make_unique<PausingRegistry>(*registry);
                SetActiveRegistry(pausing.get());
                EXPECT_EQ(S_OK, RunScriptTexts(*registry, 0, kCatalogueSize, true));
            }
            const HRESULT hr = UnregisterServer(kClassTable);
            ScopedAllocationPause pause;
            EXPECT_EQ(0, registry->OpenHandles());
            if (hr != S_OK) {
                // Running the whole unregistration again finishes the job.
                EXPECT_EQ(S_OK, RunClassScripts(0, kCatalogueSize, false));
            }
            SetActiveRegistry(nullptr);
            EXPECT_EQ(emptied, registry->Dump());
            return hr;
        },
        [&](long) { EXPECT_EQ(0, Module().GetLockCount()); },
        [&] { EXPECT_FALSE(TypeLibraryRestorer::IsRegistered()); }, 200000, WholeRunStride());
}

}  // namespace
}  // namespace pvt::test
