#define VARHUB_BUILD
#include "VarHubAccess.h"

#include "HostVariableSet.h"

#include <new>
#include <string>

using namespace varhub;

namespace {

// Holds the reference FindServerObject took for the length of one call.
class ServerObjectRef {
public:
    explicit ServerObjectRef(IUnknown* object) : object_(FindServerObject(object)) {}
    ~ServerObjectRef() {
        if (object_) object_->Release();
    }
    ServerObjectRef(const ServerObjectRef&) = delete;
    ServerObjectRef& operator=(const ServerObjectRef&) = delete;

    CHostVariable* Variable() const { return object_ ? object_->AsVariable() : nullptr; }
    CHostVariableSet* Set() const { return object_ ? object_->AsSet() : nullptr; }

private:
    IServerObject* object_;
};

HRESULT CopyText(const std::wstring& text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Runs read against the variable behind object, after the common checks.
template <class Out, class Read>
HRESULT ReadVariable(IUnknown* object, Out* out, Read read) {
    if (out == nullptr) return E_POINTER;
    ServerObjectRef ref(object);
    if (ref.Variable() == nullptr) return E_INVALIDARG;
    return read(*ref.Variable());
}

}  // namespace

VARHUB_API HRESULT WINAPI VarHubGetValueCount(IUnknown* variable, LONG* count) {
    return ReadVariable(variable, count, [count](const CHostVariable& v) {
        *count = static_cast<LONG>(v.Values().size());
        return S_OK;
    });
}

VARHUB_API HRESULT WINAPI VarHubGetValue(IUnknown* variable, LONG index, double* value) {
    return ReadVariable(variable, value, [index, value](const CHostVariable& v) {
        if (index < 0 || static_cast<std::size_t>(index) >= v.Values().size()) {
            return DISP_E_BADINDEX;
        }
        *value = v.Values()[static_cast<std::size_t>(index)];
        return S_OK;
    });
}

VARHUB_API HRESULT WINAPI VarHubGetTaggedName(IUnknown* variable, BSTR* name) {
    if (name) *name = nullptr;
    return ReadVariable(variable, name,
                        [name](const CHostVariable& v) { return CopyText(v.TaggedName(), name); });
}

VARHUB_API HRESULT WINAPI VarHubGetDisplayName(IUnknown* variable, BSTR* name) {
    if (name) *name = nullptr;
    return ReadVariable(variable, name,
                        [name](const CHostVariable& v) { return CopyText(v.DisplayName(), name); });
}

VARHUB_API HRESULT WINAPI VarHubGetFlag(IUnknown* variable, LONG* flag) {
    return ReadVariable(variable, flag, [flag](const CHostVariable& v) {
        *flag = v.Flag();
        return S_OK;
    });
}

VARHUB_API HRESULT WINAPI VarHubGetEnumState(IUnknown* variable, LONG* flag, LONG* index,
                                             LONG* labelCount) {
    if (index == nullptr || labelCount == nullptr) return E_POINTER;
    return ReadVariable(variable, flag, [=](const CHostVariable& v) {
        *flag = v.EnumFlag();
        *index = v.EnumIndex();
        *labelCount = static_cast<LONG>(v.EnumLabels().size());
        return S_OK;
    });
}

VARHUB_API HRESULT WINAPI VarHubGetEnumLabel(IUnknown* variable, LONG index, BSTR* label) {
    if (label) *label = nullptr;
    return ReadVariable(variable, label, [index, label](const CHostVariable& v) {
        if (index < 0 || static_cast<std::size_t>(index) >= v.EnumLabels().size()) {
            return DISP_E_BADINDEX;
        }
        return CopyText(v.EnumLabels()[static_cast<std::size_t>(index)], label);
    });
}

VARHUB_API HRESULT WINAPI VarHubGetVariableCount(IUnknown* set, LONG* count) {
    if (count == nullptr) return E_POINTER;
    ServerObjectRef ref(set);
    if (ref.Set() == nullptr) return E_INVALIDARG;
    *count = static_cast<LONG>(ref.Set()->Count());
    return S_OK;
}

VARHUB_API LONG WINAPI VarHubLiveObjectCount() { return LiveObjectCount(); }
