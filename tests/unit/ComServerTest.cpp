// The COM server layer from the inside: creation under allocation failure,
// the class-object cache of a class table, the termination list of the
// module object, and reference changes made while a wrapper is destroyed.
#include "com/ClassFactory.h"
#include "com/ComModule.h"
#include "correlations/CorrelationClasses.h"
#include "doubles/CountingOuter.h"
#include "support/AllocationSweep.h"
#include "support/HostFixture.h"
#include "support/TestAccess.h"

#include <wrl/client.h>

#include <string>
#include <vector>

namespace pvt::test {
namespace {

using Microsoft::WRL::ComPtr;

// A connection source that, when its last reference goes, touches the
// correlation that owns it: a query, an AddRef and a Release made during
// clean-up.
class CallbackSource final : public IConnectionSource {
public:
    explicit CallbackSource(IUnknown* owner) : owner_(owner) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionSource)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IConnectionSource*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++count_); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG count = --count_;
        if (count == 0) {
            IUnknown* identity = nullptr;
            if (SUCCEEDED(owner_->QueryInterface(IID_PPV_ARGS(&identity)))) {
                identity->Release();
            }
            owner_->AddRef();
            countSeenDuringCleanup = static_cast<LONG>(owner_->Release());
            delete this;
        }
        return static_cast<ULONG>(count);
    }
    STDMETHOD(GetItem)(LONG, ISourceItem** item) override {
        if (item != nullptr) *item = nullptr;
        return E_FAIL;
    }

    static LONG countSeenDuringCleanup;

private:
    IUnknown* owner_;
    LONG count_ = 1;
};

LONG CallbackSource::countSeenDuringCleanup = 0;

// Gives correlation one connection record whose source is a CallbackSource
// on owner.
void AddCallbackRecord(CCorrelation& correlation, IUnknown* owner) {
    auto record = std::make_unique<CConnectionInfo>();
    auto* source = new CallbackSource(owner);
    record->source.Attach(source);  // the record keeps the creator's reference
    CorrelationTestAccess::connections(correlation).push_back(std::move(record));
}

CCorrelation* AsCorrelation(IUnknown* primary) {
    return static_cast<CCorrelation*>(static_cast<IOwnDispatch*>(primary));
}

class ComServerTest : public HostFixture {};

TEST_F(ComServerTest, AllocationFailureWhileCreatingAnObjectLeavesNothing) {
    IUnknown* standalone = nullptr;
    const SweepOutcome standaloneSweep = SweepCreation(
        "standalone",
        [](IUnknown** out) { return MakeInstance<CBubblePtPressure>(nullptr, IID_PPV_ARGS(out)); },
        standalone);
    EXPECT_GE(standaloneSweep.failingRuns, 3) << "the wrapper and both identity strings allocate";
    ASSERT_NE(nullptr, standalone);
    EXPECT_EQ(1, Module().GetLockCount());
    EXPECT_EQ(0u, standalone->Release());

    CountingOuter outer;
    IUnknown* aggregate = nullptr;
    const SweepOutcome aggregatedSweep = SweepCreation(
        "aggregated",
        [&outer](IUnknown** out) {
            return MakeInstance<CBubblePtPressure>(&outer, IID_PPV_ARGS(out));
        },
        aggregate);
    EXPECT_GE(aggregatedSweep.failingRuns, 3);
    EXPECT_EQ(1, outer.count) << "no failed attempt may leave a reference on the outer object";
    ASSERT_NE(nullptr, aggregate);
    EXPECT_EQ(1, Module().GetLockCount());
    EXPECT_EQ(0u, aggregate->Release());
    EXPECT_EQ(1, outer.count);
}

TEST_F(ComServerTest, AllocationFailureWhileMakingAClassObjectLeavesNothing) {
    IUnknown* classObject = reinterpret_cast<IUnknown*>(1);
    {
        ScopedAllocationFailure failure(1);
        EXPECT_EQ(E_OUTOFMEMORY, MakeClassObject(&MakeInstance<CGOR>, IID_IClassFactory,
                                                 reinterpret_cast<void**>(&classObject)));
    }
    EXPECT_EQ(nullptr, classObject);
    EXPECT_EQ(0, Module().GetLockCount());

    EXPECT_EQ(E_POINTER, MakeClassObject(&MakeInstance<CGOR>, IID_IUnknown, nullptr));
    classObject = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE, MakeClassObject(&MakeInstance<CGOR>, IID_IDispatch,
                                             reinterpret_cast<void**>(&classObject)));
    EXPECT_EQ(nullptr, classObject);

    // A class object with only the cache's reference does not hold the module.
    ASSERT_EQ(S_OK, MakeClassObject(&MakeInstance<CGOR>, IID_PPV_ARGS(&classObject)));
    EXPECT_EQ(0, Module().GetLockCount());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, classObject->QueryInterface(IID_PPV_ARGS(&factory)));
    EXPECT_EQ(1, Module().GetLockCount());

    // Running out of memory inside CreateInstance: the same answer.
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    {
        ScopedAllocationFailure failure(1);
        EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
    }
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(1, Module().GetLockCount());

    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(0, Module().GetLockCount());
    EXPECT_EQ(0u, classObject->Release());
}

// A class table of its own, so that its class objects start uncached.
class FreshTableTest : public HostFixture {
protected:
    static HRESULT CountingMakeClassObject(MakeInstanceFunction makeInstance, REFIID iid,
                                           void** object) {
        ++makes;
        if (FAILED(nextMakeResult)) {
            const HRESULT hr = nextMakeResult;
            nextMakeResult = S_OK;
            *object = nullptr;
            return hr;
        }
        return MakeClassObject(makeInstance, iid, object);
    }

    void SetUp() override {
        HostFixture::SetUp();
        makes = 0;
        nextMakeResult = S_OK;
        module.Init(table, GUID{});
    }

    void TearDown() override {
        module.Shutdown(true);
        for (const ClassTableEntry& entry : table) EXPECT_EQ(nullptr, entry.cachedClassObject);
        HostFixture::TearDown();
    }

    static int makes;
    static HRESULT nextMakeResult;

    // The same class identifier twice: lookup must take the first entry.
    ClassTableEntry table[4] = {
        {&CLSID_BubblePtPressure, nullptr, &CountingMakeClassObject,
         &MakeInstance<CBubblePtPressure>, nullptr},
        {&CLSID_GOR, nullptr, &CountingMakeClassObject, &MakeInstance<CGOR>, nullptr},
        {&CLSID_GOR, nullptr, &CountingMakeClassObject, &MakeInstance<CBubblePtPressure>, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    CComModule module;
};

int FreshTableTest::makes = 0;
HRESULT FreshTableTest::nextMakeResult = S_OK;

TEST_F(FreshTableTest, MakesEachClassObjectOnceAndHandsOutTheCachedOne) {
    ComPtr<IClassFactory> first;
    ComPtr<IClassFactory> second;
    ASSERT_EQ(S_OK, module.GetClassObject(CLSID_GOR, IID_PPV_ARGS(first.GetAddressOf())));
    ASSERT_EQ(S_OK, module.GetClassObject(CLSID_GOR, IID_PPV_ARGS(second.GetAddressOf())));
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(1, makes);
    EXPECT_EQ(first.Get(), table[1].cachedClassObject);
    EXPECT_EQ(nullptr, table[0].cachedClassObject);
    EXPECT_EQ(nullptr, table[2].cachedClassObject) << "the first matching entry serves";
    EXPECT_EQ(1, Module().GetLockCount()) << "outside references hold one lock";

    ComPtr<ICorrelation> correlation;
    ASSERT_EQ(S_OK, first->CreateInstance(nullptr, IID_PPV_ARGS(correlation.GetAddressOf())));
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, correlation->GetDisplayName(&name));
    EXPECT_STREQ(L"Gas Oil Ratio", name);
    SysFreeString(name);
    correlation.Reset();

    first.Reset();
    second.Reset();
    EXPECT_EQ(0, Module().GetLockCount());
    EXPECT_NE(nullptr, table[1].cachedClassObject) << "the cache keeps it";
}

TEST_F(FreshTableTest, AFailedMakeIsReportedAndTriedAgain) {
    nextMakeResult = E_OUTOFMEMORY;
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, module.GetClassObject(CLSID_BubblePtPressure, IID_IClassFactory,
                                                   reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(nullptr, table[0].cachedClassObject);

    ASSERT_EQ(S_OK, module.GetClassObject(CLSID_BubblePtPressure, IID_IClassFactory,
                                          reinterpret_cast<void**>(&object)));
    EXPECT_EQ(2, makes);
    object->Release();
}

TEST_F(FreshTableTest, UnknownClassOrInterfaceLeavesTheOutPointerNull) {
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              module.GetClassObject(IID_ICorrelation, IID_PPV_ARGS(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, makes);

    object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE,
              module.GetClassObject(CLSID_GOR, IID_IDispatch, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_NE(nullptr, table[1].cachedClassObject) << "made and cached all the same";

    EXPECT_EQ(E_POINTER, module.GetClassObject(CLSID_GOR, IID_IUnknown, nullptr));

    CComModule withoutTable;
    object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              withoutTable.GetClassObject(CLSID_GOR, IID_PPV_ARGS(&object)));
    EXPECT_EQ(nullptr, object);
}

TEST_F(FreshTableTest, ShutDownLetsGoOfTheCacheWhileOutsideReferencesLive) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, module.GetClassObject(CLSID_GOR, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(1, Module().GetLockCount());
    module.Shutdown(true);
    EXPECT_EQ(nullptr, table[1].cachedClassObject);
    // The outside reference is now the only one; it still works.
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(1, Module().GetLockCount()) << "1 to 2 took a lock, the server lock took one,"
                                             " the cache's release gave one back";
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(0, Module().GetLockCount());
}

// Termination nodes that count their runs and record the order.
struct TermCounter {
    int runs = 0;
    std::vector<int>* order = nullptr;
    int id = 0;
    static void Run(void* argument) {
        auto* counter = static_cast<TermCounter*>(argument);
        ++counter->runs;
        if (counter->order != nullptr) counter->order->push_back(counter->id);
    }
};

void AddCounters(CComModule& module, TermCounter& first, TermCounter& second) {
    CriticalSectionLock lock(module.StaticDataLock());
    module.AddTermFunction(&TermCounter::Run, &first);
    module.AddTermFunction(&TermCounter::Run, &second);
}

TEST(ModuleTermination, ShutDownRunsEachNodeOnceNewestFirstAndDestructionNoneAgain) {
    std::vector<int> order;
    TermCounter first{0, &order, 1};
    TermCounter second{0, &order, 2};
    {
        CComModule module;
        AddCounters(module, first, second);
        EXPECT_FALSE(module.Terminated());
        module.Shutdown(true);
        EXPECT_TRUE(module.Terminated());
        EXPECT_EQ(1, first.runs);
        EXPECT_EQ(1, second.runs);
        module.Shutdown(true);
        EXPECT_EQ(1, first.runs) << "a second shut-down does nothing";
    }
    EXPECT_EQ(1, first.runs) << "the destructor finds the module terminated";
    EXPECT_EQ(1, second.runs);
    EXPECT_EQ(std::vector<int>({2, 1}), order);
}

TEST(ModuleTermination, ShutDownAtProcessEndRunsNoNode) {
    TermCounter first;
    TermCounter second;
    {
        CComModule module;
        AddCounters(module, first, second);
        module.Shutdown(false);
        EXPECT_TRUE(module.Terminated());
    }
    EXPECT_EQ(0, first.runs);
    EXPECT_EQ(0, second.runs);
}

// Reference changes made while the object's host objects and records are
// released must neither start a second destruction nor reach a half-torn
// object.
TEST_F(ComServerTest, ReferenceChangesDuringStandaloneDestructionAreHarmless) {
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, MakeInstance<CBubblePtPressure>(nullptr, IID_PPV_ARGS(&object)));
    ComPtr<ICorrelation> correlation;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(correlation.GetAddressOf())));
    AddCallbackRecord(*AsCorrelation(object), correlation.Get());
    correlation.Reset();
    CallbackSource::countSeenDuringCleanup = 0;
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(-(2147483647L / 2), CallbackSource::countSeenDuringCleanup)
        << "the count stays at the destruction mark";
}

TEST_F(ComServerTest, ReferenceChangesDuringAggregateDestructionGoToTheOuterObject) {
    CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, MakeInstance<CBubblePtPressure>(&outer, IID_PPV_ARGS(&inner)));
    outer.inner = inner;
    ICorrelation* correlation = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_PPV_ARGS(&correlation)));
    EXPECT_EQ(2, outer.count);
    auto* aggregate = static_cast<CComAggObject<CBubblePtPressure>*>(inner);
    AddCallbackRecord(aggregate->Contained(), correlation);
    correlation->Release();  // to the outer object
    EXPECT_EQ(1, outer.count);

    CallbackSource::countSeenDuringCleanup = 0;
    outer.inner = nullptr;
    EXPECT_EQ(0u, inner->Release());
    EXPECT_EQ(1, CallbackSource::countSeenDuringCleanup) << "the outer object's count";
    EXPECT_EQ(1, outer.count);
}

TEST_F(ComServerTest, AggregateAnswersItselfForIUnknownAndTheContainedMapOtherwise) {
    CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, MakeInstance<CGOR>(&outer, IID_PPV_ARGS(&inner)));
    EXPECT_EQ(1, outer.count) << "creation takes no reference on the outer object";
    EXPECT_EQ(E_POINTER, inner->QueryInterface(IID_IUnknown, nullptr));

    IUnknown* self = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_PPV_ARGS(&self)));
    EXPECT_EQ(inner, self);
    EXPECT_EQ(1u, self->Release());

    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_PPV_ARGS(&dispatch)));
    EXPECT_NE(static_cast<void*>(inner), static_cast<void*>(dispatch));
    EXPECT_EQ(2, outer.count);
    // The contained object's IUnknown goes to the outer object.
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, dispatch->QueryInterface(IID_PPV_ARGS(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    dispatch->Release();
    EXPECT_EQ(1, outer.count);

    IUnknown* nothing = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE,
              inner->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&nothing)));
    EXPECT_EQ(nullptr, nothing);
    EXPECT_EQ(0u, inner->Release());
}

TEST_F(ComServerTest, FailedCompletionDestroysTheAggregateAndTakesNothingFromTheOuter) {
    CountingOuter outer;
    VarHub_FailCreation(3, E_FAIL);  // the "Phase_Values" variable
    IUnknown* inner = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_FAIL, MakeInstance<CBubblePtPressure>(&outer, IID_PPV_ARGS(&inner)));
    EXPECT_EQ(nullptr, inner);
    EXPECT_EQ(1, outer.count);
    EXPECT_EQ(0, Module().GetLockCount());
    EXPECT_EQ(0, VarHub_LiveObjects());
}

TEST_F(ComServerTest, LockServerUnlocksOnlyWhatItLocked) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, MakeClassObject(&MakeInstance<CGOR>, IID_PPV_ARGS(&factory)));
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
    const LONG withObject = Module().GetLockCount();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE)) << "nothing locked: changes nothing";
    EXPECT_EQ(withObject, Module().GetLockCount());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(withObject + 1, Module().GetLockCount());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(withObject, Module().GetLockCount());
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(0u, factory->Release());
}

// The primary interface's table as a host sees it: IDispatch's seven
// entries, then the destructor, an entry that returns 0 and changes
// nothing, and Cleanup. A virtual function added before them moves them.
using DestroyEntry = void(STDMETHODCALLTYPE*)(void* self);
using LongEntry = LONG(STDMETHODCALLTYPE*)(void* self);

template <class Entry>
Entry TableEntry(void* primary, int index) {
    return reinterpret_cast<Entry>((*static_cast<void***>(primary))[index]);
}

TEST_F(ComServerTest, OwnVirtualOperationsFollowIDispatchInTheirOrder) {
    for (bool aggregated : {false, true}) {
        CountingOuter outer;
        IUnknown* made = nullptr;
        ASSERT_EQ(S_OK, MakeInstance<CBubblePtPressure>(aggregated ? &outer : nullptr,
                                                        IID_PPV_ARGS(&made)));
        void* primary = made;
        if (aggregated) {
            ASSERT_EQ(S_OK, made->QueryInterface(IID_IDispatch, &primary));
            static_cast<IUnknown*>(primary)->Release();  // the outer's reference
        }
        CCorrelation* correlation = AsCorrelation(static_cast<IUnknown*>(primary));
        AddCallbackRecord(*correlation, made);
        const HubCounts hubBefore;
        VarHub_Reset();

        EXPECT_EQ(0, TableEntry<LongEntry>(primary, 8)(primary));
        ExpectHubCounts(hubBefore, "entry 8 changes nothing");
        EXPECT_EQ(1u, CorrelationTestAccess::connections(*correlation).size());

        EXPECT_EQ(0, TableEntry<LongEntry>(primary, 9)(primary)) << "Cleanup";
        EXPECT_EQ(0, VarHub_LiveObjects());
        EXPECT_TRUE(CorrelationTestAccess::connections(*correlation).empty());
        EXPECT_EQ(1, Module().GetLockCount());

        TableEntry<DestroyEntry>(primary, 7)(primary);  // destroys the whole object
        EXPECT_EQ(0, Module().GetLockCount());
        EXPECT_EQ(1, outer.count);
    }
}

}  // namespace
}  // namespace pvt::test
