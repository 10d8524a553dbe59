// Helpers of the black-box checks, which see the built PvtCorrelator.dll
// only from outside: its file, its exports, COM and the registry.
#pragma once

#include "support/ExecutablePath.h"

#include <windows.h>

#include <string>

namespace pvt::blackbox {

using test::ExecutableDirectory;

// The module file that was registered: PVT_EXPECTED_MODULE when the driver
// sets it, else the DLL beside this executable.
inline std::wstring ExpectedModulePath() {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"PVT_EXPECTED_MODULE", buffer, 1024);
    if (length > 0 && length < 1024) return std::wstring(buffer, length);
    return ExecutableDirectory() + L"PvtCorrelator.dll";
}

inline bool SameNameNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

inline std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

inline GUID GuidFromText(const wchar_t* text) {
    GUID guid = {};
    CLSIDFromString(const_cast<LPOLESTR>(text), &guid);
    return guid;
}

}  // namespace pvt::blackbox
