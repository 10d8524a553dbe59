// Runs the black-box tests on a thread in a single-threaded apartment, as a
// host simulator calls the module. Nothing of the module is linked in.
#include <gtest/gtest.h>

#include <objbase.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
