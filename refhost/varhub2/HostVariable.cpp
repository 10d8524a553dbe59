#include "HostVariable.h"

#include <new>

namespace varhub {

namespace {

// Grows a vector so that index is inside it; false when the index is out
// of the range this server accepts.
template <class T>
bool MakeRoom(std::vector<T>& items, LONG index, const T& filler) {
    if (index < 0 || index >= kMaxElements) return false;
    const auto needed = static_cast<std::size_t>(index) + 1;
    if (items.size() < needed) items.resize(needed, filler);
    return true;
}

std::wstring FromBstr(BSTR text) {
    // A null BSTR is the empty string.
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

}  // namespace

CHostVariable* CHostVariable::Copy() const {
    auto* copy = new CHostVariable;
    try {
        copy->taggedName_ = taggedName_;
        copy->displayName_ = displayName_;
        copy->flag_ = flag_;
        copy->enumFlag_ = enumFlag_;
        copy->enumIndex_ = enumIndex_;
        copy->values_ = values_;
        copy->enumLabels_ = enumLabels_;
    } catch (...) {
        delete copy;
        throw;
    }
    return copy;
}

STDMETHODIMP CHostVariable::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, pvt::IID_IHostVariable)) {
        *object = static_cast<pvt::IHostVariable*>(this);
    } else if (IsEqualIID(iid, pvt::IID_IHostEnumVariable)) {
        *object = static_cast<pvt::IHostEnumVariable*>(this);
    } else if (IsEqualIID(iid, IID_IServerObject)) {
        *object = static_cast<IServerObject*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddReference();
    return S_OK;
}

STDMETHODIMP CHostVariable::SetTaggedName(const wchar_t* taggedName) {
    if (taggedName == nullptr) return E_POINTER;
    try {
        taggedName_ = taggedName;  // read up to the terminator, never as a BSTR
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CHostVariable::SetDisplayName(BSTR displayName) {
    try {
        displayName_ = FromBstr(displayName);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CHostVariable::SetFlag(LONG flag) {
    flag_ = flag;
    return S_OK;
}

STDMETHODIMP CHostVariable::SetValue(LONG index, double value) {
    try {
        if (!MakeRoom(values_, index, kEmptyValue)) return E_INVALIDARG;
        values_[static_cast<std::size_t>(index)] = value;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CHostVariable::SetEnumFlag(LONG flag) {
    enumFlag_ = flag;
    return S_OK;
}

STDMETHODIMP CHostVariable::SetEnumIndex(LONG index) {
    enumIndex_ = index;
    return S_OK;
}

STDMETHODIMP CHostVariable::SetEnumValue(LONG index, BSTR label) {
    try {
        if (!MakeRoom(enumLabels_, index, std::wstring())) return E_INVALIDARG;
        enumLabels_[static_cast<std::size_t>(index)] = FromBstr(label);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace varhub
