// A structured exception raised by the host inside one of its calls, and
// taken by the host's own handler around the module call: it reaches that
// handler unchanged, and the module is left consistent (every reference
// the interrupted call obtained released, the call ended, the shared
// calculator free), so that the next Calculate of any object publishes
// correct values.
#include "correlations/CorrelationClasses.h"
#include "doubles/CountingOuter.h"
#include "support/HostFixture.h"
#include "support/TestAccess.h"
#include "unwind/StructuredCatch.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace pvt::test {
namespace {

constexpr DWORD kHostCode = 0xE0C0FFEE;  // a code of the host's own
constexpr ULONG_PTR kHostParameter = 0x5EC;
constexpr ULONG_PTR kBadAddress = 0x18;
volatile ULONG_PTR badAddress = kBadAddress;  // volatile: the write below must happen

void Raise(DWORD code) {
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        *reinterpret_cast<volatile int*>(badAddress) = 1;
    }
    RaiseException(code, 0, 1, &kHostParameter);
}

// The one call at which the host raises: the occurrence-th call of method
// on the object named, counted from arming. By default it raises; an action
// may do something else first (call back into the module, re-arm).
struct Trap {
    std::string object;
    std::string method;
    int occurrence = 0;
    DWORD code = 0;
    std::function<void()> before;
    int seen = 0;
    bool armed = false;
    bool sprung = false;
};
Trap trap;

void Arm(std::string object, std::string method, int occurrence, DWORD code,
         std::function<void()> before = {}) {
    trap = Trap();
    trap.object = std::move(object);
    trap.method = std::move(method);
    trap.occurrence = occurrence;
    trap.code = code;
    trap.before = std::move(before);
    trap.armed = true;
}

void Spring(const char* object, const char* method) {
    if (!trap.armed || trap.object != object || trap.method != method) return;
    if (++trap.seen != trap.occurrence) return;
    trap.armed = false;
    trap.sprung = true;
    const DWORD code = trap.code;
    if (trap.before) {
        const std::function<void()> before = std::move(trap.before);
        before();  // may arm the trap again
    }
    Raise(code);
}

void SpringInDataServer(const char* method, void*) { Spring("Hub", method); }

LONG liveDoubles = 0;
LONG doubleReferences = 0;

// Host objects that raise where the trap says. A Release lets go of its
// reference first, as a host whose Release fails late.
template <class Interface, const GUID& kInterfaceId>
class Double : public Interface {
public:
    explicit Double(const char* name) : name_(name) {
        ++liveDoubles;
        ++doubleReferences;
    }
    virtual ~Double() { --liveDoubles; }
    Double(const Double&) = delete;
    Double& operator=(const Double&) = delete;

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        Spring(name_, "QueryInterface");
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, kInterfaceId)) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        Count();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override {
        Spring(name_, "AddRef");
        return Count();
    }
    STDMETHOD_(ULONG, Release)() override {
        const char* const name = name_;
        --doubleReferences;
        const LONG count = --count_;
        if (count == 0) delete this;
        Spring(name, "Release");
        return static_cast<ULONG>(count);
    }

    // A reference the host hands out from one of its own calls.
    ULONG Count() {
        ++doubleReferences;
        return static_cast<ULONG>(++count_);
    }
    const char* Name() const { return name_; }

private:
    const char* name_;
    LONG count_ = 1;  // the creator's
};

class Fluid final : public Double<IFluidPropertySource, IID_IFluidPropertySource> {
public:
    using Double::Double;
    STDMETHOD(Reserved01)() override { return S_OK; }
    STDMETHOD(GetPropertyBlock)(PropertyBlock* block) override {
        Spring(Name(), "GetPropertyBlock");
        *block = DistinctBlock();
        return S_OK;
    }
    STDMETHOD(IsUnchanged)(VARIANT_BOOL* unchanged) override {
        Spring(Name(), "IsUnchanged");
        *unchanged = 0;
        return S_OK;
    }
};

class Item final : public Double<ISourceItem, IID_IUnknown> {
public:
    Item(const char* name, Fluid* fluid) : Double(name), fluid_(fluid) {}
    STDMETHOD(GetFluid)(IUnknown** fluid) override {
        Spring(Name(), "GetFluid");
        fluid_->Count();
        *fluid = fluid_;
        return S_OK;
    }
    STDMETHOD(IsReady)(LONG* ready) override {
        Spring(Name(), "IsReady");
        *ready = 1;
        return S_OK;
    }

private:
    Fluid* fluid_;
};

class Source final : public Double<IConnectionSource, IID_IConnectionSource> {
public:
    Source(const char* name, Item* item) : Double(name), item_(item) {}
    STDMETHOD(GetItem)(LONG, ISourceItem** item) override {
        Spring(Name(), "GetItem");
        item_->Count();
        *item = item_;
        return S_OK;
    }

private:
    Item* item_;
};

// A source, its item and fluid, as the host keeps them (the creator's
// references), and the connection made to them.
struct Host {
    explicit Host(int n)
        : names{"Source" + std::to_string(n), "Item" + std::to_string(n),
                "Fluid" + std::to_string(n)},
          fluid(new Fluid(names[2].c_str())),
          item(new Item(names[1].c_str(), fluid)),
          source(new Source(names[0].c_str(), item)) {}
    ~Host() {
        source->Release();
        item->Release();
        fluid->Release();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    std::string names[3];
    Fluid* fluid;
    Item* item;
    Source* source;
};

enum class Operation {
    Calculate,
    Connect,
    Disconnect,
    Cleanup,
    LastRelease,
    Create,
    CreateAggregated
};

struct Case {
    const char* what;
    Operation operation;
    const char* object;  // where the host raises (Source1, Fluid1, Hub, ...)
    const char* method;
    int occurrence;
};

// Correlation A has connections 1 and 2; Calculate and Disconnect work on
// connection 1; Connect connects source 3.
const Case kCases[] = {
    {"Calculate: GetItem", Operation::Calculate, "Source1", "GetItem", 1},
    {"Calculate: IsReady", Operation::Calculate, "Item1", "IsReady", 1},
    {"Calculate: GetFluid", Operation::Calculate, "Item1", "GetFluid", 1},
    {"Calculate: the fluid's query", Operation::Calculate, "Fluid1", "QueryInterface", 1},
    {"Calculate: releasing the fluid as given", Operation::Calculate, "Fluid1", "Release", 1},
    {"Calculate: binding the fluid", Operation::Calculate, "Fluid1", "AddRef", 1},
    {"Calculate: FindVariable", Operation::Calculate, "Hub", "FindVariable", 1},
    {"Calculate: IsUnchanged", Operation::Calculate, "Fluid1", "IsUnchanged", 1},
    {"Calculate: GetPropertyBlock", Operation::Calculate, "Fluid1", "GetPropertyBlock", 1},
    {"Calculate: the first SetValue", Operation::Calculate, "Hub", "SetValue", 1},
    {"Calculate: a SetValue under the hold", Operation::Calculate, "Hub", "SetValue", 3},
    {"Calculate: unbinding the fluid", Operation::Calculate, "Fluid1", "Release", 2},
    {"Calculate: releasing the fluid", Operation::Calculate, "Fluid1", "Release", 3},
    {"Calculate: releasing the item", Operation::Calculate, "Item1", "Release", 1},
    {"Connect: the source's AddRef", Operation::Connect, "Source3", "AddRef", 1},
    {"Connect: the source's query", Operation::Connect, "Source3", "QueryInterface", 1},
    {"Connect: releasing the source object", Operation::Connect, "Source3", "Release", 1},
    {"Connect: Clone", Operation::Connect, "Hub", "Clone", 1},
    {"Disconnect: releasing the source", Operation::Disconnect, "Source1", "Release", 1},
    {"Cleanup: releasing the first source", Operation::Cleanup, "Source1", "Release", 1},
    {"Cleanup: releasing the second source", Operation::Cleanup, "Source2", "Release", 1},
    {"last Release: releasing the first source", Operation::LastRelease, "Source1", "Release", 1},
    {"last Release: releasing the second source", Operation::LastRelease, "Source2", "Release", 1},
    {"creation: naming the variable", Operation::Create, "Hub", "SetTaggedName", 1},
    {"creation: adding the variable to the set", Operation::Create, "Hub", "AddVariable", 1},
    {"aggregated creation: naming the variable", Operation::CreateAggregated, "Hub",
     "SetTaggedName", 1},
};

class HostStructuredExceptionTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        doubles_ = liveDoubles;
        references_ = doubleReferences;
    }
    void TearDown() override {
        trap = Trap();
        EXPECT_EQ(doubles_, liveDoubles) << "host doubles leaked";
        EXPECT_EQ(references_, doubleReferences) << "host double references";
        HostFixture::TearDown();
    }

    static ICorrelation* NewCorrelation() {
        ICorrelation* correlation = nullptr;
        EXPECT_EQ(S_OK, CComObject<CBubblePtPressure>::CreateInstance(
                            IID_ICorrelation, reinterpret_cast<void**>(&correlation)));
        return correlation;
    }

    static LONG Connect(ICorrelation* correlation, Host& host) {
        LONG id = 0;
        IUnknown* set = nullptr;
        EXPECT_EQ(S_OK, correlation->Connect(host.source, 7, &id, &set));
        return id;
    }

    // Every connection of correlation calculates and publishes the values
    // of its slot of the fluid's block into its own "Phase_Values".
    static void ExpectCalculatesCorrectly(ICorrelation* correlation, const char* which) {
        auto* object = static_cast<CCorrelation*>(correlation);
        const int slot = object->Row().slot;
        const PropertyBlock block = DistinctBlock();
        const std::vector<double> expected = {block.slots[slot][kOverallIndex],
                                              block.slots[slot][0], block.slots[slot][1],
                                              block.slots[slot][2]};
        auto& records = CorrelationTestAccess::connections(*object);
        for (std::size_t i = 0; i < records.size(); ++i) {
            IHostVariableSet* set = records[i]->connectionSet.Get();
            IUnknown* found = nullptr;
            ASSERT_EQ(S_OK, set->FindVariable(L"Phase_Values", &found)) << which;
            IHostVariable* variable = nullptr;
            ASSERT_EQ(S_OK, found->QueryInterface(IID_IHostVariable,
                                                  reinterpret_cast<void**>(&variable)));
            for (int e = 0; e < 4; ++e) variable->SetValue(e, 0.0);
            EXPECT_EQ(S_OK, correlation->Calculate(static_cast<LONG>(i + 1))) << which;
            std::vector<double> values;
            for (int e = 0; e < VarHub_ValueCount(variable); ++e) {
                values.push_back(VarHub_Value(variable, e));
            }
            EXPECT_EQ(expected, values) << which << " connection " << i + 1;
            variable->Release();
            found->Release();
        }
    }

    // Runs call as the host does, inside its own handler, and checks that
    // the exception the trap raised arrived there unchanged.
    template <class Call>
    static void ExpectCaught(DWORD code, Call&& call) {
        const CaughtException caught = CatchStructured(call);
        trap.armed = false;  // a trap not reached must not go off later
        EXPECT_TRUE(trap.sprung) << "the trap was not reached";
        ASSERT_EQ(code, caught.code);
        if (code == EXCEPTION_ACCESS_VIOLATION) {
            EXPECT_EQ(kBadAddress, caught.parameters[1]) << "the faulting address";
        } else {
            EXPECT_EQ(1u, caught.parameterCount);
            EXPECT_EQ(kHostParameter, caught.parameters[0]);
        }
        EXPECT_EQ(nullptr, CalculatorTestAccess::BoundFluid(CPropertyCalculator::Instance()));
        EXPECT_EQ(0, CalculatorTestAccess::HoldFlag(CPropertyCalculator::Instance()));
    }

private:
    LONG doubles_ = 0;
    LONG references_ = 0;
};

TEST_F(HostStructuredExceptionTest, LeavesTheModuleConsistentAfterEveryHostCall) {
    for (const DWORD code : {static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), kHostCode}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.what) +
                         (code == kHostCode ? " (RaiseException)" : " (access violation)"));
            const LONG doubles = liveDoubles;
            const LONG references = doubleReferences;
            const LONG hubObjects = VarHub_LiveObjects();
            const LONG hubReferences = VarHub_References();
            {
                Host host1(1), host2(2), host3(3), host4(4);
                CountingOuter outer;
                ICorrelation* a = NewCorrelation();
                ICorrelation* b = NewCorrelation();
                const LONG id1 = Connect(a, host1);
                Connect(a, host2);
                Connect(b, host4);
                VarHub_SetHook(&SpringInDataServer, nullptr);

                Arm(c.object, c.method, c.occurrence, code);
                switch (c.operation) {
                    case Operation::Calculate:
                        ExpectCaught(code, [&] { a->Calculate(id1); });
                        break;
                    case Operation::Connect:
                        ExpectCaught(code, [&] {
                            LONG id = 0;
                            IUnknown* set = nullptr;
                            a->Connect(host3.source, 9, &id, &set);
                        });
                        break;
                    case Operation::Disconnect:
                        ExpectCaught(code, [&] { a->Disconnect(id1); });
                        break;
                    case Operation::Cleanup:
                        ExpectCaught(code, [&] { static_cast<CCorrelation*>(a)->Cleanup(); });
                        break;
                    case Operation::LastRelease:
                        ExpectCaught(code, [&] { a->Release(); });
                        a = nullptr;
                        break;
                    case Operation::Create:
                        ExpectCaught(code, [&] {
                            void* created = nullptr;
                            CComObject<CBubblePtPressure>::CreateInstance(IID_ICorrelation,
                                                                          &created);
                        });
                        break;
                    case Operation::CreateAggregated:
                        ExpectCaught(code, [&] {
                            void* created = nullptr;
                            CComAggObject<CBubblePtPressure>::CreateInstance(&outer, IID_IUnknown,
                                                                             &created);
                        });
                        EXPECT_EQ(1, outer.count) << "the outer object's references";
                        break;
                }
                VarHub_SetHook(nullptr, nullptr);
                if (a != nullptr) ExpectCalculatesCorrectly(a, "the same object");
                ExpectCalculatesCorrectly(b, "another object");
                if (a != nullptr) a->Release();
                b->Release();
            }
            EXPECT_EQ(doubles, liveDoubles) << "host doubles leaked";
            EXPECT_EQ(references, doubleReferences) << "host double references";
            EXPECT_EQ(hubObjects, VarHub_LiveObjects()) << "data-server objects leaked";
            EXPECT_EQ(hubReferences, VarHub_References()) << "data-server references";
            EXPECT_EQ(0, Module().GetLockCount()) << "module lock count";
        }
    }
}

// A host call that calls back into the module, whose own host call raises:
// the exception unwinds through two of the module's calls, the inner first.
// And a host call that lets go of the last reference to the correlation
// before raising: the destruction that waited for the end of the call is
// carried out.
TEST_F(HostStructuredExceptionTest, UnwindsNestedCallsAndCarriesOutADeferredDestruction) {
    for (const DWORD code : {static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), kHostCode}) {
        Host host1(1), host2(2), host4(4);
        ICorrelation* a = NewCorrelation();
        ICorrelation* b = NewCorrelation();
        const LONG id1 = Connect(a, host1);
        const LONG id2 = Connect(a, host2);
        Connect(b, host4);

        // Calculate -> GetItem -> Disconnect of connection 2 -> its source's
        // Release raises.
        Arm("Source1", "GetItem", 1, code, [&] {
            Arm("Source2", "Release", 1, code);
            a->Disconnect(id2);
        });
        ExpectCaught(code, [&] { a->Calculate(id1); });
        EXPECT_EQ(1u, CorrelationTestAccess::connections(*static_cast<CCorrelation*>(a)).size());
        ExpectCalculatesCorrectly(a, "the same object");
        ExpectCalculatesCorrectly(b, "another object");

        // Calculate -> GetFluid raises, and the item's Release, made as that
        // exception passes, raises another: the second one reaches the host,
        // and the releases after it are still made.
        Arm("Item1", "GetFluid", 1, code, [&] { Arm("Item1", "Release", 1, kHostCode + 1); });
        const CaughtException second = CatchStructured([&] { a->Calculate(id1); });
        trap.armed = false;
        EXPECT_EQ(kHostCode + 1, second.code);
        ExpectCalculatesCorrectly(a, "the same object");

        // Calculate -> GetFluid -> the host lets go of the correlation, then
        // raises.
        Arm("Item1", "GetFluid", 1, code, [&] { a->Release(); });
        ExpectCaught(code, [&] { a->Calculate(id1); });
        ExpectCalculatesCorrectly(b, "another object");
        b->Release();
        EXPECT_EQ(0, Module().GetLockCount()) << "the correlation was not destroyed";
    }
}

}  // namespace
}  // namespace pvt::test
