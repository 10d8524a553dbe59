// The record of one connection of a correlation.
#pragma once

#include "host/HostInterfaces.h"
#include "host/HostPtr.h"

namespace pvt {

class CConnectionInfo {
public:
    CConnectionInfo() = default;
    CConnectionInfo(const CConnectionInfo&) = delete;
    CConnectionInfo& operator=(const CConnectionInfo&) = delete;

    // Releases the source first, then the connection's set.
    virtual ~CConnectionInfo();

    // The same releases, made now; false if a host Release threw (both are
    // released all the same).
    bool ReleaseHostObjects() noexcept;

    LONG itemKey = -1;
    LONG connectionId = -1;
    HostPtr<IHostVariableSet> connectionSet;
    HostPtr<IConnectionSource> source;
};

}  // namespace pvt
