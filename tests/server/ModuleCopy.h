// A copy of the built PvtCorrelator.dll in a folder of its own beside the
// test executable, changed as a test needs (a path of a given length, a
// resource removed or emptied, the type library file beside it), loaded
// from there and reached through its registration exports. Everything is
// unloaded and deleted again at the end of its scope.
#pragma once

#include "server/LoadedServer.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace pvt::server_test {

class ModuleCopy {
public:
    // The copy's file name is PvtCorrelator.dll; with pathLength, folders
    // are nested below folder until its full path has that many characters.
    explicit ModuleCopy(const std::wstring& folder, std::size_t pathLength = 0) {
        std::wstring path = BesideExecutable(folder.c_str());
        if (!MakeFolder(path)) return;
        const std::wstring fileName = L"\\PvtCorrelator.dll";
        // A file system limits the length of one name, not of the path.
        while (pathLength > path.size() + fileName.size()) {
            const std::size_t remaining = pathLength - path.size() - fileName.size();
            std::size_t part = remaining - 1;
            if (remaining > 101) part = remaining - 101 >= 2 ? 100 : 99;
            if (!MakeFolder(path + L"\\" + std::wstring(part, L'd'))) return;
            path = folders_.back();
        }
        file_ = path + fileName;
        copied_ = CopyFileW(BesideExecutable(L"PvtCorrelator.dll").c_str(), Long(file_).c_str(),
                            FALSE) != FALSE;
    }

    ~ModuleCopy() {
        if (module_ != nullptr) {
            EXPECT_EQ(S_OK, Call("DllCanUnloadNow")) << "the copy's lock count";
            FreeLibrary(module_);
        }
        if (!file_.empty()) DeleteFileW(Long(file_).c_str());
        if (!typeLibrary_.empty()) DeleteFileW(Long(typeLibrary_).c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            RemoveDirectoryW(Long(*it).c_str());
        }
    }
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;

    bool Copied() const { return copied_; }
    const std::wstring& Path() const { return file_; }

    // Puts the build's PvtCorrelator.tlb beside the copy; returns its path.
    std::wstring AddTypeLibraryFile() {
        typeLibrary_ = folders_.back() + L"\\PvtCorrelator.tlb";
        CopyFileW(BesideExecutable(L"PvtCorrelator.tlb").c_str(), Long(typeLibrary_).c_str(),
                  FALSE);
        return typeLibrary_;
    }

    // Removes resource (type, id). (The platform here does not remove a
    // single resource, so the file's resources are written anew without
    // that one.)
    bool RemoveModuleResource(const wchar_t* type, int id) {
        std::vector<Resource> kept;
        if (!ReadResources(type, id, kept)) return false;
        HANDLE update = BeginUpdateResourceW(file_.c_str(), TRUE);
        if (update == nullptr) return false;
        BOOL updated = TRUE;
        for (Resource& r : kept) {
            updated = updated && UpdateResourceW(update, r.type.Get(), r.name.Get(), r.language,
                                                 r.data.data(), static_cast<DWORD>(r.data.size()));
        }
        return EndUpdateResourceW(update, !updated) != FALSE && updated != FALSE;
    }

    // Leaves resource (type, id) in the copy's file with a size of 0 (which
    // the resource functions cannot write): the size in its data entry is
    // overwritten where the file, mapped as data, holds it.
    bool EmptyModuleResource(const wchar_t* type, int id) {
        HMODULE data = LoadLibraryExW(file_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (data == nullptr) return false;
        HRSRC info = FindResourceW(data, MAKEINTRESOURCEW(id), type);
        // The handle of a module mapped as data has its low bits set.
        const auto base = reinterpret_cast<ULONG_PTR>(data) & ~static_cast<ULONG_PTR>(3);
        const ULONG_PTR offset =
            reinterpret_cast<ULONG_PTR>(info) - base + offsetof(IMAGE_RESOURCE_DATA_ENTRY, Size);
        FreeLibrary(data);
        if (info == nullptr) return false;
        HANDLE file = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        const DWORD zero = 0;
        DWORD written = 0;
        const bool done = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
                          WriteFile(file, &zero, sizeof(zero), &written, nullptr) &&
                          written == sizeof(zero);
        CloseHandle(file);
        return done;
    }

    // The size of resource (type, id) in the copy's file, or -1 when the
    // file has no such resource.
    long ResourceSize(const wchar_t* type, int id) const {
        HMODULE data = LoadLibraryExW(file_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (data == nullptr) return -2;
        HRSRC info = FindResourceW(data, MAKEINTRESOURCEW(id), type);
        const long size = info == nullptr ? -1 : static_cast<long>(SizeofResource(data, info));
        FreeLibrary(data);
        return size;
    }

    bool Load() {
        module_ = LoadLibraryW(file_.c_str());
        return module_ != nullptr;
    }

    HRESULT Install(bool install) {
        using Function = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
        const auto function = reinterpret_cast<Function>(Export("DllInstall"));
        return function ? function(install ? TRUE : FALSE, L"user") : E_NOTIMPL;
    }
    HRESULT RegisterServer() { return Call("DllRegisterServer"); }
    HRESULT UnregisterServer() { return Call("DllUnregisterServer"); }

private:
    // A resource's type or name: a number or a string.
    class ResourceId {
    public:
        explicit ResourceId(const wchar_t* id)
            : number_(IS_INTRESOURCE(id) ? reinterpret_cast<ULONG_PTR>(id) : 0),
              text_(IS_INTRESOURCE(id) ? L"" : id) {}
        const wchar_t* Get() const { return number_ ? MAKEINTRESOURCEW(number_) : text_.c_str(); }

    private:
        ULONG_PTR number_;
        std::wstring text_;
    };

    struct Resource {
        ResourceId type;
        ResourceId name;
        WORD language;
        std::vector<char> data;
    };

    struct Reading {
        HMODULE module;
        const wchar_t* skippedType;
        int skippedId;
        std::vector<Resource>* resources;
    };

    static BOOL CALLBACK OnLanguage(HMODULE module, const wchar_t* type, const wchar_t* name,
                                    WORD language, LONG_PTR context) {
        auto& reading = *reinterpret_cast<Reading*>(context);
        const bool skipped =
            !IS_INTRESOURCE(type) && IS_INTRESOURCE(name) &&
            lstrcmpiW(type, reading.skippedType) == 0 &&
            reinterpret_cast<ULONG_PTR>(name) == static_cast<ULONG_PTR>(reading.skippedId);
        if (skipped) return TRUE;
        HRSRC info = FindResourceExW(module, type, name, language);
        HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
        const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        if (bytes == nullptr) return FALSE;
        reading.resources->push_back(
            {ResourceId(type), ResourceId(name), language,
             std::vector<char>(bytes, bytes + SizeofResource(module, info))});
        return TRUE;
    }
    static BOOL CALLBACK OnName(HMODULE module, const wchar_t* type, wchar_t* name,
                                LONG_PTR context) {
        return EnumResourceLanguagesW(module, type, name, &OnLanguage, context);
    }
    static BOOL CALLBACK OnType(HMODULE module, wchar_t* type, LONG_PTR context) {
        return EnumResourceNamesW(module, type, &OnName, context);
    }

    // Every resource of the copy's file but (type, id).
    bool ReadResources(const wchar_t* type, int id, std::vector<Resource>& resources) const {
        HMODULE module = LoadLibraryExW(file_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (module == nullptr) return false;
        Reading reading{module, type, id, &resources};
        const BOOL read = EnumResourceTypesW(module, &OnType, reinterpret_cast<LONG_PTR>(&reading));
        FreeLibrary(module);
        return read != FALSE && !resources.empty();
    }

    // The path in the form that file functions take at any length.
    static std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

    bool MakeFolder(const std::wstring& path) {
        if (!CreateDirectoryW(Long(path).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
        folders_.push_back(path);
        return true;
    }

    void* Export(const char* name) const {
        return module_ ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
    }
    HRESULT Call(const char* name) {
        using Function = HRESULT(STDAPICALLTYPE*)();
        const auto function = reinterpret_cast<Function>(Export(name));
        return function ? function() : E_NOTIMPL;
    }

    std::vector<std::wstring> folders_;
    std::wstring file_;
    std::wstring typeLibrary_;
    HMODULE module_ = nullptr;
    bool copied_ = false;
};

// The current user's classes (HKEY_CURRENT_USER\Software\Classes) as text:
// every key below it with its default value, one per line.
inline std::wstring UserClassesDump(HKEY key = nullptr, const std::wstring& path = L"") {
    HKEY opened = nullptr;
    if (key == nullptr) {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &opened) !=
            ERROR_SUCCESS) {
            return L"";
        }
        key = opened;
    }
    std::wstring text;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::wstring child = path + L"\\" + std::wstring(name, length);
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            text += child + L" (unreadable)\n";
            continue;
        }
        wchar_t value[512] = {};
        DWORD size = sizeof(value) - sizeof(wchar_t);
        const bool hasDefault =
            RegQueryValueExW(sub, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                             &size) == ERROR_SUCCESS;
        text += child + (hasDefault ? L" = " + std::wstring(value) : std::wstring()) + L"\n";
        text += UserClassesDump(sub, child);
        RegCloseKey(sub);
    }
    if (opened != nullptr) RegCloseKey(opened);
    return text;
}

// The default value of a key below the current user's classes, or
// "(missing)".
inline std::wstring UserClassesDefaultValue(const std::wstring& path) {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + path).c_str(), nullptr,
                     RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return L"(missing)";
    }
    return value;
}

}  // namespace pvt::server_test
