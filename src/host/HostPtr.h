// An owning pointer to a host object, and the two ways the module takes one
// over from a host call.
//
// The host's Release may throw a C++ exception. ComPtr releases in a
// destructor and a Reset declared throw(), where such an exception ends the
// process; HostPtr releases inside a try block instead. Reset reports a
// throwing Release so that a caller can turn it into a result code; the
// destructor, which cannot report, swallows it. Either way the pointer is let
// go exactly once.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

namespace pvt {

// Releases object, catching what its Release throws; false if it threw.
inline bool ReleaseHostObject(IUnknown* object) noexcept {
    if (object == nullptr) return true;
    try {
        object->Release();
        return true;
    } catch (...) {
        return false;
    }
}

template <class T>
class HostPtr {
public:
    HostPtr() = default;
    HostPtr(const HostPtr&) = delete;
    HostPtr& operator=(const HostPtr&) = delete;
    HostPtr(HostPtr&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    // Only into an empty holder: a move never hides a release.
    HostPtr& operator=(HostPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    ~HostPtr() { Reset(); }

    T* Get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Takes over a reference that the caller owns; the holder must be empty.
    void Attach(T* object) noexcept {
        Reset();
        object_ = object;
    }

    // Hands the reference over to the caller; the holder is left empty.
    T* Detach() noexcept {
        T* object = object_;
        object_ = nullptr;
        return object;
    }

    // Lets go of the object; false when its Release threw. The holder is
    // cleared before the call, so code that the release calls back into
    // already finds it empty.
    bool Reset() noexcept {
        T* object = object_;
        object_ = nullptr;
        return ReleaseHostObject(object);
    }

private:
    T* object_ = nullptr;
};

// Makes call(&raw) and takes raw over only when the call succeeded: what a
// failed call leaves in its out location is neither used nor released.
template <class T, class Call>
HRESULT Receive(HostPtr<T>& into, Call&& call) {
    T* raw = nullptr;
    const HRESULT hr = call(&raw);
    if (SUCCEEDED(hr)) into.Attach(raw);
    return hr;
}

// QueryInterface of object for T, taken over only on success.
template <class T>
HRESULT QueryHostObject(IUnknown* object, HostPtr<T>& into) {
    return Receive(into, [&](T** out) { return object->QueryInterface(IID_PPV_ARGS(out)); });
}

}  // namespace pvt
