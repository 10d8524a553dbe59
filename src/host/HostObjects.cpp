#include "host/HostObjects.h"

#include "host/HostPtr.h"

#include <objbase.h>

namespace pvt {

namespace {

// The library name is ASCII, so widening it with the system ANSI code page
// gives this literal whatever the code page is.
wchar_t dataServerName[] = L"varhub2.dll";

// A new object of factory's class, queried for interfaceId into created.
HRESULT CreateThroughFactory(IClassFactory* factory, REFIID interfaceId,
                             HostPtr<IUnknown>& created) {
    HostPtr<IUnknown> unknown;
    HRESULT hr = Receive(unknown, [&](IUnknown** out) {
        return factory->CreateInstance(nullptr, IID_PPV_ARGS(out));
    });
    if (FAILED(hr)) return hr;
    if (!unknown) return E_FAIL;
    void* queried = nullptr;  // of the caller's interface, whichever it is
    hr = unknown->QueryInterface(interfaceId, &queried);
    if (SUCCEEDED(hr)) created.Attach(static_cast<IUnknown*>(queried));
    return unknown.Reset() ? hr : E_FAIL;
}

}  // namespace

HRESULT CreateHostObject(REFCLSID classId, REFIID interfaceId, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;

    HINSTANCE library = CoLoadLibrary(dataServerName, TRUE);
    if (library == nullptr) return E_FAIL;
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    if (getClassObject == nullptr) return E_FAIL;

    HostPtr<IClassFactory> factory;
    HRESULT hr = Receive(
        factory, [&](IClassFactory** out) { return getClassObject(classId, IID_PPV_ARGS(out)); });
    if (FAILED(hr) || !factory) return E_FAIL;

    HostPtr<IUnknown> created;
    hr = CreateThroughFactory(factory.Get(), interfaceId, created);
    if (!factory.Reset()) hr = E_FAIL;
    if (FAILED(hr)) return hr;
    if (!created) return E_FAIL;  // success must come with an object
    *object = created.Detach();
    return hr;
}

}  // namespace pvt
