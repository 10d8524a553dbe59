#include "correlations/Correlation.h"

#include "com/ErrorBoundary.h"
#include "com/UnwindGuard.h"
#include "host/HostObjects.h"
#include "host/PhaseValuesName.h"
#include "host/VariableDefinition.h"

#include <objbase.h>

#include <cassert>
#include <cstdlib>
#include <new>

namespace pvt {

namespace {

// Creates a host object into holder; a creation that reports success
// without an object leaves the holder empty.
template <class T>
HRESULT CreateInto(HostPtr<T>& holder, REFCLSID classId) {
    return Receive(holder, [&](T** out) { return CreateHostObject(classId, IID_PPV_ARGS(out)); });
}

}  // namespace

void ClassIdToText(REFCLSID classId, char* buffer, int length) {
    if (buffer == nullptr) return;
    if (length < CLSID_STRING_SIZE) {
        assert(length >= CLSID_STRING_SIZE);
        if (length > 0) buffer[0] = '\0';
        return;
    }
    buffer[0] = '\0';
    LPOLESTR wide = nullptr;
    const HRESULT hr = StringFromCLSID(classId, &wide);
    // StringFromCLSID fails only when the task allocator runs out: a real
    // path (a host short of memory), not a broken invariant, so no assert.
    if (FAILED(hr) || wide == nullptr) throw std::bad_alloc();
    const std::size_t written = std::wcstombs(buffer, wide, static_cast<std::size_t>(length));
    if (written == static_cast<std::size_t>(-1) || written >= static_cast<std::size_t>(length)) {
        buffer[0] = '\0';
    }
    CoTaskMemFree(wide);
}

CCorrelation::CCorrelation(const CorrelationRow& row, CComTypeInfoHolder& ownTypeInfo)
    : row_(row), ownTypeInfo_(ownTypeInfo) {
    char text[CLSID_STRING_SIZE];
    ClassIdToText(row.classId, text, CLSID_STRING_SIZE);
    classIdText = text;
    displayName = row.displayName;
}

CCorrelation::~CCorrelation() {
    std::unique_ptr<CConnectionInfo> releasing;
    ReleaseHostObjectsAndRecords(releasing);
}

LONG CCorrelation::Cleanup() noexcept {
    CallScope call(*this);
    std::unique_ptr<CConnectionInfo> releasing;
    auto releaseAll = [&]() noexcept {
        ReleaseHostObjectsAndRecords(releasing);
        return S_OK;
    };
    // After a host's structured exception: the rest of the releases, then
    // the end of the call.
    auto restore = [&]() noexcept {
        ReleaseHostObjectsAndRecords(releasing);
        call.End();
    };
    RestoreOnUnwind(releaseAll, restore);
    return 0;
}

// A Release that throws does not stop the rest. The records are taken out
// one at a time by position, so that a release which calls back into this
// object (Connect, Disconnect) finds a list it can use. Every holder is
// cleared before its Release, so a run that a host's structured exception
// interrupted is finished by running it again.
void CCorrelation::ReleaseHostObjectsAndRecords(
    std::unique_ptr<CConnectionInfo>& releasing) noexcept {
    if (releasing) {
        releasing->ReleaseHostObjects();
        releasing.reset();
    }
    exposedSet.Reset();
    templateSet.Reset();
    phaseVariable.Reset();
    for (std::size_t i = 0; i < connections.size(); ++i) {
        releasing = std::move(connections[i]);
        if (!releasing) continue;
        if (releasing.get() == publishing_) {
            retired_ = std::move(releasing);  // still in use; goes when the publication ends
            continue;
        }
        releasing->ReleaseHostObjects();
        releasing.reset();
    }
    connections.clear();  // keeps the storage
}

HRESULT CCorrelation::CompleteConstruction() {
    return ComBoundary([&] { return CompleteConstructionSteps(); });
}

HRESULT CCorrelation::CompleteConstructionSteps() {
    // A set reported as created but not given fails here, so that a Ready
    // object always holds all three host objects.
    if (FAILED(CreateInto(exposedSet, CLSID_HostVariableSet)) || !exposedSet) {
        return E_FAIL;
    }
    if (FAILED(CreateInto(templateSet, CLSID_HostVariableSet))) {
        return E_FAIL;
    }
    if (FAILED(CreateInto(phaseVariable, CLSID_HostVariable)) || !phaseVariable) {
        return E_FAIL;
    }
    if (FAILED(phaseVariable->SetTaggedName(kPhaseValuesName.text()))) return E_FAIL;
    if (FAILED(phaseVariable->SetFlag(-1))) return E_FAIL;
    if (ApplyVariableDefinition(kPhaseValuesNarrow, phaseVariable.Get()) == 0) return E_FAIL;
    if (!templateSet) return E_FAIL;
    if (FAILED(templateSet->AddVariable(phaseVariable.Get()))) return E_FAIL;
    kindCode = row_.kindCode;
    return S_OK;
}

HRESULT CCorrelation::InternalQueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    IUnknown* found = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, row_.interfaceId) ||
        IsEqualIID(iid, IID_IDispatch)) {
        found = static_cast<IOwnDispatch*>(this);
    } else if (IsEqualIID(iid, IID_ICorrelation)) {
        found = static_cast<ICorrelation*>(this);
    }
    *object = found;
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

CComTypeInfoHolder& CCorrelation::TypeInfoHolder(IOwnDispatch*) { return ownTypeInfo_; }

CComTypeInfoHolder& CCorrelation::TypeInfoHolder(ICorrelation*) {
    // One holder for ICorrelation, shared by every class.
    static CComTypeInfoHolder holder(LIBID_HostCorrelationLib, IID_ICorrelation);
    return holder;
}

}  // namespace pvt
