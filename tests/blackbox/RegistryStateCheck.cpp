// What regsvr32 left in the registry, read back with the platform's registry
// functions. The driver script runs one suite after each step:
//   Registered.*          after registering the DLL
//   RegisteredAgain.*     after registering it a second time
//   Unregistered.*        after unregistering
//   ForeignSubkeyKept.*   after unregistering with a foreign subkey in place
#include "BlackBoxSupport.h"
#include "VarHubControl.h"
#include "doubles/HubCounts.h"
#include "support/RegisteredClasses.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <set>
#include <string>
#include <vector>

namespace pvt::blackbox {
namespace {

using test::ExpectedClassEntries;
using test::ExpectedEntry;
using test::kRegisteredClasses;
using test::kTypeLibraryIdText;
using test::kTypeLibraryOnlyClasses;
using test::RegisteredClass;

constexpr wchar_t kBubbleClassKey[] = L"CLSID\\{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}";
// The driver adds this subkey with the default value "foreign".
constexpr wchar_t kAddedSubkey[] = L"AddedByOthers";

// The registry as a set of lines, one per key ("KEY path") and one per
// value ("VALUE path [name] = type 'data'"); two trees are equal when their
// sets are, and the differences say exactly what is missing or extra.
using Lines = std::set<std::wstring>;

std::wstring KeyLine(const std::wstring& path) { return L"KEY " + path; }

std::wstring ValueLine(const std::wstring& path, const std::wstring& name, DWORD type,
                       const std::wstring& data) {
    return L"VALUE " + path + L" [" + name + L"] = " +
           (type == REG_SZ ? std::wstring(L"REG_SZ") : L"type " + std::to_wstring(type)) + L" '" +
           data + L"'";
}

// The lines of the subkey the driver added under `parent`.
void AddForeignSubkey(const std::wstring& parent, Lines& lines) {
    const std::wstring path = parent + L"\\" + kAddedSubkey;
    lines.insert(KeyLine(path));
    lines.insert(ValueLine(path, L"", REG_SZ, L"foreign"));
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

// Adds the key `path` below HKCR (spelled as the registry spells it) with
// its values and its whole subtree.
void CollectTree(const std::wstring& path, Lines& lines) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        lines.insert(L"UNREADABLE " + path);
        return;
    }
    lines.insert(KeyLine(path));
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        std::vector<BYTE> data(size + sizeof(wchar_t));
        nameLength = 16384;
        RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        // REG_SZ data carries exactly one terminating NUL.
        if (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        } else {
            text += L"<no terminator>";
        }
        lines.insert(ValueLine(path, std::wstring(name, nameLength), type, text));
    }
    for (const std::wstring& child : SubkeyNames(key)) CollectTree(path + L"\\" + child, lines);
    RegCloseKey(key);
}

bool IsOneOfOurIdentifiers(const std::wstring& name) {
    for (const RegisteredClass& cls : kRegisteredClasses) {
        if (SameNameNoCase(name, cls.clsid)) return true;
    }
    for (const RegisteredClass& cls : kTypeLibraryOnlyClasses) {
        if (SameNameNoCase(name, cls.clsid)) return true;
    }
    return false;
}

// Everything in the registry that belongs to the module's names: every
// HKCR key whose name starts with "PvtCorrelator." and the class keys of
// the classes and of the names the type library alone declares.
Lines ActualEntries() {
    Lines lines;
    const std::wstring prefix = L"PvtCorrelator.";
    for (const std::wstring& name : SubkeyNames(HKEY_CLASSES_ROOT)) {
        if (name.size() >= prefix.size() && SameNameNoCase(name.substr(0, prefix.size()), prefix))
            CollectTree(name, lines);
    }
    HKEY clsid = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &clsid) == ERROR_SUCCESS) {
        for (const std::wstring& name : SubkeyNames(clsid)) {
            if (IsOneOfOurIdentifiers(name)) CollectTree(L"CLSID\\" + name, lines);
        }
        RegCloseKey(clsid);
    }
    return lines;
}

Lines ExpectedEntries(const std::wstring& modulePath) {
    Lines lines;
    for (const RegisteredClass& cls : kRegisteredClasses) {
        for (const ExpectedEntry& entry : ExpectedClassEntries(cls, modulePath)) {
            lines.insert(KeyLine(entry.keyPath));
            if (entry.valueName != nullptr)
                lines.insert(ValueLine(entry.keyPath, entry.valueName, REG_SZ, entry.value));
        }
    }
    return lines;
}

// Compares the two sets and names every difference.
void ExpectSameEntries(const Lines& expected, const Lines& actual) {
    std::string missing;
    std::string extra;
    for (const std::wstring& line : expected) {
        if (actual.count(line) == 0) missing += "  " + Narrow(line) + "\n";
    }
    for (const std::wstring& line : actual) {
        if (expected.count(line) == 0) extra += "  " + Narrow(line) + "\n";
    }
    EXPECT_EQ("", missing) << "entries missing from the registry";
    EXPECT_EQ("", extra) << "entries the registry should not hold";
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

const GUID& LibraryId() {
    static const GUID id = GuidFromText(kTypeLibraryIdText);
    return id;
}

// The identifiers of the dual interfaces the type library declares.
std::vector<std::wstring> DeclaredInterfaces(ITypeLib* library) {
    std::vector<std::wstring> ids;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || kind == TKIND_COCLASS) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info))) continue;
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            wchar_t text[39] = {};
            StringFromGUID2(attributes->guid, text, 39);
            ids.emplace_back(text);
            info->ReleaseTypeAttr(attributes);
        }
        info->Release();
    }
    return ids;
}

std::vector<std::wstring> InterfacesOfTheModuleFile() {
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(ExpectedModulePath().c_str(), REGKIND_NONE, &library))) return {};
    std::vector<std::wstring> ids = DeclaredInterfaces(library);
    library->Release();
    return ids;
}

// --- After registration ------------------------------------------------------

TEST(Registered, EveryClassHasExactlyItsEntries) {
    ExpectSameEntries(ExpectedEntries(ExpectedModulePath()), ActualEntries());
    EXPECT_TRUE(KeyExists(L"CLSID"));
}

TEST(Registered, NamesOnlyTheTypeLibraryDeclaresAreNotRegistered) {
    for (const RegisteredClass& cls : kTypeLibraryOnlyClasses) {
        const std::wstring progId = std::wstring(L"PvtCorrelator.") + cls.name;
        EXPECT_FALSE(KeyExists(progId)) << Narrow(progId);
        EXPECT_FALSE(KeyExists(progId + L".1")) << Narrow(progId);
        EXPECT_FALSE(KeyExists(std::wstring(L"CLSID\\") + cls.clsid)) << Narrow(cls.clsid);
        CLSID clsid = {};
        EXPECT_TRUE(FAILED(CLSIDFromProgID(progId.c_str(), &clsid))) << Narrow(progId);
        IUnknown* object = nullptr;
        EXPECT_EQ(REGDB_E_CLASSNOTREG,
                  CoCreateInstance(GuidFromText(cls.clsid), nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&object)));
        EXPECT_EQ(nullptr, object);
    }
}

TEST(Registered, TheTypeLibraryIsFoundWithItsAttributes) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadRegTypeLib(LibraryId(), 1, 0, 0, &library));
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(LibraryId(), attributes->guid));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(0u, attributes->lcid);
    EXPECT_EQ(SYS_WIN64, attributes->syskind);
    // The platform marks a library loaded from a file as having a disk image.
    EXPECT_EQ(0, attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    library->ReleaseTLibAttr(attributes);
    BSTR name = nullptr;
    BSTR help = nullptr;
    BSTR helpFile = nullptr;
    DWORD context = 1;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &help, &context, &helpFile));
    EXPECT_EQ(L"PVTCORRELATORLib", std::wstring(name ? name : L""));
    EXPECT_EQ(L"PvtCorrelator 1.0 Type Library", std::wstring(help ? help : L""));
    EXPECT_EQ(nullptr, helpFile);
    EXPECT_EQ(0u, context);
    SysFreeString(name);
    SysFreeString(help);
    SysFreeString(helpFile);
    EXPECT_EQ(2 * test::kExpectedTypeLibraryNameCount, library->GetTypeInfoCount());
    const std::vector<std::wstring> interfaces = DeclaredInterfaces(library);
    library->Release();

    BSTR path = nullptr;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(LibraryId(), 1, 0, 0, &path));
    std::wstring registeredPath(path, SysStringLen(path));
    SysFreeString(path);
    while (!registeredPath.empty() && registeredPath.back() == L'\0') registeredPath.pop_back();
    EXPECT_TRUE(SameNameNoCase(ExpectedModulePath(), registeredPath)) << Narrow(registeredPath);

    // Every dual interface is known to the platform for marshalling.
    EXPECT_EQ(test::kExpectedTypeLibraryNameCount, interfaces.size());
    for (const std::wstring& iid : interfaces) {
        EXPECT_TRUE(KeyExists(L"Interface\\" + iid)) << Narrow(iid);
    }
}

// The library's version key is named as the platform's own registration
// names it: after the library's description, read here from the module.
TEST(Registered, TheTypeLibraryVersionKeyCarriesTheLibrarysDescription) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(ExpectedModulePath().c_str(), REGKIND_NONE, &library));
    BSTR description = nullptr;
    const HRESULT hr = library->GetDocumentation(-1, nullptr, &description, nullptr, nullptr);
    library->Release();
    ASSERT_EQ(S_OK, hr);
    const std::wstring expected(description ? description : L"");
    SysFreeString(description);
    wchar_t value[512] = {};
    DWORD size = sizeof(value);
    const std::wstring key = std::wstring(L"TypeLib\\") + kTypeLibraryIdText + L"\\1.0";
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ,
                                          nullptr, value, &size));
    EXPECT_EQ(Narrow(expected), Narrow(value));
}

TEST(Registered, AScriptingClientCreatesAClassByItsProgId) {
    VarHub_Reset();
    const test::HubCounts before;
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"PvtCorrelator.GOR", &clsid));
    EXPECT_TRUE(IsEqualGUID(GuidFromText(L"{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}"), clsid));
    IDispatch* object = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
    EXPECT_LT(before.objects, VarHub_LiveObjects()) << "the correlation made its host objects";
    HMODULE module = GetModuleHandleW(L"PvtCorrelator.dll");
    ASSERT_NE(nullptr, module);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    const auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_FALSE, canUnload());
    object->Release();
    EXPECT_EQ(S_OK, canUnload());
    test::ExpectHubCounts(before, "after the release");
}

// --- After registering a second time ---------------------------------------
// Between the two, the driver added a subkey under the class key of
// BubblePtPressure and one under PvtCorrelator.BubblePtPressure.

TEST(RegisteredAgain, TheEntriesAreTheSameAndOnlyTheClassKeyWasRebuilt) {
    Lines expected = ExpectedEntries(ExpectedModulePath());
    AddForeignSubkey(L"PvtCorrelator.BubblePtPressure", expected);
    ExpectSameEntries(expected, ActualEntries());
    EXPECT_FALSE(KeyExists(std::wstring(kBubbleClassKey) + L"\\" + kAddedSubkey));
}

// --- After unregistration --------------------------------------------------

TEST(Unregistered, NothingOfTheModuleIsLeftButClsidStays) {
    ExpectSameEntries(Lines(), ActualEntries());
    EXPECT_TRUE(KeyExists(L"CLSID"));
    CLSID clsid = {};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"PvtCorrelator.BubblePtPressure", &clsid)));
}

TEST(Unregistered, TheTypeLibraryAndItsInterfacesAreGone) {
    ITypeLib* library = nullptr;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LibraryId(), 1, 0, 0, &library)));
    if (library != nullptr) library->Release();
    EXPECT_FALSE(KeyExists(std::wstring(L"TypeLib\\") + kTypeLibraryIdText));
    const std::vector<std::wstring> interfaces = InterfacesOfTheModuleFile();
    EXPECT_EQ(test::kExpectedTypeLibraryNameCount, interfaces.size());
    for (const std::wstring& iid : interfaces) {
        EXPECT_FALSE(KeyExists(L"Interface\\" + iid)) << Narrow(iid);
    }
}

// --- After unregistering with a foreign subkey under the class key ---------

TEST(ForeignSubkeyKept, TheClassKeyStaysWithOnlyTheForeignSubkey) {
    Lines expected;
    const std::wstring classKey = kBubbleClassKey;
    expected.insert(KeyLine(classKey));
    expected.insert(ValueLine(classKey, L"", REG_SZ, L"BubblePtPressure Class"));
    AddForeignSubkey(classKey, expected);
    ExpectSameEntries(expected, ActualEntries());
}

}  // namespace
}  // namespace pvt::blackbox
