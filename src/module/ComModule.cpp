#include "module/ComModule.h"

namespace pvt {

CComModule& Module() {
    static CComModule module;
    return module;
}

}  // namespace pvt
