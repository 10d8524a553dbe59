// Several threads, each in its own single-threaded apartment, create,
// connect, calculate and release objects of every class at once. Each
// Calculate either publishes its thread's own correct values or is turned
// away by the busy guard with E_FAIL having written nothing; every count
// comes back.
//
// PVT_THREAD_ITERATIONS sets the iterations per thread.
#include "hardening/HardeningSupport.h"
#include "support/PhaseValues.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace pvt::test {
namespace {

constexpr int kThreads = 4;

// Thread t's fluid: the distinct block shifted by t, so that values from
// another thread's fluid would show.
PropertyBlock ThreadBlock(int t) {
    PropertyBlock block = DistinctBlock();
    for (auto& slot : block.slots) {
        for (double& value : slot) value += 1000.0 * t;
    }
    return block;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

struct Outcome {
    long published = 0;
    long turnedAway = 0;
    long wrong = 0;
    std::string firstProblem;
};

// One iteration: a new object of class index, one connection, one Calculate.
void Iterate(int index, FakeConnection& fake, const std::vector<double>& expected,
             Outcome& outcome) {
    auto problem = [&](const std::string& what) {
        if (outcome.wrong++ == 0)
            outcome.firstProblem = std::string(kCatalogue[index].name) + ": " + what;
    };
    ComPtr<IClassFactory> factory;
    if (Module().GetClassObject(*kClassTable[index].classId,
                                IID_PPV_ARGS(factory.GetAddressOf())) != S_OK) {
        return problem("no class object");
    }
    ComPtr<ICorrelation> correlation;
    if (factory->CreateInstance(nullptr, IID_PPV_ARGS(correlation.GetAddressOf())) != S_OK) {
        return problem("creation failed");
    }
    LONG id = 0;
    IUnknown* set = nullptr;
    if (correlation->Connect(fake.source.Get(), 1, &id, &set) != S_OK) return problem("Connect");
    const HRESULT hr = correlation->Calculate(id);
    const std::vector<double> values = PhaseValuesOf(set);
    if (hr == S_OK) {
        ++outcome.published;
        if (!SameBits(expected, values)) problem("wrong values");
    } else if (hr == E_FAIL) {
        ++outcome.turnedAway;
        if (!values.empty()) problem("turned away, yet values written");
    } else {
        problem("Calculate gave another code");
    }
    if (correlation->Disconnect(id) != S_OK) problem("Disconnect");
    if (correlation.Reset() != 0) problem("object still referenced");
}

class ConcurrencyTest : public HardeningFixture {
protected:
    void SetUp() override {
        HardeningFixture::SetUp();
        AttachClassTable();
    }
    void TearDown() override {
        ReleaseCachedClassObjects();
        HardeningFixture::TearDown();
    }
};

TEST_F(ConcurrencyTest, ThreadsInTheirOwnApartmentsUseEveryClassAtOnce) {
    const long iterations = EnvironmentNumber("PVT_THREAD_ITERATIONS", 520);
    // Each thread's fakes and the values its fluid gives every class, worked
    // out one at a time beforehand.
    std::vector<std::unique_ptr<FakeConnection>> fakes;
    std::vector<std::vector<std::vector<double>>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        fakes.push_back(std::make_unique<FakeConnection>(ThreadBlock(t)));
        for (int i = 0; i < kCatalogueSize; ++i) {
            ComPtr<ICorrelation> correlation = Create(i);
            ASSERT_TRUE(correlation);
            LONG id = 0;
            IUnknown* set = nullptr;
            ASSERT_EQ(S_OK, correlation->Connect(fakes[t]->source.Get(), 1, &id, &set));
            ASSERT_EQ(S_OK, correlation->Calculate(id));
            expected[t].push_back(PhaseValuesOf(set));
            ASSERT_EQ(4u, expected[t].back().size());
        }
    }
    const std::vector<std::vector<LONG>> fakeCounts = [&] {
        std::vector<std::vector<LONG>> counts;
        for (const auto& fake : fakes) counts.push_back(fake->Counts());
        return counts;
    }();
    VarHub_Reset();

    std::vector<Outcome> outcomes(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
                outcomes[t].wrong = 1;
                outcomes[t].firstProblem = "no apartment";
                return;
            }
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            for (long n = 0; n < iterations; ++n) {
                const int index = static_cast<int>((n + t * 7) % kCatalogueSize);
                Iterate(index, *fakes[t], expected[t][index], outcomes[t]);
            }
            CoUninitialize();
        });
    }
    for (std::thread& thread : threads) thread.join();
    VarHub_Reset();

    long published = 0;
    long turnedAway = 0;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(0, outcomes[t].wrong) << "thread " << t << ": " << outcomes[t].firstProblem;
        EXPECT_EQ(iterations, outcomes[t].published + outcomes[t].turnedAway + outcomes[t].wrong);
        EXPECT_EQ(fakeCounts[t], fakes[t]->Counts()) << "thread " << t;
        published += outcomes[t].published;
        turnedAway += outcomes[t].turnedAway;
    }
    std::printf("[ threads  ] %d threads x %ld iterations: %ld published, %ld turned away busy\n",
                kThreads, iterations, published, turnedAway);
    EXPECT_GT(published, 0);
    EXPECT_EQ(0, Module().GetLockCount());
}

}  // namespace
}  // namespace pvt::test
