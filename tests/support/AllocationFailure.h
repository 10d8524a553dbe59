// Makes the module's allocations fail on demand: this test build replaces
// the global operator new.
#pragma once

#include <cstddef>

namespace pvt::test {

// The n-th allocation from now (1 = the next) throws std::bad_alloc; every
// later one succeeds again. 0 disarms.
void FailAllocation(long n);
// Allocations made since the counter was last reset.
long AllocationCount();
void ResetAllocationCount();
// Blocks allocated through operator new and not yet freed, process-wide.
long LiveAllocations();

// While one is alive on a thread, that thread's allocations neither count
// towards nor trigger FailAllocation: a test double's own bookkeeping stays
// out of an allocation sweep aimed at the module.
class ScopedAllocationPause {
public:
    ScopedAllocationPause();
    ~ScopedAllocationPause();
    ScopedAllocationPause(const ScopedAllocationPause&) = delete;
    ScopedAllocationPause& operator=(const ScopedAllocationPause&) = delete;
};

// Arms FailAllocation for its lifetime.
class ScopedAllocationFailure {
public:
    explicit ScopedAllocationFailure(long n) { FailAllocation(n); }
    ~ScopedAllocationFailure() { FailAllocation(0); }
    ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
};

}  // namespace pvt::test
