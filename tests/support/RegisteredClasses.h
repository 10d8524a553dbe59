// What registering the module must leave under HKEY_CLASSES_ROOT, from the
// tests' expected class list (names, identifiers spelled as the scripts
// write them, script resource ids), independently of the generated
// catalogue. Shared by the white-box registration tests and the black-box
// checks of the built DLL.
#pragma once

#include "support/ExpectedCatalogue.h"

#include <string>
#include <vector>

namespace pvt::test {

struct RegisteredClass {
    const wchar_t* name;
    const wchar_t* clsid;  // as the script writes it, lower-case letters included
    int scriptId;
};

#define PVT_EXPECTED_REGISTERED(name, classId, script) \
    {PVT_EXPECTED_WIDE(#name), PVT_EXPECTED_WIDE(classId), script},

inline constexpr RegisteredClass kRegisteredClasses[] = {
#define PVT_EXPECTED_CLASS(name, classId, interfaceId, script, display, kind, publication, slot) \
    PVT_EXPECTED_REGISTERED(name, classId, script)
#define PVT_EXPECTED_TYPELIB_NAME(name, classId, interfaceId, script)
#include "support/ExpectedCatalogue.inc"
#undef PVT_EXPECTED_CLASS
#undef PVT_EXPECTED_TYPELIB_NAME
};
inline constexpr std::size_t kRegisteredClassCount =
    sizeof(kRegisteredClasses) / sizeof(kRegisteredClasses[0]);

// Names the type library declares but the module never registers.
inline constexpr RegisteredClass kTypeLibraryOnlyClasses[] = {
#define PVT_EXPECTED_CLASS(name, classId, interfaceId, script, display, kind, publication, slot)
#define PVT_EXPECTED_TYPELIB_NAME(name, classId, interfaceId, script) \
    PVT_EXPECTED_REGISTERED(name, classId, script)
#include "support/ExpectedCatalogue.inc"
#undef PVT_EXPECTED_CLASS
#undef PVT_EXPECTED_TYPELIB_NAME
};

#undef PVT_EXPECTED_REGISTERED

inline constexpr wchar_t kTypeLibraryIdText[] = L"{DEEC13C7-7766-4086-8C1B-434FBF176F1C}";

// One expected registry entry below HKEY_CLASSES_ROOT: a key with no value
// (valueName null) or one string value of a key ("" = the default value).
struct ExpectedEntry {
    std::wstring keyPath;
    const wchar_t* valueName;
    std::wstring value;
};

// Every key and value one registered class has.
inline std::vector<ExpectedEntry> ExpectedClassEntries(const RegisteredClass& cls,
                                                       const std::wstring& modulePath) {
    const std::wstring name = cls.name;
    const std::wstring clsid = cls.clsid;
    const std::wstring progId = L"PvtCorrelator." + name;
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring display = name + L" Class";
    return {
        {progId + L".1", L"", display},
        {progId + L".1\\CLSID", L"", clsid},
        {progId, L"", display},
        {progId + L"\\CLSID", L"", clsid},
        {progId + L"\\CurVer", L"", progId + L".1"},
        {classKey, L"", display},
        {classKey + L"\\ProgID", L"", progId + L".1"},
        {classKey + L"\\VersionIndependentProgID", L"", progId},
        {classKey + L"\\Programmable", nullptr, std::wstring()},
        {classKey + L"\\InprocServer32", L"", modulePath},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\TypeLib", L"", kTypeLibraryIdText},
    };
}

}  // namespace pvt::test
