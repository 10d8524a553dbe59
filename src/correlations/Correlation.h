// The common correlation object: identity, host objects, connection records.
// Every correlation class is this object bound to its catalogue row.
#pragma once

#include "com/ComObject.h"
#include "com/DispatchImpl.h"
#include "correlations/Catalogue.h"
#include "correlations/ConnectionInfo.h"
#include "host/HostInterfaces.h"
#include "host/HostPtr.h"
#include "properties/PropertyCalculator.h"
#include "properties/Publication.h"

#include "HostCorrelation.h"

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

    // The class's own virtual operations follow the seven entries of
    // IDispatch in the primary interface's table, in this order. A virtual
    // destructor would take two entries with some compilers, so destruction
    // is one entry of its own, made by the wrappers.

    // Destroys the whole object (for an aggregate, the aggregate), as its
    // last Release does.
    virtual void DestroyObject() noexcept = 0;
    // Kept for the layout of the class's own virtual operations; does nothing.
    virtual LONG Reserved() noexcept { return 0; }
    // Releases the host objects and connection records; returns 0.
    virtual LONG Cleanup() noexcept;

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
    STDMETHOD(Connect)
    (IUnknown* sourceObject, LONG itemKey, LONG* connectionId, IUnknown** connectionSet) override;
    STDMETHOD(Disconnect)(LONG connectionId) override;
    STDMETHOD(Calculate)(LONG connectionId) override;
    STDMETHOD(GetVariableSet)(IUnknown** variableSet) override;

    // A last Release made while one of the object's calls into the host is
    // running leaves the destruction to the end of that call: the wrappers
    // ask here, and an AddRef from 0 takes the request back.
    bool DeferDestruction() noexcept {
        if (callDepth_ == 0) return false;
        destructionDeferred_ = true;
        return true;
    }
    void CancelDeferredDestruction() noexcept { destructionDeferred_ = false; }

protected:
    CCorrelation(const CorrelationRow& row, CComTypeInfoHolder& ownTypeInfo);
    // Runs the steps of Cleanup, then frees the identity strings. Only the
    // wrappers, which are final, destroy the object.
    ~CCorrelation();

private:
    friend struct CorrelationTestAccess;  // white-box tests and benchmarks

    std::string classIdText;
    std::string displayName;
    std::vector<std::unique_ptr<CConnectionInfo>> connections;
    LONG integer1 = 0;
    LONG kindCode = 0;
    LONG integer4 = 0;
    HostPtr<IHostVariableSet> templateSet;
    HostPtr<IHostVariableSet> exposedSet;
    HostPtr<IHostVariable> phaseVariable;

    // Brackets a method that calls into the host: the outermost one to end
    // carries out a destruction that a last Release asked for meanwhile.
    class CallScope {
    public:
        explicit CallScope(CCorrelation& self) : self_(self) { ++self_.callDepth_; }
        ~CallScope() { End(); }
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

        // What the scope's end does, for a caller that cannot wait for it
        // (the object may be gone afterwards).
        void End() noexcept {
            if (!open_) return;
            open_ = false;
            if (--self_.callDepth_ == 0 && self_.destructionDeferred_) {
                self_.destructionDeferred_ = false;
                self_.DestroyObject();
            }
        }

    private:
        CCorrelation& self_;
        bool open_ = true;
    };

    HRESULT CompleteConstructionSteps();
    // Lets go of the host objects and the records, the record in hand kept
    // in releasing until it is released, so that an interrupted run can be
    // finished by running it again with the same holder.
    void ReleaseHostObjectsAndRecords(std::unique_ptr<CConnectionInfo>& releasing) noexcept;
    // Position of the record with id, or connections.size().
    std::size_t FindConnection(LONG connectionId) const;
    // Makes room for one more record; may throw std::bad_alloc.
    void ReserveConnection();
    // What a Connect under way holds: the reference added to the source
    // object for its query, and the source and set obtained.
    struct ConnectObjects {
        IUnknown* addedTo = nullptr;
        HostPtr<IConnectionSource> source;
        HostPtr<IHostVariableSet> clone;
        void ReleaseAll() noexcept;
    };
    HRESULT ConnectSource(IUnknown* sourceObject, LONG itemKey, LONG* connectionId,
                          IUnknown** connectionSet, ConnectObjects& held);
    HRESULT RemoveConnection(std::size_t position, std::unique_ptr<CConnectionInfo>& removed);
    struct CalculateCall;
    HRESULT CalculateConnection(PublicationTurn& turn, PublicationObjects& objects,
                                CConnectionInfo& record);
    // Ends the publication of a record: one set aside meanwhile is released
    // now. False when a Release threw.
    bool EndPublishing() noexcept;

    const CorrelationRow& row_;
    CComTypeInfoHolder& ownTypeInfo_;
    // The record a Calculate under way publishes for, and that record once a
    // Disconnect or Cleanup made from inside the publication has taken it out
    // of connections: it lives until the publication ends.
    const CConnectionInfo* publishing_ = nullptr;
    std::unique_ptr<CConnectionInfo> retired_;
    LONG callDepth_ = 0;
    bool destructionDeferred_ = false;
};

}  // namespace pvt
