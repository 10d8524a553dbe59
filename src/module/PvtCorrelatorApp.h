// The module's application object: its start-up attaches the class table,
// its shut-down releases what the module holds of other libraries.
#pragma once

#include "com/WinApp.h"

namespace pvt {

class CPvtCorrelatorApp final : public CWinApp {
public:
    // Records the type library and attaches the class table.
    BOOL InitInstance() override;
    // Releases the class objects and runs the termination list; at process
    // termination nothing outside the module is called.
    int ExitInstance() override;

    void SetProcessTerminating(bool terminating) { processTerminating_ = terminating; }

private:
    bool processTerminating_ = false;
};

CPvtCorrelatorApp& App();

}  // namespace pvt
