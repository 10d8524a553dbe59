#include "correlations/ConnectionInfo.h"

namespace pvt {

CConnectionInfo::~CConnectionInfo() { ReleaseHostObjects(); }

bool CConnectionInfo::ReleaseHostObjects() noexcept {
    const bool sourceReleased = source.Reset();
    const bool setReleased = connectionSet.Reset();
    return sourceReleased && setReleased;
}

}  // namespace pvt
