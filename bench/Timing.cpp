#include "Timing.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

namespace pvt::bench {

namespace {

double TicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart);
}

// Nanoseconds per operation over one batch.
double TimeBatch(const Operation& operation, long iterations) {
    const double start = Seconds();
    operation(iterations);
    return (Seconds() - start) * 1e9 / static_cast<double>(iterations);
}

double Quantile(const std::vector<double>& sorted, double q) {
    const double position = q * static_cast<double>(sorted.size() - 1);
    const std::size_t below = static_cast<std::size_t>(std::floor(position));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double weight = position - static_cast<double>(below);
    return sorted[below] * (1.0 - weight) + sorted[above] * weight;
}

Spread Summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    Spread s;
    s.min = samples.front();
    s.max = samples.back();
    s.median = Quantile(samples, 0.5);
    s.q1 = Quantile(samples, 0.25);
    s.q3 = Quantile(samples, 0.75);
    return s;
}

// Runs operation for about seconds; returns the nanoseconds one took.
double WarmUp(const Operation& operation, double seconds) {
    long done = 0;
    const double start = Seconds();
    double elapsed = 0;
    do {
        operation(1);
        ++done;
        elapsed = Seconds() - start;
    } while (elapsed < seconds);
    return elapsed * 1e9 / static_cast<double>(done);
}

}  // namespace

double Seconds() {
    static const double ticksPerSecond = TicksPerSecond();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerSecond;
}

Comparison Compare(const std::string& operation, const std::string& floorDescription, double target,
                   const Operation& module, const Operation& floor, const RunPlan& plan,
                   const Hook& betweenBatches) {
    const double moduleGuess = WarmUp(module, plan.warmupSeconds);
    const double floorGuess = WarmUp(floor, plan.warmupSeconds);
    if (betweenBatches) betweenBatches();
    // The same iteration count for both sides, sized on the slower one.
    const double slower = std::max(moduleGuess, floorGuess);
    const long iterations =
        std::max(plan.minIterations, static_cast<long>(plan.batchSeconds * 1e9 / slower));

    std::vector<double> moduleSamples, floorSamples;
    for (int b = 0; b < plan.batches; ++b) {
        // Alternate which side goes first.
        if (b % 2 == 0) {
            moduleSamples.push_back(TimeBatch(module, iterations));
            if (betweenBatches) betweenBatches();
            floorSamples.push_back(TimeBatch(floor, iterations));
        } else {
            floorSamples.push_back(TimeBatch(floor, iterations));
            if (betweenBatches) betweenBatches();
            moduleSamples.push_back(TimeBatch(module, iterations));
        }
        if (betweenBatches) betweenBatches();
    }
    Comparison c;
    c.operation = operation;
    c.floorDescription = floorDescription;
    c.module = Summarise(moduleSamples);
    c.floor = Summarise(floorSamples);
    c.ratio = c.module.min / c.floor.min;
    c.medianRatio = c.module.median / c.floor.median;
    c.target = target;
    c.iterations = iterations;
    return c;
}

}  // namespace pvt::bench
