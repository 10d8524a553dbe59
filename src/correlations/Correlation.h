// The common correlation object: identity, host objects, connection records.
// Every correlation class is this object bound to its catalogue row.
#pragma once

#include "correlations/Catalogue.h"
#include "correlations/ConnectionInfo.h"
#include "host/HostInterfaces.h"
#include "module/ComObject.h"

#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

namespace pvt {

inline constexpr int CLSID_STRING_SIZE = 39;

// Writes the class identifier in registry form, upper case, into buffer.
// A buffer below 39 characters, or a failed conversion, leaves it empty (and
// asserts in debug builds); a failed StringFromCLSID throws std::bad_alloc.
void ClassIdToText(REFCLSID classId, char* buffer, int length);

class CCorrelation : public CComObjectRootEx<CComSingleThreadModel>, public IDispatch {
public:
    CCorrelation(const CCorrelation&) = delete;
    CCorrelation& operator=(const CCorrelation&) = delete;

    // Runs the steps of Cleanup, then frees the identity strings.
    virtual ~CCorrelation();
    // Kept for the layout of the class's own virtual operations; does nothing.
    virtual LONG Reserved() { return 0; }
    // Releases the host objects and connection records; returns 0.
    virtual LONG Cleanup();

    // Creates the two variable sets and "Phase_Values" through the data
    // server, applies the variable's definition and stores the kind code.
    // Failures give E_FAIL, allocation failure E_OUTOFMEMORY; what was
    // created stays until the object is destroyed.
    HRESULT CompleteConstruction();

    // Own interface and IDispatch with the primary pointer; IUnknown too.
    HRESULT InternalQueryInterface(REFIID iid, void** object);

    const CorrelationRow& Row() const { return row_; }

    // IDispatch of the own interface.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    STDMETHOD(GetIDsOfNames)(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                             DISPID* ids) override;
    STDMETHOD(Invoke)(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

protected:
    explicit CCorrelation(const CorrelationRow& row);

public:
    std::string classIdText;
    std::string displayName;
    std::vector<std::unique_ptr<CConnectionInfo>> connections;
    LONG integer1 = 0;
    LONG kindCode = 0;
    LONG integer4 = 0;
    Microsoft::WRL::ComPtr<IHostVariableSet> templateSet;
    Microsoft::WRL::ComPtr<IHostVariableSet> exposedSet;
    Microsoft::WRL::ComPtr<IHostVariable> phaseVariable;

private:
    HRESULT CompleteConstructionSteps();
    void ReleaseHostObjectsAndRecords();

    const CorrelationRow& row_;
};

class CBubblePtPressure : public CCorrelation {
public:
    CBubblePtPressure() : CCorrelation(kBubblePtPressureRow) {}
};

}  // namespace pvt
