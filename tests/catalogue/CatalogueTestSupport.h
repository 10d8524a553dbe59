// Small helpers shared by the catalogue, script and type library tests.
#pragma once

#include "support/ExecutablePath.h"

#include <windows.h>

#include <string>

namespace pvt::test {

// The registry form of an identifier, upper case, as the platform writes it.
inline std::string GuidText(REFGUID guid) {
    wchar_t wide[39] = {};
    if (StringFromGUID2(guid, wide, 39) != 39) return std::string();
    return std::string(wide, wide + 38);  // the characters are all ASCII
}

inline std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The bytes of a resource of the running executable; empty if it has none.
inline std::string OwnResource(const wchar_t* type, int id) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!found) return std::string();
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return std::string();
    return std::string(static_cast<const char*>(bytes), SizeofResource(nullptr, found));
}

}  // namespace pvt::test
