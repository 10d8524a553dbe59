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

// Arms FailAllocation for its lifetime.
class ScopedAllocationFailure {
public:
    explicit ScopedAllocationFailure(long n) { FailAllocation(n); }
    ~ScopedAllocationFailure() { FailAllocation(0); }
    ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
};

}  // namespace pvt::test
