// An in-memory registry behind RegistryAccess: a tree of keys with string
// values under the predefined roots, names compared without regard to case
// as the real registry does. It logs every operation, counts the handles it
// has handed out, can fail operations on demand, and dumps its whole tree.
#pragma once

#include "registration/RegistryAccess.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pvt::test {

// The kinds of operation, for fault injection.
enum class RegistryOp {
    OpenRead,   // OpenKey for reading only
    OpenWrite,  // OpenKey for writing, or for reading and writing
    Create,
    SetValue,
    DeleteValue,
    DeleteKey,
    Enumerate,
    Count,
};

class RegistryDouble final : public RegistryAccess {
public:
    RegistryDouble();
    ~RegistryDouble() override;
    RegistryDouble(const RegistryDouble&) = delete;
    RegistryDouble& operator=(const RegistryDouble&) = delete;

    // RegistryAccess. A key name may be a path with backslashes, like the
    // platform's. A key with subkeys cannot be deleted (ERROR_ACCESS_DENIED);
    // writing through a handle opened for reading only is denied; a handle
    // to a deleted key answers ERROR_KEY_DELETED.
    LONG OpenKey(HKEY parent, const std::wstring& name, KeyAccess access, HKEY& key) override;
    LONG CreateKey(HKEY parent, const std::wstring& name, HKEY& key) override;
    LONG SetStringValue(HKEY key, const std::wstring& valueName,
                        const std::wstring& value) override;
    LONG DeleteValue(HKEY key, const std::wstring& valueName) override;
    LONG DeleteKey(HKEY parent, const std::wstring& name) override;
    LONG EnumerateSubkey(HKEY key, DWORD index, std::wstring& name) override;
    LONG CountSubkeys(HKEY key, DWORD& count) override;
    void CloseKey(HKEY key) override;

    // Set-up and inspection, beside the interface: no log, no faults. Paths
    // are backslash-separated below a root; an empty value name is the
    // default value.
    void AddKey(HKEY root, std::wstring_view path);
    void SetValue(HKEY root, std::wstring_view path, std::wstring_view valueName,
                  std::wstring_view value);
    bool KeyExists(HKEY root, std::wstring_view path) const;
    std::optional<std::wstring> Value(HKEY root, std::wstring_view path,
                                      std::wstring_view valueName) const;
    std::vector<std::wstring> Subkeys(HKEY root, std::wstring_view path) const;

    // The whole tree as UTF-8 text, one key a line ("HKCR\CLSID\{...}") with
    // its values on the lines below it ("  @ = \"...\"", "  \"Name\" =
    // \"...\""), keys in the registry's order, roots without content left
    // out. Two registries hold the same tree when their dumps are equal.
    std::string Dump() const;

    // Fault injection. The n-th operation from now (1 = the next), of any
    // kind, fails with `error` and has no effect.
    void FailNthOperation(long n, LONG error);
    // Operations of the kind fail with `error`: every one (nth = 0) or only
    // the nth one from now; only those on the named key or value when a
    // name is given (the last component of the key name, or the value name;
    // for Enumerate and Count, the name of the key asked).
    void FailOperation(RegistryOp op, LONG error, long nth = 0, std::wstring_view name = {});
    void ClearFaults();

    // Operations since construction or the last ClearLog (CloseKey is not
    // one), as UTF-8 lines such as "create HKCR\CLSID\{...}",
    // "set HKCR\X @", "deletekey HKCR\X", with " -> error N" on failures.
    const std::vector<std::string>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    long OperationCount() const { return operations_; }
    // Handles handed out and not yet closed.
    long OpenHandles() const;

private:
    struct Node;
    struct Handle;
    struct Fault;

    std::shared_ptr<Node> Root(HKEY root) const;
    LONG Resolve(HKEY key, const Handle*& handle) const;
    std::shared_ptr<Node> Find(const std::shared_ptr<Node>& from, std::wstring_view path) const;
    std::shared_ptr<Node> Make(const std::shared_ptr<Node>& from, std::wstring_view path);
    HKEY NewHandle(const std::shared_ptr<Node>& node, bool canRead, bool canWrite);
    // Counts the operation and answers the error of a fault that hits it.
    LONG Check(RegistryOp op, std::wstring_view name);
    LONG Note(std::string what, LONG result);

    std::map<HKEY, std::shared_ptr<Node>> roots_;
    std::map<ULONG_PTR, Handle> handles_;
    ULONG_PTR nextHandle_ = 0x1000;
    std::vector<Fault> faults_;
    long operations_ = 0;
    std::vector<std::string> log_;
};

// Wide text as UTF-8, for messages and dumps.
std::string Utf8(std::wstring_view text);

}  // namespace pvt::test
