// The tests' one expected list of the module's classes (ExpectedCatalogue.inc)
// as C++ arrays. Every test that compares classes, counts them or picks one
// takes it from here, never from the generated catalogue it checks.
#pragma once

#include <cstddef>
#include <iterator>
#include <stdexcept>
#include <string>

namespace pvt::test {

// The wide form of a string literal, for the rows' wide fields.
#define PVT_EXPECTED_WIDE_(text) L##text
#define PVT_EXPECTED_WIDE(text) PVT_EXPECTED_WIDE_(text)

// How a class turns the property block into its published values.
enum class ExpectedPublication { Common, MassFlowRate, VolFlowRate, Viscosity };

// A name of the type library: a class, or a name that only the library declares.
struct ExpectedName {
    const char* name;
    const wchar_t* wideName;
    const char* classId;  // as the registry script writes it, lower-case letters included
    const wchar_t* wideClassId;
    const char* interfaceId;
    const wchar_t* wideInterfaceId;
    int scriptId;  // its "REGISTRY" resource
};

struct ExpectedClass : ExpectedName {
    const char* displayName;
    const wchar_t* wideDisplayName;
    long kindCode;
    ExpectedPublication publication;
    int slot;  // the property slot of a common publication; -1 for a derived one
};

// A text as the narrow field, then its wide twin.
#define PVT_EXPECTED_BOTH(text) text, PVT_EXPECTED_WIDE(text)
#define PVT_EXPECTED_NAME_FIELDS(name, classId, interfaceId, script) \
    PVT_EXPECTED_BOTH(#name), PVT_EXPECTED_BOTH(classId), PVT_EXPECTED_BOTH(interfaceId), script

// In class-table order.
inline constexpr ExpectedClass kExpectedClasses[] = {
#define PVT_EXPECTED_CLASS(name, classId, interfaceId, script, display, kind, publication, slot) \
    {{PVT_EXPECTED_NAME_FIELDS(name, classId, interfaceId, script)},                             \
     PVT_EXPECTED_BOTH(display),                                                                 \
     kind,                                                                                       \
     ExpectedPublication::publication,                                                           \
     slot},
#define PVT_EXPECTED_TYPELIB_NAME(name, classId, interfaceId, script)
#include "support/ExpectedCatalogue.inc"
#undef PVT_EXPECTED_CLASS
#undef PVT_EXPECTED_TYPELIB_NAME
};

// After the classes in the type library; never registered.
inline constexpr ExpectedName kExpectedTypeLibraryOnlyNames[] = {
#define PVT_EXPECTED_CLASS(name, classId, interfaceId, script, display, kind, publication, slot)
#define PVT_EXPECTED_TYPELIB_NAME(name, classId, interfaceId, script) \
    {PVT_EXPECTED_NAME_FIELDS(name, classId, interfaceId, script)},
#include "support/ExpectedCatalogue.inc"
#undef PVT_EXPECTED_CLASS
#undef PVT_EXPECTED_TYPELIB_NAME
};

#undef PVT_EXPECTED_NAME_FIELDS
#undef PVT_EXPECTED_BOTH

inline constexpr std::size_t kExpectedClassCount = std::size(kExpectedClasses);
inline constexpr std::size_t kExpectedTypeLibraryOnlyCount =
    std::size(kExpectedTypeLibraryOnlyNames);
// Every name of the type library: a coclass and its dual interface each.
inline constexpr std::size_t kExpectedTypeLibraryNameCount =
    kExpectedClassCount + kExpectedTypeLibraryOnlyCount;

// The class of that catalogue name; a test that names a missing class fails.
inline const ExpectedClass& ExpectedClassNamed(const std::string& name) {
    for (const ExpectedClass& expected : kExpectedClasses) {
        if (name == expected.name) return expected;
    }
    throw std::out_of_range("no expected class " + name);
}

// An identifier as the platform writes it: upper case.
template <typename Char>
std::basic_string<Char> UpperCaseIdentifier(const Char* text) {
    std::basic_string<Char> upper(text);
    for (Char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<Char>(c - 'a' + 'A');
    }
    return upper;
}

}  // namespace pvt::test
