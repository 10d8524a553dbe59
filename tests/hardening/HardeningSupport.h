// Shared pieces of the hardening sweeps: a fixture with the doubles quiet,
// fake connections, the class table attached, the registry double made the
// active registry, and the type library left as it was found.
#pragma once

#include "com/ModuleResources.h"
#include "correlations/CorrelationClasses.h"
#include "doubles/RegistryDouble.h"
#include "module/ClassTable.h"
#include "properties/PropertyCalculator.h"
#include "registration/Registrar.h"
#include "registration/ServerRegistration.h"
#include "support/AllocationFailure.h"
#include "support/HostFixture.h"
#include "support/TestAccess.h"

#include "PvtCorrelator.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace pvt::test {

using Microsoft::WRL::ComPtr;

// A whole number from the environment, or fallback when it is unset or
// not a number.
inline long EnvironmentNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end != nullptr && *end == '\0' && value >= 0) ? value : fallback;
}

// The class table as the module's start-up attaches it.
inline void AttachClassTable() { Module().Init(kClassTable, LIBID_PVTCORRELATORLib); }

// Releases the class objects the class table cached, as shut-down does,
// without running the termination list.
inline void ReleaseCachedClassObjects() {
    for (ClassTableEntry* entry = kClassTable; entry->classId != nullptr; ++entry) {
        IUnknown* cached = entry->cachedClassObject;
        entry->cachedClassObject = nullptr;
        if (cached != nullptr) cached->Release();
    }
}

inline int CatalogueIndex(const char* name) {
    for (int i = 0; i < kCatalogueSize; ++i) {
        if (std::string(kCatalogue[i].name) == name) return i;
    }
    return -1;
}

// One class of each kind of publication.
inline std::vector<int> OneClassPerPublication() {
    return {CatalogueIndex("BubblePtPressure"), CatalogueIndex("MassFlowRate"),
            CatalogueIndex("VolFlowRate"), CatalogueIndex("Viscosity")};
}

// A source whose item serves a fluid with the given block.
struct FakeConnection {
    ComPtr<FakeSource> source;
    ComPtr<FakeItem> item;
    ComPtr<FakeFluid> fluid;

    explicit FakeConnection(const PropertyBlock& block = DistinctBlock()) {
        source = Adopt(new FakeSource());
        item = Adopt(new FakeItem());
        fluid = Adopt(new FakeFluid());
        fluid->block = block;
        item->fluid = fluid;
        source->item = item;
    }
    // The fakes' own counts, to compare before and after a call.
    std::vector<LONG> Counts() const {
        return {source->RefCount(), item->RefCount(), fluid->RefCount()};
    }
};

// HostFixture with the fakes' logging off (their log lines allocate, which
// would blur allocation sweeps) and the shared calculator checked idle.
class HardeningFixture : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        FakeCounters::SetLogging(false);
    }
    void TearDown() override {
        FakeCounters::SetLogging(true);
        ExpectCalculatorIdle();
        HostFixture::TearDown();
    }

    static void ExpectCalculatorIdle() {
        CPropertyCalculator& calculator = CPropertyCalculator::Instance();
        EXPECT_EQ(nullptr, CalculatorTestAccess::BoundFluid(calculator));
        EXPECT_EQ(0, CalculatorTestAccess::HoldFlag(calculator));
        const PublicationTurn turn;
        EXPECT_TRUE(turn.Acquired()) << "the calculator is still taken";
    }

    // A new standalone correlation of class index, queried for ICorrelation.
    static ComPtr<ICorrelation> Create(int index) {
        ComPtr<ICorrelation> correlation;
        const HRESULT hr =
            kClassTable[index].makeInstance(nullptr, IID_PPV_ARGS(correlation.GetAddressOf()));
        EXPECT_EQ(S_OK, hr) << kCatalogue[index].name;
        return correlation;
    }

    // "SetValue(" lines in the data-server double's log.
    static int WritesLogged() { return static_cast<int>(LogWith(".SetValue(").size()); }
};

// Forwards to a registry double with the calling thread's allocations paused,
// so that an allocation sweep fails only the registrar's own allocations.
class PausingRegistry final : public RegistryAccess {
public:
    explicit PausingRegistry(RegistryDouble& inner) : inner_(inner) {}
    LONG OpenKey(HKEY parent, const std::wstring& name, KeyAccess access, HKEY& key) override {
        ScopedAllocationPause pause;
        return inner_.OpenKey(parent, name, access, key);
    }
    LONG CreateKey(HKEY parent, const std::wstring& name, HKEY& key) override {
        ScopedAllocationPause pause;
        return inner_.CreateKey(parent, name, key);
    }
    LONG SetStringValue(HKEY key, const std::wstring& valueName,
                        const std::wstring& value) override {
        ScopedAllocationPause pause;
        return inner_.SetStringValue(key, valueName, value);
    }
    LONG DeleteValue(HKEY key, const std::wstring& valueName) override {
        ScopedAllocationPause pause;
        return inner_.DeleteValue(key, valueName);
    }
    LONG DeleteKey(HKEY parent, const std::wstring& name) override {
        ScopedAllocationPause pause;
        return inner_.DeleteKey(parent, name);
    }
    LONG EnumerateSubkey(HKEY key, DWORD index, std::wstring& name) override {
        ScopedAllocationPause pause;
        return inner_.EnumerateSubkey(key, index, name);
    }
    LONG CountSubkeys(HKEY key, DWORD& count) override {
        ScopedAllocationPause pause;
        return inner_.CountSubkeys(key, count);
    }
    void CloseKey(HKEY key) override {
        ScopedAllocationPause pause;
        inner_.CloseKey(key);
    }

private:
    RegistryDouble& inner_;
};

// Makes a registry the active one for its lifetime.
class ActiveRegistryScope {
public:
    explicit ActiveRegistryScope(RegistryAccess& registry) { SetActiveRegistry(&registry); }
    ~ActiveRegistryScope() { SetActiveRegistry(nullptr); }
    ActiveRegistryScope(const ActiveRegistryScope&) = delete;
    ActiveRegistryScope& operator=(const ActiveRegistryScope&) = delete;
};

// Leaves the module's type library registered in the platform's registry
// exactly when it was registered before.
class TypeLibraryRestorer {
public:
    TypeLibraryRestorer() : wasRegistered_(IsRegistered()) {}
    ~TypeLibraryRestorer() {
        if (wasRegistered_ && !IsRegistered()) RegisterTypeLibrary();
        if (!wasRegistered_ && IsRegistered()) UnregisterTypeLibrary();
    }
    TypeLibraryRestorer(const TypeLibraryRestorer&) = delete;
    TypeLibraryRestorer& operator=(const TypeLibraryRestorer&) = delete;

    static bool IsRegistered() {
        BSTR path = nullptr;
        const HRESULT hr = QueryPathOfRegTypeLib(LIBID_PVTCORRELATORLib, 1, 0, 0, &path);
        SysFreeString(path);
        return SUCCEEDED(hr);
    }

private:
    bool wasRegistered_;
};

// Runs the registry scripts of classes [from, to) in class-table order;
// the first failure stops the run.
inline HRESULT RunClassScripts(int from, int to, bool registering) {
    for (int i = from; i < to; ++i) {
        const HRESULT hr = kClassTable[i].registration(registering);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// A registry double as every machine's registry starts: HKCR\CLSID exists
// (the class scripts never remove it).
inline std::unique_ptr<RegistryDouble> MachineRegistry() {
    auto registry = std::make_unique<RegistryDouble>();
    registry->AddKey(HKEY_CLASSES_ROOT, L"CLSID");
    return registry;
}

// Runs the class scripts [from, to) straight from the resources, without
// the module's per-script file loading: a quick way to set a registry up.
inline HRESULT RunScriptTexts(RegistryAccess& registry, int from, int to, bool registering) {
    std::wstring path;
    HRESULT hr = GetModuleFilePath(ThisModule(), path);
    if (FAILED(hr)) return hr;
    const Replacements replacements = MakeModuleReplacements(path);
    for (int i = from; i < to; ++i) {
        const std::string_view script =
            FindModuleResource(L"REGISTRY", MAKEINTRESOURCEW(kCatalogue[i].scriptResourceId));
        hr = RunRegistryScript(script, replacements, registering, registry);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// One step of setting a registry up: a class's script, registering or not.
struct ScriptStep {
    int index;
    bool registering;
};

inline void ApplySteps(RegistryDouble& registry, const std::vector<ScriptStep>& steps) {
    for (const ScriptStep& step : steps) {
        EXPECT_EQ(S_OK, RunScriptTexts(registry, step.index, step.index + 1, step.registering));
    }
}

// The dump of a machine's registry after the steps.
inline std::string DumpAfter(const std::vector<ScriptStep>& steps) {
    const std::unique_ptr<RegistryDouble> registry = MachineRegistry();
    ApplySteps(*registry, steps);
    return registry->Dump();
}

// The registry's dump after registering the first k classes into a
// machine's registry, for every k from 0 to kCatalogueSize.
inline std::vector<std::string> RegisteredPrefixDumps() {
    std::vector<std::string> dumps;
    const std::unique_ptr<RegistryDouble> owned = MachineRegistry();
    RegistryDouble& registry = *owned;
    ActiveRegistryScope active(registry);
    dumps.push_back(registry.Dump());
    for (int i = 0; i < kCatalogueSize; ++i) {
        EXPECT_EQ(S_OK, RunClassScripts(i, i + 1, true));
        dumps.push_back(registry.Dump());
    }
    return dumps;
}

// A registry dump split into keys: each key line with the value lines below it.
struct DumpBlock {
    std::string key;
    std::string text;
};

inline std::vector<DumpBlock> DumpBlocks(const std::string& dump) {
    std::vector<DumpBlock> blocks;
    std::size_t start = 0;
    while (start < dump.size()) {
        std::size_t end = dump.find('\n', start);
        if (end == std::string::npos) end = dump.size();
        const std::string line = dump.substr(start, end - start);
        if (!line.empty() && line[0] != ' ') {
            blocks.push_back({line, line + "\n"});
        } else if (!blocks.empty()) {
            blocks.back().text += line + "\n";
        }
        start = end + 1;
    }
    return blocks;
}

inline std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Whether a dumped key belongs to class index: its ProgIDs or its CLSID key.
inline bool KeyOfClass(const std::string& key, int index) {
    const std::string path = Upper(key) + "\\";
    const std::string progId = Upper(std::string("\\PvtCorrelator.") + kCatalogue[index].name);
    wchar_t guid[40] = {};
    StringFromGUID2(kCatalogue[index].classId, guid, 40);
    const std::string clsid = Upper("\\CLSID\\" + Utf8(guid) + "\\");
    return path.find(progId + "\\") != std::string::npos ||
           path.find(progId + ".1\\") != std::string::npos || path.find(clsid) != std::string::npos;
}

// The dump without the keys of class index.
inline std::string DumpWithoutClass(const std::string& dump, int index) {
    std::string text;
    for (const DumpBlock& block : DumpBlocks(dump)) {
        if (!KeyOfClass(block.key, index)) text += block.text;
    }
    return text;
}

}  // namespace pvt::test
