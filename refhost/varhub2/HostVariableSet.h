// A host variable set: an ordered list of variables that can be searched
// by tagged name and copied as a whole.
#pragma once

#include "HostVariable.h"

#include <vector>

namespace varhub {

class CHostVariableSet final : public CRefCounted,
                               public pvt::IHostVariableSet,
                               public IServerObject {
public:
    CHostVariableSet() = default;
    ~CHostVariableSet() override;

    std::size_t Count() const { return variables_.size(); }

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return AddReference(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseReference(); }

    // IServerObject
    CHostVariable* AsVariable() override { return nullptr; }
    CHostVariableSet* AsSet() override { return this; }

    // IHostVariableSet
    STDMETHOD(AddVariable)(pvt::IHostVariable* variable) override;
    STDMETHOD(Clone)(pvt::IHostVariableSet** clone) override;
    STDMETHOD(FindVariable)(const wchar_t* taggedName, IUnknown** variable) override;

    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved02)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved03)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved04)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved06)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved07)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved08)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved09)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved10)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved12)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved13)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved14)() override { return E_NOTIMPL; }

private:
    // Each entry owns one reference to its variable.
    std::vector<CHostVariable*> variables_;
};

}  // namespace varhub
