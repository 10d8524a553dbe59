// The application framework's base: start-up and shut-down steps that
// bracket a module's life in a process, run from DllMain.
#pragma once

#include <windows.h>

namespace pvt {

class CWinApp {
public:
    CWinApp() = default;
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The framework's own start-up and shut-down; nothing to do here.
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // Whether framework-managed objects or class factories are in use; the
    // module creates none.
    virtual bool FrameworkObjectsInUse() const { return false; }
};

}  // namespace pvt
