#include "com/ModuleResources.h"

// The linker's name for the image's own header, in MSVC and MinGW alike.
extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(bugprone-reserved-identifier)

namespace pvt {

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

HRESULT GetModuleFilePath(HMODULE module, std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    // A path that fills the buffer may have been cut short.
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

std::string_view FindModuleResource(LPCWSTR type, LPCWSTR name) {
    HMODULE module = ThisModule();
    HRSRC info = FindResourceW(module, name, type);
    if (info == nullptr) return {};
    HGLOBAL handle = LoadResource(module, info);
    if (handle == nullptr) return {};
    const void* data = LockResource(handle);
    const DWORD size = SizeofResource(module, info);
    if (data == nullptr || size == 0) return {};
    return std::string_view(static_cast<const char*>(data), size);
}

}  // namespace pvt
