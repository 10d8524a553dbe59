#include "host/ModuleResources.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace pvt {

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

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
