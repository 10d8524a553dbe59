// Soak: create, connect, calculate, disconnect and release, over and over,
// cycling through every class. Objects, references and the module lock
// count come back to zero, and neither the module's own allocations nor the
// process's private bytes grow once warmed up.
//
// PVT_SOAK_CYCLES sets the number of cycles (the label "long" runs 100000).
#include "hardening/HardeningSupport.h"
#include "support/PhaseValues.h"

#include <psapi.h>

#include <chrono>
#include <cstdio>

namespace pvt::test {
namespace {

// The process's private bytes. Wine leaves PrivateUsage at zero; there the
// page-file usage (which is the same figure on Windows) or, failing that,
// the working set stands in for it. `source` names the figure used.
SIZE_T PrivateBytes(const char** source = nullptr) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    const char* used = "none";
    SIZE_T bytes = 0;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        if (counters.PrivateUsage != 0) {
            used = "PrivateUsage";
            bytes = counters.PrivateUsage;
        } else if (counters.PagefileUsage != 0) {
            used = "PagefileUsage";
            bytes = counters.PagefileUsage;
        } else {
            used = "WorkingSetSize";
            bytes = counters.WorkingSetSize;
        }
    }
    if (source != nullptr) *source = used;
    return bytes;
}

class SoakTest : public HardeningFixture {
protected:
    void SetUp() override {
        HardeningFixture::SetUp();
        AttachClassTable();
    }
    void TearDown() override {
        ReleaseCachedClassObjects();
        HardeningFixture::TearDown();
    }

    // One cycle for class index; false when anything went wrong.
    static bool Cycle(int index, FakeConnection& fake) {
        ComPtr<IClassFactory> factory;
        if (Module().GetClassObject(*kClassTable[index].classId,
                                    IID_PPV_ARGS(factory.GetAddressOf())) != S_OK) {
            return false;
        }
        ComPtr<ICorrelation> correlation;
        if (factory->CreateInstance(nullptr, IID_PPV_ARGS(correlation.GetAddressOf())) != S_OK) {
            return false;
        }
        factory.Reset();
        LONG id = 0;
        IUnknown* set = nullptr;
        if (correlation->Connect(fake.source.Get(), 3, &id, &set) != S_OK) return false;
        if (correlation->Calculate(id) != S_OK) return false;
        bool good = true;
        if (kCatalogue[index].publication == Publication::Common) {
            // Element 1 is phase 0 of the class's slot.
            ComPtr<IUnknown> variable;
            FindPhaseValues(set, variable);
            good = VarHub_Value(variable.Get(), 1) ==
                   fake.fluid->block.slots[kCatalogue[index].slot][0];
        }
        if (correlation->Disconnect(id) != S_OK) return false;
        return good && correlation.Reset() == 0;
    }
};

TEST_F(SoakTest, CreateConnectCalculateDisconnectRelease) {
    const long cycles = EnvironmentNumber("PVT_SOAK_CYCLES", 10000);
    const long warmUp = std::max(500L, cycles / 10);
    FakeConnection fake;
    const std::vector<LONG> fakeCounts = fake.Counts();
    const HubCounts hubBefore;

    const auto started = std::chrono::steady_clock::now();
    long liveAtWarmUp = 0;
    SIZE_T bytesAtWarmUp = 0;
    long bad = 0;
    for (long c = 0; c < cycles + warmUp; ++c) {
        if (c == warmUp) {
            liveAtWarmUp = LiveAllocations();
            bytesAtWarmUp = PrivateBytes();
        }
        if (!Cycle(static_cast<int>(c % kCatalogueSize), fake) && ++bad < 5) {
            ADD_FAILURE() << "cycle " << c << " (" << kCatalogue[c % kCatalogueSize].name << ")";
        }
        VarHub_Reset();  // the double's call log would grow without end
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long liveAtEnd = LiveAllocations();
    const char* source = nullptr;
    const SIZE_T bytesAtEnd = PrivateBytes(&source);
    std::printf(
        "[ soak     ] %ld cycles (+%ld warm-up) in %.1f s; private bytes (%s) %.2f MB "
        "after warm-up, %.2f MB at the end; operator-new blocks %ld -> %ld\n",
        cycles, warmUp, seconds, source, bytesAtWarmUp / 1048576.0, bytesAtEnd / 1048576.0,
        liveAtWarmUp, liveAtEnd);

    EXPECT_EQ(0, bad);
    EXPECT_EQ(liveAtWarmUp, liveAtEnd) << "the module's own allocations grew";
    EXPECT_GT(bytesAtWarmUp, 0u);
    // Heap slack aside, nothing may grow with the number of cycles.
    EXPECT_LE(static_cast<double>(bytesAtEnd), bytesAtWarmUp + 2.0 * 1048576.0)
        << "private bytes grew";
    EXPECT_EQ(fakeCounts, fake.Counts());
    ExpectHubCounts(hubBefore, "after the soak");
    EXPECT_EQ(0, Module().GetLockCount());
}

}  // namespace
}  // namespace pvt::test
