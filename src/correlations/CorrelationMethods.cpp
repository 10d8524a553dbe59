// ICorrelation: identity getters, connections and the calculation entry.
// Every method that can throw runs through the COM error boundary.
#include "correlations/Correlation.h"

#include "com/ErrorBoundary.h"
#include "com/Text.h"
#include "com/UnwindGuard.h"
#include "properties/Publication.h"

namespace pvt {

namespace {

HRESULT TextOut(const std::string& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    return ComBoundary([&] {
        *out = AllocBstrFromNarrow(text);
        return S_OK;
    });
}

HRESULT IntegerOut(LONG value, LONG* out) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
}

}  // namespace

STDMETHODIMP CCorrelation::GetDisplayName(BSTR* text) { return TextOut(displayName, text); }
STDMETHODIMP CCorrelation::GetClassIdText(BSTR* text) { return TextOut(classIdText, text); }
STDMETHODIMP CCorrelation::GetInteger1(LONG* value) { return IntegerOut(integer1, value); }
STDMETHODIMP CCorrelation::GetInteger2(LONG* value) { return IntegerOut(kindCode, value); }
STDMETHODIMP CCorrelation::GetInteger3(LONG* value) { return IntegerOut(kindCode, value); }
STDMETHODIMP CCorrelation::GetInteger4(LONG* value) { return IntegerOut(integer4, value); }

STDMETHODIMP CCorrelation::GetVariableSet(IUnknown** variableSet) {
    if (variableSet == nullptr) return E_POINTER;
    *variableSet = nullptr;
    if (!exposedSet) return E_FAIL;  // only after Cleanup
    return ComBoundary([&] {
        exposedSet->AddRef();
        *variableSet = exposedSet.Get();
        return S_OK;
    });
}

// A record's id is its position plus 1, so the record is found by position.
// A position that Cleanup has already emptied holds no connection.
std::size_t CCorrelation::FindConnection(LONG connectionId) const {
    const std::size_t count = connections.size();
    if (connectionId < 1 || static_cast<unsigned long>(connectionId) > count) return count;
    const std::size_t position = static_cast<std::size_t>(connectionId) - 1;
    return connections[position] ? position : count;
}

// A structured exception that the host raises in one of its calls (an
// access violation, say) is the host's: it passes through a COM method
// unchanged, to the host's own handler. Code compiled by g++ runs no
// destructors on its way, so each method keeps what it holds in its own
// frame, and a guard (com/UnwindGuard.h) lets go of it, and ends the call,
// as the exception passes.

STDMETHODIMP CCorrelation::Connect(IUnknown* sourceObject, LONG itemKey, LONG* connectionId,
                                   IUnknown** connectionSet) {
    if (sourceObject == nullptr) return E_CONNECTION_REFUSED;
    if (connectionId == nullptr || connectionSet == nullptr) return E_POINTER;
    CallScope call(*this);
    ConnectObjects held;
    auto connect = [&]() noexcept {
        return ComBoundary([&] {
            return ConnectSource(sourceObject, itemKey, connectionId, connectionSet, held);
        });
    };
    auto restore = [&]() noexcept {
        held.ReleaseAll();
        call.End();
    };
    return RestoreOnUnwind(connect, restore);
}

void CCorrelation::ConnectObjects::ReleaseAll() noexcept {
    IUnknown* const added = addedTo;
    addedTo = nullptr;
    ReleaseHostObject(added);
    clone.Reset();
    source.Reset();
}

HRESULT CCorrelation::ConnectSource(IUnknown* sourceObject, LONG itemKey, LONG* connectionId,
                                    IUnknown** connectionSet, ConnectObjects& held) {
    sourceObject->AddRef();
    held.addedTo = sourceObject;
    HRESULT queried;
    try {
        queried = QueryHostObject(sourceObject, held.source);
    } catch (...) {
        held.ReleaseAll();  // a query that throws must not keep the reference added
        throw;
    }
    held.addedTo = nullptr;
    if (!ReleaseHostObject(sourceObject)) return E_FAIL;
    if (FAILED(queried) || !held.source) return E_CONNECTION_REFUSED;
    if (!templateSet) return E_CONNECTION_REFUSED;  // cleaned up: nothing to clone

    // Success must come with a set: a connection without one could never
    // be calculated.
    IHostVariableSet* const original = templateSet.Get();
    if (FAILED(Receive(held.clone, [&](IHostVariableSet** out) { return original->Clone(out); })) ||
        !held.clone) {
        return E_CONNECTION_REFUSED;
    }

    // Everything that can fail is done before anything is handed out: the
    // room for the record (grown geometrically, so appends stay cheap) and
    // the record itself.
    ReserveConnection();
    auto record = std::make_unique<CConnectionInfo>();
    record->itemKey = itemKey;
    record->source = std::move(held.source);
    record->connectionSet = std::move(held.clone);

    // The record keeps the reference the caller sees; none is added for it.
    *connectionId = static_cast<LONG>(connections.size() + 1);
    *connectionSet = record->connectionSet.Get();
    connections.push_back(std::move(record));
    return S_OK;
}

void CCorrelation::ReserveConnection() {
    const std::size_t capacity = connections.capacity();
    if (connections.size() < capacity) return;
    connections.reserve(capacity < 4 ? 4 : capacity * 2);
}

STDMETHODIMP CCorrelation::Disconnect(LONG connectionId) {
    const std::size_t position = FindConnection(connectionId);
    if (position == connections.size()) return E_NO_SUCH_CONNECTION;
    CallScope call(*this);
    std::unique_ptr<CConnectionInfo> removed;
    auto remove = [&]() noexcept {
        return ComBoundary([&] { return RemoveConnection(position, removed); });
    };
    auto restore = [&]() noexcept {
        if (removed) removed->ReleaseHostObjects();
        removed.reset();
        call.End();
    };
    return RestoreOnUnwind(remove, restore);
}

// A source or set whose Release throws gives E_FAIL; the record is gone and
// the ids renumbered all the same. removed holds the record until the
// caller frees it.
HRESULT CCorrelation::RemoveConnection(std::size_t position,
                                       std::unique_ptr<CConnectionInfo>& removed) {
    removed = std::move(connections[position]);
    // Ids are positions: closing the gap renumbers every record behind it,
    // before the removed record lets go of its source, so that a release
    // that calls back into this object finds the ids already in step.
    connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(position));
    if (removed.get() == publishing_) {
        retired_ = std::move(removed);  // still in use; goes when the publication ends
        return S_OK;
    }
    return removed->ReleaseHostObjects() ? S_OK : E_FAIL;
}

// A Calculate under way: everything it holds, in the frame of the entry,
// where the guard can reach it.
struct CCorrelation::CalculateCall {
    CalculateCall(CCorrelation& self, CConnectionInfo& record)
        : self(self), record(record), scope(self), objects(turn) {}

    HRESULT Run() noexcept { return self.CalculateConnection(turn, objects, record); }
    // The ends of the normal path, in its order; run again, should a
    // release made here raise, each run going on where the last stopped.
    void Restore() noexcept {
        objects.ReleaseAll();
        self.EndPublishing();
        turn.End();
        scope.End();
    }

    CCorrelation& self;
    CConnectionInfo& record;
    CallScope scope;  // first: ends after the calculator is free again
    PublicationTurn turn;
    PublicationObjects objects;
};

STDMETHODIMP CCorrelation::Calculate(LONG connectionId) {
    const std::size_t position = FindConnection(connectionId);
    if (position == connections.size()) return E_NO_SUCH_CONNECTION;
    CalculateCall call(*this, *connections[position]);
    if (!call.turn.Acquired()) return E_FAIL;  // another publication is under way
    return RunRestoringOnUnwind(call);
}

HRESULT CCorrelation::CalculateConnection(PublicationTurn& turn, PublicationObjects& objects,
                                          CConnectionInfo& record) {
    if (!record.source) return E_FAIL;
    // A host call that disconnects this record, or cleans the object up,
    // must not free what the publication uses: the record is handed to
    // retired_ instead of being destroyed, and goes here when the
    // publication ends. (This costs no host call, unlike holding extra
    // references would.)
    publishing_ = &record;
    HRESULT hr = ComBoundary([&] {
        return PublishPhaseValues(turn, objects, record.source.Get(), record.itemKey,
                                  record.connectionSet.Get(), row_.publication, row_.slot);
    });
    if (!EndPublishing() && SUCCEEDED(hr)) hr = E_FAIL;
    return hr;
}

bool CCorrelation::EndPublishing() noexcept {
    publishing_ = nullptr;
    if (!retired_) return true;
    const bool released = retired_->ReleaseHostObjects();
    retired_.reset();
    return released;
}

}  // namespace pvt
