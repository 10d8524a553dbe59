#include "HostVariableSet.h"

#include <cwchar>
#include <new>

namespace varhub {

namespace {

// Releases the variables of a list that never made it into a set.
void ReleaseAll(std::vector<CHostVariable*>& variables) {
    for (CHostVariable* variable : variables) variable->Release();
    variables.clear();
}

}  // namespace

CHostVariableSet::~CHostVariableSet() { ReleaseAll(variables_); }

STDMETHODIMP CHostVariableSet::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, pvt::IID_IHostVariableSet)) {
        *object = static_cast<pvt::IHostVariableSet*>(this);
    } else if (IsEqualIID(iid, IID_IServerObject)) {
        *object = static_cast<IServerObject*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddReference();
    return S_OK;
}

STDMETHODIMP CHostVariableSet::AddVariable(pvt::IHostVariable* variable) {
    if (variable == nullptr) return E_POINTER;
    // Only this server's variables: a set must be able to copy what it holds.
    IServerObject* server = FindServerObject(variable);
    CHostVariable* own = server ? server->AsVariable() : nullptr;
    if (own == nullptr) {
        if (server) server->Release();
        return E_INVALIDARG;
    }
    try {
        variables_.push_back(own);  // the entry keeps the reference just taken
        return S_OK;
    } catch (const std::bad_alloc&) {
        server->Release();
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CHostVariableSet::Clone(pvt::IHostVariableSet** clone) {
    if (clone == nullptr) return E_POINTER;
    *clone = nullptr;
    CHostVariableSet* copy = nullptr;
    try {
        copy = new CHostVariableSet;
        copy->AddRef();
        copy->variables_.reserve(variables_.size());
        for (const CHostVariable* variable : variables_) {
            CHostVariable* variableCopy = variable->Copy();
            variableCopy->AddRef();
            copy->variables_.push_back(variableCopy);  // cannot throw: reserved
        }
    } catch (const std::bad_alloc&) {
        if (copy) copy->Release();
        return E_OUTOFMEMORY;
    }
    *clone = copy;
    return S_OK;
}

STDMETHODIMP CHostVariableSet::FindVariable(const wchar_t* taggedName, IUnknown** variable) {
    if (variable == nullptr) return E_POINTER;
    *variable = nullptr;
    if (taggedName == nullptr) return E_POINTER;
    // Exact, case-sensitive match; the first variable with the name wins.
    for (CHostVariable* candidate : variables_) {
        if (std::wcscmp(candidate->TaggedName().c_str(), taggedName) == 0) {
            *variable = static_cast<pvt::IHostVariable*>(candidate);
            candidate->AddRef();
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

}  // namespace varhub
