#include "registration/ServerRegistration.h"

#include "com/ErrorBoundary.h"
#include "com/ModuleResources.h"
#include "com/Text.h"
#include "registration/Registrar.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>

namespace pvt {

using Microsoft::WRL::ComPtr;

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
        handle_ =
            LoadLibraryExW(path.c_str(), nullptr,
                           LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE);
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
    return RunRegistryScript(std::string_view(script), replacements, registering, ActiveRegistry());
}

// The module's type library and the path it was loaded from.
HRESULT LoadModuleTypeLibrary(ComPtr<ITypeLib>& library, std::wstring& loadedFrom) {
    HRESULT hr = GetModuleFilePath(ThisModule(), loadedFrom);
    if (FAILED(hr)) return hr;
    hr = Received(LoadTypeLib(loadedFrom.c_str(), library.ReleaseAndGetAddressOf()), library);
    if (SUCCEEDED(hr) && library) return S_OK;
    // Fall back to the .tlb beside the module.
    const std::size_t slash = loadedFrom.find_last_of(L"\\/:");
    const std::size_t dot = loadedFrom.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
        loadedFrom.erase(dot);
    }
    loadedFrom += L".tlb";
    hr = Received(LoadTypeLib(loadedFrom.c_str(), library.ReleaseAndGetAddressOf()), library);
    if (SUCCEEDED(hr) && !library) hr = E_FAIL;
    return hr;
}

// The directory of the library's help file, or empty when it has none.
std::wstring HelpDirectory(ITypeLib* library) {
    BstrHolder helpFile;
    if (FAILED(
            Received(library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Receive()),
                     helpFile)) ||
        helpFile.Get() == nullptr) {
        return std::wstring();
    }
    std::wstring directory = helpFile.Text();
    const std::size_t end = directory.find_last_of(L"\\/:");
    directory.erase(end == std::wstring::npos ? 0 : end + 1);
    return directory;
}

// Text that stands inside a quoted script token: single quotes doubled.
std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted;
    for (wchar_t c : text) {
        quoted.push_back(c);
        if (c == L'\'') quoted.push_back(c);
    }
    return quoted;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

// Lower-case hexadecimal digits without leading zeros, as the platform
// writes version and locale keys.
std::wstring Hex(unsigned long number) {
    std::wstring text;
    do {
        text.insert(text.begin(), L"0123456789abcdef"[number % 16]);
        number /= 16;
    } while (number != 0);
    return text;
}

// The type library's registry entries as a registry script: the keys that
// the platform's RegisterTypeLib writes for it (the library's version key
// with its path, flags and help folder, and the Interface key of every
// interface that Automation marshals, which is every dual interface here).
// The type library functions of some platforms also write the interfaces
// into the machine's 32-bit view of the classes, whatever HKEY_CLASSES_ROOT
// stands for; a registration beneath a classes root of its own therefore
// writes these keys through the registrar, which writes only beneath it.
HRESULT MakeTypeLibraryScript(ITypeLib* library, const std::wstring& path, std::wstring& script,
                              Replacements& replacements) {
    TLIBATTR* attributes = nullptr;
    HRESULT hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    if (attributes == nullptr) return E_FAIL;
    const TLIBATTR libraryAttributes = *attributes;
    library->ReleaseTLibAttr(attributes);
    const std::wstring libraryId = GuidText(libraryAttributes.guid);
    const std::wstring version =
        Hex(libraryAttributes.wMajorVerNum) + L"." + Hex(libraryAttributes.wMinorVerNum);
    const wchar_t* platform = libraryAttributes.syskind == SYS_WIN64   ? L"win64"
                              : libraryAttributes.syskind == SYS_WIN32 ? L"win32"
                                                                       : L"win16";

    // A name that cannot be read fails the registration rather than
    // registering an empty one.
    BstrHolder documentation;
    hr = Received(library->GetDocumentation(-1, nullptr, documentation.Receive(), nullptr, nullptr),
                  documentation);
    if (FAILED(hr)) return hr;
    const std::wstring libraryText = documentation.Text();
    // Without a help file of its own, the library's help folder is its own.
    std::wstring helpDirectory = HelpDirectory(library);
    if (helpDirectory.empty()) {
        const std::size_t end = path.find_last_of(L"\\/");
        helpDirectory = path.substr(0, end == std::wstring::npos ? 0 : end);
    }
    replacements = MakeModuleReplacements(path);
    replacements.Set(L"HelpDir", Quoted(helpDirectory));

    script =
        L"HKCR\n{\n\tNoRemove TypeLib\n\t{\n\t\t" + libraryId + L"\n\t\t{\n\t\t\t'" + version +
        L"' = s '" + Quoted(libraryText) + L"'\n\t\t\t{\n\t\t\t\t'" + Hex(libraryAttributes.lcid) +
        L"'\n\t\t\t\t{\n\t\t\t\t\t" + platform +
        L" = s '%Module%'\n\t\t\t\t}\n\t\t\t\tFLAGS = s '" +
        std::to_wstring(libraryAttributes.wLibFlags) +
        L"'\n\t\t\t\tHELPDIR = s '%HelpDir%'\n\t\t\t}\n\t\t}\n\t}\n\tNoRemove Interface\n\t{\n";
    const UINT count = library->GetTypeInfoCount();
    for (UINT index = 0; index < count; ++index) {
        ComPtr<ITypeInfo> info;
        hr = Received(library->GetTypeInfo(index, info.ReleaseAndGetAddressOf()), info);
        if (FAILED(hr)) return hr;
        if (!info) return E_FAIL;
        TYPEATTR* typeAttributes = nullptr;
        hr = info->GetTypeAttr(&typeAttributes);
        if (FAILED(hr) || typeAttributes == nullptr) return FAILED(hr) ? hr : E_FAIL;
        const TYPEATTR type = *typeAttributes;
        info->ReleaseTypeAttr(typeAttributes);
        const bool marshalled =
            type.typekind == TKIND_DISPATCH ||
            (type.typekind == TKIND_INTERFACE && (type.wTypeFlags & TYPEFLAG_FOLEAUTOMATION) != 0);
        if (!marshalled) continue;
        BstrHolder name;
        hr = Received(library->GetDocumentation(static_cast<INT>(index), name.Receive(), nullptr,
                                                nullptr, nullptr),
                      name);
        if (FAILED(hr)) return hr;
        // Every type has a name: none means the platform could not allocate
        // it and answered S_OK all the same.
        if (name.Get() == nullptr) return E_OUTOFMEMORY;
        const std::wstring nameText = name.Text();
        // Dual and Automation-compatible interfaces go through the
        // Automation marshaller; pure dispatch interfaces through the
        // dispatch one.
        const wchar_t* marshaller =
            (type.typekind == TKIND_INTERFACE || (type.wTypeFlags & TYPEFLAG_FDUAL) != 0)
                ? L"{00020424-0000-0000-C000-000000000046}"
                : L"{00020420-0000-0000-C000-000000000046}";
        // One expression that reads as the keys it writes; registration runs
        // once, so the temporaries cost nothing that matters.
        // NOLINTBEGIN(performance-inefficient-string-concatenation)
        script += L"\t\t" + GuidText(type.guid) + L" = s '" + Quoted(nameText) +
                  L"'\n\t\t{\n\t\t\tProxyStubClsid = s '" + marshaller +
                  L"'\n\t\t\tProxyStubClsid32 = s '" + marshaller + L"'\n\t\t\tTypeLib = s '" +
                  libraryId + L"'\n\t\t\t{\n\t\t\t\tval Version = s '" + version +
                  L"'\n\t\t\t}\n\t\t}\n";
        // NOLINTEND(performance-inefficient-string-concatenation)
    }
    script += L"\t}\n}\n";
    return S_OK;
}

// Writes or removes the type library's keys through the registrar.
HRESULT RunTypeLibraryScript(bool registering) {
    return ComBoundary([&] {
        ComPtr<ITypeLib> library;
        std::wstring path;
        HRESULT hr = LoadModuleTypeLibrary(library, path);
        if (FAILED(hr)) return hr;
        std::wstring script;
        Replacements replacements;
        hr = MakeTypeLibraryScript(library.Get(), path, script, replacements);
        library.Reset();
        if (FAILED(hr)) return hr;
        return RunRegistryScript(std::wstring_view(script), replacements, registering,
                                 ActiveRegistry());
    });
}

HRESULT RunClassScripts(const ClassTableEntry* classTable, bool registering) {
    for (const ClassTableEntry* entry = classTable; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        const HRESULT hr = entry->registration(registering);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RegisterEverything(const ClassTableEntry* classTable) {
    const HRESULT hr = RunClassScripts(classTable, true);
    return FAILED(hr) ? hr : RegisterTypeLibrary();
}

HRESULT UnregisterEverything(const ClassTableEntry* classTable) {
    const HRESULT hr = RunClassScripts(classTable, false);
    return FAILED(hr) ? hr : UnregisterTypeLibrary();
}

// Removes what a failed registration beneath a classes root of its own may
// have written: every class, going on past one that cannot be removed, and
// the type library's keys.
void TakeBackRegistration(const ClassTableEntry* classTable) {
    for (const ClassTableEntry* entry = classTable; entry != nullptr && entry->classId != nullptr;
         ++entry) {
        entry->registration(false);
    }
    RunTypeLibraryScript(false);
}

// Registering beneath a classes root of its own creates the keys CLSID,
// TypeLib and Interface there when they are missing, and unregistering
// leaves them (the scripts never remove the machine's); beneath such a root
// they are removed again once they have no subkeys left. Runs through the
// registry the scripts write to, beneath the same root.
void RemoveEmptyCommonKeys() {
    RegistryAccess& registry = ActiveRegistry();
    for (const wchar_t* name : {L"CLSID", L"TypeLib", L"Interface"}) {
        DWORD subkeys = 1;
        {
            ScopedKey key(registry);
            if (registry.OpenKey(HKEY_CLASSES_ROOT, name, KeyAccess::Read, key.Receive()) !=
                    ERROR_SUCCESS ||
                registry.CountSubkeys(key.Get(), subkeys) != ERROR_SUCCESS) {
                continue;
            }
        }
        if (subkeys == 0) registry.DeleteKey(HKEY_CLASSES_ROOT, name);
    }
}

// The current user's classes, beneath HKEY_CURRENT_USER.
constexpr wchar_t kUserClassesKey[] = L"Software\\Classes";

// One registration at a time: the classes root that the scripts write
// beneath belongs to the registration under way.
SRWLOCK registrationLock = SRWLOCK_INIT;
RegistryAccess* rootedRegistry = nullptr;

// Brackets one registration. With a classes root of its own, the registry
// the scripts write through takes HKEY_CLASSES_ROOT for that key: nothing
// else in the process, the predefined key included, sees a difference.
class RegistrationScope {
public:
    explicit RegistrationScope(HKEY classesRoot) : registry_(classesRoot) {
        AcquireSRWLockExclusive(&registrationLock);
        if (classesRoot != nullptr) rootedRegistry = &registry_;
    }
    ~RegistrationScope() {
        rootedRegistry = nullptr;
        ReleaseSRWLockExclusive(&registrationLock);
    }
    RegistrationScope(const RegistrationScope&) = delete;
    RegistrationScope& operator=(const RegistrationScope&) = delete;

private:
    Win32Registry registry_;
};

}  // namespace

RegistryAccess& ActiveRegistry() {
    static Win32Registry real;
    if (activeRegistry != nullptr) return *activeRegistry;
    return rootedRegistry != nullptr ? *rootedRegistry : real;
}

void SetActiveRegistry(RegistryAccess* registry) { activeRegistry = registry; }

HRESULT RunClassScript(int resourceId, bool registering) {
    return ComBoundary([&] { return RunScript(resourceId, registering); });
}

HRESULT RegisterTypeLibrary() {
    return ComBoundary([] {
        ComPtr<ITypeLib> library;
        std::wstring path;
        HRESULT hr = LoadModuleTypeLibrary(library, path);
        if (FAILED(hr)) return hr;
        const std::wstring helpDirectory = HelpDirectory(library.Get());
        return RegisterTypeLib(
            library.Get(), const_cast<LPOLESTR>(path.c_str()),
            helpDirectory.empty() ? nullptr : const_cast<LPOLESTR>(helpDirectory.c_str()));
    });
}

HRESULT UnregisterTypeLibrary() {
    return ComBoundary([] {
        ComPtr<ITypeLib> library;
        std::wstring path;
        HRESULT hr = LoadModuleTypeLibrary(library, path);
        if (FAILED(hr)) return hr;
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (FAILED(hr)) return hr;
        if (attributes == nullptr) return E_FAIL;
        const TLIBATTR copy = *attributes;
        library->ReleaseTLibAttr(attributes);
        BstrHolder registeredPath;
        if (FAILED(Received(QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum,
                                                  copy.lcid, registeredPath.Receive()),
                            registeredPath))) {
            return S_OK;  // nothing registered: already as unregistering leaves it
        }
        return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                                 copy.syskind);
    });
}

HRESULT RegisterServer(const ClassTableEntry* classTable, HKEY classesRoot) {
    const RegistrationScope scope(classesRoot);
    if (classesRoot == nullptr) return RegisterEverything(classTable);
    HRESULT hr = RunClassScripts(classTable, true);
    if (SUCCEEDED(hr)) hr = RunTypeLibraryScript(true);
    // Take back what the classes before the failing one (or all of them,
    // when the type library failed) wrote; the failure is what counts.
    if (FAILED(hr)) {
        TakeBackRegistration(classTable);
        RemoveEmptyCommonKeys();
    }
    return hr;
}

HRESULT UnregisterServer(const ClassTableEntry* classTable, HKEY classesRoot) {
    const RegistrationScope scope(classesRoot);
    if (classesRoot == nullptr) return UnregisterEverything(classTable);
    HRESULT hr = RunClassScripts(classTable, false);
    if (SUCCEEDED(hr)) hr = RunTypeLibraryScript(false);
    RemoveEmptyCommonKeys();
    return hr;
}

HRESULT InstallServer(const ClassTableEntry* classTable, bool install, const wchar_t* commandText) {
    return ComBoundary([&] {
        if (commandText == nullptr ||
            CompareStringOrdinal(commandText, -1, L"user", -1, TRUE) != CSTR_EQUAL) {
            return E_INVALIDARG;
        }
        HKEY userClasses = nullptr;
        LONG result;
        if (install) {
            result = RegCreateKeyExW(HKEY_CURRENT_USER, kUserClassesKey, 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &userClasses,
                                     nullptr);
        } else {
            result =
                RegOpenKeyExW(HKEY_CURRENT_USER, kUserClassesKey, 0, KEY_ALL_ACCESS, &userClasses);
            // Without the user's classes key there is nothing to remove.
            if (result == ERROR_FILE_NOT_FOUND) return S_OK;
        }
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        const HRESULT hr = install ? RegisterServer(classTable, userClasses)
                                   : UnregisterServer(classTable, userClasses);
        RegCloseKey(userClasses);
        return hr;
    });
}

}  // namespace pvt
