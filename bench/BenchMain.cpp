// pvt_bench: times the module's operations as ratios to the least each job
// needs, measured in the same run against the same host objects.
//
//   pvt_bench.exe            full run, plain table
//   pvt_bench.exe --json     full run, JSON
//   pvt_bench.exe --quick    a few iterations: checks that everything runs,
//                            that Calculate allocates nothing and that every
//                            object is released; registration is skipped
//   pvt_bench.exe --only=calculate|creation|connect|registration|scale
//   pvt_bench.exe --scale-max=N   the scale section's sizes stop at N
//
// The exit code is 1 when a correctness check fails (never for timing).
#include "LeanHost.h"
#include "Report.h"

#include "PvtCorrelator.h"
#include "VarHubControl.h"
#include "com/ComModule.h"
#include "module/ClassTable.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pvt::bench {

std::string HrText(long hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

namespace {

struct Options {
    bool json = false;
    bool quick = false;
    std::string only;
    long scaleMax = 100000;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--quick") {
            options.quick = true;
        } else if (arg.rfind("--only=", 0) == 0) {
            options.only = arg.substr(7);
        } else if (arg.rfind("--scale-max=", 0) == 0) {
            options.scaleMax = std::atol(arg.c_str() + 12);
        } else {
            std::fprintf(stderr,
                         "usage: pvt_bench [--json] [--quick] "
                         "[--only=calculate|creation|connect|registration|scale] "
                         "[--scale-max=N]\n");
            return false;
        }
    }
    return true;
}

std::string Ratio(double ratio) {
    char text[16];
    std::snprintf(text, sizeof text, "(%.2f)", ratio);
    return text;
}

// Whether the row's ratio at N = 10,000 is within its target.
bool ScaleMet(const Report& report, const ScaleRow& row) {
    for (std::size_t s = 0; s < report.scaleSizes.size(); ++s) {
        if (report.scaleSizes[s] == 10000 && row.Measured(s)) return row.Ratio(s) <= row.target;
    }
    return true;
}

// Nanoseconds in a readable unit.
std::string Time(double ns) {
    char text[32];
    if (ns < 1e3) {
        std::snprintf(text, sizeof text, "%.1f ns", ns);
    } else if (ns < 1e6) {
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    }
    return text;
}

// The scale section: time per call at each N, and its ratio to N = 1.
void PrintScaleTable(const Report& report) {
    if (report.scale.empty()) return;
    std::printf("\nscale: one correlation with N connections, or N correlations alive\n");
    std::printf("%-44s", "operation");
    for (long n : report.scaleSizes) std::printf(" %18s", ("N = " + std::to_string(n)).c_str());
    std::printf(" %6s\n", "target");
    for (const ScaleRow& row : report.scale) {
        std::printf("%-44s", row.operation.c_str());
        for (std::size_t s = 0; s < row.nanoseconds.size(); ++s) {
            const std::string cell =
                row.Measured(s) ? Time(row.nanoseconds[s]) + " " + Ratio(row.Ratio(s)) : "-";
            std::printf(" %18s", cell.c_str());
        }
        if (row.target > 0)
            std::printf(" %6.2f%s", row.target, ScaleMet(report, row) ? "" : "  MISSED");
        std::printf("\n");
    }
    for (const ScaleMemoryRow& row : report.scaleMemory) {
        std::printf("%-44s", row.operation.c_str());
        for (std::size_t s = 0; s < report.scaleSizes.size(); ++s) {
            const double bytes = s < row.bytes.size() ? row.bytes[s] : 0;
            std::printf(" %18s", bytes > 0
                                     ? (std::to_string(static_cast<long>(bytes)) + " B").c_str()
                                     : "-");
        }
        std::printf("\n");
    }
    std::printf(
        "(time per call of the fastest round, and in brackets its ratio to N = 1; targets\n"
        " hold at N = 10000; memory: growth over N items at the largest N, made first)\n");
}

void PrintTable(const Report& report) {
    std::printf("%-44s %11s %22s %11s %22s %6s %6s %6s\n", "operation", "module", "(min..max)",
                "floor", "(min..max)", "ratio", "(med)", "target");
    for (const Comparison& c : report.comparisons) {
        const std::string moduleSpread = Time(c.module.min) + ".." + Time(c.module.max);
        const std::string floorSpread = Time(c.floor.min) + ".." + Time(c.floor.max);
        std::printf("%-44s %11s %22s %11s %22s %6.3f %6.3f %6.2f%s\n", c.operation.c_str(),
                    Time(c.module.median).c_str(), moduleSpread.c_str(),
                    Time(c.floor.median).c_str(), floorSpread.c_str(), c.ratio, c.medianRatio,
                    c.target, c.ratio <= c.target ? "" : "  MISSED");
    }
    std::printf(
        "\ntimes: median (min..max) per operation over the batches; ratio: fastest\n"
        "batch over fastest batch, held against the target; (med): medians\n");
    std::printf("\nfloors:\n");
    for (const Comparison& c : report.comparisons) {
        std::printf("  %-46s %s\n", c.operation.c_str(), c.floorDescription.c_str());
    }
    PrintScaleTable(report);
    std::printf("\nheap allocations by the module per operation:\n");
    for (const AllocationRow& row : report.allocations) {
        std::printf("  %-46s %g\n", row.operation.c_str(), row.perOperation);
    }
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

void PrintSpread(const char* name, const Spread& s) {
    std::printf(
        "\"%s\": {\"median_ns\": %.3f, \"min_ns\": %.3f, \"max_ns\": %.3f, "
        "\"q1_ns\": %.3f, \"q3_ns\": %.3f}",
        name, s.median, s.min, s.max, s.q1, s.q3);
}

void PrintJson(const Report& report) {
    std::printf("{\n  \"comparisons\": [\n");
    for (std::size_t i = 0; i < report.comparisons.size(); ++i) {
        const Comparison& c = report.comparisons[i];
        std::printf("    {\"operation\": %s, \"floor\": %s, \"iterations_per_batch\": %ld, ",
                    JsonText(c.operation).c_str(), JsonText(c.floorDescription).c_str(),
                    c.iterations);
        PrintSpread("module", c.module);
        std::printf(", ");
        PrintSpread("floor_time", c.floor);
        std::printf(", \"ratio\": %.4f, \"median_ratio\": %.4f, \"target\": %.2f, \"met\": %s}%s\n",
                    c.ratio, c.medianRatio, c.target, c.ratio <= c.target ? "true" : "false",
                    i + 1 < report.comparisons.size() ? "," : "");
    }
    std::printf("  ],\n  \"allocations_per_operation\": [\n");
    for (std::size_t i = 0; i < report.allocations.size(); ++i) {
        const AllocationRow& row = report.allocations[i];
        std::printf("    {\"operation\": %s, \"allocations\": %g}%s\n",
                    JsonText(row.operation).c_str(), row.perOperation,
                    i + 1 < report.allocations.size() ? "," : "");
    }
    std::printf("  ],\n  \"scale\": [\n");
    for (std::size_t i = 0; i < report.scale.size(); ++i) {
        const ScaleRow& row = report.scale[i];
        std::printf("    {\"operation\": %s, \"sizes\": [", JsonText(row.operation).c_str());
        for (std::size_t s = 0, shown = 0; s < row.nanoseconds.size(); ++s) {
            if (!row.Measured(s)) continue;
            std::printf("%s{\"n\": %ld, \"ns\": %.3f, \"ratio\": %.4f}", shown++ ? ", " : "",
                        report.scaleSizes[s], row.nanoseconds[s], row.Ratio(s));
        }
        std::printf("], \"target\": %.2f, \"met\": %s}%s\n", row.target,
                    row.target == 0 || ScaleMet(report, row) ? "true" : "false",
                    i + 1 < report.scale.size() ? "," : "");
    }
    std::printf("  ],\n  \"scale_memory\": [\n");
    for (std::size_t i = 0; i < report.scaleMemory.size(); ++i) {
        const ScaleMemoryRow& row = report.scaleMemory[i];
        std::printf("    {\"operation\": %s, \"bytes\": [", JsonText(row.operation).c_str());
        for (std::size_t s = 0, shown = 0; s < row.bytes.size(); ++s) {
            if (row.bytes[s] <= 0) continue;
            std::printf("%s{\"n\": %ld, \"bytes\": %.0f}", shown++ ? ", " : "",
                        report.scaleSizes[s], row.bytes[s]);
        }
        std::printf("]}%s\n", i + 1 < report.scaleMemory.size() ? "," : "");
    }
    std::printf("  ],\n  \"failures\": [");
    for (std::size_t i = 0; i < report.failures.size(); ++i) {
        std::printf("%s%s", i ? ", " : "", JsonText(report.failures[i]).c_str());
    }
    std::printf("]\n}\n");
}

// Everything the benches made must be gone again, and the module unlocked.
void CheckReleased(LONG hubObjects, LONG hubReferences, Report& report) {
    if (VarHub_LiveObjects() != hubObjects || VarHub_References() != hubReferences) {
        report.Fail("data-server objects or references were not released");
    }
    if (LeanLiveObjects() != 0) report.Fail("lean host objects were not released");
    if (Module().GetLockCount() != 0) report.Fail("module lock count is not 0");
}

int Run(const Options& options) {
    RunPlan plan;
    if (options.quick) {
        plan.batches = 2;
        plan.batchSeconds = 0;
        plan.warmupSeconds = 0;
        plan.minIterations = 3;
    }
    Report report;
    const LONG hubObjects = VarHub_LiveObjects();
    const LONG hubReferences = VarHub_References();
    const auto selected = [&](const char* name) {
        return options.only.empty() || options.only == name;
    };
    if (selected("calculate")) BenchCalculate(plan, report);
    if (selected("creation")) BenchCreation(plan, report);
    if (selected("connect")) BenchConnect(plan, report);
    if (selected("scale")) BenchScale(options.quick, options.scaleMax, report);
    if (selected("registration") && !options.quick) {
        RunPlan slow = plan;
        slow.batches = 31;
        slow.batchSeconds = 0;  // one registration per batch
        BenchRegistration(slow, report);
    }
    VarHub_Reset();
    CheckReleased(hubObjects, hubReferences, report);

    for (const AllocationRow& row : report.allocations) {
        if (row.perOperation != 0) report.Fail(row.operation + " allocates on the heap");
    }
    if (options.json) {
        PrintJson(report);
    } else {
        PrintTable(report);
    }
    for (const std::string& failure : report.failures) {
        std::fprintf(stderr, "FAILED: %s\n", failure.c_str());
    }
    return report.failures.empty() ? 0 : 1;
}

}  // namespace

}  // namespace pvt::bench

int main(int argc, char** argv) {
    pvt::bench::Options options;
    if (!pvt::bench::ParseOptions(argc, argv, options)) return 2;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    // What the module's start-up does when it is loaded as a DLL.
    pvt::Module().Init(pvt::kClassTable, LIBID_PVTCORRELATORLib);
    const int result = pvt::bench::Run(options);
    pvt::Module().Term();
    CoUninitialize();
    return result;
}
