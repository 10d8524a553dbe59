// Registering beneath a classes root of its own (what DllInstall("user")
// does with the user's classes key) in the platform's registry: the keys
// land beneath that root and nowhere else, and HKEY_CLASSES_ROOT keeps
// standing for whatever the caller had made it stand for.
#include "doubles/RegistryDouble.h"
#include "module/ClassTable.h"
#include "registration/ServerRegistration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pvt::test {
namespace {

constexpr wchar_t kScratchPath[] = L"Software\\PvtCorrelatorRootTests";
constexpr wchar_t kProbe[] = L"PvtCorrelatorMappingProbe";

// A fresh key beneath the scratch path of the current user.
class ScratchKey {
public:
    explicit ScratchKey(const wchar_t* name) {
        const std::wstring path = std::wstring(kScratchPath) + L"\\" + name;
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());  // left by a failed run
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
    }
    ~ScratchKey() {
        if (key != nullptr) RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchPath);
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    HKEY key = nullptr;
};

// Copies the key tree beneath key (string values only, as the scripts
// write) into copy beneath HKEY_CLASSES_ROOT\path.
void CopyTree(HKEY key, const std::wstring& path, RegistryDouble& copy) {
    if (!path.empty()) copy.AddKey(HKEY_CLASSES_ROOT, path);
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256;
        std::vector<wchar_t> data(4096);
        DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &dataBytes) != ERROR_SUCCESS) {
            break;
        }
        std::wstring value(data.data(), dataBytes / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0') value.pop_back();
        copy.SetValue(HKEY_CLASSES_ROOT, path, std::wstring(name, nameLength),
                      type == REG_SZ ? value : L"(not a string)");
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::wstring subkeyName(name, nameLength);
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(key, subkeyName.c_str(), 0, KEY_READ, &subkey) != ERROR_SUCCESS) continue;
        CopyTree(subkey, path.empty() ? subkeyName : path + L"\\" + subkeyName, copy);
        RegCloseKey(subkey);
    }
}

bool HasSubkey(HKEY key, const wchar_t* name) {
    HKEY subkey = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS) return false;
    RegCloseKey(subkey);
    return true;
}

// Where a key that the process creates through HKEY_CLASSES_ROOT lands:
// true when beneath mapped (the probe is removed again either way).
bool ClassesRootStandsFor(HKEY mapped) {
    HKEY probe = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, kProbe, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &probe,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(probe);
    const bool landed = HasSubkey(mapped, kProbe);
    RegDeleteKeyW(HKEY_CLASSES_ROOT, kProbe);
    return landed;
}

// A caller maps HKEY_CLASSES_ROOT to a key of its own, then registers
// beneath another root and unregisters again: the mapping holds after each
// call, and the keys written beneath the root are exactly those that the
// same registration writes for HKEY_CLASSES_ROOT (run over the in-memory
// registry for comparison).
TEST(ClassesRootOfItsOwn, WritesBeneathTheRootAndLeavesTheCallersMappingInPlace) {
    ScratchKey root(L"Root");
    ScratchKey mapped(L"Mapped");
    ASSERT_NE(nullptr, root.key);
    ASSERT_NE(nullptr, mapped.key);
    SetActiveRegistry(nullptr);

    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, mapped.key));
    const HRESULT registered = RegisterServer(kClassTable, root.key);
    const bool mappedAfterRegistering = ClassesRootStandsFor(mapped.key);
    RegistryDouble written;
    CopyTree(root.key, std::wstring(), written);
    const HRESULT unregistered = UnregisterServer(kClassTable, root.key);
    const bool mappedAfterUnregistering = ClassesRootStandsFor(mapped.key);
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegDeleteKeyW(HKEY_CLASSES_ROOT, kProbe);  // where a lost mapping put it

    EXPECT_EQ(S_OK, registered);
    EXPECT_EQ(S_OK, unregistered);
    EXPECT_TRUE(mappedAfterRegistering);
    EXPECT_TRUE(mappedAfterUnregistering);
    EXPECT_FALSE(HasSubkey(mapped.key, L"CLSID")) << "written through the caller's mapping";
    EXPECT_FALSE(HasSubkey(root.key, L"CLSID")) << "left behind by unregistering";

    RegistryDouble expected;
    SetActiveRegistry(&expected);
    ASSERT_EQ(S_OK, RegisterServer(kClassTable, root.key));
    SetActiveRegistry(nullptr);
    EXPECT_LT(100u, written.Dump().size());
    EXPECT_EQ(expected.Dump(), written.Dump());
}

}  // namespace
}  // namespace pvt::test
