// The one place where a C++ exception becomes an HRESULT. Every COM method
// and exported function runs its body through ComBoundary (or ends in
// catch (...) { return CurrentExceptionToHresult(); }), so that no exception
// crosses into the caller: running out of memory is E_OUTOFMEMORY, anything
// else E_FAIL.
#pragma once

#include <windows.h>

#include <new>

namespace pvt {

// The HRESULT of the exception being handled; call only inside a catch.
inline HRESULT CurrentExceptionToHresult() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// body's HRESULT, or that of the exception it threw.
template <class Body>
HRESULT ComBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return CurrentExceptionToHresult();
    }
}

}  // namespace pvt
