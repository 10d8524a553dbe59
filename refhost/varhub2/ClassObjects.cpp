// The server's class objects and its COM entry points. The two class
// objects are static: they live as long as the DLL and do not count as
// live objects; LockServer keeps the DLL loaded.
#include "HostVariableSet.h"

#include <new>

namespace varhub {

namespace {

template <class Object>
class CClassObject final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Object* created = nullptr;
        try {
            created = new Object;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        // Hold a reference while asking, so that a refused interface
        // destroys the object.
        created->AddRef();
        const HRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL lock) override {
        varhub::LockServer(lock != FALSE);
        return S_OK;
    }
};

CClassObject<CHostVariableSet> setClassObject;
CClassObject<CHostVariable> variableClassObject;

}  // namespace

}  // namespace varhub

using namespace varhub;

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualCLSID(classId, pvt::CLSID_HostVariableSet)) {
        return setClassObject.QueryInterface(iid, object);
    }
    if (IsEqualCLSID(classId, pvt::CLSID_HostVariable)) {
        return variableClassObject.QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return (LiveObjectCount() == 0 && ServerLockCount() == 0) ? S_OK : S_FALSE;
}
