// The registry script engine: interprets the module's registry scripts in
// register or unregister mode over a RegistryAccess.
#pragma once

#include "registration/RegistryAccess.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pvt {

// Names and values that "%name%" in a script stands for. Names are compared
// without regard to case.
class Replacements {
public:
    // Adds a replacement, or gives an existing one of the same name a new value.
    void Set(std::wstring name, std::wstring value);
    // The value of the name, or null when there is none.
    const std::wstring* Find(std::wstring_view name) const;
    std::size_t Size() const { return entries_.size(); }

private:
    std::vector<std::pair<std::wstring, std::wstring>> entries_;
};

// The module's replacements for a module file path: "APPID" empty, then
// "Module" and "Module_Raw", both the path with every single quote doubled
// so that it can stand inside a quoted token.
Replacements MakeModuleReplacements(std::wstring_view modulePath);

// The same from the file path of a loaded module. The platform's last error
// when the path cannot be obtained, 0x8007007A when it fills the whole
// 260-character buffer, E_OUTOFMEMORY when memory runs out.
HRESULT GetModuleReplacements(HMODULE module, Replacements& replacements);

// Replaces every "%name%" of the text by the value of its replacement and
// "%%" by "%", in one pass: the values are not scanned again. S_OK;
// DISP_E_EXCEPTION for a name without a replacement or without a closing
// "%"; E_FAIL for a name of 32 characters or more. Throws std::bad_alloc.
HRESULT ExpandReplacements(std::wstring_view text, const Replacements& replacements,
                           std::wstring& expanded);

// Runs a registry script (8-bit text in the system's ANSI code page, as a
// resource holds it; it ends at its first NUL character, if any) in register
// or unregister mode. S_OK when every block succeeded; DISP_E_EXCEPTION for
// a syntax error or an unlisted replacement; E_FAIL for a replacement name
// of 32 characters or more; a registry failure as HRESULT_FROM_WIN32 of its
// code; E_OUTOFMEMORY when memory runs out. In register mode a block that
// fails is processed once more in unregister mode before returning, so that
// what it wrote is removed again; blocks before it keep their entries.
HRESULT RunRegistryScript(std::string_view script, const Replacements& replacements,
                          bool registering, RegistryAccess& registry);

// The same for a script that is already wide text.
HRESULT RunRegistryScript(std::wstring_view script, const Replacements& replacements,
                          bool registering, RegistryAccess& registry);

}  // namespace pvt
