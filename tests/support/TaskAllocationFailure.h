// Makes the platform's task allocator (CoTaskMemAlloc, and the BSTRs that
// the Automation functions allocate through it) fail on demand: a malloc
// spy that answers the n-th allocation with a request for 0 bytes, which
// the allocator then fails.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace pvt::test {

class TaskAllocationFailure final : public IMallocSpy {
public:
    // Registers a new spy; null when the platform refuses it.
    static TaskAllocationFailure* Register() {
        auto* spy = new TaskAllocationFailure();
        if (SUCCEEDED(CoRegisterMallocSpy(spy))) return spy;
        delete spy;
        return nullptr;
    }
    // Revokes and deletes spy. Blocks still allocated under it keep it
    // registered until they are freed, so it is then left to the platform,
    // which lets go of it by itself; returns whether it went at once.
    static bool Revoke(TaskAllocationFailure* spy) {
        spy->FailAt(0);
        if (FAILED(CoRevokeMallocSpy())) return false;
        delete spy;
        return true;
    }

    // The n-th allocation from now (1 = the next) fails; 0 disarms.
    void FailAt(long n) {
        InterlockedExchange(&fired_, 0);
        InterlockedExchange(&countdown_, n < 0 ? 0 : n);
    }
    // Whether the armed failure was given out.
    bool Fired() const { return InterlockedCompareExchange(&fired_, 0, 0) != 0; }
    // Allocations made since registration.
    long Allocations() const { return InterlockedCompareExchange(&allocations_, 0, 0); }
    // Blocks allocated under the spy and not yet freed.
    long LiveBlocks() const { return InterlockedCompareExchange(&live_, 0, 0); }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *object = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The spy's lifetime is Register's and Revoke's, not its count's.
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }

    STDMETHOD_(SIZE_T, PreAlloc)(SIZE_T request) override { return Counted(request); }
    STDMETHOD_(void*, PostAlloc)(void* actual) override {
        if (actual != nullptr) InterlockedIncrement(&live_);
        return actual;
    }
    STDMETHOD_(void*, PreFree)(void* request, BOOL spyed) override {
        if (request != nullptr && spyed) InterlockedDecrement(&live_);
        return request;
    }
    STDMETHOD_(void, PostFree)(BOOL) override {}
    // A reallocation moves a block: only one from nothing counts as new,
    // and it is the only kind that is failed.
    STDMETHOD_(SIZE_T, PreRealloc)
    (void* request, SIZE_T size, void** newRequest, BOOL spyed) override {
        *newRequest = request;
        if (request == nullptr) return Counted(size);
        if (size == 0 && spyed) InterlockedDecrement(&live_);
        return size;
    }
    STDMETHOD_(void*, PostRealloc)(void* actual, BOOL) override { return actual; }
    STDMETHOD_(void*, PreGetSize)(void* request, BOOL) override { return request; }
    STDMETHOD_(SIZE_T, PostGetSize)(SIZE_T actual, BOOL) override { return actual; }
    STDMETHOD_(void*, PreDidAlloc)(void* request, BOOL) override { return request; }
    STDMETHOD_(int, PostDidAlloc)(void*, BOOL, int actual) override { return actual; }
    STDMETHOD_(void, PreHeapMinimize)() override {}
    STDMETHOD_(void, PostHeapMinimize)() override {}

private:
    TaskAllocationFailure() = default;
    ~TaskAllocationFailure() = default;
    TaskAllocationFailure(const TaskAllocationFailure&) = delete;
    TaskAllocationFailure& operator=(const TaskAllocationFailure&) = delete;

    SIZE_T Counted(SIZE_T request) {
        InterlockedIncrement(&allocations_);
        if (InterlockedCompareExchange(&countdown_, 0, 0) > 0 &&
            InterlockedDecrement(&countdown_) == 0) {
            InterlockedExchange(&fired_, 1);
            return 0;
        }
        return request;
    }

    mutable LONG countdown_ = 0;
    mutable LONG fired_ = 0;
    mutable LONG allocations_ = 0;
    mutable LONG live_ = 0;
};

}  // namespace pvt::test
