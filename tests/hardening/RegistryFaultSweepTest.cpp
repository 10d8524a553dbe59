// Registry-failure sweeps: the n-th registry operation fails, for every n.
// A failed registration leaves exactly the classes before the failing one
// (that class's block taken back); a failed unregistration has removed the
// classes before the failing one and left the rest alone.
//
// Every operation of every class's script is swept on its own, from the
// registry state that the classes before it leave. RegisterServer and
// UnregisterServer themselves are swept at every thirteenth operation, or at
// every one with PVT_FULL_SWEEPS=1 (each run loads all scripts afresh, which
// is slow under Wine).
#include "hardening/HardeningSupport.h"

#include <cstdio>
#include <functional>

namespace pvt::test {
namespace {

long registryFaultsInjected = 0;

const LONG kErrors[] = {ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY};

long WholeRunStride() { return EnvironmentNumber("PVT_FULL_SWEEPS", 0) != 0 ? 1 : 13; }

// A failure of the registry comes back as that failure, or as the access
// denial the registrar meets when it falls back to a key opened for reading.
bool RegistryFailure(HRESULT hr, LONG error) {
    return hr == HRESULT_FROM_WIN32(error) || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

using Setup = std::function<void(RegistryDouble&)>;

// Operations a run makes on a registry prepared by setup.
long OperationsOf(const Setup& setup, const std::function<HRESULT()>& run) {
    const std::unique_ptr<RegistryDouble> registry = MachineRegistry();
    setup(*registry);
    const long before = registry->OperationCount();
    ActiveRegistryScope active(*registry);
    EXPECT_EQ(S_OK, run());
    return registry->OperationCount() - before;
}

// Runs run once per operation n (stride apart) and error, on a registry
// prepared by setup with its n-th operation failing; check(registry, hr, n).
void SweepOperations(const Setup& setup, const std::function<HRESULT()>& run,
                     const std::function<void(RegistryDouble&, HRESULT, long, LONG)>& check,
                     long stride = 1, bool bothErrors = true) {
    const long operations = OperationsOf(setup, run);
    ASSERT_GT(operations, 0);
    for (LONG error : kErrors) {
        for (long n = 1; n <= operations; n += stride) {
            const std::unique_ptr<RegistryDouble> registry = MachineRegistry();
            setup(*registry);
            registry->FailNthOperation(n, error);
            ++registryFaultsInjected;
            HRESULT hr;
            {
                ActiveRegistryScope active(*registry);
                hr = run();
            }
            EXPECT_EQ(0, registry->OpenHandles()) << "operation " << n;
            registry->ClearFaults();
            check(*registry, hr, n, error);
            if (::testing::Test::HasFailure()) return;
        }
        if (!bothErrors) break;
    }
}

// The registry with every class registered, then the first k unregistered.
std::vector<std::string> RemovedPrefixDumps() {
    std::vector<std::string> dumps;
    const std::unique_ptr<RegistryDouble> registry = MachineRegistry();
    EXPECT_EQ(S_OK, RunScriptTexts(*registry, 0, kCatalogueSize, true));
    dumps.push_back(registry->Dump());
    for (int i = 0; i < kCatalogueSize; ++i) {
        EXPECT_EQ(S_OK, RunScriptTexts(*registry, i, i + 1, false));
        dumps.push_back(registry->Dump());
    }
    return dumps;
}

class RegistryFaultSweepTest : public HardeningFixture {
protected:
    static void SetUpTestSuite() { AttachClassTable(); }
    static void TearDownTestSuite() {
        std::printf("[ sweep    ] registry faults injected: %ld\n", registryFaultsInjected);
    }
};

// Each class's script is swept beside a neighbour class, which shares the
// CLSID key with it and must come through untouched; the whole runs below
// check the class boundaries over all of them.
int Neighbour(int k) { return k == 0 ? 1 : k - 1; }

TEST_F(RegistryFaultSweepTest, EachClassRegistering) {
    for (int k = 0; k < kCatalogueSize; ++k) {
        SCOPED_TRACE(kCatalogue[k].name);
        const std::vector<ScriptStep> before = {{Neighbour(k), true}};
        const std::string untouched = DumpAfter(before);
        const std::string registered = DumpAfter({{Neighbour(k), true}, {k, true}});
        SweepOperations(
            [&](RegistryDouble& r) { ApplySteps(r, before); },
            [k] { return kClassTable[k].registration(true); },
            [&](RegistryDouble& r, HRESULT hr, long n, LONG error) {
                if (hr == S_OK) {
                    EXPECT_EQ(registered, r.Dump()) << "passed over operation " << n;
                } else {
                    EXPECT_TRUE(RegistryFailure(hr, error)) << n << ": 0x" << std::hex << hr;
                    EXPECT_EQ(untouched, r.Dump()) << "operation " << n << " not taken back";
                }
            });
    }
}

TEST_F(RegistryFaultSweepTest, EachClassRegisteringOverAnExistingRegistration) {
    for (int k = 0; k < kCatalogueSize; ++k) {
        SCOPED_TRACE(kCatalogue[k].name);
        const std::vector<ScriptStep> before = {{k, true}, {Neighbour(k), true}};
        const std::string full = DumpAfter(before);
        SweepOperations([&](RegistryDouble& r) { ApplySteps(r, before); },
                        [k] { return kClassTable[k].registration(true); },
                        [&](RegistryDouble& r, HRESULT hr, long n, LONG error) {
                            if (hr == S_OK) {
                                EXPECT_EQ(full, r.Dump()) << "passed over operation " << n;
                            } else {
                                // The block was taken back: this class is gone, the
                                // other is as it was.
                                EXPECT_TRUE(RegistryFailure(hr, error))
                                    << n << ": 0x" << std::hex << hr;
                                EXPECT_EQ(DumpWithoutClass(full, k), r.Dump()) << "operation " << n;
                            }
                        });
    }
}

TEST_F(RegistryFaultSweepTest, EachClassUnregistering) {
    for (int k = 0; k < kCatalogueSize; ++k) {
        SCOPED_TRACE(kCatalogue[k].name);
        const std::vector<ScriptStep> before = {{k, true}, {Neighbour(k), true}};
        const std::string full = DumpAfter(before);
        const std::string removed = DumpAfter({{k, true}, {Neighbour(k), true}, {k, false}});
        SweepOperations([&](RegistryDouble& r) { ApplySteps(r, before); },
                        [k] { return kClassTable[k].registration(false); },
                        [&](RegistryDouble& r, HRESULT hr, long n, LONG error) {
                            if (hr == S_OK) {
                                EXPECT_EQ(removed, r.Dump()) << "passed over operation " << n;
                                return;
                            }
                            EXPECT_EQ(HRESULT_FROM_WIN32(error), hr) << "operation " << n;
                            // The other class untouched; this one may be partly
                            // removed, and unregistering it again finishes the job.
                            EXPECT_EQ(DumpWithoutClass(full, k), DumpWithoutClass(r.Dump(), k))
                                << n;
                            EXPECT_EQ(S_OK, RunScriptTexts(r, k, k + 1, false)) << n;
                            EXPECT_EQ(removed, r.Dump()) << n;
                        });
    }
}

// The whole of RegisterServer: it stops at the first class that fails.
TEST_F(RegistryFaultSweepTest, RegisterServer) {
    TypeLibraryRestorer restorer;
    const std::vector<std::string> prefixes = RegisteredPrefixDumps();
    long failures = 0;
    SweepOperations([](RegistryDouble&) {}, [] { return RegisterServer(kClassTable); },
                    [&](RegistryDouble& r, HRESULT hr, long n, LONG error) {
                        const std::string dump = r.Dump();
                        if (hr == S_OK) {
                            EXPECT_EQ(prefixes.back(), dump) << "passed over operation " << n;
                            return;
                        }
                        ++failures;
                        EXPECT_TRUE(RegistryFailure(hr, error)) << n;
                        std::size_t k = 0;
                        while (k < prefixes.size() && prefixes[k] != dump) ++k;
                        EXPECT_LT(k, prefixes.size() - 1)
                            << "operation " << n << ": a class half-registered";
                    },
                    WholeRunStride(), WholeRunStride() == 1);
    EXPECT_GT(failures, 0);
}

// The whole of UnregisterServer: classes before the failing one gone, the
// rest untouched.
TEST_F(RegistryFaultSweepTest, UnregisterServer) {
    TypeLibraryRestorer restorer;
    const std::vector<std::string> removed = RemovedPrefixDumps();
    SweepOperations(
        [](RegistryDouble& r) {
            EXPECT_EQ(S_OK, RunScriptTexts(r, 0, kCatalogueSize, true));
            if (!TypeLibraryRestorer::IsRegistered()) {
                EXPECT_EQ(S_OK, RegisterTypeLibrary());
            }
        },
        [] { return UnregisterServer(kClassTable); },
        [&](RegistryDouble& r, HRESULT hr, long n, LONG error) {
            if (hr == S_OK) {
                EXPECT_EQ(removed.back(), r.Dump()) << "passed over operation " << n;
                return;
            }
            EXPECT_EQ(HRESULT_FROM_WIN32(error), hr) << "operation " << n;
            const std::string dump = r.Dump();
            bool matched = false;
            for (int k = 0; k < kCatalogueSize && !matched; ++k) {
                matched = DumpWithoutClass(removed[k], k) == DumpWithoutClass(dump, k);
            }
            EXPECT_TRUE(matched) << "operation " << n << " left no clean class boundary";
            EXPECT_EQ(S_OK, RunScriptTexts(r, 0, kCatalogueSize, false)) << n;
            EXPECT_EQ(removed.back(), r.Dump()) << n;
        },
        WholeRunStride(), WholeRunStride() == 1);
}

}  // namespace
}  // namespace pvt::test
