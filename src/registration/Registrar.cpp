#include "registration/Registrar.h"

#include "com/ErrorBoundary.h"
#include "com/ModuleResources.h"

#include <new>

namespace pvt {

namespace {

// The longest token: the registrar's classic 4096-character token buffer
// less the terminator and one character of headroom.
constexpr std::size_t kMaxTokenLength = 4094;
// Replacement names must be shorter than this.
constexpr std::size_t kReplacementNameLimit = 32;
// Keys nested deeper than this are a syntax error: every level takes stack,
// and no script of the module goes beyond four.
constexpr int kMaxNestingDepth = 256;

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(error)); }

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

struct RootName {
    const wchar_t* shortName;
    const wchar_t* fullName;
    HKEY key;
};

HKEY RootFromName(std::wstring_view name) {
    const RootName roots[] = {
        {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", L"HKEY_USERS", HKEY_USERS},
        {L"HKPD", L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
        {L"HKDD", L"HKEY_DYN_DATA", HKEY_DYN_DATA},
        {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const RootName& root : roots) {
        if (EqualNamesNoCase(name, root.shortName) || EqualNamesNoCase(name, root.fullName))
            return root.key;
    }
    return nullptr;
}

// Keys that "ForceRemove" never deletes: removing one of them would take
// much more than the module's own entries with it.
bool IsProtectedName(std::wstring_view name) {
    const wchar_t* const names[] = {
        L"AppID",    L"CLSID",     L"Component Categories",
        L"FileType", L"Interface", L"Hardware",
        L"Mime",     L"SAM",       L"SECURITY",
        L"SYSTEM",   L"Software",  L"TypeLib",
    };
    for (const wchar_t* protectedName : names) {
        if (EqualNamesNoCase(name, protectedName)) return true;
    }
    return false;
}

struct Token {
    std::wstring text;
    bool quoted = false;

    // A structural token: "{", "}" or "=", written bare.
    bool Is(wchar_t symbol) const { return !quoted && text.size() == 1 && text[0] == symbol; }
    bool IsStructural() const { return Is(L'{') || Is(L'}') || Is(L'='); }
    // A keyword, written bare, in any case.
    bool IsKeyword(const wchar_t* word) const { return !quoted && EqualNamesNoCase(text, word); }
};

// What is done with the items being read.
enum class Mode {
    Register,
    Unregister,
    ParseOnly,  // unregistering beneath a key that does not exist
};

class ScriptRunner {
public:
    ScriptRunner(std::wstring_view text, RegistryAccess& registry)
        : text_(text), registry_(registry) {}

    HRESULT Run(bool registering) {
        bool anyBlock = false;
        for (;;) {
            SkipSpace();
            if (position_ == text_.size()) break;

            Token token;
            HRESULT hr = NextToken(token);
            if (FAILED(hr)) return hr;
            const HKEY root = RootFromName(token.text);
            if (root == nullptr) return DISP_E_EXCEPTION;
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
            if (!token.Is(L'{')) return DISP_E_EXCEPTION;

            // Read the whole block first: a block with a syntax error is not
            // processed at all, so that it neither leaves half of its
            // entries behind nor stops its own rollback half-way.
            const std::size_t itemsStart = position_;
            hr = GuardedItems(root, Mode::ParseOnly);
            if (FAILED(hr)) return hr;
            const std::size_t blockEnd = position_;

            position_ = itemsStart;
            hr = GuardedItems(root, registering ? Mode::Register : Mode::Unregister);
            if (FAILED(hr)) {
                if (registering) {
                    // Take back what this block wrote; its own outcome does
                    // not change the result.
                    position_ = itemsStart;
                    GuardedItems(root, Mode::Unregister);
                }
                return hr;
            }
            position_ = blockEnd;
            anyBlock = true;
        }
        // A script is one block or more.
        return anyBlock ? S_OK : DISP_E_EXCEPTION;
    }

private:
    HRESULT GuardedItems(HKEY root, Mode mode) {
        depth_ = 0;  // an exception may have left it raised
        return ComBoundary([&] { return Items(root, mode); });
    }

    void SkipSpace() {
        while (position_ < text_.size() && IsSpace(text_[position_])) ++position_;
    }

    // Reads the next token; the end of the text where a token must follow,
    // an unterminated quoted token and a token that is too long are syntax
    // errors.
    HRESULT NextToken(Token& token) {
        SkipSpace();
        if (position_ == text_.size()) return DISP_E_EXCEPTION;
        token.text.clear();
        token.quoted = text_[position_] == L'\'';
        if (token.quoted) {
            ++position_;
            for (;;) {
                if (position_ == text_.size()) return DISP_E_EXCEPTION;
                wchar_t c = text_[position_++];
                if (c == L'\'') {
                    if (position_ == text_.size() || text_[position_] != L'\'') break;
                    ++position_;  // a doubled quote stands for one
                }
                if (token.text.size() == kMaxTokenLength) return DISP_E_EXCEPTION;
                token.text.push_back(c);
            }
        } else {
            while (position_ < text_.size() && !IsSpace(text_[position_])) {
                if (token.text.size() == kMaxTokenLength) return DISP_E_EXCEPTION;
                token.text.push_back(text_[position_++]);
            }
        }
        return S_OK;
    }

    // Reads `s 'value'` after an "=".
    HRESULT ReadTypedString(std::wstring& value) {
        Token token;
        HRESULT hr = NextToken(token);
        if (FAILED(hr)) return hr;
        if (!token.IsKeyword(L"s")) return DISP_E_EXCEPTION;
        hr = NextToken(token);
        if (FAILED(hr)) return hr;
        if (token.IsStructural()) return DISP_E_EXCEPTION;
        value = std::move(token.text);
        return S_OK;
    }

    // The items of a block or key up to and including its "}", one level
    // deeper than the caller.
    HRESULT Items(HKEY parent, Mode mode) {
        if (depth_ >= kMaxNestingDepth) return DISP_E_EXCEPTION;
        ++depth_;
        const HRESULT hr = ItemsOfKey(parent, mode);
        --depth_;
        return hr;
    }

    HRESULT ItemsOfKey(HKEY parent, Mode mode) {
        Token token;
        HRESULT hr = NextToken(token);
        while (SUCCEEDED(hr) && !token.Is(L'}')) {
            if (token.IsKeyword(L"val")) {
                hr = ValueItem(parent, mode);
                if (SUCCEEDED(hr)) hr = NextToken(token);
                continue;
            }
            bool forceRemove = false;
            bool noRemove = false;
            if (token.IsKeyword(L"ForceRemove")) {
                forceRemove = true;
                hr = NextToken(token);
            } else if (token.IsKeyword(L"NoRemove")) {
                noRemove = true;
                hr = NextToken(token);
            }
            if (SUCCEEDED(hr)) hr = KeyItem(parent, mode, forceRemove, noRemove, token);
        }
        return hr;
    }

    // "val name = s 'value'" after the "val".
    HRESULT ValueItem(HKEY parent, Mode mode) {
        Token name;
        HRESULT hr = NextToken(name);
        if (FAILED(hr)) return hr;
        if (name.IsStructural()) return DISP_E_EXCEPTION;
        Token equals;
        hr = NextToken(equals);
        if (FAILED(hr)) return hr;
        if (!equals.Is(L'=')) return DISP_E_EXCEPTION;
        std::wstring value;
        hr = ReadTypedString(value);
        if (FAILED(hr)) return hr;

        if (mode == Mode::Register) {
            const LONG result = registry_.SetStringValue(parent, name.text, value);
            if (result != ERROR_SUCCESS) return FromWin32(result);
        } else if (mode == Mode::Unregister) {
            ScopedKey key(registry_);
            LONG result =
                registry_.OpenKey(parent, std::wstring(), KeyAccess::Write, key.Receive());
            if (result != ERROR_SUCCESS) return FromWin32(result);
            result = registry_.DeleteValue(key.Get(), name.text);
            if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return FromWin32(result);
        }
        return S_OK;
    }

    // A key item from its name on; `token` holds the name and receives the
    // token after the item.
    HRESULT KeyItem(HKEY parent, Mode mode, bool forceRemove, bool noRemove, Token& token) {
        if (token.IsStructural()) return DISP_E_EXCEPTION;
        // A key needs a name of its own: an empty one would stand for the
        // enclosing key, so that its value lands there and unregistering
        // deletes the enclosing key itself, NoRemove or not.
        if (token.text.empty() || token.text.find(L'\\') != std::wstring::npos)
            return DISP_E_EXCEPTION;
        const std::wstring name = std::move(token.text);

        ScopedKey key(registry_);
        Mode inner = Mode::ParseOnly;
        if (mode == Mode::Register) {
            if (forceRemove && !IsProtectedName(name)) {
                DeleteSubtree(registry_, parent,
                              name);  // a failure leaves what it could not delete
            }
            LONG result = registry_.OpenKey(parent, name, KeyAccess::ReadWrite, key.Receive());
            if (result != ERROR_SUCCESS)
                result = registry_.OpenKey(parent, name, KeyAccess::Read, key.Receive());
            if (result != ERROR_SUCCESS) {
                result = registry_.CreateKey(parent, name, key.Receive());
                if (result != ERROR_SUCCESS) return FromWin32(result);
            }
            inner = Mode::Register;
        } else if (mode == Mode::Unregister) {
            const LONG result = registry_.OpenKey(parent, name, KeyAccess::Read, key.Receive());
            if (result == ERROR_SUCCESS) {
                inner = Mode::Unregister;
            } else if (result != ERROR_FILE_NOT_FOUND) {
                return FromWin32(result);
            }
        }

        HRESULT hr = NextToken(token);
        if (FAILED(hr)) return hr;
        if (token.Is(L'=')) {
            std::wstring value;
            hr = ReadTypedString(value);
            if (FAILED(hr)) return hr;
            if (inner == Mode::Register) {
                const LONG result = registry_.SetStringValue(key.Get(), std::wstring(), value);
                if (result != ERROR_SUCCESS) return FromWin32(result);
            }
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
        }
        if (token.Is(L'{')) {
            hr = Items(key.Get(), inner);
            if (FAILED(hr)) return hr;
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
        }

        if (inner == Mode::Unregister && !noRemove) {
            DWORD subkeys = 0;
            LONG result = registry_.CountSubkeys(key.Get(), subkeys);
            if (result != ERROR_SUCCESS) return FromWin32(result);
            key.Close();
            if (subkeys == 0) {
                result = registry_.DeleteKey(parent, name);
                if (result != ERROR_SUCCESS) return FromWin32(result);
            }
        }
        return S_OK;
    }

    std::wstring_view text_;
    RegistryAccess& registry_;
    std::size_t position_ = 0;
    int depth_ = 0;
};

}  // namespace

void Replacements::Set(std::wstring name, std::wstring value) {
    for (auto& entry : entries_) {
        if (EqualNamesNoCase(entry.first, name)) {
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::move(name), std::move(value));
}

const std::wstring* Replacements::Find(std::wstring_view name) const {
    for (const auto& entry : entries_) {
        if (EqualNamesNoCase(entry.first, name)) return &entry.second;
    }
    return nullptr;
}

Replacements MakeModuleReplacements(std::wstring_view modulePath) {
    std::wstring quoted;
    quoted.reserve(modulePath.size() * 2);
    for (wchar_t c : modulePath) {
        quoted.push_back(c);
        if (c == L'\'') quoted.push_back(c);
    }
    Replacements replacements;
    replacements.Set(L"APPID", std::wstring());
    replacements.Set(L"Module", quoted);
    replacements.Set(L"Module_Raw", std::move(quoted));
    return replacements;
}

HRESULT GetModuleReplacements(HMODULE module, Replacements& replacements) {
    return ComBoundary([&] {
        std::wstring path;
        const HRESULT hr = GetModuleFilePath(module, path);
        if (FAILED(hr)) return hr;
        replacements = MakeModuleReplacements(path);
        return S_OK;
    });
}

HRESULT ExpandReplacements(std::wstring_view text, const Replacements& replacements,
                           std::wstring& expanded) {
    expanded.clear();
    expanded.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t percent = text.find(L'%', position);
        if (percent == std::wstring_view::npos) {
            expanded.append(text.substr(position));
            break;
        }
        expanded.append(text.substr(position, percent - position));
        if (percent + 1 < text.size() && text[percent + 1] == L'%') {
            expanded.push_back(L'%');
            position = percent + 2;
            continue;
        }
        const std::size_t close = text.find(L'%', percent + 1);
        if (close == std::wstring_view::npos) return DISP_E_EXCEPTION;
        const std::wstring_view name = text.substr(percent + 1, close - percent - 1);
        if (name.size() >= kReplacementNameLimit) return E_FAIL;
        const std::wstring* value = replacements.Find(name);
        if (value == nullptr) return DISP_E_EXCEPTION;
        expanded.append(*value);
        position = close + 1;
    }
    return S_OK;
}

HRESULT RunRegistryScript(std::wstring_view script, const Replacements& replacements,
                          bool registering, RegistryAccess& registry) {
    return ComBoundary([&] {
        const std::size_t end = script.find(L'\0');
        if (end != std::wstring_view::npos) script = script.substr(0, end);
        std::wstring expanded;
        const HRESULT hr = ExpandReplacements(script, replacements, expanded);
        if (FAILED(hr)) return hr;
        return ScriptRunner(expanded, registry).Run(registering);
    });
}

HRESULT RunRegistryScript(std::string_view script, const Replacements& replacements,
                          bool registering, RegistryAccess& registry) {
    return ComBoundary([&] {
        const std::size_t end = script.find('\0');
        if (end != std::string_view::npos) script = script.substr(0, end);
        if (script.size() > 0x7FFFFFFF) return E_OUTOFMEMORY;
        std::wstring wide;
        if (!script.empty()) {
            const int size = static_cast<int>(script.size());
            const int length = MultiByteToWideChar(CP_ACP, 0, script.data(), size, nullptr, 0);
            if (length <= 0) {
                // A conversion that fails without saying why still fails.
                const DWORD error = GetLastError();
                return error != ERROR_SUCCESS ? FromWin32(static_cast<LONG>(error)) : E_FAIL;
            }
            wide.resize(static_cast<std::size_t>(length));
            MultiByteToWideChar(CP_ACP, 0, script.data(), size, &wide[0], length);
        }
        return RunRegistryScript(std::wstring_view(wide), replacements, registering, registry);
    });
}

}  // namespace pvt
