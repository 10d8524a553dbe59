// The module object: the lock count that decides whether the DLL may be
// unloaded.
#pragma once

#include <windows.h>

namespace pvt {

class CComModule {
public:
    CComModule() = default;
    CComModule(const CComModule&) = delete;
    CComModule& operator=(const CComModule&) = delete;

    // Atomic; each returns the new count.
    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG GetLockCount() const { return InterlockedCompareExchange(&lockCount_, 0, 0); }

private:
    mutable LONG lockCount_ = 0;
};

// The one module object of the process.
CComModule& Module();

}  // namespace pvt
