#include "Registration.h"

#include "Diagnostics.h"
#include "PvtCorrelator.h"

#include <oleauto.h>

#include <cstdio>
#include <vector>

namespace pvthost {

namespace {

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
    if (length == 0 || length >= size) return path;
    return std::wstring(buffer.data(), length);
}

std::wstring ExecutableFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return L".";
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            const auto slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? L"." : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Loads the module, calls one of its registration entry points, unloads it.
void CallModuleEntry(const std::wstring& modulePath, const char* entryName) {
    const std::wstring path = FullPath(modulePath);
    const std::string shown = Utf8(path);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        throw CommandError(kExitRegistration,
                           "cannot load module \"" + shown + "\": " +
                               DescribeHresult(HRESULT_FROM_WIN32(GetLastError())));
    }
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, entryName)));
    if (entry == nullptr) {
        FreeLibrary(module);
        throw CommandError(kExitRegistration,
                           "module \"" + shown + "\" does not export " + entryName);
    }
    const HRESULT hr = entry();
    FreeLibrary(module);
    if (FAILED(hr)) {
        throw CommandError(kExitRegistration, std::string(entryName) + " of \"" + shown +
                                                  "\" failed: " + DescribeHresult(hr));
    }
}

ITypeLib* LoadTypeLibraryFile(const std::wstring& path) {
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr) || library == nullptr) {
        throw CommandError(kExitRegistration, "cannot load type library \"" + Utf8(path) +
                                                  "\": " + DescribeHresult(hr));
    }
    return library;
}

bool ModuleTypeLibraryRegistered() {
    BSTR path = nullptr;
    const HRESULT hr = QueryPathOfRegTypeLib(LIBID_PVTCORRELATORLib, 1, 0, LOCALE_NEUTRAL, &path);
    SysFreeString(path);
    return SUCCEEDED(hr);
}

}  // namespace

std::wstring DefaultModulePath() {
    return FullPath(ExecutableFolder() + L"\\..\\bin\\PvtCorrelator.dll");
}

std::wstring DefaultHostTypeLibraryPath() {
    return FullPath(ExecutableFolder() + L"\\..\\bin\\HostCorrelation.tlb");
}

void RegisterModule(const std::wstring& modulePath) {
    CallModuleEntry(modulePath, "DllRegisterServer");
    std::printf("Registered module %s\n", Utf8(FullPath(modulePath)).c_str());
}

void UnregisterModule(const std::wstring& modulePath) {
    // Unregistering what is not registered succeeds; say which case it was.
    const bool wasRegistered = ModuleTypeLibraryRegistered();
    CallModuleEntry(modulePath, "DllUnregisterServer");
    std::printf(wasRegistered ? "Unregistered module %s\n" : "Module %s was not registered\n",
                Utf8(FullPath(modulePath)).c_str());
}

void RegisterHostTypeLibrary(const std::wstring& typeLibraryPath) {
    const std::wstring path = FullPath(typeLibraryPath);
    ITypeLib* library = LoadTypeLibraryFile(path);
    std::vector<wchar_t> writablePath(path.begin(), path.end());
    writablePath.push_back(L'\0');
    const HRESULT hr = RegisterTypeLib(library, writablePath.data(), nullptr);
    library->Release();
    if (FAILED(hr)) {
        throw CommandError(kExitRegistration, "cannot register type library \"" + Utf8(path) +
                                                  "\": " + DescribeHresult(hr));
    }
    std::printf("Registered type library %s\n", Utf8(path).c_str());
}

void UnregisterHostTypeLibrary(const std::wstring& typeLibraryPath) {
    const std::wstring path = FullPath(typeLibraryPath);
    ITypeLib* library = LoadTypeLibraryFile(path);
    TLIBATTR* attributes = nullptr;
    HRESULT hr = library->GetLibAttr(&attributes);
    if (FAILED(hr) || attributes == nullptr) {
        library->Release();
        throw CommandError(kExitRegistration, "cannot read type library \"" + Utf8(path) +
                                                  "\": " + DescribeHresult(hr));
    }
    const TLIBATTR identity = *attributes;
    library->ReleaseTLibAttr(attributes);
    library->Release();

    // Unregistering what is not registered is not an error: the goal is met.
    BSTR registeredPath = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(identity.guid, identity.wMajorVerNum,
                                     identity.wMinorVerNum, identity.lcid, &registeredPath))) {
        std::printf("Type library %s was not registered\n", Utf8(path).c_str());
        return;
    }
    SysFreeString(registeredPath);
    hr = UnRegisterTypeLib(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum,
                           identity.lcid, identity.syskind);
    if (FAILED(hr)) {
        throw CommandError(kExitRegistration, "cannot unregister type library \"" + Utf8(path) +
                                                  "\": " + DescribeHresult(hr));
    }
    std::printf("Unregistered type library %s\n", Utf8(path).c_str());
}

}  // namespace pvthost
