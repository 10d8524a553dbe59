#include "module/WinApp.h"

#include "module/ClassTable.h"
#include "module/ComModule.h"

#include "PvtCorrelator.h"

namespace pvt {

BOOL CPvtCorrelatorApp::InitInstance() {
    Module().Init(kClassTable, LIBID_PVTCORRELATORLib);
    return CWinApp::InitInstance();
}

int CPvtCorrelatorApp::ExitInstance() {
    // Other DLLs may already be gone when the process is ending.
    Module().SetForeignCallsAllowed(!processTerminating_);
    Module().Shutdown(!processTerminating_);
    return CWinApp::ExitInstance();
}

CPvtCorrelatorApp& App() {
    static CPvtCorrelatorApp app;
    return app;
}

}  // namespace pvt
