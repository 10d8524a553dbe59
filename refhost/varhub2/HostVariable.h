// A host variable: tagged and display names, a flag, a numeric vector of
// values and enumeration labels.
#pragma once

#include "ServerObject.h"
#include "host/HostInterfaces.h"

#include <string>
#include <vector>

namespace varhub {

// The value an element holds until it is written: "not available".
inline constexpr double kEmptyValue = -32767.0;
// Writes beyond this many elements or labels are refused, so that a stray
// index cannot make the server allocate gigabytes.
inline constexpr LONG kMaxElements = 65536;

class CHostVariable final : public CRefCounted,
                            public pvt::IHostVariable,
                            public pvt::IHostEnumVariable,
                            public IServerObject {
public:
    CHostVariable() = default;

    // An independent copy: same names, flag, values and labels.
    CHostVariable* Copy() const;

    const std::wstring& TaggedName() const { return taggedName_; }
    const std::wstring& DisplayName() const { return displayName_; }
    LONG Flag() const { return flag_; }
    LONG EnumFlag() const { return enumFlag_; }
    LONG EnumIndex() const { return enumIndex_; }
    const std::vector<double>& Values() const { return values_; }
    const std::vector<std::wstring>& EnumLabels() const { return enumLabels_; }

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return AddReference(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseReference(); }

    // IServerObject
    CHostVariable* AsVariable() override { return this; }
    CHostVariableSet* AsSet() override { return nullptr; }

    // IHostVariable
    STDMETHOD(SetTaggedName)(const wchar_t* taggedName) override;
    STDMETHOD(SetDisplayName)(BSTR displayName) override;
    STDMETHOD(SetFlag)(LONG flag) override;
    STDMETHOD(SetValue)(LONG index, double value) override;

    // IHostEnumVariable
    STDMETHOD(SetEnumFlag)(LONG flag) override;
    STDMETHOD(SetEnumIndex)(LONG index) override;
    STDMETHOD(SetEnumValue)(LONG index, BSTR label) override;

    // Entries this server does not offer; both interfaces share the names
    // Reserved01 to Reserved14, so one body serves both vtables.
    STDMETHOD(Reserved01)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved02)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved03)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved04)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved05)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved06)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved07)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved08)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved09)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved10)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved12)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved13)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved14)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved15)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved16)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved17)() override { return E_NOTIMPL; }

private:
    std::wstring taggedName_;
    std::wstring displayName_;
    LONG flag_ = 0;
    LONG enumFlag_ = 0;
    LONG enumIndex_ = 0;
    std::vector<double> values_;
    std::vector<std::wstring> enumLabels_;
};

}  // namespace varhub
