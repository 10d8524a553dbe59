// The common correlation object: identity, host objects, connection records.
// Every correlation class is this object bound to its catalogue row.
#pragma once

#include "correlations/Catalogue.h"
#include "correlations/ConnectionInfo.h"
#include "host/HostInterfaces.h"
#include "module/ComObject.h"
#include "module/DispatchImpl.h"

#include "HostCorrelation.h"

#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

namespace pvt {

inline constexpr int CLSID_STRING_SIZE = 39;

// Result codes of ICorrelation.
inline constexpr HRESULT E_CONNECTION_REFUSED = static_cast<HRESULT>(0x80040200L);
inline constexpr HRESULT E_NO_SUCH_CONNECTION = static_cast<HRESULT>(0x80040202L);

// A correlation class's own dual interface. Every one of them declares
// nothing beyond IDispatch, so this one shape serves them all; the class's
// interface identifier is what tells them apart.
struct IOwnDispatch : public IDispatch {};

// Writes the class identifier in registry form, upper case, into buffer.
// A buffer below 39 characters, or a failed conversion, leaves it empty (and
// asserts in debug builds); a failed StringFromCLSID throws std::bad_alloc.
void ClassIdToText(REFCLSID classId, char* buffer, int length);

class CCorrelation : public CComObjectRootEx<CComSingleThreadModel>,
                     public IDispatchImpl<IOwnDispatch, CCorrelation>,
                     public IDispatchImpl<ICorrelation, CCorrelation> {
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

    // The own interface, IDispatch and IUnknown with the primary pointer;
    // ICorrelation with its own.
    HRESULT InternalQueryInterface(REFIID iid, void** object);

    const CorrelationRow& Row() const { return row_; }

    // The type information of each dispatch side.
    CComTypeInfoHolder& TypeInfoHolder(IOwnDispatch*);
    CComTypeInfoHolder& TypeInfoHolder(ICorrelation*);

    // ICorrelation
    STDMETHOD(GetDisplayName)(BSTR* text) override;
    STDMETHOD(GetClassIdText)(BSTR* text) override;
    STDMETHOD(GetInteger1)(LONG* value) override;
    STDMETHOD(GetInteger2)(LONG* value) override;
    STDMETHOD(GetInteger3)(LONG* value) override;
    STDMETHOD(GetInteger4)(LONG* value) override;
    STDMETHOD(Connect)(IUnknown* sourceObject, LONG itemKey, LONG* connectionId,
                       IUnknown** connectionSet) override;
    STDMETHOD(Disconnect)(LONG connectionId) override;
    STDMETHOD(Calculate)(LONG connectionId) override;
    STDMETHOD(GetVariableSet)(IUnknown** variableSet) override;

protected:
    CCorrelation(const CorrelationRow& row, CComTypeInfoHolder& ownTypeInfo);

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
    // Position of the first record with id, or connections.size().
    std::size_t FindConnection(LONG connectionId) const;
    HRESULT ConnectSource(IUnknown* sourceObject, LONG itemKey, LONG* connectionId,
                          IUnknown** connectionSet);
    HRESULT RemoveConnection(std::size_t position);
    HRESULT CalculateConnection(const CConnectionInfo& record);

    const CorrelationRow& row_;
    CComTypeInfoHolder& ownTypeInfo_;
    // The record a Calculate under way publishes for, and that record once a
    // Disconnect made from inside the publication has taken it out of
    // connections: it lives until the publication ends.
    const CConnectionInfo* publishing_ = nullptr;
    std::unique_ptr<CConnectionInfo> retired_;
};

}  // namespace pvt
