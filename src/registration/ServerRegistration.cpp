#include "registration/ServerRegistration.h"

#include "host/ModuleResources.h"
#include "module/ComModule.h"
#include "registration/Registrar.h"

#include <oleauto.h>

#include <new>
#include <string>

namespace pvt {

namespace {

RegistryAccess* activeRegistry = nullptr;

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The module file mapped as data, for reading its resources.
class DataFile {
public:
    explicit DataFile(const std::wstring& path) {
        handle_ = LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_IMAGE_RESOURCE |
                                     LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE);
        if (handle_ == nullptr) {
            handle_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        }
    }
    ~DataFile() {
        if (handle_ != nullptr) FreeLibrary(handle_);
    }
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;
    HMODULE Handle() const { return handle_; }

private:
    HMODULE handle_ = nullptr;
};

// A copy of the script's bytes; the copy ends where the script does.
HRESULT ReadScript(const std::wstring& modulePath, int resourceId, std::string& script) {
    SetLastError(ERROR_SUCCESS);
    DataFile file(modulePath);
    if (file.Handle() == nullptr) return LastErrorResult();
    HRSRC info = FindResourceW(file.Handle(), MAKEINTRESOURCEW(resourceId), L"REGISTRY");
    if (info == nullptr) return LastErrorResult();
    HGLOBAL loaded = LoadResource(file.Handle(), info);
    const DWORD size = SizeofResource(file.Handle(), info);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data == nullptr || size == 0) return LastErrorResult();
    script.assign(data, size);
    return S_OK;
}

HRESULT RunScript(int resourceId, bool registering) {
    std::wstring modulePath;
    HRESULT hr = GetModuleFilePath(ThisModule(), modulePath);
    if (FAILED(hr)) return hr;
    const Replacements replacements = MakeModuleReplacements(modulePath);
    std::string script;
    hr = ReadScript(modulePath, resourceId, script);
    if (FAILED(hr)) return hr;
    return RunRegistryScript(std::string_view(script), replacements, registering,
                             ActiveRegistry());
}

// The module's type library and the path it was loaded from.
HRESULT LoadModuleTypeLibrary(ITypeLib** library, std::wstring& loadedFrom) {
    *library = nullptr;
    HRESULT hr = GetModuleFilePath(ThisModule(), loadedFrom);
    if (FAILED(hr)) return hr;
    hr = LoadTypeLib(loadedFrom.c_str(), library);
    if (SUCCEEDED(hr) && *library != nullptr) return S_OK;
    // Fall back to the .tlb beside the module.
    const std::size_t slash = loadedFrom.find_last_of(L"\\/:");
    const std::size_t dot = loadedFrom.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
        loadedFrom.erase(dot);
    }
    loadedFrom += L".tlb";
    hr = LoadTypeLib(loadedFrom.c_str(), library);
    if (SUCCEEDED(hr) && *library == nullptr) hr = E_FAIL;
    return hr;
}

// The directory of the library's help file, or empty when it has none.
std::wstring HelpDirectory(ITypeLib* library) {
    BSTR helpFile = nullptr;
    if (FAILED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile)) ||
        helpFile == nullptr) {
        return std::wstring();
    }
    std::wstring directory(helpFile, SysStringLen(helpFile));
    SysFreeString(helpFile);
    const std::size_t end = directory.find_last_of(L"\\/:");
    directory.erase(end == std::wstring::npos ? 0 : end + 1);
    return directory;
}

template <class Body>
HRESULT Guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT RunClassScripts(bool registering) {
    ClassTableEntry* entry = Module().ClassTable();
    for (; entry != nullptr && entry->classId != nullptr; ++entry) {
        const HRESULT hr = entry->registration(registering);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

RegistryAccess& ActiveRegistry() {
    static Win32Registry real;
    return activeRegistry != nullptr ? *activeRegistry : real;
}

void SetActiveRegistry(RegistryAccess* registry) { activeRegistry = registry; }

HRESULT RunClassScript(int resourceId, bool registering) {
    return Guarded([&] { return RunScript(resourceId, registering); });
}

HRESULT RegisterTypeLibrary() {
    return Guarded([] {
        ITypeLib* library = nullptr;
        std::wstring path;
        HRESULT hr = LoadModuleTypeLibrary(&library, path);
        if (FAILED(hr)) return hr;
        std::wstring helpDirectory;
        try {
            helpDirectory = HelpDirectory(library);
        } catch (...) {
            library->Release();
            throw;
        }
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()),
                             helpDirectory.empty() ? nullptr
                                                   : const_cast<LPOLESTR>(helpDirectory.c_str()));
        library->Release();
        return hr;
    });
}

HRESULT UnregisterTypeLibrary() {
    return Guarded([] {
        ITypeLib* library = nullptr;
        std::wstring path;
        HRESULT hr = LoadModuleTypeLibrary(&library, path);
        if (FAILED(hr)) return hr;
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (SUCCEEDED(hr) && attributes != nullptr) {
            const TLIBATTR copy = *attributes;
            library->ReleaseTLibAttr(attributes);
            BSTR registeredPath = nullptr;
            if (FAILED(QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum,
                                             copy.lcid, &registeredPath))) {
                hr = S_OK;  // nothing registered: already as unregistering leaves it
            } else {
                SysFreeString(registeredPath);
                hr = UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum,
                                       copy.lcid, copy.syskind);
            }
        } else if (SUCCEEDED(hr)) {
            hr = E_FAIL;
        }
        library->Release();
        return hr;
    });
}

HRESULT RegisterServer() {
    const HRESULT hr = RunClassScripts(true);
    return FAILED(hr) ? hr : RegisterTypeLibrary();
}

HRESULT UnregisterServer() {
    const HRESULT hr = RunClassScripts(false);
    return FAILED(hr) ? hr : UnregisterTypeLibrary();
}

}  // namespace pvt
