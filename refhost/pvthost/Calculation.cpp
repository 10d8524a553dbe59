#include "Calculation.h"

#include "DataServer.h"
#include "Diagnostics.h"
#include "FluidSource.h"
#include "HostCorrelation.h"

#include <wrl/client.h>

namespace pvthost {

using Microsoft::WRL::ComPtr;

namespace {

template <class T>
void** OutPointer(ComPtr<T>& pointer) {
    return reinterpret_cast<void**>(pointer.ReleaseAndGetAddressOf());
}

void Check(HRESULT hr, const ModuleClass& moduleClass, const char* step) {
    if (FAILED(hr)) {
        throw CommandError(kExitCorrelation, Utf8(moduleClass.progId) + ": " + step +
                                                 " failed: " + DescribeHresult(hr));
    }
}

[[noreturn]] void Fail(const ModuleClass& moduleClass, const std::string& message) {
    throw CommandError(kExitCorrelation, Utf8(moduleClass.progId) + ": " + message);
}

ComPtr<ICorrelation> CreateCorrelation(const ModuleClass& moduleClass) {
    CLSID classId;
    Check(CLSIDFromProgID(moduleClass.progId.c_str(), &classId), moduleClass,
          "looking up the programmatic identifier");
    ComPtr<ICorrelation> correlation;
    Check(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_ICorrelation,
                           OutPointer(correlation)),
          moduleClass, "CoCreateInstance");
    if (!correlation) Fail(moduleClass, "CoCreateInstance gave no object");
    return correlation;
}

CorrelationIdentity ReadIdentity(ICorrelation* correlation, const ModuleClass& moduleClass) {
    CorrelationIdentity identity;
    BSTR name = nullptr;
    Check(correlation->GetDisplayName(&name), moduleClass, "GetDisplayName");
    identity.displayName = Utf8(name ? name : L"");
    SysFreeString(name);
    LONG kind = 0;
    Check(correlation->GetInteger2(&kind), moduleClass, "GetInteger2");
    identity.kindCode = kind;
    return identity;
}

// Reads the four elements of the connection's "Phase_Values".
void ReadPhaseValues(IUnknown* connectionSet, const ModuleClass& moduleClass, double* values) {
    if (connectionSet == nullptr) Fail(moduleClass, "Connect gave no variable set");
    ComPtr<pvt::IHostVariableSet> set;
    Check(connectionSet->QueryInterface(pvt::IID_IHostVariableSet, OutPointer(set)), moduleClass,
          "querying the connection set for IHostVariableSet");
    ComPtr<IUnknown> variable;
    Check(set->FindVariable(L"Phase_Values", variable.ReleaseAndGetAddressOf()), moduleClass,
          "finding \"Phase_Values\"");
    DataServer server;
    if (!FindDataServer(server)) {
        Fail(moduleClass,
             "the data server varhub2.dll that the module loaded offers no "
             "read-back functions (is it the reference data server?)");
    }
    LONG count = 0;
    Check(server.getValueCount(variable.Get(), &count), moduleClass,
          "reading \"Phase_Values\" back");
    if (count < 4) {
        Fail(moduleClass, "\"Phase_Values\" holds " + std::to_string(count) +
                              " elements after Calculate, not 4");
    }
    for (LONG i = 0; i < 4; ++i) {
        Check(server.getValue(variable.Get(), i, &values[i]), moduleClass,
              "reading \"Phase_Values\" back");
    }
}

// Connects, calculates and reads back; disconnects on every path once
// connected.
void RunConnection(ICorrelation* correlation, pvt::IConnectionSource* source,
                   const ModuleClass& moduleClass, double* values) {
    LONG connectionId = 0;
    // Borrowed: the reference behind the set belongs to the connection and
    // goes with Disconnect, so the set is used only until then.
    IUnknown* connectionSet = nullptr;
    Check(correlation->Connect(source, kFluidItemKey, &connectionId, &connectionSet), moduleClass,
          "Connect");
    try {
        Check(correlation->Calculate(connectionId), moduleClass, "Calculate");
        ReadPhaseValues(connectionSet, moduleClass, values);
    } catch (...) {
        correlation->Disconnect(connectionId);
        throw;
    }
    Check(correlation->Disconnect(connectionId), moduleClass, "Disconnect");
}

}  // namespace

CorrelationIdentity DescribeCorrelation(const ModuleClass& moduleClass) {
    ComPtr<ICorrelation> correlation = CreateCorrelation(moduleClass);
    return ReadIdentity(correlation.Get(), moduleClass);
}

CorrelationResult CalculateCorrelation(const ModuleClass& moduleClass,
                                       pvt::IConnectionSource* source) {
    CorrelationResult result;
    result.moduleClass = moduleClass;
    ComPtr<ICorrelation> correlation = CreateCorrelation(moduleClass);
    result.identity = ReadIdentity(correlation.Get(), moduleClass);
    RunConnection(correlation.Get(), source, moduleClass, result.values);
    return result;
}

}  // namespace pvthost
