// Timing of an operation beside its floor: warm-up, then batches of the two
// alternating (so that drift of the machine touches both alike), with the
// per-operation time of every batch kept for median and spread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pvt::bench {

struct Spread {
    double median = 0, min = 0, max = 0, q1 = 0, q3 = 0;  // nanoseconds per operation
};

struct RunPlan {
    int batches = 201;             // measured batches of each side
    double batchSeconds = 0.0005;  // wanted length of one batch: short, so
                                   // that many run without preemption
    double warmupSeconds = 0.05;   // per side, before calibration
    long minIterations = 1;        // per batch
};

struct Comparison {
    std::string operation;
    std::string floorDescription;
    Spread module;
    Spread floor;
    // The module's time over the floor's: of the fastest batches (the ones
    // the machine's other work disturbed least; this is the ratio held
    // against the target), and of the medians.
    double ratio = 0;
    double medianRatio = 0;
    double target = 0;    // the ratio the module must stay within
    long iterations = 0;  // per batch
};

// Runs the operation the given number of times (the loop is the caller's,
// so that no call through std::function is timed with each operation).
using Operation = std::function<void(long iterations)>;
using Hook = std::function<void()>;

// Times module and floor; betweenBatches (may be empty) runs outside the
// timed regions after every batch.
Comparison Compare(const std::string& operation, const std::string& floorDescription, double target,
                   const Operation& module, const Operation& floor, const RunPlan& plan,
                   const Hook& betweenBatches = {});

double Seconds();  // a monotonic clock (QueryPerformanceCounter)

}  // namespace pvt::bench
