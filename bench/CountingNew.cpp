#include "CountingNew.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations{0};
std::atomic<long long> bytes{0};

void* Allocate(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    bytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* AllocateOrNull(std::size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    bytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace pvt::bench {

long AllocationCount() { return allocations.load(std::memory_order_relaxed); }
long long AllocatedBytes() { return bytes.load(std::memory_order_relaxed); }

}  // namespace pvt::bench

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
