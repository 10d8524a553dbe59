#include "module/PvtCorrelatorApp.h"

#include "com/ComModule.h"
#include "module/ClassTable.h"
#include "properties/PropertyCalculator.h"

#include "PvtCorrelator.h"

namespace pvt {

BOOL CPvtCorrelatorApp::InitInstance() {
    Module().Init(kClassTable, LIBID_PVTCORRELATORLib);
    return CWinApp::InitInstance();
}

int CPvtCorrelatorApp::ExitInstance() {
    // Other DLLs may already be gone when the process is ending: then the
    // calculator forgets a fluid still bound instead of releasing it.
    CPropertyCalculator::Instance().LetGoOfFluid(!processTerminating_);
    Module().Shutdown(!processTerminating_);
    return CWinApp::ExitInstance();
}

CPvtCorrelatorApp& App() {
    static CPvtCorrelatorApp app;
    return app;
}

}  // namespace pvt
