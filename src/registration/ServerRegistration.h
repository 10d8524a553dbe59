// Registering and unregistering the module: the class scripts in class-table
// order, then the type library.
#pragma once

#include "com/ComModule.h"
#include "registration/RegistryAccess.h"

#include <windows.h>

namespace pvt {

// Runs the "REGISTRY" script resourceId of this module in the given mode
// over the active registry: what a class table entry's registration runs.
HRESULT RunClassScript(int resourceId, bool registering);

// The registry the scripts write to: the real one unless a test put a
// double in its place (null restores the real one).
RegistryAccess& ActiveRegistry();
void SetActiveRegistry(RegistryAccess* registry);

// The module's type library, loaded from the module file's "TYPELIB"
// resource or else from the ".tlb" file beside it.
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// DllRegisterServer and DllUnregisterServer: every class of classTable (up
// to its end marker) in order, stopping at the first failure, then the type
// library. Registrations run one at a time in the process.
//
// With a classes root, the scripts' HKEY_CLASSES_ROOT stands for that key:
// the registry they write through resolves it there, and no predefined key
// is remapped, so that the rest of the process (another thread, or a
// mapping the caller made) is untouched. The type library's keys (its
// version key and the Interface keys of its interfaces, as the platform's
// RegisterTypeLib writes them) are then written and removed through the
// registrar too, since the platform's type library functions may also write
// to the machine's classes whatever the root. A registration under
// a classes root of its own that fails is then undone completely, so that
// none of it stays behind; the failure is returned. Beneath such a root,
// unregistering also removes the keys CLSID, TypeLib and Interface once
// they have no subkeys, since registering there may have created them.
HRESULT RegisterServer(const ClassTableEntry* classTable, HKEY classesRoot = nullptr);
HRESULT UnregisterServer(const ClassTableEntry* classTable, HKEY classesRoot = nullptr);

// DllInstall: the command text "user" (in any case) registers or, when
// install is false, unregisters the server for the current user alone,
// under HKEY_CURRENT_USER\Software\Classes. Any other text, or none, is
// E_INVALIDARG and changes nothing.
HRESULT InstallServer(const ClassTableEntry* classTable, bool install, const wchar_t* commandText);

}  // namespace pvt
