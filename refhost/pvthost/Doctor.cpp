#include "Doctor.h"

#include "Diagnostics.h"
#include "PvtCorrelatorClasses.h"
#include "PvtVersion.h"
#include "ResultWriter.h"

#include <oleauto.h>

#include <map>
#include <tuple>
#include <vector>

namespace pvthost {

namespace {

const wchar_t kClassesKey[] = L"Software\\Classes\\";
const wchar_t kDataServer[] = L"varhub2.dll";

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

bool SameGuid(const std::wstring& text, const GUID& guid) {
    GUID parsed;
    return SUCCEEDED(CLSIDFromString(text.c_str(), &parsed)) && IsEqualGUID(parsed, guid);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// One classes key, the machine's or the current user's, read in the 64-bit
// view (pvthost is a 64-bit program).
class ClassesKey {
public:
    explicit ClassesKey(Scope scope)
        : root_(scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
          name_(scope == Scope::User ? "HKEY_CURRENT_USER\\Software\\Classes"
                                     : "HKEY_LOCAL_MACHINE\\Software\\Classes") {}

    const std::string& Name() const { return name_; }

    bool Exists(const std::wstring& path) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, (kClassesKey + path).c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    // A string value; false when it is missing or of another type. valueName
    // nullptr is the key's default value. RRF_RT_REG_SZ alone also takes a
    // REG_EXPAND_SZ and expands it (naming REG_EXPAND_SZ too is refused).
    bool Read(const std::wstring& path, const wchar_t* valueName, std::wstring& value) const {
        const std::wstring key = kClassesKey + path;
        const DWORD types = RRF_RT_REG_SZ;
        DWORD size = 0;
        if (RegGetValueW(root_, key.c_str(), valueName, types, nullptr, nullptr, &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (RegGetValueW(root_, key.c_str(), valueName, types, nullptr, &buffer[0], &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        value.assign(buffer.c_str());
        return true;
    }

private:
    HKEY root_;
    std::string name_;
};

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The machine a PE file is built for (IMAGE_FILE_MACHINE_*), 0 when the
// file is no PE image.
WORD ImageMachine(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    auto readAt = [&](LONG offset, void* buffer, DWORD size) {
        DWORD read = 0;
        return SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
               ReadFile(file, buffer, size, &read, nullptr) && read == size;
    };
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    const bool ok = readAt(0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
                    readAt(dos.e_lfanew, &signature, sizeof signature) &&
                    signature == IMAGE_NT_SIGNATURE &&
                    readAt(dos.e_lfanew + 4, &header, sizeof header);
    CloseHandle(file);
    return ok ? header.Machine : 0;
}

// "PvtCorrelator 38.0.0.0" from the file's version block, or "" when it has
// none that names the module.
std::string ModuleIdentity(const std::wstring& path, bool& isThisVersion) {
    isThisVersion = false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return "";
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return "";
    wchar_t* name = nullptr;
    UINT nameLength = 0;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\InternalName",
                        reinterpret_cast<void**>(&name), &nameLength) ||
        name == nullptr || !SameText(name, L"PvtCorrelator") ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength) ||
        fixed == nullptr || fixedLength < sizeof(VS_FIXEDFILEINFO)) {
        return "";
    }
    const unsigned parts[4] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    isThisVersion = parts[0] == PVT_VERSION_MAJOR && parts[1] == PVT_VERSION_MINOR &&
                    parts[2] == PVT_VERSION_PATCH && parts[3] == PVT_VERSION_TWEAK;
    return "PvtCorrelator " + std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

// What is wrong with a file named as the module, "" when nothing is.
std::string ModuleFileProblem(const std::wstring& path) {
    const std::string shown = Utf8(path);
    if (!FileExists(path)) return "names a missing file " + shown;
    const WORD machine = ImageMachine(path);
    if (machine == IMAGE_FILE_MACHINE_I386) {
        return "names a 32-bit file " + shown + ", which a 64-bit host cannot load";
    }
    if (machine != IMAGE_FILE_MACHINE_AMD64) return "names " + shown + ", no 64-bit module";
    bool isThisVersion = false;
    const std::string identity = ModuleIdentity(path, isThisVersion);
    if (identity.empty()) return "names " + shown + ", which is not the PvtCorrelator module";
    if (!isThisVersion) {
        return "names " + shown + ", which is " + identity +
               ", not " PVT_VERSION_TEXT " as this pvthost";
    }
    return "";
}

// Collects findings; those that differ only in their class are merged.
class Findings {
public:
    void Add(Finding finding) { others_.push_back(std::move(finding)); }

    void AddForClass(const char* className, const std::string& check, const std::string& problem,
                     const std::string& fix) {
        std::vector<std::string>& classes = byClass_[std::make_tuple(check, problem, fix)];
        if (classes.empty()) order_.push_back(std::make_tuple(check, problem, fix));
        classes.push_back(className);
    }

    std::vector<Finding> Take() {
        std::vector<Finding> all;
        for (const auto& key : order_) {
            const std::vector<std::string>& classes = byClass_[key];
            std::string subject;
            if (classes.size() == static_cast<std::size_t>(pvtcorrelator::kClassCount)) {
                subject = "all " + std::to_string(classes.size()) + " classes";
            } else {
                for (const std::string& name : classes)
                    subject += (subject.empty() ? "" : ", ") + name;
            }
            all.push_back({std::get<0>(key), subject, std::get<1>(key), std::get<2>(key)});
        }
        for (Finding& finding : others_) all.push_back(std::move(finding));
        return all;
    }

private:
    using Key = std::tuple<std::string, std::string, std::string>;
    std::map<Key, std::vector<std::string>> byClass_;
    std::vector<Key> order_;
    std::vector<Finding> others_;
};

std::string RegisterFix(Scope scope) {
    return scope == Scope::User
               ? "register the module: pvthost register --user (or regsvr32 /n /i:user "
                 "PvtCorrelator.dll)"
               : "register the module: pvthost register (or regsvr32 PvtCorrelator.dll)";
}

// The class key, its programmatic identifiers, InprocServer32 and TypeLib.
void CheckClass(const pvtcorrelator::ClassEntry& entry, const ClassesKey& classes, Scope scope,
                Findings& findings) {
    const std::wstring classKey = L"CLSID\\" + GuidText(entry.classId);
    const std::string fix = RegisterFix(scope);
    auto add = [&](const std::string& check, const std::string& problem) {
        findings.AddForClass(entry.name, check, problem, fix);
    };
    if (!classes.Exists(classKey)) {
        add("classes", "no class key CLSID\\{class id} in " + classes.Name());
        return;
    }
    std::wstring value;
    if (!classes.Read(classKey + L"\\ProgID", nullptr, value) || value != entry.progId) {
        add("classes", "CLSID\\{class id}\\ProgID is not PvtCorrelator.<Name>.1");
    }
    if (!classes.Read(classKey + L"\\VersionIndependentProgID", nullptr, value) ||
        value != entry.versionIndependentProgId) {
        add("classes", "CLSID\\{class id}\\VersionIndependentProgID is not PvtCorrelator.<Name>");
    }
    if (!classes.Read(std::wstring(entry.progId) + L"\\CLSID", nullptr, value) ||
        !SameGuid(value, entry.classId)) {
        add("classes", "PvtCorrelator.<Name>.1\\CLSID does not name the class key");
    }
    const std::wstring independent = entry.versionIndependentProgId;
    if (!classes.Read(independent + L"\\CLSID", nullptr, value) ||
        !SameGuid(value, entry.classId)) {
        add("classes", "PvtCorrelator.<Name>\\CLSID does not name the class key");
    }
    if (!classes.Read(independent + L"\\CurVer", nullptr, value) || value != entry.progId) {
        add("classes", "PvtCorrelator.<Name>\\CurVer is not PvtCorrelator.<Name>.1");
    }
    if (!classes.Read(classKey + L"\\TypeLib", nullptr, value) ||
        !SameGuid(value, pvtcorrelator::LIBID_PvtCorrelatorLib)) {
        add("classes", "CLSID\\{class id}\\TypeLib does not name the module's type library");
    }

    if (!classes.Read(classKey + L"\\InprocServer32", nullptr, value) || value.empty()) {
        add("module", "CLSID\\{class id}\\InprocServer32 names no file");
    } else {
        const std::string problem = ModuleFileProblem(value);
        if (!problem.empty()) {
            findings.AddForClass(
                entry.name, "module", "CLSID\\{class id}\\InprocServer32 " + problem,
                "register the 64-bit PvtCorrelator.dll " PVT_VERSION_TEXT " from where it is: " +
                    std::string(scope == Scope::User ? "pvthost register --user --module PATH"
                                                     : "pvthost register --module PATH") +
                    " (or regsvr32" + (scope == Scope::User ? " /n /i:user" : "") + " PATH)");
        }
    }
    if (!classes.Read(classKey + L"\\InprocServer32", L"ThreadingModel", value) ||
        !SameText(value, L"Apartment")) {
        add("module", "CLSID\\{class id}\\InprocServer32 has no ThreadingModel \"Apartment\"");
    }
}

// A type library registered as version 1.0 in scope, with a file that loads
// and holds that library and version.
void CheckTypeLibrary(const ClassesKey& classes, const GUID& library, const std::string& check,
                      const std::string& what, const std::string& fix, Findings& findings) {
    const std::wstring versionKey = L"TypeLib\\" + GuidText(library) + L"\\1.0";
    const std::string subject = what + " " + Utf8(GuidText(library)) + " 1.0";
    std::wstring path;
    if (!classes.Exists(versionKey)) {
        findings.Add({check, subject, "not registered in " + classes.Name(), fix});
        return;
    }
    if (!classes.Read(versionKey + L"\\0\\win64", nullptr, path) || path.empty()) {
        findings.Add({check, subject, "registered without a 64-bit file (0\\win64)", fix});
        return;
    }
    if (!FileExists(path)) {
        findings.Add({check, subject, "registered file " + Utf8(path) + " is missing", fix});
        return;
    }
    ITypeLib* loaded = nullptr;
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded);
    if (FAILED(hr) || loaded == nullptr) {
        findings.Add({check, subject,
                      "registered file " + Utf8(path) + " does not load: " + DescribeHresult(hr),
                      fix});
        return;
    }
    TLIBATTR* attributes = nullptr;
    std::string problem;
    if (FAILED(loaded->GetLibAttr(&attributes)) || attributes == nullptr) {
        problem = "registered file " + Utf8(path) + " has no library attributes";
    } else {
        if (!IsEqualGUID(attributes->guid, library) || attributes->wMajorVerNum != 1 ||
            attributes->wMinorVerNum != 0) {
            problem = "registered file " + Utf8(path) + " holds " +
                      Utf8(GuidText(attributes->guid)) + " " +
                      std::to_string(attributes->wMajorVerNum) + "." +
                      std::to_string(attributes->wMinorVerNum) + ", not this library 1.0";
        }
        loaded->ReleaseTLibAttr(attributes);
    }
    loaded->Release();
    if (!problem.empty()) findings.Add({check, subject, problem, fix});
}

// The module loads the data server by name, so the platform looks first in
// the folder of the host's executable: here, pvthost's.
void CheckDataServer(Findings& findings) {
    const std::string subject = "varhub2.dll";
    const std::string fix =
        "put the data server varhub2.dll beside the host's executable (for pvthost, in its "
        "folder)";
    HMODULE server = LoadLibraryExW(kDataServer, nullptr, 0);
    if (server == nullptr) {
        findings.Add({"data-server", subject,
                      "cannot be loaded by name from this process: " +
                          DescribeHresult(HRESULT_FROM_WIN32(GetLastError())),
                      fix});
        return;
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(server, path, MAX_PATH);
    if (GetProcAddress(server, "DllGetClassObject") == nullptr) {
        findings.Add({"data-server", subject,
                      "the file loaded, " + Utf8(path) + ", exports no DllGetClassObject", fix});
    }
    FreeLibrary(server);
}

// Per-user keys come before the machine's when a program looks a class up:
// for the machine's registration, any of the module's keys beneath the
// user's classes key is a finding, a stale one (naming a missing file) most
// of all.
void CheckPerUserShadows(Findings& findings) {
    const ClassesKey user(Scope::User);
    for (const pvtcorrelator::ClassEntry& entry : pvtcorrelator::kClasses) {
        const std::wstring classKey = L"CLSID\\" + GuidText(entry.classId);
        std::wstring path;
        if (user.Exists(classKey)) {
            if (user.Read(classKey + L"\\InprocServer32", nullptr, path) && !path.empty() &&
                !FileExists(path)) {
                findings.AddForClass(
                    entry.name, "per-user",
                    "stale per-user key " + user.Name() +
                        "\\CLSID\\{class id} names a missing file " + Utf8(path),
                    "delete the class's keys beneath " + user.Name() +
                        " (CLSID\\{class id}, PvtCorrelator.<Name>, PvtCorrelator.<Name>.1): "
                        "with the file gone the module cannot unregister them");
            } else {
                findings.AddForClass(
                    entry.name, "per-user",
                    "per-user key " + user.Name() + "\\CLSID\\{class id} shadows the machine's" +
                        (path.empty() ? std::string() : " (it names " + Utf8(path) + ")"),
                    "remove the per-user registration: pvthost unregister --user --module "
                    "<that file> (or regsvr32 /u /n /i:user <that file>)");
            }
        } else if (user.Exists(entry.progId) || user.Exists(entry.versionIndependentProgId)) {
            findings.AddForClass(
                entry.name, "per-user", "per-user PvtCorrelator.<Name> keys shadow the machine's",
                "delete PvtCorrelator.<Name> and PvtCorrelator.<Name>.1 beneath " + user.Name());
        }
    }
    const GUID* libraries[] = {&pvtcorrelator::LIBID_PvtCorrelatorLib,
                               &pvtcorrelator::LIBID_HostCorrelationLib};
    for (const GUID* library : libraries) {
        if (user.Exists(L"TypeLib\\" + GuidText(*library))) {
            findings.Add({"per-user", "type library " + Utf8(GuidText(*library)),
                          "per-user key " + user.Name() + "\\TypeLib\\" + Utf8(GuidText(*library)) +
                              " shadows the machine's",
                          "remove the per-user registration: pvthost unregister --user"});
        }
    }
}

std::string ScopeName(Scope scope) { return scope == Scope::User ? "user" : "machine"; }

}  // namespace

std::vector<Finding> Diagnose(Scope scope) {
    const ClassesKey classes(scope);
    Findings findings;
    for (const pvtcorrelator::ClassEntry& entry : pvtcorrelator::kClasses) {
        CheckClass(entry, classes, scope, findings);
    }
    CheckTypeLibrary(classes, pvtcorrelator::LIBID_PvtCorrelatorLib, "typelib",
                     "the module's type library", RegisterFix(scope), findings);
    CheckTypeLibrary(classes, pvtcorrelator::LIBID_HostCorrelationLib, "host-typelib",
                     "the host's correlation type library (dispatch needs it)",
                     scope == Scope::User ? "pvthost register --user (or RegisterTypeLib of "
                                            "HostCorrelation.tlb for the user)"
                                          : "pvthost register (or RegisterTypeLib of "
                                            "HostCorrelation.tlb)",
                     findings);
    CheckDataServer(findings);
    if (scope == Scope::Machine) CheckPerUserShadows(findings);
    return findings.Take();
}

void WriteFindingsTable(std::FILE* out, Scope scope, const std::vector<Finding>& findings) {
    if (findings.empty()) {
        std::fprintf(out,
                     "No findings: the %s registration of PvtCorrelator " PVT_VERSION_TEXT
                     " (%d classes, its type library, the host's type library, the data "
                     "server) is healthy.\n",
                     ScopeName(scope).c_str(), pvtcorrelator::kClassCount);
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (const Finding& f : findings) rows.push_back({f.check, f.subject, f.problem, f.fix});
    WriteTable(out, {"Check", "Subject", "Finding", "Fix"}, rows, {false, false, false, false});
}

void WriteFindingsJson(std::FILE* out, Scope scope, const std::vector<Finding>& findings) {
    std::fprintf(out, "{\"scope\": %s, \"healthy\": %s, \"findings\": [",
                 JsonText(ScopeName(scope)).c_str(), findings.empty() ? "true" : "false");
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const Finding& f = findings[i];
        std::fprintf(out, "%s\n  {\"check\": %s, \"subject\": %s, \"problem\": %s, \"fix\": %s}",
                     i ? "," : "", JsonText(f.check).c_str(), JsonText(f.subject).c_str(),
                     JsonText(f.problem).c_str(), JsonText(f.fix).c_str());
    }
    std::fputs(findings.empty() ? "]}\n" : "\n]}\n", out);
}

}  // namespace pvthost
