#include "doubles/RegistryDouble.h"

namespace pvt::test {

namespace {

struct NameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareNamesNoCase(a, b) < 0;
    }
};

std::vector<std::wstring_view> SplitPath(std::wstring_view path) {
    std::vector<std::wstring_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find(L'\\');
        const std::wstring_view part = path.substr(0, slash);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::wstring_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

std::wstring_view LastComponent(std::wstring_view path) {
    const std::vector<std::wstring_view> parts = SplitPath(path);
    return parts.empty() ? std::wstring_view() : parts.back();
}

const char* OpName(RegistryOp op) {
    switch (op) {
        case RegistryOp::OpenRead:
            return "open-read";
        case RegistryOp::OpenWrite:
            return "open-write";
        case RegistryOp::Create:
            return "create";
        case RegistryOp::SetValue:
            return "set";
        case RegistryOp::DeleteValue:
            return "deletevalue";
        case RegistryOp::DeleteKey:
            return "deletekey";
        case RegistryOp::Enumerate:
            return "enum";
        case RegistryOp::Count:
            return "count";
    }
    return "?";
}

}  // namespace

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &result[0], length, nullptr, nullptr);
    return result;
}

struct RegistryDouble::Node {
    std::wstring name;
    Node* parent = nullptr;
    bool deleted = false;
    std::map<std::wstring, std::shared_ptr<Node>, NameLess> children;
    std::map<std::wstring, std::wstring, NameLess> values;

    std::wstring Path() const { return parent == nullptr ? name : parent->Path() + L"\\" + name; }
};

namespace {

// Stores a value whole or not at all: the copy is made before the map changes.
template <class NodeT>
void StoreValue(NodeT& node, std::wstring_view name, std::wstring_view value) {
    std::wstring copy(value);
    const auto found = node.values.find(std::wstring(name));
    if (found != node.values.end()) {
        found->second.swap(copy);
    } else {
        node.values.emplace(std::wstring(name), std::move(copy));
    }
}

}  // namespace

struct RegistryDouble::Handle {
    std::shared_ptr<Node> node;
    bool canRead = true;
    bool canWrite = true;
    bool root = false;
};

struct RegistryDouble::Fault {
    bool anyKind = false;
    RegistryOp op = RegistryOp::OpenRead;
    LONG error = ERROR_SUCCESS;
    long countdown = 0;  // 0: every matching operation
    std::wstring name;
};

RegistryDouble::RegistryDouble() {
    const std::pair<HKEY, const wchar_t*> roots[] = {
        {HKEY_CLASSES_ROOT, L"HKCR"},     {HKEY_CURRENT_USER, L"HKCU"},
        {HKEY_LOCAL_MACHINE, L"HKLM"},    {HKEY_USERS, L"HKU"},
        {HKEY_PERFORMANCE_DATA, L"HKPD"}, {HKEY_DYN_DATA, L"HKDD"},
        {HKEY_CURRENT_CONFIG, L"HKCC"},
    };
    for (const auto& root : roots) {
        auto node = std::make_shared<Node>();
        node->name = root.second;
        roots_[root.first] = node;
        Handle handle;
        handle.node = node;
        handle.root = true;
        handles_[reinterpret_cast<ULONG_PTR>(root.first)] = handle;
    }
}

RegistryDouble::~RegistryDouble() = default;

std::shared_ptr<RegistryDouble::Node> RegistryDouble::Root(HKEY root) const {
    const auto found = roots_.find(root);
    return found == roots_.end() ? nullptr : found->second;
}

LONG RegistryDouble::Resolve(HKEY key, const Handle*& handle) const {
    const auto found = handles_.find(reinterpret_cast<ULONG_PTR>(key));
    if (found == handles_.end()) return ERROR_INVALID_HANDLE;
    handle = &found->second;
    return handle->node->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

std::shared_ptr<RegistryDouble::Node> RegistryDouble::Find(const std::shared_ptr<Node>& from,
                                                           std::wstring_view path) const {
    std::shared_ptr<Node> node = from;
    for (std::wstring_view part : SplitPath(path)) {
        const auto found = node->children.find(std::wstring(part));
        if (found == node->children.end()) return nullptr;
        node = found->second;
    }
    return node;
}

std::shared_ptr<RegistryDouble::Node> RegistryDouble::Make(const std::shared_ptr<Node>& from,
                                                           std::wstring_view path) {
    std::shared_ptr<Node> node = from;
    for (std::wstring_view part : SplitPath(path)) {
        // Made whole before it is linked in, so that running out of memory
        // leaves no half-made key behind.
        auto found = node->children.find(std::wstring(part));
        if (found == node->children.end()) {
            auto child = std::make_shared<Node>();
            child->name = std::wstring(part);
            child->parent = node.get();
            found = node->children.emplace(child->name, child).first;
        }
        node = found->second;
    }
    return node;
}

HKEY RegistryDouble::NewHandle(const std::shared_ptr<Node>& node, bool canRead, bool canWrite) {
    const ULONG_PTR id = nextHandle_;
    nextHandle_ += 4;
    Handle handle;
    handle.node = node;
    handle.canRead = canRead;
    handle.canWrite = canWrite;
    handles_[id] = handle;
    return reinterpret_cast<HKEY>(id);
}

LONG RegistryDouble::Check(RegistryOp op, std::wstring_view name) {
    ++operations_;
    LONG error = ERROR_SUCCESS;
    for (auto fault = faults_.begin(); fault != faults_.end();) {
        const bool matches = (fault->anyKind || fault->op == op) &&
                             (fault->name.empty() || EqualNamesNoCase(fault->name, name));
        bool spent = false;
        if (matches) {
            if (fault->countdown == 0) {
                if (error == ERROR_SUCCESS) error = fault->error;
            } else if (--fault->countdown == 0) {
                if (error == ERROR_SUCCESS) error = fault->error;
                spent = true;
            }
        }
        fault = spent ? faults_.erase(fault) : fault + 1;
    }
    return error;
}

LONG RegistryDouble::Note(std::string what, LONG result) {
    if (result != ERROR_SUCCESS) what += " -> error " + std::to_string(result);
    log_.push_back(std::move(what));
    return result;
}

LONG RegistryDouble::OpenKey(HKEY parent, const std::wstring& name, KeyAccess access, HKEY& key) {
    key = nullptr;
    const RegistryOp op = access == KeyAccess::Read ? RegistryOp::OpenRead : RegistryOp::OpenWrite;
    const Handle* from = nullptr;
    LONG result = Resolve(parent, from);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note(std::string(OpName(op)) + " ?\\" + Utf8(name), result);
    }
    std::string what = std::string(OpName(op)) + " " + Utf8(from->node->Path()) +
                       (name.empty() ? "" : "\\" + Utf8(name));
    result = Check(op, name.empty() ? std::wstring_view(from->node->name) : LastComponent(name));
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    const std::shared_ptr<Node> node = Find(from->node, name);
    if (!node) return Note(std::move(what), ERROR_FILE_NOT_FOUND);
    key = NewHandle(node, access != KeyAccess::Write, access != KeyAccess::Read);
    return Note(std::move(what), ERROR_SUCCESS);
}

LONG RegistryDouble::CreateKey(HKEY parent, const std::wstring& name, HKEY& key) {
    key = nullptr;
    const Handle* from = nullptr;
    LONG result = Resolve(parent, from);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note("create ?\\" + Utf8(name), result);
    }
    std::string what = "create " + Utf8(from->node->Path()) + "\\" + Utf8(name);
    result = Check(RegistryOp::Create, LastComponent(name));
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    if (SplitPath(name).empty()) return Note(std::move(what), ERROR_INVALID_PARAMETER);
    std::shared_ptr<Node> node = Find(from->node, name);
    if (!node) {
        // Making a subkey needs write access to its parent.
        if (!from->canWrite) return Note(std::move(what), ERROR_ACCESS_DENIED);
        node = Make(from->node, name);
    }
    key = NewHandle(node, true, true);
    return Note(std::move(what), ERROR_SUCCESS);
}

LONG RegistryDouble::SetStringValue(HKEY key, const std::wstring& valueName,
                                    const std::wstring& value) {
    const Handle* handle = nullptr;
    LONG result = Resolve(key, handle);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note("set ?", result);
    }
    std::string what = "set " + Utf8(handle->node->Path()) + " " +
                       (valueName.empty() ? std::string("@") : Utf8(valueName));
    result = Check(RegistryOp::SetValue,
                   valueName.empty() ? std::wstring_view(handle->node->name) : valueName);
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    if (!handle->canWrite) return Note(std::move(what), ERROR_ACCESS_DENIED);
    StoreValue(*handle->node, valueName, value);
    return Note(std::move(what), ERROR_SUCCESS);
}

LONG RegistryDouble::DeleteValue(HKEY key, const std::wstring& valueName) {
    const Handle* handle = nullptr;
    LONG result = Resolve(key, handle);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note("deletevalue ?", result);
    }
    std::string what = "deletevalue " + Utf8(handle->node->Path()) + " " +
                       (valueName.empty() ? std::string("@") : Utf8(valueName));
    result = Check(RegistryOp::DeleteValue,
                   valueName.empty() ? std::wstring_view(handle->node->name) : valueName);
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    if (!handle->canWrite) return Note(std::move(what), ERROR_ACCESS_DENIED);
    if (handle->node->values.erase(valueName) == 0)
        return Note(std::move(what), ERROR_FILE_NOT_FOUND);
    return Note(std::move(what), ERROR_SUCCESS);
}

LONG RegistryDouble::DeleteKey(HKEY parent, const std::wstring& name) {
    const Handle* from = nullptr;
    LONG result = Resolve(parent, from);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note("deletekey ?\\" + Utf8(name), result);
    }
    std::string what =
        "deletekey " + Utf8(from->node->Path()) + (name.empty() ? "" : "\\" + Utf8(name));
    result = Check(RegistryOp::DeleteKey,
                   name.empty() ? std::wstring_view(from->node->name) : LastComponent(name));
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    const std::shared_ptr<Node> node = Find(from->node, name);
    if (!node) return Note(std::move(what), ERROR_FILE_NOT_FOUND);
    if (node->parent == nullptr || !node->children.empty())
        return Note(std::move(what), ERROR_ACCESS_DENIED);
    node->deleted = true;
    Node* owner = node->parent;
    node->parent = nullptr;
    owner->children.erase(node->name);
    return Note(std::move(what), ERROR_SUCCESS);
}

LONG RegistryDouble::EnumerateSubkey(HKEY key, DWORD index, std::wstring& name) {
    const Handle* handle = nullptr;
    LONG result = Resolve(key, handle);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note("enum ?", result);
    }
    std::string what = "enum " + Utf8(handle->node->Path()) + " #" + std::to_string(index);
    result = Check(RegistryOp::Enumerate, handle->node->name);
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    if (!handle->canRead) return Note(std::move(what), ERROR_ACCESS_DENIED);
    if (index >= handle->node->children.size()) return Note(std::move(what), ERROR_NO_MORE_ITEMS);
    auto child = handle->node->children.begin();
    std::advance(child, index);
    name = child->second->name;
    return Note(std::move(what), ERROR_SUCCESS);
}

LONG RegistryDouble::CountSubkeys(HKEY key, DWORD& count) {
    count = 0;
    const Handle* handle = nullptr;
    LONG result = Resolve(key, handle);
    if (result != ERROR_SUCCESS) {
        ++operations_;
        return Note("count ?", result);
    }
    std::string what = "count " + Utf8(handle->node->Path());
    result = Check(RegistryOp::Count, handle->node->name);
    if (result != ERROR_SUCCESS) return Note(std::move(what), result);
    if (!handle->canRead) return Note(std::move(what), ERROR_ACCESS_DENIED);
    count = static_cast<DWORD>(handle->node->children.size());
    return Note(std::move(what), ERROR_SUCCESS);
}

void RegistryDouble::CloseKey(HKEY key) {
    const auto found = handles_.find(reinterpret_cast<ULONG_PTR>(key));
    if (found != handles_.end() && !found->second.root) handles_.erase(found);
}

long RegistryDouble::OpenHandles() const {
    long count = 0;
    for (const auto& handle : handles_) {
        if (!handle.second.root) ++count;
    }
    return count;
}

void RegistryDouble::AddKey(HKEY root, std::wstring_view path) { Make(Root(root), path); }

void RegistryDouble::SetValue(HKEY root, std::wstring_view path, std::wstring_view valueName,
                              std::wstring_view value) {
    StoreValue(*Make(Root(root), path), valueName, value);
}

bool RegistryDouble::KeyExists(HKEY root, std::wstring_view path) const {
    return Find(Root(root), path) != nullptr;
}

std::optional<std::wstring> RegistryDouble::Value(HKEY root, std::wstring_view path,
                                                  std::wstring_view valueName) const {
    const std::shared_ptr<Node> node = Find(Root(root), path);
    if (!node) return std::nullopt;
    const auto found = node->values.find(std::wstring(valueName));
    if (found == node->values.end()) return std::nullopt;
    return found->second;
}

std::vector<std::wstring> RegistryDouble::Subkeys(HKEY root, std::wstring_view path) const {
    std::vector<std::wstring> names;
    const std::shared_ptr<Node> node = Find(Root(root), path);
    if (node) {
        for (const auto& child : node->children) names.push_back(child.second->name);
    }
    return names;
}

namespace {

void DumpNode(const std::wstring& path,
              const std::map<std::wstring, std::wstring, NameLess>& values, bool printKey,
              std::string& out) {
    if (printKey || !values.empty()) out += Utf8(path) + "\n";
    for (const auto& value : values) {
        out += "  ";
        out += value.first.empty() ? std::string("@") : "\"" + Utf8(value.first) + "\"";
        out += " = \"" + Utf8(value.second) + "\"\n";
    }
}

}  // namespace

std::string RegistryDouble::Dump() const {
    std::string out;
    const HKEY order[] = {HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                          HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA,     HKEY_CURRENT_CONFIG};
    for (HKEY root : order) {
        const std::shared_ptr<Node> node = Root(root);
        // Depth first, each key before its subkeys.
        std::vector<const Node*> stack{node.get()};
        while (!stack.empty()) {
            const Node* current = stack.back();
            stack.pop_back();
            DumpNode(current->Path(), current->values, current != node.get(), out);
            for (auto child = current->children.rbegin(); child != current->children.rend();
                 ++child) {
                stack.push_back(child->second.get());
            }
        }
    }
    return out;
}

void RegistryDouble::FailNthOperation(long n, LONG error) {
    if (n <= 0) return;
    Fault fault;
    fault.anyKind = true;
    fault.error = error;
    fault.countdown = n;
    faults_.push_back(fault);
}

void RegistryDouble::FailOperation(RegistryOp op, LONG error, long nth, std::wstring_view name) {
    Fault fault;
    fault.op = op;
    fault.error = error;
    fault.countdown = nth < 0 ? 0 : nth;
    fault.name = std::wstring(name);
    faults_.push_back(fault);
}

void RegistryDouble::ClearFaults() { faults_.clear(); }

}  // namespace pvt::test
