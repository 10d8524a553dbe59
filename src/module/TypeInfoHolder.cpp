#include "module/TypeInfoHolder.h"

#include "module/ComModule.h"

#include <oleauto.h>

#include <cwchar>
#include <new>

namespace pvt {

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
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)) && name) {
            try {
                names.emplace_back(std::wstring(name, SysStringLen(name)), id);
            } catch (...) {
                SysFreeString(name);
                throw;
            }
            SysFreeString(name);
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
HRESULT CComTypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) {
    if (ids == nullptr) return E_POINTER;
    if (names == nullptr) return E_INVALIDARG;
    const HRESULT hr = EnsureLoaded(locale);
    if (FAILED(hr)) return hr;
    if (count == 1 && FindCachedName(names[0], ids)) {
        return S_OK;
    }
    return typeInfo_.load(std::memory_order_acquire)->GetIDsOfNames(names, count, ids);
}

HRESULT CComTypeInfoHolder::Invoke(IDispatch* self, LCID locale, DISPID id, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
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
    try {
        return Load(locale);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// Runs under the static-data lock. A failure leaves the holder empty, so the
// next call tries again.
HRESULT CComTypeInfoHolder::Load(LCID locale) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(*libraryId_, majorVersion_, minorVersion_, locale, &library);
    if (FAILED(hr)) return hr;
    if (library == nullptr) return E_FAIL;

    ITypeInfo* info = nullptr;
    hr = library->GetTypeInfoOfGuid(*interfaceId_, &info);
    library->Release();
    if (FAILED(hr)) return hr;
    if (info == nullptr) return E_FAIL;

    ITypeInfo2* info2 = nullptr;
    if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2))) &&
        info2 != nullptr) {
        info->Release();
        info = info2;
    }
    try {
        nameCache_ = FunctionNames(info);
        Module().AddTermFunction(&CComTypeInfoHolder::Release, this);
    } catch (...) {
        nameCache_.clear();
        info->Release();
        throw;
    }
    typeInfo_.store(info, std::memory_order_release);
    return S_OK;
}

void CComTypeInfoHolder::Release(void* argument) {
    auto* holder = static_cast<CComTypeInfoHolder*>(argument);
    if (ITypeInfo* info = holder->typeInfo_.exchange(nullptr)) info->Release();
    holder->nameCache_.clear();
    holder->nameCache_.shrink_to_fit();
}

}  // namespace pvt
