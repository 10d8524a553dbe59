// Main of the black-box checks: a single-threaded apartment, as a scripting
// client or a host has. With PVT_CLASSES_ROOT=user the checks read the
// current user's classes key (HKEY_CURRENT_USER\Software\Classes) in place
// of HKEY_CLASSES_ROOT, where a per-user registration writes.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    HKEY userClasses = nullptr;
    const char* root = std::getenv("PVT_CLASSES_ROOT");
    if (root != nullptr && std::strcmp(root, "user") == 0) {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &userClasses) !=
                ERROR_SUCCESS ||
            RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses) != ERROR_SUCCESS) {
            return 3;
        }
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    if (userClasses != nullptr) {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegCloseKey(userClasses);
    }
    return result;
}
