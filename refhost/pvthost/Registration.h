// register / unregister: the module through its own entry points, as
// regsvr32 does, and the host's correlation type library.
#pragma once

#include <string>

namespace pvthost {

// Default locations, beside the module in the build's bin folder, found
// relative to pvthost.exe.
std::wstring DefaultModulePath();
std::wstring DefaultHostTypeLibraryPath();

// Where registration goes: the machine's classes (the module's
// DllRegisterServer and DllUnregisterServer), or the current user's classes
// key HKEY_CURRENT_USER\Software\Classes (the module's DllInstall with
// "user"; the host's type library is then registered there too).
enum class Scope { Machine, User };

// Each throws CommandError (kExitRegistration) on failure and prints what it
// did on success.
void RegisterModule(const std::wstring& modulePath, Scope scope);
void UnregisterModule(const std::wstring& modulePath, Scope scope);
void RegisterHostTypeLibrary(const std::wstring& typeLibraryPath, Scope scope);
void UnregisterHostTypeLibrary(const std::wstring& typeLibraryPath, Scope scope);

}  // namespace pvthost
