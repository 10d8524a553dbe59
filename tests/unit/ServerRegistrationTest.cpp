// Registering and unregistering the whole server: the class scripts read
// from this executable's own resources, run in class-table order over the
// in-memory registry, then the type library in the platform's registry.
#include "com/ComModule.h"
#include "com/ModuleResources.h"
#include "doubles/RegistryDouble.h"
#include "module/ClassTable.h"
#include "module/PvtCorrelatorApp.h"
#include "registration/Registrar.h"
#include "registration/ServerRegistration.h"
#include "support/ExecutablePath.h"
#include "support/HostFixture.h"
#include "support/RegisteredClasses.h"

#include "PvtCorrelator.h"

#include <oleauto.h>

#include <string>
#include <vector>

namespace pvt::test {
namespace {

std::wstring ExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// The dump of a registry holding HKCR\CLSID and the entries of the first
// `classes` classes.
std::string ExpectedDump(std::size_t classes, const std::wstring& modulePath) {
    RegistryDouble expected;
    expected.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    for (std::size_t i = 0; i < classes; ++i) {
        for (const ExpectedEntry& entry : ExpectedClassEntries(kRegisteredClasses[i], modulePath)) {
            if (entry.valueName == nullptr) {
                expected.AddKey(HKEY_CLASSES_ROOT, entry.keyPath);
            } else {
                expected.SetValue(HKEY_CLASSES_ROOT, entry.keyPath, entry.valueName, entry.value);
            }
        }
    }
    return expected.Dump();
}

// S_OK and the registered path when the module's type library is
// registered; the platform's failure otherwise.
HRESULT RegisteredTypeLibrary(std::wstring* path = nullptr) {
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadRegTypeLib(LIBID_PVTCORRELATORLib, 1, 0, 0, &library);
    if (library != nullptr) library->Release();
    if (SUCCEEDED(hr) && path != nullptr) {
        BSTR registered = nullptr;
        if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_PVTCORRELATORLib, 1, 0, 0, &registered))) {
            path->assign(registered, SysStringLen(registered));
            // The platform may count the terminator in the length.
            while (!path->empty() && path->back() == L'\0') path->pop_back();
        }
        SysFreeString(registered);
    }
    return hr;
}

class ServerRegistrationTest : public HostFixture {
protected:
    // The start-up step attaches the class table that the walk follows.
    static void SetUpTestSuite() { App().InitInstance(); }

    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_NE(nullptr, Module().ClassTable());
        UnRegisterTypeLib(LIBID_PVTCORRELATORLib, 1, 0, 0, SYS_WIN64);  // left by a failed run
        ASSERT_TRUE(FAILED(RegisteredTypeLibrary()))
            << "the test prefix must start without the module's type library";
        Use(registry);
    }

    void TearDown() override {
        SetActiveRegistry(nullptr);
        UnRegisterTypeLib(LIBID_PVTCORRELATORLib, 1, 0, 0, SYS_WIN64);
        EXPECT_EQ(0, registry.OpenHandles()) << "registry keys left open";
        HostFixture::TearDown();
    }

    // A registry that already has HKCR\CLSID, as every real one does.
    static void Use(RegistryDouble& target) {
        target.AddKey(HKEY_CLASSES_ROOT, L"CLSID");
        SetActiveRegistry(&target);
    }

    RegistryDouble registry;
};

TEST_F(ServerRegistrationTest, RegistersEveryClassAndTheTypeLibraryThenRemovesThem) {
    ASSERT_EQ(S_OK, RegisterServer(kClassTable));
    EXPECT_EQ(ExpectedDump(kRegisteredClassCount, ExecutablePath()), registry.Dump());
    for (const RegisteredClass& cls : kTypeLibraryOnlyClasses) {
        const std::wstring progId = std::wstring(L"PvtCorrelator.") + cls.name;
        EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, progId)) << Utf8(cls.name);
        EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, progId + L".1")) << Utf8(cls.name);
        EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + cls.clsid))
            << Utf8(cls.name);
    }
    std::wstring libraryPath;
    ASSERT_EQ(S_OK, RegisteredTypeLibrary(&libraryPath));
    EXPECT_EQ(0, CompareStringOrdinal(ExecutablePath().c_str(), -1, libraryPath.c_str(), -1, TRUE) -
                     CSTR_EQUAL)
        << "type library registered from " << Utf8(libraryPath);

    ASSERT_EQ(S_OK, UnregisterServer(kClassTable));
    EXPECT_EQ("HKCR\\CLSID\n", registry.Dump());
    EXPECT_TRUE(FAILED(RegisteredTypeLibrary()));

    // A second unregistration finds nothing to remove and succeeds: a type
    // library that is not registered counts as unregistered.
    for (ClassTableEntry* entry = Module().ClassTable(); entry->classId != nullptr; ++entry) {
        EXPECT_EQ(S_OK, entry->registration(false));
    }
    EXPECT_EQ(S_OK, UnregisterServer(kClassTable));
    EXPECT_EQ(S_OK, UnregisterTypeLibrary());
    EXPECT_EQ("HKCR\\CLSID\n", registry.Dump());
}

TEST_F(ServerRegistrationTest, WalksTheClassesInClassTableOrder) {
    ASSERT_EQ(S_OK, RegisterServer(kClassTable));
    std::vector<std::string> created;
    for (const std::string& line : registry.Log()) {
        if (line.rfind("create HKCR\\PvtCorrelator.", 0) == 0 && line.size() > 2 &&
            line.compare(line.size() - 2, 2, ".1") == 0) {
            created.push_back(line);
        }
    }
    std::vector<std::string> expected;
    for (const RegisteredClass& cls : kRegisteredClasses) {
        expected.push_back("create HKCR\\PvtCorrelator." + Utf8(cls.name) + ".1");
    }
    EXPECT_EQ(expected, created);
    ASSERT_EQ(S_OK, UnregisterServer(kClassTable));
}

// Any write of script 117 (CMassDensity) that fails: its own entries are
// taken back, the five classes before it stay, the walk stops there and
// the type library is not registered.
TEST_F(ServerRegistrationTest, AWriteFailingInsideTheMassDensityScriptStopsTheWalk) {
    // Where script 117's operations lie in a full registration.
    RegistryDouble probe;
    Use(probe);
    ASSERT_EQ(S_OK, RegisterServer(kClassTable));
    ASSERT_EQ(S_OK, UnregisterTypeLibrary());
    std::size_t first = 0;
    std::size_t end = 0;
    const std::vector<std::string>& log = probe.Log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (first == 0 && log[i].find("PvtCorrelator.MassDensity.1") != std::string::npos)
            first = i;
        if (log[i].find("PvtCorrelator.MassEnthalpy.1") != std::string::npos) {
            end = i;
            break;
        }
    }
    ASSERT_LT(0u, first);
    ASSERT_LT(first, end);

    const std::string fiveClasses = ExpectedDump(5, ExecutablePath());
    int writes = 0;
    for (std::size_t i = first; i < end; ++i) {
        if (log[i].rfind("create ", 0) != 0 && log[i].rfind("set ", 0) != 0) continue;
        ++writes;
        RegistryDouble failing;
        Use(failing);
        failing.FailNthOperation(static_cast<long>(i) + 1, ERROR_WRITE_FAULT);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), RegisterServer(kClassTable)) << log[i];
        EXPECT_EQ(fiveClasses, failing.Dump()) << log[i];
        EXPECT_EQ(0, failing.OpenHandles()) << log[i];
        for (const std::string& line : failing.Log()) {
            EXPECT_EQ(std::string::npos, line.find("MassEnthalpy")) << "after " << log[i];
        }
        EXPECT_TRUE(FAILED(RegisteredTypeLibrary())) << log[i];
    }
    // The class key, its five subkeys, two ProgID keys with their subkeys
    // and the values: a dozen writes or more.
    EXPECT_GE(writes, 12);
    Use(registry);
}

TEST_F(ServerRegistrationTest, AFailingUnregistrationStopsTheWalkAndKeepsTheTypeLibrary) {
    ASSERT_EQ(S_OK, RegisterServer(kClassTable));
    registry.FailOperation(RegistryOp::OpenRead, ERROR_ACCESS_DENIED, 0, L"PvtCorrelator.GOR.1");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), UnregisterServer(kClassTable));
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtPressure"));
    EXPECT_FALSE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.BubblePtTemperature.1"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.GOR.1"));
    EXPECT_TRUE(registry.KeyExists(HKEY_CLASSES_ROOT, L"PvtCorrelator.VolFlowRate"));
    EXPECT_EQ(S_OK, RegisteredTypeLibrary()) << "the walk stopped before the type library";

    registry.ClearFaults();
    EXPECT_EQ(S_OK, UnregisterServer(kClassTable));
    EXPECT_EQ("HKCR\\CLSID\n", registry.Dump());
}

// --- Beneath a classes root of its own (per-user registration) -------------

// A scratch key that stands in for the user's classes key.
class ScratchClassesKey {
public:
    ScratchClassesKey() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);  // left by a failed run
        RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &writable,
                        nullptr);
    }
    ~ScratchClassesKey() {
        if (writable != nullptr) RegCloseKey(writable);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PvtCorrelatorTests");
    }
    ScratchClassesKey(const ScratchClassesKey&) = delete;
    ScratchClassesKey& operator=(const ScratchClassesKey&) = delete;

    // The names of the key's subkeys, separated by blanks.
    std::string Subkeys() const {
        std::string names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(writable, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            names += Utf8(std::wstring(name, length)) + " ";
        }
        return names;
    }

    static constexpr const wchar_t* kPath = L"Software\\PvtCorrelatorTests\\Classes";
    HKEY writable = nullptr;
};

// Beneath a classes root of its own, the class scripts and the type
// library's keys all go through the registrar (here the registry double):
// nothing reaches the platform's registry, neither the root itself nor the
// machine's classes. A failure at any point takes back everything, and the
// mapping of HKEY_CLASSES_ROOT never outlives the call.
TEST_F(ServerRegistrationTest, UnderAClassesRootOfItsOwnEverythingOrNothingIsRegistered) {
    ScratchClassesKey scratch;
    ASSERT_NE(nullptr, scratch.writable);
    const std::wstring version = L"TypeLib\\{DEEC13C7-7766-4086-8C1B-434FBF176F1C}\\1.0";
    RegistryDouble user;  // the user's classes start without a CLSID key
    SetActiveRegistry(&user);

    ASSERT_EQ(S_OK, RegisterServer(kClassTable, scratch.writable));
    const std::string registered = user.Dump();
    for (const RegisteredClass& cls : kRegisteredClasses) {
        EXPECT_TRUE(user.KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + cls.clsid))
            << Utf8(cls.name);
    }
    EXPECT_TRUE(user.KeyExists(HKEY_CLASSES_ROOT, version + L"\\0\\win64"));
    EXPECT_NE(std::string::npos, registered.find("HKCR\\" + Utf8(version) + "\\0\\win64\n  @ = \"" +
                                                 Utf8(ExecutablePath()) + "\"\n"))
        << registered.substr(0, 2000);
    EXPECT_EQ(kExpectedTypeLibraryNameCount, user.Subkeys(HKEY_CLASSES_ROOT, L"Interface").size());
    EXPECT_EQ("", scratch.Subkeys());
    EXPECT_TRUE(FAILED(RegisteredTypeLibrary())) << "registered for the machine";
    // The writes of the registration, by operation number.
    std::vector<long> writes;
    for (std::size_t i = 0; i < user.Log().size(); ++i) {
        const std::string& line = user.Log()[i];
        if (line.rfind("create ", 0) == 0 || line.rfind("set ", 0) == 0) {
            writes.push_back(static_cast<long>(i) + 1);
        }
    }
    ASSERT_LT(100u, writes.size());
    ASSERT_EQ(S_OK, UnregisterServer(kClassTable, scratch.writable));
    EXPECT_EQ("", user.Dump());

    struct Case {
        const char* what;
        long failingOperation;  // of the registry double
    };
    const Case cases[] = {
        {"the first write", writes.front()},
        {"a write half-way through the classes", writes[writes.size() / 2]},
        {"the last write, in the type library's keys", writes.back()},
    };
    for (const Case& c : cases) {
        RegistryDouble failing;
        SetActiveRegistry(&failing);
        failing.FailNthOperation(c.failingOperation, ERROR_WRITE_FAULT);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT),
                  RegisterServer(kClassTable, scratch.writable))
            << c.what;
        EXPECT_EQ("", failing.Dump()) << c.what;
        EXPECT_EQ(0, failing.OpenHandles()) << c.what;
        EXPECT_EQ("", scratch.Subkeys()) << c.what;
        EXPECT_TRUE(FAILED(RegisteredTypeLibrary())) << c.what;
        // HKEY_CLASSES_ROOT is the platform's own again.
        HKEY clsid = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &clsid))
            << c.what;
        if (clsid != nullptr) RegCloseKey(clsid);
    }
    EXPECT_EQ(0, user.OpenHandles());
    Use(registry);
}

// DllInstall's command text: "user" in any case, nothing else.
TEST_F(ServerRegistrationTest, InstallTakesOnlyTheCommandTextUser) {
    for (const wchar_t* text :
         {static_cast<const wchar_t*>(nullptr), L"", L"users", L"use", L" user"}) {
        for (bool install : {true, false}) {
            EXPECT_EQ(E_INVALIDARG, InstallServer(kClassTable, install, text))
                << (text ? Utf8(text) : "(null)") << " " << install;
        }
    }
    EXPECT_EQ("HKCR\\CLSID\n", registry.Dump());
    EXPECT_EQ(0, registry.OperationCount());
    EXPECT_TRUE(FAILED(RegisteredTypeLibrary()));
}

// --- The module path ---------------------------------------------------------

// A copy of the data-server double loaded from a path of an exact length,
// to see how the module path is read for paths around the 260-character
// buffer.
class LongModulePathTest : public ::testing::Test {
protected:
    void TearDown() override { Remove(); }

    void Remove() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
        if (!file_.empty()) DeleteFileW((L"\\\\?\\" + file_).c_str());
        file_.clear();
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            RemoveDirectoryW((L"\\\\?\\" + *it).c_str());
        }
        folders_.clear();
    }

    // Loads the copy from a path of `length` characters.
    void LoadFromPathOf(std::size_t length) {
        const std::wstring fileName = L"varhub2copy.dll";
        const std::wstring base = ExecutableDirectory();
        ASSERT_LT(base.size() + fileName.size() + 2, length);
        Remove();
        // Nested folders of at most 100 characters each: a file system
        // limits the length of one name, not of the path.
        // Characters of "\name" segments between the base and the file.
        std::size_t remaining = length - base.size() - fileName.size();
        std::wstring folder = base.substr(0, base.size() - 1);
        while (remaining > 0) {
            std::size_t part = remaining - 1;
            if (remaining > 101) part = (remaining - 101 >= 2) ? 100 : 99;
            folder += L"\\" + std::wstring(part, L'd');
            remaining -= part + 1;
            ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr) ||
                        GetLastError() == ERROR_ALREADY_EXISTS);
            folders_.push_back(folder);
        }
        file_ = folder + L"\\" + fileName;
        ASSERT_EQ(length, file_.size());
        ASSERT_TRUE(
            CopyFileW((base + L"varhub2.dll").c_str(), (L"\\\\?\\" + file_).c_str(), FALSE));
        module_ = LoadLibraryW(file_.c_str());
        ASSERT_NE(nullptr, module_) << "error " << GetLastError();
        // The platform reports the path in full, whatever its length.
        std::vector<wchar_t> buffer(1024);
        const DWORD full = GetModuleFileNameW(module_, buffer.data(), 1024);
        ASSERT_EQ(length, full) << "the platform reports the long path otherwise";
    }

    HMODULE module_ = nullptr;
    std::vector<std::wstring> folders_;
    std::wstring file_;
};

TEST_F(LongModulePathTest, APathOf259CharactersIsTaken) {
    ASSERT_NO_FATAL_FAILURE(LoadFromPathOf(259));
    std::wstring path;
    ASSERT_EQ(S_OK, GetModuleFilePath(module_, path));
    EXPECT_EQ(259u, path.size());
    EXPECT_EQ(0, CompareStringOrdinal(file_.c_str(), -1, path.c_str(), -1, TRUE) - CSTR_EQUAL);
    Replacements replacements;
    ASSERT_EQ(S_OK, GetModuleReplacements(module_, replacements));
    ASSERT_NE(nullptr, replacements.Find(L"MODULE"));
    EXPECT_EQ(path, *replacements.Find(L"MODULE"));
}

TEST_F(LongModulePathTest, APathOf260CharactersOrMoreIsInsufficientBuffer) {
    for (std::size_t length : {260u, 300u}) {
        SCOPED_TRACE(length);
        ASSERT_NO_FATAL_FAILURE(LoadFromPathOf(length));
        std::wstring path = L"unchanged";
        EXPECT_EQ(HRESULT(0x8007007A), GetModuleFilePath(module_, path));
        EXPECT_EQ(L"unchanged", path);
        Replacements replacements;
        EXPECT_EQ(HRESULT(0x8007007A), GetModuleReplacements(module_, replacements));
        EXPECT_EQ(0u, replacements.Size());
        Remove();
    }
}

}  // namespace
}  // namespace pvt::test
