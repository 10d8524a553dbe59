// The type information behind one dispatch side, shared by every object
// that offers it: loaded from the registered type library on first use and
// kept until shut-down.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace pvt {

class CComTypeInfoHolder {
public:
    CComTypeInfoHolder(const GUID& libraryId, const IID& interfaceId)
        : libraryId_(&libraryId), interfaceId_(&interfaceId) {}
    CComTypeInfoHolder(const CComTypeInfoHolder&) = delete;
    CComTypeInfoHolder& operator=(const CComTypeInfoHolder&) = delete;

    // The four dispatch operations, for an object that offers the holder's
    // interface through self.
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids);
    HRESULT Invoke(IDispatch* self, LCID locale, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

    // Whether the type information is loaded (for tests).
    bool Loaded() const { return typeInfo_.load(std::memory_order_acquire) != nullptr; }

private:
    HRESULT EnsureLoaded(LCID locale);
    HRESULT Load(LCID locale);
    bool FindCachedName(const wchar_t* name, DISPID* id) const;
    static void Release(void* holder);

    const GUID* libraryId_;
    const IID* interfaceId_;
    static constexpr WORD majorVersion_ = 1;
    static constexpr WORD minorVersion_ = 0;
    // Published once loaded; read without the lock by every dispatch call.
    std::atomic<ITypeInfo*> typeInfo_{nullptr};
    // Member names with their ids, exactly as the type information spells
    // them; other spellings are left to the type information itself.
    std::vector<std::pair<std::wstring, DISPID>> nameCache_;
};

}  // namespace pvt
