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

protected:
    ULONG DoAddRef();
    ULONG DoRelease();
    void Note(const std::string& call) const;

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

    // Called by GetItem; by default it fails with E_NOTIMPL.
    std::function<HRESULT(LONG, ISourceItem**)> onGetItem;
};

}  // namespace pvt::test
