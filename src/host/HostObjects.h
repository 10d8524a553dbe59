// Loading host objects from the host's data server library.
#pragma once

#include <windows.h>

namespace pvt {

// Creates an object of classId through the data server library "varhub2.dll"
// and queries it for interfaceId. The out pointer is cleared first; a call
// that reports success without an object gives E_FAIL.
HRESULT CreateHostObject(REFCLSID classId, REFIID interfaceId, void** object);

}  // namespace pvt
