// The module's exported entry points.
#include "com/ComModule.h"
#include "com/ErrorBoundary.h"
#include "module/ClassTable.h"
#include "module/PvtCorrelatorApp.h"
#include "registration/ServerRegistration.h"

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
    return ComBoundary([&] { return Module().GetClassObject(classId, iid, object); });
}

STDAPI DllCanUnloadNow() {
    if (App().FrameworkObjectsInUse()) return S_FALSE;
    return Module().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() { return RegisterServer(kClassTable); }

STDAPI DllUnregisterServer() { return UnregisterServer(kClassTable); }

// "regsvr32 /n /i:user" and "regsvr32 /u /n /i:user": the same registration
// for the current user alone.
STDAPI DllInstall(BOOL install, LPCWSTR commandText) {
    return InstallServer(kClassTable, install != FALSE, commandText);
}
