// Runs the tests on a thread in a single-threaded apartment, as a host
// simulator calls the module.
#include <gtest/gtest.h>

#include "com/ComModule.h"

#include <objbase.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    // As the module's shut-down does: type information goes back to the
    // runtime while COM is still up.
    pvt::Module().Term();
    CoUninitialize();
    return result;
}
