// Reading back the "Phase_Values" variable of a connection's variable set,
// as a host does after Calculate.
#pragma once

#include "VarHubControl.h"
#include "host/HostInterfaces.h"

#include <wrl/client.h>

#include <vector>

namespace pvt::test {

// The variable, found in set (the connection's IUnknown from Connect).
inline HRESULT FindPhaseValues(IUnknown* set, Microsoft::WRL::ComPtr<IUnknown>& variable) {
    return static_cast<IHostVariableSet*>(set)->FindVariable(L"Phase_Values",
                                                             variable.ReleaseAndGetAddressOf());
}

// Its elements as written; empty when the set has no such variable.
inline std::vector<double> PhaseValuesOf(IUnknown* set) {
    Microsoft::WRL::ComPtr<IUnknown> variable;
    std::vector<double> values;
    if (FAILED(FindPhaseValues(set, variable))) return values;
    for (int i = 0; i < VarHub_ValueCount(variable.Get()); ++i) {
        values.push_back(VarHub_Value(variable.Get(), i));
    }
    return values;
}

}  // namespace pvt::test
