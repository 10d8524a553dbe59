// DllRegisterServer plus DllUnregisterServer (the class scripts over the
// platform's registry, then the type library) beside writing and deleting
// the same keys and values straight through the registry functions, plus
// registering and unregistering the type library.
//
// HKEY_CLASSES_ROOT is mapped for this process onto a scratch key under
// HKEY_CURRENT_USER while the registration is timed, so that the prefix's
// own class registrations (a registered module, say) are left alone.
#include "Report.h"

#include "PvtCorrelator.h"
#include "correlations/Catalogue.h"
#include "module/ClassTable.h"
#include "registration/ServerRegistration.h"

#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

namespace pvt::bench {

namespace {

constexpr wchar_t kScratchKey[] = L"Software\\PvtCorrelatorBench\\Classes";

std::wstring Widen(const char* text) { return std::wstring(text, text + std::strlen(text)); }

std::wstring GuidText(const GUID& guid) {
    wchar_t buffer[40];
    StringFromGUID2(guid, buffer, 40);
    return buffer;
}

// One class's keys, parents before children; a value per key (empty: none).
struct KeyValue {
    std::wstring key;
    std::wstring value;
    const wchar_t* valueName = nullptr;  // null: the default value
};

std::vector<KeyValue> ClassEntries(const CorrelationRow& row, const std::wstring& modulePath) {
    const std::wstring name = Widen(row.name);
    const std::wstring progId = L"PvtCorrelator." + name;
    const std::wstring description = name + L" Class";
    const std::wstring classId = GuidText(row.classId);
    const std::wstring classKey = L"CLSID\\" + classId;
    return {
        {progId + L".1", description},
        {progId + L".1\\CLSID", classId},
        {progId, description},
        {progId + L"\\CLSID", classId},
        {progId + L"\\CurVer", progId + L".1"},
        {classKey, description},
        {classKey + L"\\ProgID", progId + L".1"},
        {classKey + L"\\VersionIndependentProgID", progId},
        {classKey + L"\\Programmable", L""},
        {classKey + L"\\InprocServer32", modulePath},
        {classKey + L"\\InprocServer32", L"Apartment", L"ThreadingModel"},
        {classKey + L"\\TypeLib", GuidText(LIBID_PVTCORRELATORLib)},
    };
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// What registration must do for each class script before any key is
// written: find the module's own path, load the module file as a data
// file, and find, load, size and copy the script resource.
HRESULT ReadScriptResource(int resourceId, std::string& script) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return E_FAIL;
    HMODULE file = LoadLibraryExW(
        path, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE);
    if (file == nullptr) return E_FAIL;
    HRESULT hr = E_FAIL;
    if (HRSRC info = FindResourceW(file, MAKEINTRESOURCEW(resourceId), L"REGISTRY")) {
        HGLOBAL loaded = LoadResource(file, info);
        const DWORD size = SizeofResource(file, info);
        const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        if (data != nullptr && size != 0) {
            script.assign(data, size);
            hr = S_OK;
        }
    }
    FreeLibrary(file);
    return hr;
}

// The direct route: one create (or open) per key, one write per value.
// With prescribedSteps, also the steps that registering cannot leave out:
// each class's script read from the module file in both directions, and
// the type library loaded again to unregister it.
struct RegistrationFloor {
    std::vector<KeyValue> entries;  // every class's, in order
    std::wstring modulePath;
    bool prescribedSteps = false;

    HRESULT ReadScripts() const {
        if (!prescribedSteps) return S_OK;
        std::string script;
        for (const CorrelationRow& row : kCatalogue) {
            const HRESULT hr = ReadScriptResource(row.scriptResourceId, script);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    HRESULT UnregisterLibrary() const {
        if (!prescribedSteps) return UnRegisterTypeLib(LIBID_PVTCORRELATORLib, 1, 0, 0, SYS_WIN64);
        ITypeLib* library = nullptr;
        HRESULT hr = LoadTypeLib(modulePath.c_str(), &library);
        if (FAILED(hr)) return hr;
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (SUCCEEDED(hr)) {
            hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
            library->ReleaseTLibAttr(attributes);
        }
        library->Release();
        return hr;
    }

    HRESULT Register() const {
        if (FAILED(ReadScripts())) return E_FAIL;
        for (const KeyValue& entry : entries) {
            HKEY key = nullptr;
            LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, 0,
                                         KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
            if (error == ERROR_SUCCESS && (!entry.value.empty() || entry.valueName != nullptr)) {
                error = SetString(key, entry.valueName, entry.value);
            }
            if (key != nullptr) RegCloseKey(key);
            if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
        }
        ITypeLib* library = nullptr;
        HRESULT hr = LoadTypeLib(modulePath.c_str(), &library);
        if (FAILED(hr)) return hr;
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(modulePath.c_str()), nullptr);
        library->Release();
        return hr;
    }

    HRESULT Unregister() const {
        if (FAILED(ReadScripts())) return E_FAIL;
        // Children before parents; a named value goes with its key.
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->valueName != nullptr) continue;
            const LONG error = RegDeleteKeyW(HKEY_CLASSES_ROOT, it->key.c_str());
            if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
        }
        return UnregisterLibrary();
    }
};

// Maps HKEY_CLASSES_ROOT onto the scratch key for its lifetime.
class ScratchClassesRoot {
public:
    ScratchClassesRoot() {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &scratch_, nullptr) != ERROR_SUCCESS) {
            scratch_ = nullptr;
            return;
        }
        mapped_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch_) == ERROR_SUCCESS;
    }
    ~ScratchClassesRoot() {
        if (mapped_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (scratch_ != nullptr) RegCloseKey(scratch_);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PvtCorrelatorBench");
    }
    ScratchClassesRoot(const ScratchClassesRoot&) = delete;
    ScratchClassesRoot& operator=(const ScratchClassesRoot&) = delete;
    bool Mapped() const { return mapped_; }

private:
    HKEY scratch_ = nullptr;
    bool mapped_ = false;
};

// Whether the class key of the first class exists under the current root.
bool FirstClassRegistered(const std::wstring& classKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

}  // namespace

void BenchRegistration(const RunPlan& plan, Report& report) {
    RegistrationFloor floor;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    floor.modulePath.assign(path, length);
    for (const CorrelationRow& row : kCatalogue) {
        for (KeyValue& entry : ClassEntries(row, floor.modulePath)) floor.entries.push_back(entry);
    }
    const std::wstring firstClassKey = L"CLSID\\" + GuidText(kCatalogue[0].classId);

    ScratchClassesRoot scratch;
    if (!scratch.Mapped()) {
        report.Fail("registration: HKEY_CLASSES_ROOT could not be mapped onto a scratch key");
        return;
    }
    // Both routes leave the same entries behind and take them away again.
    HRESULT hr = RegisterServer(kClassTable);
    const bool moduleWrote = FirstClassRegistered(firstClassKey);
    if (SUCCEEDED(hr)) hr = UnregisterServer(kClassTable);
    const bool moduleRemoved = !FirstClassRegistered(firstClassKey);
    HRESULT floorHr = floor.Register();
    const bool floorWrote = FirstClassRegistered(firstClassKey);
    if (SUCCEEDED(floorHr)) floorHr = floor.Unregister();
    if (FAILED(hr) || FAILED(floorHr) || !moduleWrote || !moduleRemoved || !floorWrote ||
        FirstClassRegistered(firstClassKey)) {
        report.Fail("registration: module " + HrText(hr) + ", floor " + HrText(floorHr));
        return;
    }

    const auto module = [&](long n) {
        for (long i = 0; i < n; ++i) {
            HRESULT done = RegisterServer(kClassTable);
            if (SUCCEEDED(done)) done = UnregisterServer(kClassTable);
            if (FAILED(done)) {
                report.Fail("registration: " + HrText(done));
                return;
            }
        }
    };
    const auto direct = [&](long n) {
        for (long i = 0; i < n; ++i) {
            HRESULT done = floor.Register();
            if (SUCCEEDED(done)) done = floor.Unregister();
            if (FAILED(done)) {
                report.Fail("registration floor: " + HrText(done));
                return;
            }
        }
    };
    report.comparisons.push_back(
        Compare("DllRegisterServer + DllUnregisterServer",
                std::to_string(floor.entries.size()) + " registry writes, deletes, type library",
                2.0, module, direct, plan));
    floor.prescribedSteps = true;
    report.comparisons.push_back(
        Compare("DllRegisterServer + DllUnregisterServer (floor reads the scripts)",
                "as above, plus each script read from the module file as data both ways, and the "
                "type library loaded to unregister it",
                1.15, module, direct, plan));
}

}  // namespace pvt::bench
