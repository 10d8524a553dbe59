// The registry operations the registrar needs, behind a small interface so
// that the same script engine runs on the real registry in the product and
// on an in-memory registry in tests.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace pvt {

// Compares names as the registry does: ordinally, without regard to case.
// Negative, zero or positive like wcscmp.
int CompareNamesNoCase(std::wstring_view a, std::wstring_view b);
inline bool EqualNamesNoCase(std::wstring_view a, std::wstring_view b) {
    return CompareNamesNoCase(a, b) == 0;
}

// What a key is opened for.
enum class KeyAccess { Read, Write, ReadWrite };

// Keys are opaque HKEY handles: the predefined roots (HKEY_CLASSES_ROOT and
// the others) are always valid and never closed; every other handle comes
// from OpenKey or CreateKey and is given back with CloseKey. Failures are
// Win32 error codes, ERROR_SUCCESS on success, as the registry API reports
// them (ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_NO_MORE_ITEMS
// past the last subkey). Names are wide text; an empty value name is the
// key's default value, an empty key name opens the key itself again.
class RegistryAccess {
public:
    virtual ~RegistryAccess() = default;

    virtual LONG OpenKey(HKEY parent, const std::wstring& name, KeyAccess access, HKEY& key) = 0;
    // Opens the key for reading and writing, creating it if it is missing.
    virtual LONG CreateKey(HKEY parent, const std::wstring& name, HKEY& key) = 0;
    virtual LONG SetStringValue(HKEY key, const std::wstring& valueName,
                                const std::wstring& value) = 0;
    virtual LONG DeleteValue(HKEY key, const std::wstring& valueName) = 0;
    // Deletes a subkey that has no subkeys of its own, with its values.
    virtual LONG DeleteKey(HKEY parent, const std::wstring& name) = 0;
    virtual LONG EnumerateSubkey(HKEY key, DWORD index, std::wstring& name) = 0;
    virtual LONG CountSubkeys(HKEY key, DWORD& count) = 0;
    virtual void CloseKey(HKEY key) = 0;
};

// True for the predefined root handles, which are never closed.
bool IsPredefinedKey(HKEY key);

// Closes its key when it goes out of scope; holds nothing, or a root, or a
// handle that must be closed.
class ScopedKey {
public:
    explicit ScopedKey(RegistryAccess& registry, HKEY key = nullptr)
        : registry_(registry), key_(key) {}
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY Get() const { return key_; }
    // Closes what it held and receives a new handle.
    HKEY& Receive() {
        Close();
        return key_;
    }
    void Close() {
        if (key_ != nullptr && !IsPredefinedKey(key_)) registry_.CloseKey(key_);
        key_ = nullptr;
    }

private:
    RegistryAccess& registry_;
    HKEY key_;
};

// Deletes the subkey `name` of `parent` with everything beneath it. It goes
// on past a subkey that cannot be deleted and reports the first failure;
// ERROR_FILE_NOT_FOUND when the key does not exist.
LONG DeleteSubtree(RegistryAccess& registry, HKEY parent, const std::wstring& name);

// The platform's registry, through the wide registry functions. The handle
// HKEY_CLASSES_ROOT stands for classesRoot: the platform's classes root by
// default, or an open key of the caller's (which stays the caller's to
// close), so that scripts written for HKEY_CLASSES_ROOT can write beneath
// another key without remapping the predefined key for the whole process.
class Win32Registry final : public RegistryAccess {
public:
    explicit Win32Registry(HKEY classesRoot = HKEY_CLASSES_ROOT) : classesRoot_(classesRoot) {}

    LONG OpenKey(HKEY parent, const std::wstring& name, KeyAccess access, HKEY& key) override;
    LONG CreateKey(HKEY parent, const std::wstring& name, HKEY& key) override;
    LONG SetStringValue(HKEY key, const std::wstring& valueName,
                        const std::wstring& value) override;
    LONG DeleteValue(HKEY key, const std::wstring& valueName) override;
    LONG DeleteKey(HKEY parent, const std::wstring& name) override;
    LONG EnumerateSubkey(HKEY key, DWORD index, std::wstring& name) override;
    LONG CountSubkeys(HKEY key, DWORD& count) override;
    void CloseKey(HKEY key) override;

private:
    HKEY Resolve(HKEY key) const { return key == HKEY_CLASSES_ROOT ? classesRoot_ : key; }

    HKEY classesRoot_;
};

}  // namespace pvt
