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

    // The connection's id is not stored: it is the record's position in the
    // correlation's list plus 1, so a removal renumbers the records behind
    // it without touching them.
    LONG itemKey = -1;
    HostPtr<IHostVariableSet> connectionSet;
    HostPtr<IConnectionSource> source;
};

}  // namespace pvt
