// What a bench run found: the timed comparisons, allocation counts and any
// check that failed.
#pragma once

#include "Timing.h"

#include <string>
#include <vector>

namespace pvt::bench {

struct AllocationRow {
    std::string operation;
    double perOperation = 0;  // heap allocations made by the module
};

// One operation timed at each size of the scale section.
struct ScaleRow {
    std::string operation;
    std::vector<double> nanoseconds;  // per call, one per size; 0: not measured
    double target = 0;                // held at N = 10,000; 0: none

    bool Measured(std::size_t size) const { return nanoseconds[size] > 0; }
    double Ratio(std::size_t size) const { return nanoseconds[size] / nanoseconds[0]; }
};

struct ScaleMemoryRow {
    std::string operation;
    std::vector<double> bytes;  // per item, one per size; 0: not measured
};

struct Report {
    std::vector<Comparison> comparisons;
    std::vector<AllocationRow> allocations;
    std::vector<long> scaleSizes;  // the N of the scale section
    std::vector<ScaleRow> scale;
    std::vector<ScaleMemoryRow> scaleMemory;
    std::vector<std::string> failures;  // correctness, never timing

    void Fail(const std::string& what) { failures.push_back(what); }
};

// The benches; each adds its rows and failures to report.
void BenchCalculate(const RunPlan& plan, Report& report);
void BenchCreation(const RunPlan& plan, Report& report);
void BenchConnect(const RunPlan& plan, Report& report);
void BenchRegistration(const RunPlan& plan, Report& report);
// Sizes 1, 100, 10,000 and (unless quick) 100,000, none above largest.
void BenchScale(bool quick, long largest, Report& report);

// Hex text of an HRESULT, for failure messages.
std::string HrText(long hr);

}  // namespace pvt::bench
