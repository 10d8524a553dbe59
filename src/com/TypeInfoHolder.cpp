#include "com/TypeInfoHolder.h"

#include "com/ComModule.h"
#include "com/ErrorBoundary.h"
#include "com/Text.h"

#include <oleauto.h>

#include <cwchar>

namespace pvt {

using Microsoft::WRL::ComPtr;

namespace {

// The (name, id) pairs of every function that info describes.
std::vector<std::pair<std::wstring, DISPID>> FunctionNames(ITypeInfo* info) {
    std::vector<std::pair<std::wstring, DISPID>> names;
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) return names;
    const WORD functionCount = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < functionCount; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function)) || function == nullptr) continue;
        const MEMBERID id = function->memid;
        info->ReleaseFuncDesc(function);
        BstrHolder name;
        if (SUCCEEDED(Received(
                info->GetDocumentation(id, name.Receive(), nullptr, nullptr, nullptr), name)) &&
            name.Get() != nullptr) {
            names.emplace_back(name.Text(), id);
        }
    }
    return names;
}

}  // namespace

HRESULT CComTypeInfoHolder::GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) {
    if (index != 0) return DISP_E_BADINDEX;
    if (typeInfo == nullptr) return E_POINTER;
    const HRESULT hr = EnsureLoaded(locale);
    *typeInfo = typeInfo_.load(std::memory_order_acquire);
    if (FAILED(hr)) return hr;
    (*typeInfo)->AddRef();
    return S_OK;
}

// The platform's type information reads the arrays without testing them,
// so a null one is answered here.
HRESULT CComTypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
    if (ids == nullptr) return E_POINTER;
    if (names == nullptr) return E_INVALIDARG;
    const HRESULT hr = EnsureLoaded(locale);
    if (FAILED(hr)) return hr;
    if (count == 1 && FindCachedName(names[0], ids)) {
        return S_OK;
    }
    return typeInfo_.load(std::memory_order_acquire)->GetIDsOfNames(names, count, ids);
}

HRESULT CComTypeInfoHolder::Invoke(IDispatch* self, LCID locale, DISPID id, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) {
    if (params == nullptr) return E_INVALIDARG;
    if ((params->cArgs != 0 && params->rgvarg == nullptr) ||
        (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    const HRESULT hr = EnsureLoaded(locale);
    if (FAILED(hr)) return hr;
    return typeInfo_.load(std::memory_order_acquire)
        ->Invoke(self, id, flags, params, result, exception, argumentError);
}

bool CComTypeInfoHolder::FindCachedName(const wchar_t* name, DISPID* id) const {
    if (name == nullptr) return false;
    for (const auto& entry : nameCache_) {
        if (entry.first == name) {
            *id = entry.second;
            return true;
        }
    }
    return false;
}

HRESULT CComTypeInfoHolder::EnsureLoaded(LCID locale) {
    if (typeInfo_.load(std::memory_order_acquire) != nullptr) return S_OK;
    CriticalSectionLock lock(Module().StaticDataLock());
    if (typeInfo_.load(std::memory_order_relaxed) != nullptr) return S_OK;
    return ComBoundary([&] { return Load(locale); });
}

// Runs under the static-data lock. A failure leaves the holder empty, so the
// next call tries again.
HRESULT CComTypeInfoHolder::Load(LCID locale) {
    ComPtr<ITypeInfo> info;
    {
        ComPtr<ITypeLib> library;
        HRESULT hr = Received(LoadRegTypeLib(*libraryId_, majorVersion_, minorVersion_, locale,
                                             library.ReleaseAndGetAddressOf()),
                              library);
        if (FAILED(hr)) return hr;
        if (!library) return E_FAIL;
        hr = Received(library->GetTypeInfoOfGuid(*interfaceId_, info.ReleaseAndGetAddressOf()),
                      info);
        if (FAILED(hr)) return hr;
        if (!info) return E_FAIL;
    }
    ComPtr<ITypeInfo2> info2;
    if (SUCCEEDED(Received(info.As(&info2), info2)) && info2) info = info2;
    try {
        nameCache_ = FunctionNames(info.Get());
        Module().AddTermFunction(&CComTypeInfoHolder::Release, this);
    } catch (...) {
        nameCache_.clear();  // the next call tries again from the start
        throw;
    }
    typeInfo_.store(info.Detach(), std::memory_order_release);
    return S_OK;
}

void CComTypeInfoHolder::Release(void* argument) {
    auto* holder = static_cast<CComTypeInfoHolder*>(argument);
    if (ITypeInfo* info = holder->typeInfo_.exchange(nullptr)) info->Release();
    holder->nameCache_.clear();
    holder->nameCache_.shrink_to_fit();
}

}  // namespace pvt
