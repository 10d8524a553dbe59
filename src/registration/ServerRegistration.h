// Registering and unregistering the module: the class scripts in class-table
// order, then the type library.
#pragma once

#include "correlations/Catalogue.h"
#include "registration/RegistryAccess.h"

#include <windows.h>

namespace pvt {

// Runs the "REGISTRY" script resourceId of this module in the given mode
// over the active registry.
HRESULT RunClassScript(int resourceId, bool registering);

// What a class table entry's registration runs.
template <int Index>
HRESULT UpdateClassRegistry(bool registering) {
    return RunClassScript(kCatalogue[Index].scriptResourceId, registering);
}

// The registry the scripts write to: the real one unless a test put a
// double in its place (null restores the real one).
RegistryAccess& ActiveRegistry();
void SetActiveRegistry(RegistryAccess* registry);

// The module's type library, loaded from the module file's "TYPELIB"
// resource or else from the ".tlb" file beside it.
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// DllRegisterServer and DllUnregisterServer: every class of the class table
// in order, stopping at the first failure, then the type library.
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace pvt
