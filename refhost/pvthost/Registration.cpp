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

// Loads the module, calls one of its registration entry points, unloads it:
// DllRegisterServer or DllUnregisterServer machine-wide, DllInstall with the
// command text "user" for the current user.
void CallModuleEntry(const std::wstring& modulePath, Scope scope, bool registering) {
    const char* entryName = scope == Scope::User ? "DllInstall"
                            : registering        ? "DllRegisterServer"
                                                 : "DllUnregisterServer";
    const std::wstring path = FullPath(modulePath);
    const std::string shown = Utf8(path);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        throw CommandError(kExitRegistration,
                           "cannot load module \"" + shown +
                               "\": " + DescribeHresult(HRESULT_FROM_WIN32(GetLastError())));
    }
    FARPROC address = GetProcAddress(module, entryName);
    if (address == nullptr) {
        FreeLibrary(module);
        throw CommandError(kExitRegistration,
                           "module \"" + shown + "\" does not export " + entryName);
    }
    HRESULT hr;
    if (scope == Scope::User) {
        using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
        hr = reinterpret_cast<Install>(reinterpret_cast<void*>(address))(registering, L"user");
    } else {
        using Entry = HRESULT(STDAPICALLTYPE*)();
        hr = reinterpret_cast<Entry>(reinterpret_cast<void*>(address))();
    }
    FreeLibrary(module);
    if (FAILED(hr)) {
        throw CommandError(kExitRegistration,
                           std::string(entryName) + (scope == Scope::User ? "(\"user\")" : "") +
                               " of \"" + shown + "\" failed: " + DescribeHresult(hr));
    }
}

// For the current user, HKEY_CLASSES_ROOT stands for the user's own classes
// key while the type library is looked up, as it does in the module's
// DllInstall.
class ClassesRootFor {
public:
    explicit ClassesRootFor(Scope scope) {
        if (scope != Scope::User) return;
        LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                      &userClasses_, nullptr);
        if (result == ERROR_SUCCESS) {
            result = RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses_);
            if (result != ERROR_SUCCESS) RegCloseKey(userClasses_);
        }
        if (result != ERROR_SUCCESS) {
            userClasses_ = nullptr;
            throw CommandError(kExitRegistration, "cannot open the current user's classes key: " +
                                                      DescribeHresult(HRESULT_FROM_WIN32(result)));
        }
    }
    ~ClassesRootFor() {
        if (userClasses_ == nullptr) return;
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegCloseKey(userClasses_);
    }
    ClassesRootFor(const ClassesRootFor&) = delete;
    ClassesRootFor& operator=(const ClassesRootFor&) = delete;

private:
    HKEY userClasses_ = nullptr;
};

const char* ScopeSuffix(Scope scope) { return scope == Scope::User ? " for the current user" : ""; }

ITypeLib* LoadTypeLibraryFile(const std::wstring& path) {
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr) || library == nullptr) {
        throw CommandError(kExitRegistration, "cannot load type library \"" + Utf8(path) +
                                                  "\": " + DescribeHresult(hr));
    }
    return library;
}

// --- A type library for the current user ----------------------------------
// The platform's type library functions may also write and delete the
// interfaces' keys in the machine's 32-bit view of the classes, whatever
// HKEY_CLASSES_ROOT stands for; for the current user, the keys that
// RegisterTypeLib would write go straight beneath the user's classes key.

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring Hex(unsigned long number) {
    std::wstring text;
    do {
        text.insert(text.begin(), L"0123456789abcdef"[number % 16]);
        number /= 16;
    } while (number != 0);
    return text;
}

constexpr wchar_t kUserClasses[] = L"Software\\Classes\\";

void SetUserKey(const std::wstring& path, const std::wstring& value,
                const wchar_t* valueName = nullptr) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, (kUserClasses + path).c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        result =
            RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
        throw CommandError(kExitRegistration, "cannot write HKEY_CURRENT_USER\\" +
                                                  Utf8(kUserClasses + path) + ": " +
                                                  DescribeHresult(HRESULT_FROM_WIN32(result)));
    }
}

bool UserKeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (kUserClasses + path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Deletes a key beneath the user's classes with its subtree; a missing key
// is already deleted.
void DeleteUserTree(const std::wstring& path) {
    const LONG result = RegDeleteTreeW(HKEY_CURRENT_USER, (kUserClasses + path).c_str());
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return;
    throw CommandError(kExitRegistration, "cannot delete HKEY_CURRENT_USER\\" +
                                              Utf8(kUserClasses + path) + ": " +
                                              DescribeHresult(HRESULT_FROM_WIN32(result)));
}

// Deletes a key beneath the user's classes that holds no subkey and no value.
void DeleteUserKeyIfEmpty(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (kUserClasses + path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    const LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                         &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && subkeys == 0 && values == 0) {
        RegDeleteKeyW(HKEY_CURRENT_USER, (kUserClasses + path).c_str());
    }
}

struct LibraryIdentity {
    TLIBATTR attributes;
    std::wstring libraryKey;  // TypeLib\{guid}
    std::wstring versionKey;  // TypeLib\{guid}\major.minor
    struct Interface {
        GUID id;
        std::wstring name;
        const wchar_t* marshaller;  // the Automation one, or the dispatch one
    };
    std::vector<Interface> interfaces;  // those that Automation marshals
};

// The library's identity and the interfaces that Automation marshals.
LibraryIdentity IdentifyLibrary(ITypeLib* library) {
    LibraryIdentity identity{};
    TLIBATTR* attributes = nullptr;
    HRESULT hr = library->GetLibAttr(&attributes);
    if (FAILED(hr) || attributes == nullptr) {
        throw CommandError(kExitRegistration,
                           "cannot read the type library: " + DescribeHresult(hr));
    }
    identity.attributes = *attributes;
    library->ReleaseTLibAttr(attributes);
    identity.libraryKey = L"TypeLib\\" + GuidText(identity.attributes.guid);
    identity.versionKey = identity.libraryKey + L"\\" + Hex(identity.attributes.wMajorVerNum) +
                          L"." + Hex(identity.attributes.wMinorVerNum);
    for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(index, &info))) continue;
        TYPEATTR* type = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&type))) {
            if (type->typekind == TKIND_DISPATCH ||
                (type->typekind == TKIND_INTERFACE &&
                 (type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) != 0)) {
                BSTR name = nullptr;
                library->GetDocumentation(static_cast<INT>(index), &name, nullptr, nullptr,
                                          nullptr);
                const bool automation =
                    type->typekind == TKIND_INTERFACE || (type->wTypeFlags & TYPEFLAG_FDUAL) != 0;
                identity.interfaces.push_back(
                    {type->guid, name ? std::wstring(name, SysStringLen(name)) : std::wstring(),
                     automation ? L"{00020424-0000-0000-C000-000000000046}"
                                : L"{00020420-0000-0000-C000-000000000046}"});
                SysFreeString(name);
            }
            info->ReleaseTypeAttr(type);
        }
        info->Release();
    }
    return identity;
}

void WriteUserTypeLibrary(ITypeLib* library, const std::wstring& path) {
    const LibraryIdentity identity = IdentifyLibrary(library);
    BSTR text = nullptr;
    library->GetDocumentation(-1, nullptr, &text, nullptr, nullptr);
    const std::wstring libraryText = text ? std::wstring(text, SysStringLen(text)) : L"";
    SysFreeString(text);
    const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
    const std::wstring libraryId = GuidText(identity.attributes.guid);
    const std::wstring version =
        Hex(identity.attributes.wMajorVerNum) + L"." + Hex(identity.attributes.wMinorVerNum);
    const wchar_t* platform = identity.attributes.syskind == SYS_WIN64 ? L"\\win64" : L"\\win32";
    SetUserKey(identity.versionKey, libraryText);
    SetUserKey(identity.versionKey + L"\\" + Hex(identity.attributes.lcid) + platform, path);
    SetUserKey(identity.versionKey + L"\\FLAGS", std::to_wstring(identity.attributes.wLibFlags));
    SetUserKey(identity.versionKey + L"\\HELPDIR", folder);
    for (const auto& entry : identity.interfaces) {
        const std::wstring key = L"Interface\\" + GuidText(entry.id);
        SetUserKey(key, entry.name);
        SetUserKey(key + L"\\ProxyStubClsid", entry.marshaller);
        SetUserKey(key + L"\\ProxyStubClsid32", entry.marshaller);
        SetUserKey(key + L"\\TypeLib", libraryId);
        SetUserKey(key + L"\\TypeLib", version, L"Version");
    }
}

// False when the library's version is not registered for the user.
bool RemoveUserTypeLibrary(ITypeLib* library) {
    const LibraryIdentity identity = IdentifyLibrary(library);
    if (!UserKeyExists(identity.versionKey)) return false;
    for (const auto& entry : identity.interfaces) {
        DeleteUserTree(L"Interface\\" + GuidText(entry.id));
    }
    DeleteUserTree(identity.versionKey);
    DeleteUserKeyIfEmpty(identity.libraryKey);
    DeleteUserKeyIfEmpty(L"TypeLib");
    DeleteUserKeyIfEmpty(L"Interface");
    return true;
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

void RegisterModule(const std::wstring& modulePath, Scope scope) {
    CallModuleEntry(modulePath, scope, true);
    std::printf("Registered module %s%s\n", Utf8(FullPath(modulePath)).c_str(), ScopeSuffix(scope));
}

void UnregisterModule(const std::wstring& modulePath, Scope scope) {
    // Unregistering what is not registered succeeds; say which case it was.
    bool wasRegistered;
    {
        ClassesRootFor root(scope);
        wasRegistered = ModuleTypeLibraryRegistered();
    }
    CallModuleEntry(modulePath, scope, false);
    std::printf(wasRegistered ? "Unregistered module %s%s\n" : "Module %s was not registered%s\n",
                Utf8(FullPath(modulePath)).c_str(), ScopeSuffix(scope));
}

void RegisterHostTypeLibrary(const std::wstring& typeLibraryPath, Scope scope) {
    const std::wstring path = FullPath(typeLibraryPath);
    ITypeLib* library = LoadTypeLibraryFile(path);
    std::vector<wchar_t> writablePath(path.begin(), path.end());
    writablePath.push_back(L'\0');
    HRESULT hr = S_OK;
    try {
        if (scope == Scope::User) {
            WriteUserTypeLibrary(library, path);
        } else {
            hr = RegisterTypeLib(library, writablePath.data(), nullptr);
        }
    } catch (...) {
        library->Release();
        throw;
    }
    library->Release();
    if (FAILED(hr)) {
        throw CommandError(kExitRegistration, "cannot register type library \"" + Utf8(path) +
                                                  "\": " + DescribeHresult(hr));
    }
    std::printf("Registered type library %s%s\n", Utf8(path).c_str(), ScopeSuffix(scope));
}

void UnregisterHostTypeLibrary(const std::wstring& typeLibraryPath, Scope scope) {
    const std::wstring path = FullPath(typeLibraryPath);
    ITypeLib* library = LoadTypeLibraryFile(path);
    if (scope == Scope::User) {
        bool removed;
        try {
            removed = RemoveUserTypeLibrary(library);
        } catch (...) {
            library->Release();
            throw;
        }
        library->Release();
        std::printf(
            removed ? "Unregistered type library %s%s\n" : "Type library %s was not registered%s\n",
            Utf8(path).c_str(), ScopeSuffix(scope));
        return;
    }
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
    if (FAILED(QueryPathOfRegTypeLib(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum,
                                     identity.lcid, &registeredPath))) {
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
