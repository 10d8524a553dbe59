#include "host/HostObjects.h"

#include <objbase.h>
#include <wrl/client.h>

namespace pvt {

using Microsoft::WRL::ComPtr;

namespace {

// The library name is ASCII, so widening it with the system ANSI code page
// gives this literal whatever the code page is.
wchar_t dataServerName[] = L"varhub2.dll";

HRESULT CreateThroughFactory(IClassFactory* factory, REFIID interfaceId, void** object) {
    ComPtr<IUnknown> unknown;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IUnknown,
                                         reinterpret_cast<void**>(unknown.GetAddressOf()));
    if (FAILED(hr)) return hr;
    if (!unknown) return E_FAIL;
    return unknown->QueryInterface(interfaceId, object);
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

    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(classId, IID_IClassFactory,
                                reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr) || !factory) return E_FAIL;

    hr = CreateThroughFactory(factory.Get(), interfaceId, object);
    if (SUCCEEDED(hr) && *object == nullptr) return E_FAIL;  // success must come with an object
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

}  // namespace pvt
