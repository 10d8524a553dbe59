#include "support/AllocationFailure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> countdown{0};
std::atomic<long> allocations{0};
std::atomic<long> liveBlocks{0};
thread_local int pauseDepth = 0;

void* Allocate(std::size_t size) {
    long remaining = pauseDepth > 0 ? 0 : countdown.load(std::memory_order_relaxed);
    if (pauseDepth == 0) allocations.fetch_add(1, std::memory_order_relaxed);
    while (remaining > 0) {
        if (countdown.compare_exchange_weak(remaining, remaining - 1)) {
            if (remaining == 1) throw std::bad_alloc();
            break;
        }
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void Free(void* p) noexcept {
    if (p == nullptr) return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

}  // namespace

namespace pvt::test {

void FailAllocation(long n) { countdown.store(n < 0 ? 0 : n); }
long AllocationCount() { return allocations.load(); }
void ResetAllocationCount() { allocations.store(0); }
long LiveAllocations() { return liveBlocks.load(); }
ScopedAllocationPause::ScopedAllocationPause() { ++pauseDepth; }
ScopedAllocationPause::~ScopedAllocationPause() { --pauseDepth; }

}  // namespace pvt::test

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
