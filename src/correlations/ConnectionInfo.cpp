#include "correlations/ConnectionInfo.h"

namespace pvt {

CConnectionInfo::~CConnectionInfo() {
    source.Reset();
    connectionSet.Reset();
}

}  // namespace pvt
