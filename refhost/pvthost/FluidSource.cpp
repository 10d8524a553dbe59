#include "FluidSource.h"

#include <cstring>
#include <new>

namespace pvthost {

namespace {

LONG liveObjects = 0;

// Reference counting for the three kinds of object; the count starts at 1,
// the reference of whoever creates the object.
class CCounted {
public:
    CCounted() { InterlockedIncrement(&liveObjects); }
    virtual ~CCounted() { InterlockedDecrement(&liveObjects); }
    CCounted(const CCounted&) = delete;
    CCounted& operator=(const CCounted&) = delete;

protected:
    ULONG AddReference() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG ReleaseReference() {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    LONG references_ = 1;
};

// The fluid: a fixed block, never changing, so IsUnchanged answers 0 and
// the module fetches it whenever it asks.
class CFluid final : public CCounted, public pvt::IFluidPropertySource {
public:
    explicit CFluid(const pvt::PropertyBlock& block) : block_(block) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, pvt::IID_IFluidPropertySource)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<pvt::IFluidPropertySource*>(this);
        AddReference();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return AddReference(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseReference(); }

    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(GetPropertyBlock)(pvt::PropertyBlock* block) override {
        if (block == nullptr) return E_POINTER;
        std::memcpy(block, &block_, sizeof block_);
        return S_OK;
    }
    STDMETHOD(IsUnchanged)(VARIANT_BOOL* unchanged) override {
        if (unchanged == nullptr) return E_POINTER;
        *unchanged = 0;
        return S_OK;
    }

private:
    pvt::PropertyBlock block_;
};

class CSourceItem final : public CCounted, public pvt::ISourceItem {
public:
    explicit CSourceItem(CFluid* fluid) : fluid_(fluid) { fluid_->AddRef(); }
    ~CSourceItem() override { fluid_->Release(); }

    // The item has no interface identifier of its own: only IUnknown.
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *object = static_cast<pvt::ISourceItem*>(this);
        AddReference();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return AddReference(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseReference(); }

    STDMETHOD(GetFluid)(IUnknown** fluid) override {
        if (fluid == nullptr) return E_POINTER;
        fluid_->AddRef();
        *fluid = static_cast<pvt::IFluidPropertySource*>(fluid_);
        return S_OK;
    }
    STDMETHOD(IsReady)(LONG* ready) override {
        if (ready == nullptr) return E_POINTER;
        *ready = 1;
        return S_OK;
    }

private:
    CFluid* fluid_;  // one reference
};

class CFluidSource final : public CCounted, public pvt::IConnectionSource {
public:
    explicit CFluidSource(CFluid* fluid) : fluid_(fluid) {}  // takes over the reference
    ~CFluidSource() override { fluid_->Release(); }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, pvt::IID_IConnectionSource)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<pvt::IConnectionSource*>(this);
        AddReference();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return AddReference(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseReference(); }

    STDMETHOD(GetItem)(LONG itemKey, pvt::ISourceItem** item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        if (itemKey != kFluidItemKey) return E_INVALIDARG;
        try {
            *item = new CSourceItem(fluid_);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    CFluid* fluid_;  // one reference
};

}  // namespace

pvt::IConnectionSource* CreateFluidSource(const pvt::PropertyBlock& block) {
    CFluid* fluid = new CFluid(block);
    try {
        return new CFluidSource(fluid);
    } catch (...) {
        fluid->Release();
        throw;
    }
}

long LiveSourceObjects() { return InterlockedCompareExchange(&liveObjects, 0, 0); }

}  // namespace pvthost
