// The module's exported entry points.
#include "module/ComModule.h"
#include "module/WinApp.h"
#include "registration/ServerRegistration.h"

#include <new>

using namespace pvt;

// Thread notifications stay on: the statically linked C++ runtime frees a
// thread's own data when it is told that the thread ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return App().InitInstance();
        case DLL_PROCESS_DETACH:
            // A non-null reserved argument: the process is ending.
            App().SetProcessTerminating(reserved != nullptr);
            App().ExitInstance();
            return TRUE;
        default:
            return TRUE;
    }
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    try {
        return Module().GetClassObject(classId, iid, object);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllCanUnloadNow() {
    if (App().FrameworkObjectsInUse()) return S_FALSE;
    return Module().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() { return RegisterServer(); }

STDAPI DllUnregisterServer() { return UnregisterServer(); }

// "regsvr32 /n /i:user" and "regsvr32 /u /n /i:user": the same registration
// for the current user alone.
STDAPI DllInstall(BOOL install, LPCWSTR commandText) {
    return InstallServer(install != FALSE, commandText);
}
