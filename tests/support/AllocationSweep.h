// The allocation-failure sweep shared by the tests: an operation is run
// with its first, second, third ... allocation failing until it succeeds.
#pragma once

#include "VarHubControl.h"
#include "com/ComModule.h"
#include "support/AllocationFailure.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>

namespace pvt::test {

// How one operation fared over its sweep.
struct SweepOutcome {
    long failingRuns = 0;  // runs that met an injected failure
    bool succeeded = false;
};

// Allocation points met by every sweep of the process so far.
inline long& SweptAllocationPoints() {
    static long total = 0;
    return total;
}

// Runs attempt with the n-th allocation failing, n = 1, 2, ... (every
// stride-th) until it returns S_OK. Every failing run must answer
// E_OUTOFMEMORY and leave the live block count where it was; check(n) then
// verifies the rest. After the succeeding run, undo() takes back what it
// made. The first run that adds a failure ends the sweep.
inline SweepOutcome SweepAllocations(const char* what, const std::function<HRESULT()>& attempt,
                                     const std::function<void(long)>& check,
                                     const std::function<void()>& undo, long limit = 20000,
                                     long stride = 1) {
    SweepOutcome outcome;
    const bool failedBefore = ::testing::Test::HasFailure();
    for (long n = 1; n <= limit; n += stride) {
        const long liveBefore = LiveAllocations();
        HRESULT hr;
        {
            ScopedAllocationFailure failure(n);
            hr = attempt();
        }
        if (hr == S_OK) {
            outcome.succeeded = true;
            undo();
            break;
        }
        ++outcome.failingRuns;
        const long liveAfter = LiveAllocations();
        EXPECT_EQ(E_OUTOFMEMORY, hr) << what << ", allocation " << n;
        EXPECT_EQ(liveBefore, liveAfter) << what << ", allocation " << n << ": blocks left";
        check(n);
        if (!failedBefore && ::testing::Test::HasFailure()) break;  // one report is enough
    }
    EXPECT_TRUE(outcome.succeeded) << what << " never succeeded";
    SweptAllocationPoints() += outcome.failingRuns;
    return outcome;
}

// Sweeps a creation that writes its object through the pointer it is
// given: every failing run must leave that pointer null, the module lock
// count at 0 and no data-server object alive. The succeeding run's object
// is handed to the caller in made.
inline SweepOutcome SweepCreation(const char* what,
                                  const std::function<HRESULT(IUnknown** out)>& create,
                                  IUnknown*& made) {
    made = nullptr;
    IUnknown* object = nullptr;
    return SweepAllocations(
        what,
        [&] {
            VarHub_Reset();
            object = reinterpret_cast<IUnknown*>(1);
            return create(&object);
        },
        [&](long n) {
            EXPECT_EQ(nullptr, object) << what << ", allocation " << n;
            EXPECT_EQ(0, Module().GetLockCount()) << what << ", allocation " << n;
            EXPECT_EQ(0, VarHub_LiveObjects()) << what << ", allocation " << n;
        },
        [&] { made = object; }, 500);
}

}  // namespace pvt::test
