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

struct Report {
    std::vector<Comparison> comparisons;
    std::vector<AllocationRow> allocations;
    std::vector<std::string> failures;  // correctness, never timing

    void Fail(const std::string& what) { failures.push_back(what); }
};

// The benches; each adds its rows and failures to report.
void BenchCalculate(const RunPlan& plan, Report& report);
void BenchCreation(const RunPlan& plan, Report& report);
void BenchConnect(const RunPlan& plan, Report& report);
void BenchRegistration(const RunPlan& plan, Report& report);

// Hex text of an HRESULT, for failure messages.
std::string HrText(long hr);

}  // namespace pvt::bench
