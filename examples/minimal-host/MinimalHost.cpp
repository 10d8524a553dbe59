// A minimal host: what a simulator's correlation manager does with one
// PvtCorrelator correlation, with the checks a careful host makes. Copy it and
// put your own source, item and fluid where CStream is. Each step is marked
// with "@" and its name; docs/integration.md explains them in order.
#include "HostCorrelation.h"       // ICorrelation, made by widl/MIDL from the host's IDL
#include "HostInterfaces.h"        // the host interfaces and the property block
#include "PvtCorrelatorClasses.h"  // the module's class identifiers

#include <objbase.h>
#include <wrl/client.h>

#include <cstdio>

using Microsoft::WRL::ComPtr;
using namespace pvt;

// PvtCorrelator.MassDensity: publishes the mass density slot of the block.
const CLSID kClsidMassDensity = pvtcorrelator::CLSID_MassDensity;
const double kEmptyValue = -32767.0;  // "not available", both ways
const LONG kItemKey = 1;

// @source One object is the connection source, its only item and the fluid.
// It lives on the stack: Release never deletes, and the count shows leaks.
class CStream final : public IConnectionSource, public ISourceItem, public IFluidPropertySource {
public:
    ULONG references = 1;
    PropertyBlock block{};

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IConnectionSource) {
            *out = static_cast<IConnectionSource*>(this);
        } else if (iid == IID_IFluidPropertySource) {
            *out = static_cast<IFluidPropertySource*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetItem(LONG key, ISourceItem** item) override {
        if (item == nullptr) return E_POINTER;
        *item = key == kItemKey ? static_cast<ISourceItem*>(this) : nullptr;
        if (*item == nullptr) return E_INVALIDARG;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetFluid(IUnknown** fluid) override {
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(fluid));
    }
    STDMETHODIMP IsReady(LONG* ready) override { return ready ? (*ready = 1, S_OK) : E_POINTER; }
    STDMETHODIMP Reserved01() override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyBlock(PropertyBlock* out) override {
        return out ? (*out = block, S_OK) : E_POINTER;
    }
    // Unchanged blocks are not fetched again; this one may change at any time.
    STDMETHODIMP IsUnchanged(VARIANT_BOOL* unchanged) override {
        return unchanged ? (*unchanged = VARIANT_FALSE, S_OK) : E_POINTER;
    }
};

// Prints a failed step; the caller returns non-zero.
bool Failed(HRESULT hr, const char* step) {
    if (SUCCEEDED(hr)) return false;
    std::fprintf(stderr, "minimal-host: %s failed: 0x%08lX\n", step,
                 static_cast<unsigned long>(hr));
    return true;
}

// A function that the data server exports.
template <class Function>
Function Export(HMODULE server, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(server, name)));
}

// @read The contract only writes variables; reading one back is the data
// server's business. The reference server exports VarHubGetValue for it.
using GetValueFunction = HRESULT(WINAPI*)(IUnknown*, LONG, double*);
using LiveObjectsFunction = LONG(WINAPI*)();

int RunHost(HMODULE server, CStream& stream) {
    const auto getValue = Export<GetValueFunction>(server, "VarHubGetValue");
    if (getValue == nullptr) return Failed(E_NOINTERFACE, "finding VarHubGetValue"), 1;
    ComPtr<ICorrelation> correlation;  // @create by class identifier, in-process
    if (Failed(CoCreateInstance(kClsidMassDensity, nullptr, CLSCTX_INPROC_SERVER,
                                pvtcorrelator::IID_ICorrelation,
                                reinterpret_cast<void**>(correlation.GetAddressOf())),
               "CoCreateInstance"))
        return 1;
    LONG id = 0;
    IUnknown* connectionSet = nullptr;  // @connect borrowed: never Release it
    if (Failed(correlation->Connect(static_cast<IConnectionSource*>(&stream), kItemKey, &id,
                                    &connectionSet),
               "Connect"))
        return 1;
    // @calculate E_FAIL also answers a Calculate made while another one runs
    // (never overlap them); then nothing was written.
    HRESULT hr = correlation->Calculate(id);
    ComPtr<IHostVariableSet> set;
    ComPtr<IUnknown> variable;
    if (SUCCEEDED(hr)) {
        hr = connectionSet->QueryInterface(IID_IHostVariableSet,
                                           reinterpret_cast<void**>(set.GetAddressOf()));
    }
    if (SUCCEEDED(hr)) hr = set->FindVariable(L"Phase_Values", variable.GetAddressOf());
    const char* labels[4] = {"overall", "phase 0", "phase 1", "phase 2"};
    for (LONG i = 0; SUCCEEDED(hr) && i < 4; ++i) {
        double value = 0.0;
        hr = getValue(variable.Get(), i, &value);
        if (FAILED(hr)) break;
        if (value == kEmptyValue) std::printf("%-8s n/a\n", labels[i]);  // @empty
        else std::printf("%-8s %.15g\n", labels[i], value);
    }
    variable.Reset();  // the set and its variables go with the connection
    set.Reset();
    const bool readFailed = Failed(hr, "Calculate or reading \"Phase_Values\"");
    // @disconnect ids behind this connection drop by one; the set is gone now.
    if (Failed(correlation->Disconnect(id), "Disconnect") || readFailed) return 1;
    return 0;
}

int main() {
    // @load the data server first, so the module finds this very copy by name.
    HMODULE server = LoadLibraryW(L"varhub2.dll");
    if (server == nullptr) return Failed(HRESULT_FROM_WIN32(GetLastError()), "loading varhub2"), 1;
    // @apartment the classes are registered "Apartment": call them from an STA.
    if (Failed(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx")) {
        return FreeLibrary(server), 1;
    }
    CStream stream;
    stream.block.phasePresent[0] = stream.block.phasePresent[1] = 1;  // gas, oil; no water
    for (auto& slot : stream.block.slots)
        for (double& value : slot) value = kEmptyValue;
    const double density[5] = {125.0, 742.0, 1012.0, kEmptyValue, 553.1};  // phases 0-3, all
    for (int i = 0; i < 5; ++i) stream.block.slots[10][i] = density[i];    // slot 10: density
    int exitCode = RunHost(server, stream);
    // @cleanup everything released: the source holds only its own reference
    // and the data server has no objects left.
    const auto liveObjects = Export<LiveObjectsFunction>(server, "VarHubLiveObjectCount");
    CoFreeUnusedLibraries();
    if (stream.references != 1 || (liveObjects && liveObjects() != 0)) {
        std::fprintf(stderr, "minimal-host: left: %lu source references, %ld server objects\n",
                     stream.references, liveObjects ? liveObjects() : -1L);
        exitCode = 1;
    }
    CoUninitialize();
    FreeLibrary(server);
    if (exitCode == 0) std::printf("released: source back to 1 reference, no server objects\n");
    return exitCode;
}
