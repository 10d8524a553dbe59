// The reference-counting layer under every correlation object: the count
// slot of the object root and the standalone wrapper that owns the object's
// lifetime.
#pragma once

#include "com/ComModule.h"
#include "com/ErrorBoundary.h"
#include "com/UnwindGuard.h"

#include <windows.h>
#include <unknwn.h>

namespace pvt {

// Set by a wrapper's destruction so that reference changes made during the
// clean-up cannot start a second destruction.
inline constexpr LONG kDestructionSentinel = -(2147483647L / 2);

// A wrapper's destruction: cleanup (the host objects let go) first, then
// the delete, whose own clean-up then finds nothing left; the module stays
// locked meanwhile, so that it never looks unloadable while destruction
// runs. Should a host's structured exception interrupt the cleanup and
// unwind out of the destruction, the object is deleted and the lock
// released all the same as it passes (the cleanup, restoring itself, has let
// go of the rest by then).
template <class Object, class Cleanup>
void DestroyWrapper(Object& object, Cleanup&& cleanup) noexcept {
    Module().Lock();
    auto releaseAll = [&]() noexcept {
        cleanup();
        return S_OK;
    };
    bool deleted = false;
    auto finish = [&]() noexcept {
        if (deleted) return;
        deleted = true;
        delete &object;
        Module().Unlock();
    };
    RestoreOnUnwind(releaseAll, finish);
    delete &object;
    Module().Unlock();
}

// Runs complete() (noexcept, returning an HRESULT) for a new object. Should
// a host's structured exception from the construction's host calls unwind
// out of it, cleanup() lets go of what was created and the object is
// deleted, once, as the exception passes.
template <class Object, class Complete, class Cleanup>
HRESULT CompleteOrDiscard(Object* object, Complete& complete, Cleanup&& cleanup) noexcept {
    bool deleted = false;
    auto discard = [&]() noexcept {
        cleanup();
        if (deleted) return;
        deleted = true;
        delete object;
    };
    return RestoreOnUnwind(complete, discard);
}

struct CComSingleThreadModel {
    static LONG Increment(LONG* value) { return ++*value; }
    static LONG Decrement(LONG* value) { return --*value; }
};

// Holds the object's reference count. In the aggregated form the same slot
// holds the outer object's IUnknown instead.
template <class ThreadModel>
class CComObjectRootEx {
public:
    CComObjectRootEx() { refSlot_.count = 0; }

    LONG InternalAddRef() { return ThreadModel::Increment(&refSlot_.count); }
    LONG InternalRelease() { return ThreadModel::Decrement(&refSlot_.count); }
    IUnknown* OuterUnknown() const { return refSlot_.outer; }

protected:
    union RefSlot {
        LONG count;
        IUnknown* outer;
    };
    RefSlot refSlot_;
};

// A standalone object of class T. T provides InternalQueryInterface,
// CompleteConstruction, Cleanup (releases what the object holds, may run
// twice), DestroyObject, and DeferDestruction / CancelDeferredDestruction
// (a last Release during one of its calls into the host waits for the end
// of that call); the wrapper adds IUnknown.
template <class T>
class CComObject final : public T {
public:
    CComObject() { Module().Lock(); }

    ~CComObject() {
        this->refSlot_.count = kDestructionSentinel;
        Module().Unlock();
        // Host objects are let go while this wrapper's IUnknown is still in
        // place: a host object that touches the correlation while it goes
        // meets the sentinel count, not the bare class being torn down. The
        // class destructor then finds nothing left to release.
        this->T::Cleanup();
    }

    STDMETHOD_(ULONG, AddRef)() noexcept override {
        const LONG count = this->InternalAddRef();
        if (count == 1) this->CancelDeferredDestruction();
        return static_cast<ULONG>(count);
    }

    STDMETHOD_(ULONG, Release)() noexcept override {
        const LONG count = this->InternalRelease();
        if (count == 0 && !this->DeferDestruction()) DestroyObject();
        return static_cast<ULONG>(count);
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) noexcept override {
        return this->InternalQueryInterface(iid, object);
    }

    void DestroyObject() noexcept override {
        this->refSlot_.count = kDestructionSentinel;
        DestroyWrapper(*this, [this]() noexcept { this->T::Cleanup(); });
    }

    // Allocates, constructs and completes an object, then queries it for iid.
    // Any failure destroys the object; allocation failure gives E_OUTOFMEMORY.
    static HRESULT CreateInstance(REFIID iid, void** object) {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        CComObject* created = nullptr;
        const HRESULT hr = ComBoundary([&] {
            created = new CComObject();
            return S_OK;
        });
        if (FAILED(hr)) return hr;  // nothing allocated, no lock taken
        return created->Complete(iid, object);
    }

private:
    HRESULT Complete(REFIID iid, void** object) {
        auto complete = [&]() noexcept {
            this->InternalAddRef();
            HRESULT hr = this->CompleteConstruction();
            this->InternalRelease();
            if (SUCCEEDED(hr)) hr = this->InternalQueryInterface(iid, object);
            return hr;
        };
        const HRESULT hr =
            CompleteOrDiscard(this, complete, [this]() noexcept { this->T::Cleanup(); });
        if (FAILED(hr)) delete this;
        return SUCCEEDED(hr) ? S_OK : hr;
    }
};

template <class T>
class CComAggObject;

// Class T inside an aggregate: every IUnknown call on its interfaces goes to
// the outer object, whose pointer sits in the reference-count slot.
template <class T>
class CComContainedObject final : public T {
public:
    CComContainedObject(IUnknown* outer, CComAggObject<T>& aggregate) : aggregate_(aggregate) {
        this->refSlot_.outer = outer;
    }

    STDMETHOD_(ULONG, AddRef)() override { return this->OuterUnknown()->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return this->OuterUnknown()->Release(); }
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        return ComBoundary([&] { return this->OuterUnknown()->QueryInterface(iid, object); });
    }

    void DestroyObject() noexcept override { aggregate_.DestroyObject(); }

private:
    CComAggObject<T>& aggregate_;
};

// An aggregated object of class T: the non-delegating IUnknown handed to the
// outer object, with its own reference count governing the lifetime.
template <class T>
class CComAggObject final : public IUnknown {
public:
    explicit CComAggObject(IUnknown* outer) : contained_(outer, *this) { Module().Lock(); }

    virtual ~CComAggObject() {
        refCount_ = kDestructionSentinel;
        Module().Unlock();
        // As for the standalone form: the host objects go while the
        // contained object still forwards its IUnknown to the outer object.
        // Destroying contained_ next frees the rest.
        contained_.T::Cleanup();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        // The contained interfaces' AddRef goes to the outer object.
        return ComBoundary([&] { return contained_.InternalQueryInterface(iid, object); });
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override {
        const LONG count = ++refCount_;
        if (count == 1) contained_.CancelDeferredDestruction();
        return static_cast<ULONG>(count);
    }
    STDMETHOD_(ULONG, Release)() noexcept override {
        const LONG count = --refCount_;
        if (count == 0 && !contained_.DeferDestruction()) DestroyObject();
        return static_cast<ULONG>(count);
    }

    void DestroyObject() noexcept {
        refCount_ = kDestructionSentinel;
        DestroyWrapper(*this, [this]() noexcept { contained_.T::Cleanup(); });
    }

    // Allocates, constructs and completes an aggregate of T for outer, then
    // queries its non-delegating IUnknown for iid.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        CComAggObject* created = nullptr;
        HRESULT hr = ComBoundary([&] {
            created = new CComAggObject(outer);
            return S_OK;
        });
        if (FAILED(hr)) return hr;
        auto complete = [&]() noexcept { return created->contained_.CompleteConstruction(); };
        hr = CompleteOrDiscard(created, complete,
                               [created]() noexcept { created->contained_.T::Cleanup(); });
        if (SUCCEEDED(hr)) hr = created->QueryInterface(iid, object);
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        return S_OK;
    }

    T& Contained() { return contained_; }

private:
    LONG refCount_ = 0;
    CComContainedObject<T> contained_;
};

// Creates a T: aggregated when an outer object is given, standalone if not.
template <class T>
HRESULT MakeInstance(IUnknown* outer, REFIID iid, void** object) {
    if (outer != nullptr) return CComAggObject<T>::CreateInstance(outer, iid, object);
    return CComObject<T>::CreateInstance(iid, object);
}

}  // namespace pvt
