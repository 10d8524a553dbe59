// Task-allocator failure sweeps: creation, connection, calculation and
// registration run with their first, second, third ... CoTaskMemAlloc (or
// BSTR allocation) failing, until a run meets no failure. A run that fails
// must leave nothing behind; a run that absorbs the failure (the platform
// or the module has a way around it) must give exactly what a run without
// failure gives.
#include "hardening/HardeningSupport.h"
#include "support/Counts.h"
#include "support/TaskAllocationFailure.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

namespace pvt::test {
namespace {

struct TaskSweepOutcome {
    long failingRuns = 0;   // runs that reported a failure
    long absorbedRuns = 0;  // runs that met a failure and still succeeded
    std::map<HRESULT, long> results;
};

// Runs attempt with the n-th task allocation failing, n = 1, 2, ... until
// a run meets no injected failure. failed(n, hr) checks a run that
// reported the failure hr, absorbed(n) one that met a failure and succeeded, and undo()
// takes back what a successful run made.
TaskSweepOutcome SweepTaskAllocations(TaskAllocationFailure& spy, const char* what,
                                      const std::function<HRESULT()>& attempt,
                                      const std::function<void(long, HRESULT)>& failed,
                                      const std::function<void(long)>& absorbed,
                                      const std::function<void()>& undo, long limit = 5000) {
    TaskSweepOutcome outcome;
    const bool failedBefore = ::testing::Test::HasFailure();
    for (long n = 1; n <= limit; ++n) {
        const long liveBefore = spy.LiveBlocks();
        spy.FailAt(n);
        const HRESULT hr = attempt();
        const bool fired = spy.Fired();
        spy.FailAt(0);
        if (SUCCEEDED(hr)) {
            if (fired) {
                ++outcome.absorbedRuns;
                absorbed(n);
            }
            undo();
            if (!fired) break;
        } else {
            ++outcome.failingRuns;
            ++outcome.results[hr];
            EXPECT_TRUE(fired) << what << ", allocation " << n << ": failed without a failure";
            failed(n, hr);
        }
        EXPECT_EQ(liveBefore, spy.LiveBlocks()) << what << ", allocation " << n << ": blocks left";
        if (!failedBefore && ::testing::Test::HasFailure()) break;  // one report is enough
        EXPECT_LT(n, limit) << what << " never ran without a failure";
    }
    std::printf("[ sweep    ] %s: %ld task allocations failed, %ld absorbed; results", what,
                outcome.failingRuns, outcome.absorbedRuns);
    for (const auto& result : outcome.results) {
        std::printf(" 0x%08lX x%ld", static_cast<unsigned long>(result.first), result.second);
    }
    std::printf("\n");
    return outcome;
}

class TaskAllocationSweepTest : public HardeningFixture {
protected:
    void SetUp() override {
        HardeningFixture::SetUp();
        spy = TaskAllocationFailure::Register();
        ASSERT_NE(nullptr, spy);
    }
    void TearDown() override {
        if (spy != nullptr && !TaskAllocationFailure::Revoke(spy)) {
            std::printf("[ sweep    ] the malloc spy stays until its last block is freed\n");
        }
        HardeningFixture::TearDown();
    }

    // Creates class index (aggregated in outer when it is not null) and gives
    // the data-server double's log of it: what the object was made of.
    static HRESULT CreateLogged(int index, IUnknown* outer, IUnknown*& object,
                                std::vector<std::string>& log) {
        VarHub_Reset();
        object = reinterpret_cast<IUnknown*>(1);
        const HRESULT hr = kClassTable[index].makeInstance(outer, IID_PPV_ARGS(&object));
        log = Log(false);
        return hr;
    }

    TaskAllocationFailure* spy = nullptr;
};

// A construction log without what the variable's definition applies: the
// definitions document, when the parser cannot read it, is passed over
// quietly, and its one entry repeats the tagged name construction has set.
std::vector<std::string> WithoutDefinition(std::vector<std::string> log) {
    const std::string tagged = "Variable#1.SetTaggedName(\"Phase_Values\")";
    std::size_t seen = 0;
    for (auto it = log.begin(); it != log.end(); ++it) {
        if (*it == tagged && ++seen == 2) {
            log.erase(it);
            break;
        }
    }
    return log;
}

// Creation: a failed run reports E_OUTOFMEMORY and leaves nothing; a run that absorbs a failure
// made a complete object.
TEST_F(TaskAllocationSweepTest, CreationStandaloneAndAggregated) {
    for (int index : OneClassPerPublication()) {
        for (bool aggregated : {false, true}) {
            const std::string what =
                std::string(kCatalogue[index].name) + (aggregated ? ", aggregated" : "");
            const ComPtr<FakeUnknown> outerObject = Adopt(new FakeUnknown("Outer"));
            IUnknown* outer = aggregated ? outerObject.Get() : nullptr;
            IUnknown* object = nullptr;
            std::vector<std::string> clean;
            ASSERT_EQ(S_OK, CreateLogged(index, outer, object, clean));
            object->Release();
            const Counts before;
            std::vector<std::string> log;
            SweepTaskAllocations(
                *spy, what.c_str(), [&] { return CreateLogged(index, outer, object, log); },
                [&](long n, HRESULT hr) {
                    EXPECT_EQ(E_OUTOFMEMORY, hr) << what << ", allocation " << n;
                    EXPECT_EQ(nullptr, object) << what << ", allocation " << n;
                    ExpectCounts(before, what);
                },
                [&](long n) {
                    EXPECT_TRUE(log == clean || log == WithoutDefinition(clean))
                        << what << ", allocation " << n;
                },
                [&] { EXPECT_EQ(0u, object->Release()) << what; });
            EXPECT_EQ(1, outerObject->RefCount()) << what;
            ExpectCounts(before, what);
        }
    }
}

// Connect and Calculate make no task allocation of their own: a failure
// armed for the first one is never given out.
TEST_F(TaskAllocationSweepTest, ConnectAndCalculateAllocateNothing) {
    for (int index : OneClassPerPublication()) {
        ComPtr<ICorrelation> correlation = Create(index);
        ASSERT_TRUE(correlation);
        FakeConnection fake;
        LONG id = 0;
        IUnknown* set = nullptr;
        const long before = spy->Allocations();
        ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 1, &id, &set));
        const long connecting = spy->Allocations() - before;
        spy->FailAt(1);
        EXPECT_EQ(S_OK, correlation->Calculate(id)) << kCatalogue[index].name;
        EXPECT_FALSE(spy->Fired()) << kCatalogue[index].name << ": Calculate allocated";
        spy->FailAt(0);
        EXPECT_EQ(S_OK, correlation->Disconnect(id));
        std::printf("[ sweep    ] %s: Connect made %ld task allocations\n", kCatalogue[index].name,
                    connecting);
    }
}

// Per-user registration over the registry double: a run that fails leaves
// the double as it was; one that absorbs a failure writes exactly what a
// run without failure writes.
TEST_F(TaskAllocationSweepTest, PerUserRegistration) {
    RegistryDouble clean;
    {
        ActiveRegistryScope active(clean);
        ASSERT_EQ(S_OK, InstallServer(kClassTable, true, L"user"));
    }
    const std::string registered = clean.Dump();
    std::unique_ptr<RegistryDouble> registry;
    SweepTaskAllocations(
        *spy, "per-user registration",
        [&] {
            registry = std::make_unique<RegistryDouble>();
            ActiveRegistryScope active(*registry);
            return InstallServer(kClassTable, true, L"user");
        },
        [&](long n, HRESULT hr) {
            // The type library functions answer with the storage's own code.
            EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == STG_E_INSUFFICIENTMEMORY)
                << "allocation " << n << ": 0x" << std::hex << hr;
            EXPECT_EQ("", registry->Dump()) << "allocation " << n;
            EXPECT_EQ(0, registry->OpenHandles()) << "allocation " << n;
        },
        [&](long n) { EXPECT_EQ(registered, registry->Dump()) << "allocation " << n; }, [] {});
}

// Machine-wide registration: the class scripts over the registry double,
// the type library through the platform into the test prefix.
TEST_F(TaskAllocationSweepTest, RegisterServer) {
    TypeLibraryRestorer restorer;
    const std::vector<std::string> prefixes = RegisteredPrefixDumps();
    std::unique_ptr<RegistryDouble> registry;
    SweepTaskAllocations(
        *spy, "RegisterServer",
        [&] {
            registry = MachineRegistry();
            ActiveRegistryScope active(*registry);
            return RegisterServer(kClassTable);
        },
        [&](long n, HRESULT) {
            EXPECT_EQ(prefixes.back(), registry->Dump())
                << "allocation " << n << ": the type library is the last step";
        },
        [&](long n) {
            EXPECT_EQ(prefixes.back(), registry->Dump()) << "allocation " << n;
            EXPECT_TRUE(TypeLibraryRestorer::IsRegistered()) << "allocation " << n;
        },
        [] {});
}

}  // namespace
}  // namespace pvt::test
