#include "registration/RegistryAccess.h"

#include <vector>

namespace pvt {

int CompareNamesNoCase(std::wstring_view a, std::wstring_view b) {
    // Registry names are far shorter than INT_MAX characters; longer text is
    // compared by its first INT_MAX characters and then by length.
    constexpr std::size_t kMax = 0x7FFFFFFF;
    const int la = static_cast<int>(a.size() < kMax ? a.size() : kMax);
    const int lb = static_cast<int>(b.size() < kMax ? b.size() : kMax);
    const int order = CompareStringOrdinal(a.data(), la, b.data(), lb, TRUE) - CSTR_EQUAL;
    if (order != 0) return order;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool IsPredefinedKey(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
           key == HKEY_USERS || key == HKEY_PERFORMANCE_DATA || key == HKEY_CURRENT_CONFIG ||
           key == HKEY_DYN_DATA || key == HKEY_PERFORMANCE_TEXT || key == HKEY_PERFORMANCE_NLSTEXT;
}

LONG DeleteSubtree(RegistryAccess& registry, HKEY parent, const std::wstring& name) {
    LONG first = ERROR_SUCCESS;
    {
        ScopedKey key(registry);
        LONG result = registry.OpenKey(parent, name, KeyAccess::ReadWrite, key.Receive());
        if (result != ERROR_SUCCESS) return result;

        // Take the names first: deleting while enumerating shifts the indices.
        std::vector<std::wstring> children;
        for (DWORD index = 0;; ++index) {
            std::wstring child;
            result = registry.EnumerateSubkey(key.Get(), index, child);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS) {
                first = result;
                break;
            }
            children.push_back(std::move(child));
        }
        for (const std::wstring& child : children) {
            result = DeleteSubtree(registry, key.Get(), child);
            if (result != ERROR_SUCCESS && first == ERROR_SUCCESS) first = result;
        }
    }
    const LONG result = registry.DeleteKey(parent, name);
    return first != ERROR_SUCCESS ? first : result;
}

namespace {

REGSAM SamFor(KeyAccess access) {
    switch (access) {
        case KeyAccess::Read:
            return KEY_READ;
        case KeyAccess::Write:
            return KEY_WRITE;
        case KeyAccess::ReadWrite:
            break;
    }
    return KEY_READ | KEY_WRITE;
}

const wchar_t* ValueNameOrNull(const std::wstring& valueName) {
    return valueName.empty() ? nullptr : valueName.c_str();
}

}  // namespace

LONG Win32Registry::OpenKey(HKEY parent, const std::wstring& name, KeyAccess access, HKEY& key) {
    key = nullptr;
    return RegOpenKeyExW(Resolve(parent), name.c_str(), 0, SamFor(access), &key);
}

LONG Win32Registry::CreateKey(HKEY parent, const std::wstring& name, HKEY& key) {
    key = nullptr;
    return RegCreateKeyExW(Resolve(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
}

LONG Win32Registry::SetStringValue(HKEY key, const std::wstring& valueName,
                                   const std::wstring& value) {
    // The stored size counts the terminating NUL, as REG_SZ data should.
    const std::size_t bytes = (value.size() + 1) * sizeof(wchar_t);
    if (bytes > MAXDWORD) return ERROR_INVALID_PARAMETER;
    return RegSetValueExW(Resolve(key), ValueNameOrNull(valueName), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(bytes));
}

LONG Win32Registry::DeleteValue(HKEY key, const std::wstring& valueName) {
    return RegDeleteValueW(Resolve(key), ValueNameOrNull(valueName));
}

LONG Win32Registry::DeleteKey(HKEY parent, const std::wstring& name) {
    return RegDeleteKeyW(Resolve(parent), name.c_str());
}

LONG Win32Registry::EnumerateSubkey(HKEY key, DWORD index, std::wstring& name) {
    // Key names have at most 255 characters; grow anyway if the platform
    // asks for more.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG result = RegEnumKeyExW(Resolve(key), index, buffer.data(), &length, nullptr,
                                          nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result == ERROR_SUCCESS) name.assign(buffer.data(), length);
        return result;
    }
}

LONG Win32Registry::CountSubkeys(HKEY key, DWORD& count) {
    count = 0;
    return RegQueryInfoKeyW(Resolve(key), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr);
}

void Win32Registry::CloseKey(HKEY key) {
    if (key != nullptr && !IsPredefinedKey(key)) RegCloseKey(key);
}

}  // namespace pvt
