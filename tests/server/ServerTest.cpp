// The built module from the outside: class objects, creation (standalone and
// aggregated), object identity, the lock count as DllCanUnloadNow reports it,
// concurrent requests for a class object, and unloading.
#include "doubles/CountingOuter.h"
#include "server/LoadedServer.h"

#include "HostCorrelation.h"

#include <atomic>
#include <thread>
#include <vector>

namespace pvt::server_test {
namespace {

const GUID kGor = Guid(L"{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}");
const GUID kOwnGor = Guid(L"{5C0BF17F-1EB3-49C3-97C5-FE121327071B}");
const GUID kBubblePtPressure = Guid(L"{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}");
const GUID kCorrelation = Guid(L"{0BFE8550-E173-11D2-A62C-00A0C9DF4274}");
// Declared by the type library, served by no class.
const GUID kNotServed[] = {
    Guid(L"{F0EAA17C-5047-4024-9A93-FE72BF66D8AB}"),  // OilGravity
    Guid(L"{24E8FEBE-072A-4653-A7E6-03B70A4D2896}"),  // GasGravity
    Guid(L"{97CC4403-C92E-4E04-8205-52D6633F7A7A}"),  // WaterGravity
};

IUnknown* const kGarbage = reinterpret_cast<IUnknown*>(1);

using test::CountingOuter;
using ServerTest = LoadedServer;

TEST_F(ServerTest, ClassObjectIsMadeOnceAndHoldsTheModuleOnlyWhileReferenced) {
    EXPECT_EQ(S_OK, CanUnloadNow());
    IClassFactory* first = Factory(kGor);
    IClassFactory* second = Factory(kGor);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(S_FALSE, CanUnloadNow());

    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, first->QueryInterface(IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(first), unknown);
    unknown->Release();

    second->Release();
    EXPECT_EQ(S_FALSE, CanUnloadNow());
    first->Release();
    EXPECT_EQ(S_OK, CanUnloadNow()) << "the cache's own reference does not hold the module";

    // Still cached: the same class object again.
    IClassFactory* again = Factory(kGor);
    EXPECT_EQ(first, again);
    if (again) again->Release();

    IClassFactory* other = Factory(kBubblePtPressure);
    EXPECT_NE(first, other);
    if (other) other->Release();
}

TEST_F(ServerTest, UnservedClassesWrongInterfacesAndNullOutPointersFail) {
    for (const GUID& classId : kNotServed) {
        IUnknown* object = kGarbage;
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
                  GetClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&object)));
        EXPECT_EQ(nullptr, object);
    }
    IUnknown* object = kGarbage;
    EXPECT_EQ(E_NOINTERFACE,
              GetClassObject(kGor, IID_IDispatch, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, GetClassObject(kGor, IID_IClassFactory, nullptr));

    IClassFactory* factory = Factory(kGor);
    ASSERT_NE(nullptr, factory);
    object = kGarbage;
    EXPECT_EQ(E_NOINTERFACE,
              factory->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    factory->Release();
}

TEST_F(ServerTest, AggregationNeedsIUnknownAndRefusesOtherwiseWithoutSideEffects) {
    IClassFactory* factory = Factory(kGor);
    ASSERT_NE(nullptr, factory);
    CountingOuter outer;
    const test::HubCounts before;
    IUnknown* object = kGarbage;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(&outer, kCorrelation, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(1, outer.count);
    test::ExpectHubCounts(before, "nothing was created");
    factory->Release();
    EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST_F(ServerTest, AggregateHandsOutInterfacesThatCountOnTheOuterObject) {
    IClassFactory* factory = Factory(kGor);
    ASSERT_NE(nullptr, factory);
    const test::HubCounts before;
    CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_PPV_ARGS(&inner)));
    factory->Release();
    outer.inner = inner;
    EXPECT_EQ(1, outer.count);
    EXPECT_EQ(S_FALSE, CanUnloadNow()) << "the aggregate holds the module";
    EXPECT_EQ(before.objects + 3, VarHub_LiveObjects()) << "two sets and the variable";

    // The non-delegating IUnknown answers itself, with its own count.
    IUnknown* self = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_PPV_ARGS(&self)));
    EXPECT_EQ(inner, self);
    EXPECT_EQ(3u, self->AddRef());
    EXPECT_EQ(2u, self->Release());
    EXPECT_EQ(1u, self->Release()) << "back to the creator's reference";
    EXPECT_EQ(1, outer.count);

    ICorrelation* correlation = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_PPV_ARGS(&correlation)));
    EXPECT_NE(static_cast<void*>(inner), static_cast<void*>(correlation));
    EXPECT_EQ(2, outer.count) << "the query's reference went to the outer object";
    correlation->AddRef();
    EXPECT_EQ(3, outer.count);
    correlation->Release();
    EXPECT_EQ(2, outer.count);

    // The contained object's identity is the outer object's.
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, correlation->QueryInterface(IID_PPV_ARGS(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();

    BSTR name = nullptr;
    ASSERT_EQ(S_OK, correlation->GetDisplayName(&name));
    EXPECT_STREQ(L"Gas Oil Ratio", name);
    SysFreeString(name);
    correlation->Release();
    EXPECT_EQ(1, outer.count);

    // The aggregate's last release destroys it with its host objects.
    outer.inner = nullptr;
    EXPECT_EQ(0u, inner->Release());
    test::ExpectHubCounts(before, "destroyed");
    EXPECT_EQ(1, outer.count);
    EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST_F(ServerTest, StandaloneIdentityIsThePrimaryPointer) {
    IClassFactory* factory = Factory(kGor);
    ASSERT_NE(nullptr, factory);
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
    factory->Release();

    IUnknown* unknown = nullptr;
    IUnknown* dispatch = nullptr;
    IUnknown* own = nullptr;
    IUnknown* correlation = nullptr;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(&unknown)));
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    ASSERT_EQ(S_OK, object->QueryInterface(kOwnGor, reinterpret_cast<void**>(&own)));
    ASSERT_EQ(S_OK, object->QueryInterface(kCorrelation, reinterpret_cast<void**>(&correlation)));
    EXPECT_EQ(object, unknown);
    EXPECT_EQ(object, dispatch);
    EXPECT_EQ(object, own);
    EXPECT_NE(object, correlation);

    IUnknown* back = nullptr;
    ASSERT_EQ(S_OK, correlation->QueryInterface(IID_PPV_ARGS(&back)));
    EXPECT_EQ(object, back);
    // Both pointers count on the one object.
    EXPECT_EQ(7u, correlation->AddRef());
    EXPECT_EQ(6u, object->Release());

    IUnknown* nothing = kGarbage;
    EXPECT_EQ(E_NOINTERFACE,
              object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&nothing)));
    EXPECT_EQ(nullptr, nothing);
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));

    for (IUnknown* pointer : {back, correlation, own, dispatch, unknown}) pointer->Release();
    EXPECT_EQ(S_FALSE, CanUnloadNow());
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST_F(ServerTest, LiveObjectsAndServerLocksKeepTheModuleLoaded) {
    IClassFactory* factory = Factory(kBubblePtPressure);
    ASSERT_NE(nullptr, factory);
    ICorrelation* first = nullptr;
    ICorrelation* second = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&first)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&second)));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
    EXPECT_EQ(S_FALSE, CanUnloadNow());
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(S_FALSE, CanUnloadNow()) << "the server lock";

    factory = Factory(kBubblePtPressure);
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory->Release();
    EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST_F(ServerTest, FailedConstructionReturnsItsFailureAndHoldsNothing) {
    IClassFactory* factory = Factory(kGor);
    ASSERT_NE(nullptr, factory);
    const test::HubCounts before;
    for (int failing = 1; failing <= 3; ++failing) {
        VarHub_Reset();
        VarHub_FailCreation(failing, E_FAIL);
        IUnknown* object = kGarbage;
        EXPECT_EQ(E_FAIL, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)))
            << "host object " << failing;
        EXPECT_EQ(nullptr, object);
        test::ExpectHubCounts(before, "standalone");

        CountingOuter outer;
        VarHub_Reset();
        VarHub_FailCreation(failing, E_FAIL);
        object = kGarbage;
        EXPECT_EQ(E_FAIL, factory->CreateInstance(&outer, IID_PPV_ARGS(&object)));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(1, outer.count);
        test::ExpectHubCounts(before, "aggregated");
    }
    factory->Release();
    EXPECT_EQ(S_OK, CanUnloadNow());
}

// Each thread enters its own apartment, waits for the others and asks for
// the class object at the same moment.
TEST_F(ServerTest, ThreadsAskingAtOnceShareOneClassObject) {
    constexpr int kThreads = 8;
    std::vector<IClassFactory*> factories(kThreads, nullptr);
    std::vector<HRESULT> results(kThreads, E_UNEXPECTED);
    std::atomic<int> waiting{0};
    std::atomic<bool> go{false};
    std::atomic<int> asked{0};
    std::atomic<bool> releaseNow{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            ++waiting;
            while (!go.load()) std::this_thread::yield();
            results[i] = FAILED(entered) ? entered
                                         : GetClassObject(kGor, IID_IClassFactory,
                                                          reinterpret_cast<void**>(&factories[i]));
            ++asked;
            while (!releaseNow.load()) std::this_thread::yield();
            if (factories[i] != nullptr) factories[i]->Release();
            if (SUCCEEDED(entered)) CoUninitialize();
        });
    }
    while (waiting.load() < kThreads) std::this_thread::yield();
    go = true;
    while (asked.load() < kThreads) std::this_thread::yield();
    EXPECT_EQ(S_FALSE, CanUnloadNow());
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(S_OK, results[i]) << "thread " << i;
        EXPECT_EQ(factories[0], factories[i]) << "thread " << i;
    }
    releaseNow = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(S_OK, CanUnloadNow());
}

}  // namespace
}  // namespace pvt::server_test
