// Reading the module's own resources: those of the image that holds this
// code (the DLL in the product, the executable in white-box tests), never
// the host executable's.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace pvt {

HMODULE ThisModule();

// The full path of module's file. The platform's last error (E_FAIL when it
// gives none) when the path cannot be had; 0x8007007A when it fills the
// whole 260-character buffer. Throws std::bad_alloc.
HRESULT GetModuleFilePath(HMODULE module, std::wstring& path);

// The resource's bytes, or an empty view when it is missing. The view points
// into the loaded image and stays valid while the module is loaded.
std::string_view FindModuleResource(LPCWSTR type, LPCWSTR name);

}  // namespace pvt
