// Connect plus Disconnect beside the host calls a connection needs: the
// source's IConnectionSource, a clone of the template set, and their
// releases.
#include "LeanHost.h"
#include "Report.h"
#include "support/TestAccess.h"

#include "VarHubControl.h"
#include "correlations/Correlation.h"
#include "module/ClassTable.h"

#include <wrl/client.h>

namespace pvt::bench {

using Microsoft::WRL::ComPtr;

void BenchConnect(const RunPlan& plan, Report& report) {
    ComPtr<ICorrelation> correlation;
    HRESULT hr = kClassTable[0].makeInstance(nullptr, IID_ICorrelation,
                                             reinterpret_cast<void**>(correlation.GetAddressOf()));
    if (FAILED(hr)) {
        report.Fail("connect: create: " + HrText(hr));
        return;
    }
    // The template set is the data server's, as creation made it.
    IHostVariableSet* templateSet =
        CorrelationTestAccess::templateSet(*static_cast<CCorrelation*>(correlation.Get())).Get();

    LeanFluidControl fluidControl;
    IFluidPropertySource* fluid = NewLeanFluid(fluidControl);
    ISourceItem* item = NewLeanItem(fluid);
    IUnknown* sourceObject = NewLeanSource(item);
    item->Release();
    fluid->Release();

    const auto connectDisconnect = [&](long n) {
        for (long i = 0; i < n; ++i) {
            LONG id = 0;
            IUnknown* set = nullptr;
            HRESULT done = correlation->Connect(sourceObject, 7, &id, &set);
            if (SUCCEEDED(done)) done = correlation->Disconnect(id);
            if (FAILED(done)) {
                report.Fail("connect/disconnect: " + HrText(done));
                return;
            }
        }
    };
    const auto floor = [&](long n) {
        for (long i = 0; i < n; ++i) {
            IConnectionSource* source = nullptr;
            HRESULT done = sourceObject->QueryInterface(IID_IConnectionSource,
                                                        reinterpret_cast<void**>(&source));
            IHostVariableSet* clone = nullptr;
            if (SUCCEEDED(done)) done = templateSet->Clone(&clone);
            if (clone != nullptr) clone->Release();
            if (source != nullptr) source->Release();
            if (FAILED(done)) {
                report.Fail("connect floor: " + HrText(done));
                return;
            }
        }
    };
    report.comparisons.push_back(Compare("Connect + Disconnect",
                                         "QueryInterface, data-server Clone, releases", 1.5,
                                         connectDisconnect, floor, plan, [] { VarHub_Reset(); }));
    correlation.Reset();
    sourceObject->Release();
}

}  // namespace pvt::bench
