// The record of one connection of a correlation.
#pragma once

#include "host/HostInterfaces.h"

#include <wrl/client.h>

namespace pvt {

class CConnectionInfo {
public:
    CConnectionInfo() = default;
    CConnectionInfo(const CConnectionInfo&) = delete;
    CConnectionInfo& operator=(const CConnectionInfo&) = delete;

    // Releases the source first, then the connection's set.
    virtual ~CConnectionInfo();

    LONG itemKey = -1;
    LONG connectionId = -1;
    Microsoft::WRL::ComPtr<IHostVariableSet> connectionSet;
    Microsoft::WRL::ComPtr<IConnectionSource> source;
};

}  // namespace pvt
