// The host's connection sources, items and fluids as test doubles. They
// count live objects and references, log notable calls into the data-server
// double's log (one sequence for every double), and can fail or throw.
#pragma once

#include "VarHubControl.h"
#include "host/HostInterfaces.h"

#include <wrl/client.h>

#include <functional>
#include <string>

namespace pvt::test {

struct FakeCounters {
    static LONG LiveObjects();
    static LONG References();
    // Whether the fakes write their calls into the shared log.
    static void SetLogging(bool enabled);
};

// Takes over the creator's reference of a new fake. (MinGW's ComPtr::Attach
// adds a reference of its own, so it cannot be used for this.)
template <class T>
Microsoft::WRL::ComPtr<T> Adopt(T* created) {
    Microsoft::WRL::ComPtr<T> pointer(created);
    created->Release();
    return pointer;
}

// Reference counting and interface answering shared by the fakes.
class FakeBase {
public:
    explicit FakeBase(std::string name);
    virtual ~FakeBase();
    FakeBase(const FakeBase&) = delete;
    FakeBase& operator=(const FakeBase&) = delete;

    const std::string& Name() const { return name_; }
    LONG RefCount() const { return count_; }

    // Runs at the start of every host call the fake answers (its name, e.g.
    // "GetItem", "QueryInterface"), before any fault: a host calling back.
    std::function<void(const char* call)> onCall;
    // The next Release lets go of the reference, then throws (once).
    bool throwOnRelease = false;
    // A call that fails still writes the pointer it would give, without a
    // reference.
    bool leaveOnFailure = false;

protected:
    void Hook(const char* call) {
        if (onCall) onCall(call);
    }
    ULONG DoAddRef();
    ULONG DoRelease();
    static constexpr long kNoNumber = -2147483647L - 1;
    // Logs "Name.call", or "Name.call<number><tail>"; builds no text while
    // logging is off.
    void Note(const char* call, long number = kNoNumber, const char* tail = "") const;

private:
    std::string name_;
    LONG count_ = 1;  // the creator's reference
};

// An object that offers only IUnknown.
class FakeUnknown final : public FakeBase, public IUnknown {
public:
    explicit FakeUnknown(std::string name = "Unknown") : FakeBase(std::move(name)) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }
};

class FakeSource final : public FakeBase, public IConnectionSource {
public:
    explicit FakeSource(std::string name = "Source") : FakeBase(std::move(name)) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }
    STDMETHOD(GetItem)(LONG itemKey, ISourceItem** item) override;

    // What GetItem hands out: itemResult, with item when that succeeds.
    Microsoft::WRL::ComPtr<ISourceItem> item;
    HRESULT itemResult = S_OK;
    HRESULT queryResult = S_OK;  // of the query for IConnectionSource
    bool throwOnGetItem = false;
    bool throwOnQuery = false;  // QueryInterface throws
};

class FakeItem final : public FakeBase, public ISourceItem {
public:
    explicit FakeItem(std::string name = "Item") : FakeBase(std::move(name)) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }
    STDMETHOD(GetFluid)(IUnknown** fluid) override;
    STDMETHOD(IsReady)(LONG* ready) override;

    Microsoft::WRL::ComPtr<IUnknown> fluid;
    HRESULT fluidResult = S_OK;
    LONG ready = 1;
    HRESULT readyResult = S_OK;
    bool throwOnGetFluid = false;
    bool throwOnIsReady = false;
};

class FakeFluid final : public FakeBase, public IFluidPropertySource {
public:
    explicit FakeFluid(std::string name = "Fluid") : FakeBase(std::move(name)) {}
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return DoAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return DoRelease(); }
    STDMETHOD(Reserved01)() override;
    STDMETHOD(GetPropertyBlock)(PropertyBlock* block) override;
    STDMETHOD(IsUnchanged)(VARIANT_BOOL* unchanged) override;

    PropertyBlock block{};       // copied out by a successful fetch
    HRESULT fetchResult = S_OK;  // a failure writes nothing
    bool throwOnFetch = false;
    bool throwOnUnchanged = false;
    bool throwOnQuery = false;   // QueryInterface throws
    HRESULT queryResult = S_OK;  // of the query for IFluidPropertySource
    VARIANT_BOOL unchanged = 0;
    std::function<void()> duringFetch;  // runs inside GetPropertyBlock
    int fetches = 0;
    int unchangedQueries = 0;
};

// A block whose every value tells its slot and phase apart:
// slot k, index i holds k * 10 + i + 0.5; every phase present.
PropertyBlock DistinctBlock();

}  // namespace pvt::test
