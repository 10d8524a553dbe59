#include "ModuleClasses.h"

#include "Diagnostics.h"
#include "PvtCorrelator.h"

#include <oleauto.h>

namespace pvthost {

namespace {

const char kNotRegistered[] =
    "the PvtCorrelator module is not registered; run \"pvthost register\" first";

bool IsRegisteredAs(const std::wstring& progId, const CLSID& classId) {
    CLSID registered;
    return SUCCEEDED(CLSIDFromProgID(progId.c_str(), &registered)) &&
           IsEqualCLSID(registered, classId);
}

// The coclass at index, or false when the entry is something else.
bool ReadCoclass(ITypeLib* library, UINT index, ModuleClass& entry) {
    TYPEKIND kind;
    if (FAILED(library->GetTypeInfoType(index, &kind)) || kind != TKIND_COCLASS) return false;
    BSTR name = nullptr;
    if (FAILED(
            library->GetDocumentation(static_cast<INT>(index), &name, nullptr, nullptr, nullptr)) ||
        name == nullptr) {
        return false;
    }
    entry.name.assign(name, SysStringLen(name));
    SysFreeString(name);
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(index, &info)) || info == nullptr) return false;
    TYPEATTR* attributes = nullptr;
    const bool ok = SUCCEEDED(info->GetTypeAttr(&attributes)) && attributes != nullptr;
    if (ok) {
        entry.classId = attributes->guid;
        info->ReleaseTypeAttr(attributes);
    }
    info->Release();
    entry.progId = L"PvtCorrelator." + entry.name;
    return ok;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

}  // namespace

std::vector<ModuleClass> RegisteredClasses() {
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadRegTypeLib(LIBID_PVTCORRELATORLib, 1, 0, LOCALE_NEUTRAL, &library);
    if (FAILED(hr) || library == nullptr) throw CommandError(kExitNotRegistered, kNotRegistered);

    std::vector<ModuleClass> classes;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ModuleClass entry;
        if (ReadCoclass(library, i, entry) && IsRegisteredAs(entry.progId, entry.classId)) {
            classes.push_back(entry);
        }
    }
    library->Release();
    if (classes.empty()) throw CommandError(kExitNotRegistered, kNotRegistered);
    return classes;
}

std::vector<ModuleClass> SelectClasses(const std::vector<ModuleClass>& classes,
                                       const std::vector<std::wstring>& names) {
    std::vector<ModuleClass> selected;
    for (const std::wstring& name : names) {
        const ModuleClass* found = nullptr;
        for (const ModuleClass& candidate : classes) {
            if (Lower(candidate.name) == Lower(name)) found = &candidate;
        }
        if (found == nullptr) {
            std::string valid;
            for (const ModuleClass& candidate : classes) {
                valid += (valid.empty() ? "" : ", ") + Utf8(candidate.name);
            }
            throw CommandError(kExitUsage,
                               "unknown class \"" + Utf8(name) + "\"; valid names: " + valid);
        }
        selected.push_back(*found);
    }
    return selected;
}

}  // namespace pvthost
