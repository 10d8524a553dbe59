// Reading the module's own resources: those of the image that holds this
// code (the DLL in the product, the executable in white-box tests), never
// the host executable's.
#pragma once

#include <windows.h>

#include <string_view>

namespace pvt {

HMODULE ThisModule();

// The resource's bytes, or an empty view when it is missing. The view points
// into the loaded image and stays valid while the module is loaded.
std::string_view FindModuleResource(LPCWSTR type, LPCWSTR name);

}  // namespace pvt
