// Calculate on a connected correlation against lean host objects, beside the
// floor publication over the very same objects.
#include "CalculateFloor.h"
#include "CountingNew.h"
#include "LeanHost.h"
#include "Report.h"
#include "support/TestAccess.h"

#include "correlations/Correlation.h"
#include "module/ClassTable.h"

#include <wrl/client.h>

#include <cstring>

namespace pvt::bench {

using Microsoft::WRL::ComPtr;

namespace {

// Every phase present; slot k, index i holds k * 10 + i + 0.5.
PropertyBlock BenchBlock() {
    PropertyBlock block{};
    for (int p = 0; p < kPhaseCount; ++p) block.phasePresent[p] = 1;
    for (int k = 0; k < kPropertySlotCount; ++k) {
        for (int i = 0; i <= kOverallIndex; ++i) block.slots[k][i] = k * 10 + i + 0.5;
    }
    return block;
}

int CatalogueIndex(const char* name) {
    for (int i = 0; i < kCatalogueSize; ++i) {
        if (std::strcmp(kCatalogue[i].name, name) == 0) return i;
    }
    return -1;
}

// One correlation connected to a lean source whose fluid is fluidControl's;
// its connection set (and "Phase_Values") is lean as well.
class ConnectedCorrelation {
public:
    ConnectedCorrelation(int index, LeanFluidControl& fluidControl, Report& report) {
        HRESULT hr = kClassTable[index].makeInstance(
            nullptr, IID_ICorrelation, reinterpret_cast<void**>(correlation_.GetAddressOf()));
        if (FAILED(hr)) {
            report.Fail("create " + std::string(kCatalogue[index].name) + ": " + HrText(hr));
            return;
        }
        CCorrelation* object = static_cast<CCorrelation*>(correlation_.Get());
        // Connections clone the template: a lean one gives lean connection sets.
        IHostVariable* templateVariable = NewLeanVariable();
        IHostVariableSet* leanTemplate = NewLeanSet(templateVariable);
        CorrelationTestAccess::templateSet(*object).Attach(leanTemplate);
        templateVariable->Release();

        IFluidPropertySource* fluid = NewLeanFluid(fluidControl);
        ISourceItem* item = NewLeanItem(fluid);
        source_ = NewLeanSource(item);
        item->Release();
        fluid->Release();

        IUnknown* set = nullptr;
        hr = correlation_->Connect(source_, kItemKey, &id_, &set);
        if (FAILED(hr)) {
            report.Fail("connect: " + HrText(hr));
            return;
        }
        set_ = static_cast<IHostVariableSet*>(set);  // the record's reference
        IUnknown* found = nullptr;
        set_->FindVariable(L"Phase_Values", &found);
        variable_ = static_cast<IHostVariable*>(found);
        variable_->Release();  // the set keeps it
        ready_ = true;
    }
    ~ConnectedCorrelation() {
        correlation_.Reset();
        if (source_ != nullptr) source_->Release();
    }
    ConnectedCorrelation(const ConnectedCorrelation&) = delete;
    ConnectedCorrelation& operator=(const ConnectedCorrelation&) = delete;

    bool Ready() const { return ready_; }
    HRESULT Calculate() { return correlation_->Calculate(id_); }
    HRESULT Floor(const CorrelationRow& row) { return FloorPublish(source_, kItemKey, set_, row); }
    const double* Values() const { return LeanValues(variable_); }
    void ClearValues() {
        for (int i = 0; i < 4; ++i) variable_->SetValue(i, 0.0);
    }

private:
    static constexpr LONG kItemKey = 7;
    ComPtr<ICorrelation> correlation_;
    IConnectionSource* source_ = nullptr;
    IHostVariableSet* set_ = nullptr;
    IHostVariable* variable_ = nullptr;
    LONG id_ = 0;
    bool ready_ = false;
};

struct HostCalls {
    long fetches = 0;
    long unchangedQueries = 0;
};

// The fluid calls n runs of operation make.
template <class Body>
HostCalls CountHostCalls(LeanFluidControl& fluid, long n, Body&& body) {
    const long fetches = fluid.fetches, queries = fluid.unchangedQueries;
    for (long i = 0; i < n; ++i) body();
    return {fluid.fetches - fetches, fluid.unchangedQueries - queries};
}

void BenchOne(const char* className, bool unchanged, const RunPlan& plan, Report& report) {
    const int index = CatalogueIndex(className);
    if (index < 0) {
        report.Fail(std::string("no catalogue row ") + className);
        return;
    }
    const CorrelationRow& row = kCatalogue[index];
    const std::string label = std::string("Calculate ") + className +
                              (unchanged ? " (block unchanged)" : " (block fetched)");
    LeanFluidControl fluid;
    fluid.block = BenchBlock();
    ConnectedCorrelation connected(index, fluid, report);
    if (!connected.Ready()) return;

    // A first publication fills the calculator's block; from then on an
    // unchanged fluid is never fetched from.
    HRESULT hr = connected.Calculate();
    connected.Floor(row);
    fluid.unchanged = unchanged ? VARIANT_TRUE : VARIANT_FALSE;

    // Both publish the same four values with the same fluid calls.
    connected.ClearValues();
    hr = connected.Calculate();
    double moduleValues[4];
    std::memcpy(moduleValues, connected.Values(), sizeof moduleValues);
    connected.ClearValues();
    const HRESULT floorHr = connected.Floor(row);
    if (hr != S_OK || floorHr != S_OK) {
        report.Fail(label + ": " + HrText(hr) + " / floor " + HrText(floorHr));
        return;
    }
    if (std::memcmp(moduleValues, connected.Values(), sizeof moduleValues) != 0) {
        report.Fail(label + ": the module and the floor published different values");
    }
    const HostCalls moduleCalls = CountHostCalls(fluid, 10, [&] { connected.Calculate(); });
    const HostCalls floorCalls = CountHostCalls(fluid, 10, [&] { connected.Floor(row); });
    if (moduleCalls.fetches != floorCalls.fetches ||
        moduleCalls.unchangedQueries != floorCalls.unchangedQueries) {
        report.Fail(label + ": fluid calls differ (module " +
                    std::to_string(moduleCalls.fetches / 10) + " fetches, " +
                    std::to_string(moduleCalls.unchangedQueries / 10) + " queries; floor " +
                    std::to_string(floorCalls.fetches / 10) + ", " +
                    std::to_string(floorCalls.unchangedQueries / 10) + ")");
    }

    // Heap allocations of the module's publication (the lean objects make none).
    constexpr long kCounted = 1000;
    const long before = AllocationCount();
    for (long i = 0; i < kCounted; ++i) connected.Calculate();
    const long allocations = AllocationCount() - before;
    report.allocations.push_back({label, static_cast<double>(allocations) / kCounted});

    const std::string floorText =
        "host calls only: " + std::to_string(floorCalls.fetches / 10) + " fetch(es), " +
        std::to_string(floorCalls.unchangedQueries / 10) + " IsUnchanged, 4 SetValue";
    report.comparisons.push_back(Compare(
        label, floorText, 1.10,
        [&](long n) {
            for (long i = 0; i < n; ++i) connected.Calculate();
        },
        [&](long n) {
            for (long i = 0; i < n; ++i) connected.Floor(row);
        },
        plan));
}

// The floor against itself: how far apart two identical sides come out,
// the resolution of every ratio of this run.
void BenchHarness(const RunPlan& plan, Report& report) {
    const int index = CatalogueIndex("BubblePtPressure");
    LeanFluidControl fluid;
    fluid.block = BenchBlock();
    ConnectedCorrelation connected(index, fluid, report);
    if (!connected.Ready()) return;
    const CorrelationRow& row = kCatalogue[index];
    fluid.unchanged = VARIANT_TRUE;
    const auto floor = [&](long n) {
        for (long i = 0; i < n; ++i) connected.Floor(row);
    };
    report.comparisons.push_back(Compare("Harness: floor against itself",
                                         "the Calculate floor, block unchanged", 1.10, floor, floor,
                                         plan));
}

}  // namespace

void BenchCalculate(const RunPlan& plan, Report& report) {
    BenchHarness(plan, report);
    for (const char* className : {"BubblePtPressure", "MassFlowRate", "VolFlowRate", "Viscosity"}) {
        BenchOne(className, true, plan, report);
        BenchOne(className, false, plan, report);
    }
}

}  // namespace pvt::bench
