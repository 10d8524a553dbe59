// Counts the program's heap allocations: this bench replaces the global
// operator new with one that only counts and then allocates as usual.
#pragma once

namespace pvt::bench {

long AllocationCount();
// Bytes asked of operator new so far (frees are not subtracted).
long long AllocatedBytes();

}  // namespace pvt::bench
