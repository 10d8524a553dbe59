// Built by the "sdk" test from the unpacked package's include folder alone,
// and run with the packaged module registered: what PvtCorrelatorClasses.h
// says must be what the module registers and answers. For every class, both
// programmatic identifiers lead to its class identifier and the object
// answers its own interface identifier and ICorrelation; entries 8 and 9 of
// the primary interface behave as declared (8 returns 0; after 9, Cleanup,
// the object has no variable set left), and entry 7 destroys the object so
// that the module can unload. Prints "N classes checked" and exits 0, or
// names every mismatch and exits 1.
#include "HostCorrelation.h"
#include "PvtCorrelatorClasses.h"

#include <objbase.h>

#include <cstdio>

namespace {

int failures = 0;

void Fail(const char* name, const char* what, HRESULT hr = S_OK) {
    std::printf("FAILED: %s: %s (0x%08lX)\n", name, what, static_cast<unsigned long>(hr));
    ++failures;
}

void CheckClass(const pvtcorrelator::ClassEntry& entry, bool destroyThroughEntry7) {
    CLSID found{};
    if (FAILED(CLSIDFromProgID(entry.progId, &found)) || !IsEqualCLSID(found, entry.classId)) {
        Fail(entry.name, "ProgID does not lead to the class identifier");
    }
    if (FAILED(CLSIDFromProgID(entry.versionIndependentProgId, &found)) ||
        !IsEqualCLSID(found, entry.classId)) {
        Fail(entry.name, "VersionIndependentProgID does not lead to the class identifier");
    }
    pvtcorrelator::IPrimaryInterface* primary = nullptr;
    HRESULT hr = CoCreateInstance(entry.classId, nullptr, CLSCTX_INPROC_SERVER, entry.interfaceId,
                                  reinterpret_cast<void**>(&primary));
    if (FAILED(hr) || primary == nullptr) return Fail(entry.name, "create for IID_I<Name>", hr);
    ICorrelation* correlation = nullptr;
    hr = primary->QueryInterface(pvtcorrelator::IID_ICorrelation,
                                 reinterpret_cast<void**>(&correlation));
    if (FAILED(hr) || correlation == nullptr) {
        Fail(entry.name, "no ICorrelation", hr);
        primary->Release();
        return;
    }
    if (primary->Reserved() != 0) Fail(entry.name, "entry 8 did not return 0");
    IUnknown* set = nullptr;
    hr = correlation->GetVariableSet(&set);
    if (FAILED(hr) || set == nullptr) Fail(entry.name, "no variable set before Cleanup", hr);
    if (set) set->Release();
    if (primary->Cleanup() != 0) Fail(entry.name, "entry 9 did not return 0");
    set = nullptr;
    if (correlation->GetVariableSet(&set) != E_FAIL || set != nullptr) {
        Fail(entry.name, "entry 9 is not Cleanup: a variable set is left");
    }
    correlation->Release();
    if (destroyThroughEntry7) {
        primary->DestroyObject();  // the only reference left: no Release after it
    } else {
        primary->Release();
    }
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    for (int i = 0; i < pvtcorrelator::kClassCount; ++i) {
        CheckClass(pvtcorrelator::kClasses[i], i + 1 == pvtcorrelator::kClassCount);
    }
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    HMODULE module = GetModuleHandleW(L"PvtCorrelator.dll");
    auto canUnload = module ? reinterpret_cast<CanUnload>(reinterpret_cast<void*>(
                                  GetProcAddress(module, "DllCanUnloadNow")))
                            : nullptr;
    if (canUnload == nullptr || canUnload() != S_OK) {
        Fail("module", "objects left after entry 7 destroyed the last one");
    }
    CoUninitialize();
    if (failures == 0) std::printf("%d classes checked\n", pvtcorrelator::kClassCount);
    return failures == 0 ? 0 : 1;
}
