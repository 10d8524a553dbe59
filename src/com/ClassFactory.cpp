#include "com/ClassFactory.h"

#include "com/ComModule.h"
#include "com/ErrorBoundary.h"

#include <new>

namespace pvt {

STDMETHODIMP CComClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP CComClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return ComBoundary([&] { return makeInstance_(outer, iid, object); });
}

STDMETHODIMP CComClassFactory::LockServer(BOOL lock) {
    if (lock) {
        Module().LockServer();
    } else {
        Module().UnlockServer();
    }
    return S_OK;
}

STDMETHODIMP_(ULONG) CComObjectCached::AddRef() {
    const LONG count = InterlockedIncrement(&refCount_);
    if (count == 2) Module().Lock();
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CComObjectCached::Release() {
    const LONG count = InterlockedDecrement(&refCount_);
    if (count == 1) Module().Unlock();
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT MakeClassObject(MakeInstanceFunction makeInstance, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    CComObjectCached* created = new (std::nothrow) CComObjectCached(makeInstance);
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(iid, object);
    if (FAILED(hr)) delete created;
    return hr;
}

}  // namespace pvt
