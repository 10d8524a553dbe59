// How the module's costs grow with the host's work: Calculate, Connect and
// Disconnect on one correlation holding N connections, creation with N
// correlations alive, and memory per object and per connection. Each time
// is reported as a ratio to the same operation's time at N = 1; the sizes
// are measured in rounds of short samples, and each size keeps its fastest,
// so that a busy machine slows every size alike.
#include "CountingNew.h"
#include "LeanHost.h"
#include "Report.h"
#include "support/TestAccess.h"

#include "VarHubControl.h"
#include "correlations/Correlation.h"
#include "module/ClassTable.h"

#include <psapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>

namespace pvt::bench {

using Microsoft::WRL::ComPtr;

namespace {

constexpr LONG kItemKey = 7;

// A correlation whose template set is lean, so that the clone each
// connection makes costs the host next to nothing.
class ScaledCorrelation {
public:
    ScaledCorrelation() {
        if (FAILED(kClassTable[0].makeInstance(nullptr, IID_ICorrelation,
                                               reinterpret_cast<void**>(object_.GetAddressOf())))) {
            return;
        }
        IHostVariable* variable = NewLeanVariable();
        CorrelationTestAccess::templateSet(*static_cast<CCorrelation*>(object_.Get()))
            .Attach(NewLeanSet(variable));
        variable->Release();
    }

    bool Ready() const { return object_ != nullptr; }
    ICorrelation* operator->() const { return object_.Get(); }

    HRESULT Connect(IConnectionSource* source) {
        LONG id = 0;
        IUnknown* set = nullptr;
        return object_->Connect(source, kItemKey, &id, &set);
    }

private:
    ComPtr<ICorrelation> object_;
};

// The process's private bytes (committed memory of its own). Wine leaves
// PrivateUsage 0 and keeps the same figure in PagefileUsage, as Windows
// does too.
double PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
        return 0;
    }
    const SIZE_T bytes =
        counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return static_cast<double>(bytes);
}

// The bytes the lean host asks of operator new for one clone of a set.
long LeanCloneBytes() {
    IHostVariable* variable = NewLeanVariable();
    IHostVariableSet* set = NewLeanSet(variable);
    IHostVariableSet* clone = nullptr;
    const long long before = AllocatedBytes();
    set->Clone(&clone);
    const long bytes = static_cast<long>(AllocatedBytes() - before);
    if (clone != nullptr) clone->Release();
    set->Release();
    variable->Release();
    return bytes;
}

// Nanoseconds per call of the fastest of `batches` batches of `iterations`.
template <class Body>
double FastestBatch(int batches, long iterations, Body&& body) {
    double fastest = std::numeric_limits<double>::max();
    for (int b = 0; b < batches; ++b) {
        const double start = Seconds();
        for (long i = 0; i < iterations; ++i) body();
        fastest = std::min(fastest, (Seconds() - start) * 1e9 / static_cast<double>(iterations));
    }
    return fastest;
}

struct ScalePlan {
    std::vector<long> sizes;
    int rounds = 9;       // of the whole sweep over the sizes up to 10,000
    int largeRounds = 2;  // of the sizes above
    int batches = 25;     // per size and round, for the per-call rows
    long iterations = 2000;
    long minimumCalls = 500;     // per sample of the building rows
    long largestAlive = 100000;  // creation and memory: at most this many objects
};

class ScaleBench {
public:
    ScaleBench(const ScalePlan& plan, Report& report) : plan_(plan), report_(report) {
        fluid_ = NewLeanFluid(fluidControl_);
        item_ = NewLeanItem(fluid_);
        source_ = NewLeanSource(item_);
        for (const char* name : {"Calculate on id 1", "Calculate on id N/2", "Calculate on id N",
                                 "Connect while building 0 to N", "Disconnect, front first",
                                 "Disconnect, back first", "Create + release, N objects alive"}) {
            ScaleRow row;
            row.operation = name;
            row.nanoseconds.assign(plan.sizes.size(), std::numeric_limits<double>::max());
            rows_.push_back(row);
        }
        rows_[0].target = rows_[1].target = rows_[2].target = 1.2;
        rows_[3].target = rows_[5].target = 1.5;
    }
    ~ScaleBench() {
        source_->Release();
        item_->Release();
        fluid_->Release();
    }
    ScaleBench(const ScaleBench&) = delete;
    ScaleBench& operator=(const ScaleBench&) = delete;

    void Run() {
        MeasureMemory();
        for (int round = 0; round < plan_.rounds && report_.failures.empty(); ++round) {
            for (std::size_t s = 0; s < plan_.sizes.size(); ++s) {
                if (plan_.sizes[s] > 10000 && round >= plan_.largeRounds) continue;
                MeasureCalculate(s);
                MeasureBuilding(s, false);
                MeasureBuilding(s, true);
            }
        }
        // Making N objects alive is slow: once per size, with all the batches.
        for (std::size_t s = 0; s < plan_.sizes.size() && report_.failures.empty(); ++s) {
            MeasureCreation(s);
        }
        report_.scaleSizes = plan_.sizes;
        for (ScaleRow& row : rows_) {
            for (double& ns : row.nanoseconds) {
                if (ns == std::numeric_limits<double>::max()) ns = 0;  // not measured
            }
            report_.scale.push_back(row);
        }
        for (const ScaleMemoryRow& row : memory_) report_.scaleMemory.push_back(row);
    }

private:
    void Keep(std::size_t row, std::size_t size, double ns) {
        rows_[row].nanoseconds[size] = std::min(rows_[row].nanoseconds[size], ns);
    }

    // One correlation with n connections to the same source; Calculate on
    // the first, middle and last id.
    void MeasureCalculate(std::size_t s) {
        const long n = plan_.sizes[s];
        ScaledCorrelation correlation;
        for (long i = 0; i < n && correlation.Ready(); ++i) {
            if (FAILED(correlation.Connect(source_))) return report_.Fail("scale: connect");
        }
        const LONG ids[3] = {1, static_cast<LONG>(std::max(1L, n / 2)), static_cast<LONG>(n)};
        for (int k = 0; k < 3; ++k) {
            if (correlation->Calculate(ids[k]) != S_OK) return report_.Fail("scale: calculate");
            Keep(static_cast<std::size_t>(k), s, FastestBatch(plan_.batches, plan_.iterations, [&] {
                     correlation->Calculate(ids[k]);
                 }));
        }
    }

    // Enough correlations, each connected n times, that a sample makes at
    // least minimumCalls connections; then all disconnected, front or back
    // first. The calls are timed in chunks of the same calls every round,
    // and a row's time is the sum of each chunk's fastest round: a long
    // build keeps the parts of it that nothing else disturbed.
    void MeasureBuilding(std::size_t s, bool backFirst) {
        const long n = plan_.sizes[s];
        const long count = std::max(1L, plan_.minimumCalls / n);
        std::vector<std::unique_ptr<ScaledCorrelation>> objects;
        for (long k = 0; k < count; ++k) objects.push_back(std::make_unique<ScaledCorrelation>());
        VarHub_Reset();
        const double calls = static_cast<double>(count) * static_cast<double>(n);
        ChunkTimer connects(chunks_[{3, s}]);
        for (auto& object : objects) {
            for (long i = 0; i < n; ++i) {
                if (FAILED(object->Connect(source_))) return report_.Fail("scale: connect");
                connects.Step();
            }
        }
        rows_[3].nanoseconds[s] = connects.Total() / calls;
        const std::size_t row = backFirst ? 5 : 4;
        ChunkTimer disconnects(chunks_[{row, s}]);
        for (auto& object : objects) {
            for (long i = 0; i < n; ++i) {
                const LONG id = backFirst ? static_cast<LONG>(n - i) : 1;
                if ((*object)->Disconnect(id) != S_OK) return report_.Fail("scale: disconnect");
                disconnects.Step();
            }
        }
        rows_[row].nanoseconds[s] = disconnects.Total() / calls;
    }

    // Times every run of kChunk calls and keeps each run's fastest time over
    // the rounds in fastest (one entry per run, in call order).
    class ChunkTimer {
    public:
        static constexpr long kChunk = 100;
        explicit ChunkTimer(std::vector<double>& fastest) : fastest_(fastest), start_(Seconds()) {}
        ~ChunkTimer() { Close(); }
        ChunkTimer(const ChunkTimer&) = delete;
        ChunkTimer& operator=(const ChunkTimer&) = delete;

        void Step() {
            if (++calls_ == kChunk) Close();
        }
        // Nanoseconds of the whole sequence, each chunk at its fastest.
        double Total() {
            Close();
            double total = 0;
            for (double ns : fastest_) total += ns;
            return total;
        }

    private:
        void Close() {
            if (calls_ == 0) return;
            const double now = Seconds();
            const double ns = (now - start_) * 1e9;
            if (chunk_ == fastest_.size()) fastest_.push_back(ns);
            fastest_[chunk_] = std::min(fastest_[chunk_], ns);
            ++chunk_;
            calls_ = 0;
            start_ = Seconds();
        }
        std::vector<double>& fastest_;
        std::size_t chunk_ = 0;
        long calls_ = 0;
        double start_;
    };

    // n correlations alive (made through the class object, with the data
    // server's objects, as a host makes them) while one more is created and
    // released.
    void MeasureCreation(std::size_t s) {
        const long n = plan_.sizes[s];
        if (n > plan_.largestAlive) return;
        ComPtr<IClassFactory> factory;
        if (FAILED(
                kClassTable[0].makeClassObject(kClassTable[0].makeInstance, IID_IClassFactory,
                                               reinterpret_cast<void**>(factory.GetAddressOf())))) {
            return report_.Fail("scale: class object");
        }
        const auto create = [&](ComPtr<ICorrelation>& made) {
            return factory->CreateInstance(nullptr, IID_ICorrelation,
                                           reinterpret_cast<void**>(made.GetAddressOf()));
        };
        std::vector<ComPtr<ICorrelation>> alive(static_cast<std::size_t>(n));
        for (auto& object : alive) {
            if (FAILED(create(object))) return report_.Fail("scale: create");
        }
        // Short batches, cleared of the data server double's call log between
        // them: the fastest is one the rest of the machine left alone.
        const long iterations = std::max(1L, plan_.iterations / 500);
        for (int b = 0; b < plan_.batches * plan_.rounds; ++b) {
            VarHub_Reset();
            Keep(6, s, FastestBatch(1, iterations, [&] {
                     ComPtr<ICorrelation> one;
                     create(one);
                 }));
        }
        VarHub_Reset();
    }

    // Memory per object and per connection at the largest size, measured
    // first, while the heap has not yet grown to hold the timed rounds.
    void MeasureMemory() {
        const std::size_t s = plan_.sizes.size() - 1;
        const long n = plan_.sizes[s];
        for (ScaleMemoryRow& row : memory_) row.bytes.assign(plan_.sizes.size(), 0);
        ComPtr<IClassFactory> factory;
        if (n < 1000 || n > plan_.largestAlive ||
            FAILED(
                kClassTable[0].makeClassObject(kClassTable[0].makeInstance, IID_IClassFactory,
                                               reinterpret_cast<void**>(factory.GetAddressOf())))) {
            return;
        }
        std::vector<ComPtr<ICorrelation>> alive(static_cast<std::size_t>(n));
        Footprint before;
        for (auto& object : alive) {
            if (FAILED(factory->CreateInstance(nullptr, IID_ICorrelation,
                                               reinterpret_cast<void**>(object.GetAddressOf())))) {
                return report_.Fail("scale: create");
            }
        }
        before.StoreGrowth(memory_[0], memory_[1], s, n, 0);
        ScaledCorrelation correlation;
        before = Footprint();
        for (long i = 0; i < n && correlation.Ready(); ++i) {
            if (FAILED(correlation.Connect(source_))) return report_.Fail("scale: connect");
        }
        before.StoreGrowth(memory_[2], memory_[3], s, n, LeanCloneBytes());
        alive.clear();
        VarHub_Reset();
    }

    // Private bytes, and the bytes asked of operator new, when it is made.
    class Footprint {
    public:
        // The growth since then per item, less the host's own heap bytes.
        void StoreGrowth(ScaleMemoryRow& privateRow, ScaleMemoryRow& heapRow, std::size_t s,
                         long items, long hostBytesPerItem) const {
            const double n = static_cast<double>(items);
            privateRow.bytes[s] = (PrivateBytes() - privateBytes_) / n;
            heapRow.bytes[s] = static_cast<double>(AllocatedBytes() - heapBytes_) / n -
                               static_cast<double>(hostBytesPerItem);
        }

    private:
        double privateBytes_ = PrivateBytes();
        long long heapBytes_ = AllocatedBytes();
    };

    const ScalePlan& plan_;
    Report& report_;
    LeanFluidControl fluidControl_;
    IFluidPropertySource* fluid_ = nullptr;
    ISourceItem* item_ = nullptr;
    IConnectionSource* source_ = nullptr;
    std::vector<ScaleRow> rows_;
    std::map<std::pair<std::size_t, std::size_t>, std::vector<double>> chunks_;  // (row, size)
    ScaleMemoryRow memory_[4] = {
        {"Private bytes per object (with the data server's)", {}},
        {"Module heap bytes per object", {}},
        {"Private bytes per connection (with the lean host's)", {}},
        {"Module heap bytes per connection", {}},
    };
};

}  // namespace

void BenchScale(bool quick, long largest, Report& report) {
    ScalePlan plan;
    for (long n : {1L, 100L, 10000L, 100000L}) {
        if (n <= largest && (!quick || n <= 10000)) plan.sizes.push_back(n);
    }
    if (quick) {
        plan.rounds = 1;
        plan.batches = 2;
        plan.iterations = 10;
        plan.minimumCalls = 10;
        plan.largestAlive = 100;  // creation is slow: the smoke run keeps it short
    }
    ScaleBench(plan, report).Run();
}

}  // namespace pvt::bench
