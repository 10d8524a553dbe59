#include "LeanHost.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace pvt::bench {

namespace {

LONG liveObjects = 0;

// Reference counting as a free-threaded host object does it.
class LeanCounted {
public:
    LeanCounted() { InterlockedIncrement(&liveObjects); }
    virtual ~LeanCounted() { InterlockedDecrement(&liveObjects); }
    LeanCounted(const LeanCounted&) = delete;
    LeanCounted& operator=(const LeanCounted&) = delete;

protected:
    ULONG CountUp() { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
    ULONG CountDown() {
        const LONG count = InterlockedDecrement(&count_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    LONG count_ = 1;  // the creator's reference
};

template <class Interface>
HRESULT Answer(Interface* self, REFIID own, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, own) || IsEqualIID(iid, IID_IUnknown)) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

#define PVT_LEAN_UNKNOWN(Interface, iid)                               \
    STDMETHOD(QueryInterface)(REFIID wanted, void** object) override { \
        return Answer<Interface>(this, iid, wanted, object);           \
    }                                                                  \
    STDMETHOD_(ULONG, AddRef)() override { return CountUp(); }         \
    STDMETHOD_(ULONG, Release)() override { return CountDown(); }

class LeanFluid final : public LeanCounted, public IFluidPropertySource {
public:
    explicit LeanFluid(LeanFluidControl& control) : control_(control) {}
    PVT_LEAN_UNKNOWN(IFluidPropertySource, IID_IFluidPropertySource)
    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(GetPropertyBlock)(PropertyBlock* block) override {
        ++control_.fetches;
        std::memcpy(block, &control_.block, sizeof *block);
        return S_OK;
    }
    STDMETHOD(IsUnchanged)(VARIANT_BOOL* unchanged) override {
        ++control_.unchangedQueries;
        *unchanged = control_.unchanged;
        return S_OK;
    }

private:
    LeanFluidControl& control_;
};

class LeanItem final : public LeanCounted, public ISourceItem {
public:
    explicit LeanItem(IUnknown* fluid) : fluid_(fluid) { fluid_->AddRef(); }
    ~LeanItem() override { fluid_->Release(); }
    // The host gives the item no IID of its own.
    PVT_LEAN_UNKNOWN(ISourceItem, IID_IUnknown)
    STDMETHOD(GetFluid)(IUnknown** fluid) override {
        fluid_->AddRef();
        *fluid = fluid_;
        return S_OK;
    }
    STDMETHOD(IsReady)(LONG* ready) override {
        *ready = 1;
        return S_OK;
    }

private:
    IUnknown* fluid_;
};

class LeanSource final : public LeanCounted, public IConnectionSource {
public:
    explicit LeanSource(ISourceItem* item) : item_(item) { item_->AddRef(); }
    ~LeanSource() override { item_->Release(); }
    PVT_LEAN_UNKNOWN(IConnectionSource, IID_IConnectionSource)
    STDMETHOD(GetItem)(LONG, ISourceItem** item) override {
        item_->AddRef();
        *item = item_;
        return S_OK;
    }

private:
    ISourceItem* item_;
};

class LeanVariable final : public LeanCounted, public IHostVariable {
public:
    PVT_LEAN_UNKNOWN(IHostVariable, IID_IHostVariable)
    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(SetTaggedName)(const wchar_t*) override { return S_OK; }
    STDMETHOD(Reserved03)() override { return E_NOTIMPL; }
    STDMETHOD(SetDisplayName)(BSTR) override { return S_OK; }
    STDMETHOD(Reserved05)() override { return E_NOTIMPL; }
    STDMETHOD(SetFlag)(LONG) override { return S_OK; }
    STDMETHOD(Reserved07)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved08)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved09)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved10)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved12)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved13)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved14)() override { return E_NOTIMPL; }
    STDMETHOD(SetValue)(LONG index, double value) override {
        if (index < 0 || index >= 4) return E_INVALIDARG;
        values[index] = value;
        return S_OK;
    }

    double values[4] = {0.0, 0.0, 0.0, 0.0};
};

class LeanSet final : public LeanCounted, public IHostVariableSet {
public:
    explicit LeanSet(IHostVariable* variable) : variable_(variable) { variable_->AddRef(); }
    ~LeanSet() override { variable_->Release(); }
    PVT_LEAN_UNKNOWN(IHostVariableSet, IID_IHostVariableSet)
    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved02)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved03)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved04)() override { return E_NOTIMPL; }
    STDMETHOD(AddVariable)(IHostVariable*) override { return E_NOTIMPL; }
    STDMETHOD(Reserved06)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved07)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved08)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved09)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved10)() override { return E_NOTIMPL; }
    STDMETHOD(Clone)(IHostVariableSet** clone) override {
        IHostVariable* variable = NewLeanVariable();
        *clone = new LeanSet(variable);
        variable->Release();
        return S_OK;
    }
    STDMETHOD(Reserved12)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved13)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved14)() override { return E_NOTIMPL; }
    STDMETHOD(FindVariable)(const wchar_t* name, IUnknown** variable) override {
        if (std::wcscmp(name, L"Phase_Values") != 0) return E_INVALIDARG;
        variable_->AddRef();
        *variable = variable_;
        return S_OK;
    }

private:
    IHostVariable* variable_;
};

#undef PVT_LEAN_UNKNOWN

}  // namespace

long LeanLiveObjects() { return InterlockedCompareExchange(&liveObjects, 0, 0); }

IFluidPropertySource* NewLeanFluid(LeanFluidControl& control) { return new LeanFluid(control); }
ISourceItem* NewLeanItem(IUnknown* fluid) { return new LeanItem(fluid); }
IConnectionSource* NewLeanSource(ISourceItem* item) { return new LeanSource(item); }
IHostVariable* NewLeanVariable() { return new LeanVariable(); }
IHostVariableSet* NewLeanSet(IHostVariable* variable) { return new LeanSet(variable); }

const double* LeanValues(IHostVariable* variable) {
    return static_cast<LeanVariable*>(variable)->values;
}

}  // namespace pvt::bench
