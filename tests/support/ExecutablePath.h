// Files beside the running test executable.
#pragma once

#include <windows.h>

#include <string>

namespace pvt::test {

// The executable's folder, with a trailing backslash.
inline std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

inline std::wstring BesideExecutable(const wchar_t* file) { return ExecutableDirectory() + file; }

}  // namespace pvt::test
