#include "doubles/Fakes.h"

namespace pvt::test {

namespace {
LONG liveObjects = 0;
LONG references = 0;
}  // namespace

LONG FakeCounters::LiveObjects() { return InterlockedCompareExchange(&liveObjects, 0, 0); }
LONG FakeCounters::References() { return InterlockedCompareExchange(&references, 0, 0); }

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
    Note("Release() -> " + std::to_string(count));
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

void FakeBase::Note(const std::string& call) const { VarHub_Note((name_ + "." + call).c_str()); }

STDMETHODIMP FakeUnknown::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    DoAddRef();
    return S_OK;
}

STDMETHODIMP FakeSource::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionSource)) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IConnectionSource*>(this);
    DoAddRef();
    return S_OK;
}

STDMETHODIMP FakeSource::GetItem(LONG itemKey, ISourceItem** item) {
    Note("GetItem(" + std::to_string(itemKey) + ")");
    if (!onGetItem) return E_NOTIMPL;
    return onGetItem(itemKey, item);
}

}  // namespace pvt::test
