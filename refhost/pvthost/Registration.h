// register / unregister: the module through its own entry points, as
// regsvr32 does, and the host's correlation type library.
#pragma once

#include <string>

namespace pvthost {

// Default locations, beside the module in the build's bin folder, found
// relative to pvthost.exe.
std::wstring DefaultModulePath();
std::wstring DefaultHostTypeLibraryPath();

// Each throws CommandError (kExitRegistration) on failure and prints what it
// did on success.
void RegisterModule(const std::wstring& modulePath);
void UnregisterModule(const std::wstring& modulePath);
void RegisterHostTypeLibrary(const std::wstring& typeLibraryPath);
void UnregisterHostTypeLibrary(const std::wstring& typeLibraryPath);

}  // namespace pvthost
