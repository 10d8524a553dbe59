#include "doubles/Fakes.h"

#include <stdexcept>

namespace pvt::test {

namespace {
LONG liveObjects = 0;
LONG references = 0;
bool logging = true;
}  // namespace

LONG FakeCounters::LiveObjects() { return InterlockedCompareExchange(&liveObjects, 0, 0); }
LONG FakeCounters::References() { return InterlockedCompareExchange(&references, 0, 0); }
void FakeCounters::SetLogging(bool enabled) { logging = enabled; }

FakeBase::FakeBase(std::string name) : name_(std::move(name)) {
    InterlockedIncrement(&liveObjects);
    InterlockedIncrement(&references);
}

FakeBase::~FakeBase() { InterlockedDecrement(&liveObjects); }

ULONG FakeBase::DoAddRef() {
    InterlockedIncrement(&references);
    return static_cast<ULONG>(InterlockedIncrement(&count_));
}

ULONG FakeBase::DoRelease() {
    InterlockedDecrement(&references);
    const LONG count = InterlockedDecrement(&count_);
    const bool raise = throwOnRelease;
    throwOnRelease = false;
    Note("Release() -> ", count);
    if (count == 0) delete this;
    if (raise) throw std::runtime_error("host double: Release");
    return static_cast<ULONG>(count);
}

void FakeBase::Note(const char* call, long number, const char* tail) const {
    if (!logging) return;
    std::string line = name_ + "." + call;
    if (number != kNoNumber) line += std::to_string(number) + tail;
    VarHub_Note(line.c_str());
}

STDMETHODIMP FakeUnknown::QueryInterface(REFIID iid, void** object) {
    Hook("QueryInterface");
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    DoAddRef();
    return S_OK;
}

STDMETHODIMP FakeSource::QueryInterface(REFIID iid, void** object) {
    Hook("QueryInterface");
    if (object == nullptr) return E_POINTER;
    if (throwOnQuery) throw std::runtime_error("source double: QueryInterface");
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionSource)) {
        return E_NOINTERFACE;
    }
    if (IsEqualIID(iid, IID_IConnectionSource) && FAILED(queryResult)) {
        if (leaveOnFailure) *object = static_cast<IConnectionSource*>(this);
        return queryResult;
    }
    *object = static_cast<IConnectionSource*>(this);
    DoAddRef();
    return S_OK;
}

STDMETHODIMP FakeSource::GetItem(LONG itemKey, ISourceItem** out) {
    Note("GetItem(", itemKey, ")");
    Hook("GetItem");
    if (throwOnGetItem) throw std::runtime_error("source double: GetItem");
    *out = nullptr;
    if (FAILED(itemResult)) {
        if (leaveOnFailure) *out = item.Get();
        return itemResult;
    }
    *out = item.Get();
    if (*out) (*out)->AddRef();
    return itemResult;
}

STDMETHODIMP FakeItem::QueryInterface(REFIID iid, void** object) {
    Hook("QueryInterface");
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *object = static_cast<ISourceItem*>(this);
    DoAddRef();
    return S_OK;
}

STDMETHODIMP FakeItem::GetFluid(IUnknown** out) {
    Note("GetFluid()");
    Hook("GetFluid");
    if (throwOnGetFluid) throw std::runtime_error("item double: GetFluid");
    *out = nullptr;
    if (FAILED(fluidResult)) {
        if (leaveOnFailure) *out = fluid.Get();
        return fluidResult;
    }
    *out = fluid.Get();
    if (*out) (*out)->AddRef();
    return fluidResult;
}

STDMETHODIMP FakeItem::IsReady(LONG* out) {
    Note("IsReady()");
    Hook("IsReady");
    if (throwOnIsReady) throw std::runtime_error("item double: IsReady");
    if (FAILED(readyResult)) {
        *out = 0;  // whatever a failing call leaves must not count
        return readyResult;
    }
    *out = ready;
    return readyResult;
}

STDMETHODIMP FakeFluid::QueryInterface(REFIID iid, void** object) {
    Hook("QueryInterface");
    if (object == nullptr) return E_POINTER;
    if (throwOnQuery) throw std::runtime_error("fluid double: QueryInterface");
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IFluidPropertySource)) {
        return E_NOINTERFACE;
    }
    if (IsEqualIID(iid, IID_IFluidPropertySource) && FAILED(queryResult)) {
        if (leaveOnFailure) *object = static_cast<IFluidPropertySource*>(this);
        return queryResult;
    }
    *object = static_cast<IFluidPropertySource*>(this);
    DoAddRef();
    return S_OK;
}

STDMETHODIMP FakeFluid::Reserved01() {
    Note("Reserved01()");
    return E_NOTIMPL;
}

STDMETHODIMP FakeFluid::GetPropertyBlock(PropertyBlock* out) {
    Note("GetPropertyBlock()");
    Hook("GetPropertyBlock");
    ++fetches;
    if (duringFetch) duringFetch();
    if (throwOnFetch) throw std::runtime_error("fluid double: GetPropertyBlock");
    if (FAILED(fetchResult)) return fetchResult;
    *out = block;
    return fetchResult;
}

STDMETHODIMP FakeFluid::IsUnchanged(VARIANT_BOOL* out) {
    ++unchangedQueries;
    Hook("IsUnchanged");
    if (throwOnUnchanged) throw std::runtime_error("fluid double: IsUnchanged");
    *out = unchanged;
    return S_OK;
}

PropertyBlock DistinctBlock() {
    PropertyBlock block{};
    for (int p = 0; p < kPhaseCount; ++p) block.phasePresent[p] = 1;
    for (int k = 0; k < kPropertySlotCount; ++k) {
        for (int i = 0; i <= kOverallIndex; ++i) block.slots[k][i] = k * 10 + i + 0.5;
    }
    return block;
}

}  // namespace pvt::test
