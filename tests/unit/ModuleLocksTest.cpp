// The module's two locks, each met by a second thread while a first one
// holds it: the class table's while a class object is being made, the
// static data's while type information is being loaded.
#include "com/ComModule.h"
#include "com/TypeInfoHolder.h"
#include "correlations/CorrelationClasses.h"
#include "support/HostFixture.h"

#include "HostCorrelation.h"

#include <oleauto.h>

#include <chrono>
#include <thread>

namespace pvt::test {
namespace {

// A manual-reset event, closed with the scope.
class Event {
public:
    Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set() { SetEvent(handle_); }
    bool WaitFor(DWORD milliseconds) {
        return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
    }

private:
    HANDLE handle_;
};

// A class-object maker whose first call stays inside until the test lets
// it go; a later call only says that it came in.
struct BlockingMaker {
    static Event* inside;
    static Event* release;
    static Event* anotherInside;
    static LONG calls;

    static HRESULT Make(MakeInstanceFunction makeInstance, REFIID iid, void** object) {
        if (InterlockedIncrement(&calls) == 1) {
            inside->Set();
            release->WaitFor(10000);
        } else {
            anotherInside->Set();
        }
        return MakeClassObject(makeInstance, iid, object);
    }
};

Event* BlockingMaker::inside = nullptr;
Event* BlockingMaker::release = nullptr;
Event* BlockingMaker::anotherInside = nullptr;
LONG BlockingMaker::calls = 0;

using ModuleLocksTest = HostFixture;

// The class table's lock is private, so a second thread that waits on it
// cannot be seen: the test gives it half a second to come into the maker,
// which it does at once when the lock is missing. A build with the lock
// passes whatever the timing.
TEST_F(ModuleLocksTest, ASecondRequestWaitsWhileTheClassObjectIsMade) {
    Event inside;
    Event release;
    Event anotherInside;
    BlockingMaker::inside = &inside;
    BlockingMaker::release = &release;
    BlockingMaker::anotherInside = &anotherInside;
    BlockingMaker::calls = 0;
    ClassTableEntry table[] = {
        {&CLSID_GOR, nullptr, &BlockingMaker::Make, &MakeInstance<CGOR>, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    CComModule module;
    module.Init(table, GUID{});

    IClassFactory* first = nullptr;
    IClassFactory* second = nullptr;
    HRESULT firstResult = E_FAIL;
    HRESULT secondResult = E_FAIL;
    std::thread firstThread(
        [&] { firstResult = module.GetClassObject(CLSID_GOR, IID_PPV_ARGS(&first)); });
    ASSERT_TRUE(inside.WaitFor(10000));
    std::thread secondThread(
        [&] { secondResult = module.GetClassObject(CLSID_GOR, IID_PPV_ARGS(&second)); });
    EXPECT_FALSE(anotherInside.WaitFor(500))
        << "a second thread made the class object while the first was making it";
    release.Set();
    firstThread.join();
    secondThread.join();

    EXPECT_EQ(1, BlockingMaker::calls);
    EXPECT_EQ(S_OK, firstResult);
    EXPECT_EQ(S_OK, secondResult);
    EXPECT_EQ(first, second);
    EXPECT_EQ(table[0].cachedClassObject, first);
    if (first != nullptr) first->Release();
    if (second != nullptr) second->Release();
    module.Shutdown(true);
    EXPECT_EQ(nullptr, table[0].cachedClassObject);
}

// The static data's lock can be watched: a thread that waits on a critical
// section changes its LockCount, whatever the platform's encoding of it.
// The test holds the lock, as a thread loading type information does, and
// waits until the second thread either waits on it or gets through.
TEST_F(ModuleLocksTest, TypeInformationIsNotLoadedWhileAnotherThreadHoldsTheStaticData) {
    UnRegisterTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, SYS_WIN64);  // left by a failed run
    CComTypeInfoHolder holder(LIBID_HostCorrelationLib, IID_ICorrelation);
    CRITICAL_SECTION& staticData = Module().StaticDataLock();
    Event through;
    HRESULT result = S_OK;
    std::thread loader;
    {
        CriticalSectionLock lock(staticData);
        const LONG held = InterlockedCompareExchange(&staticData.LockCount, 0, 0);
        loader = std::thread([&] {
            LPOLESTR name = const_cast<LPOLESTR>(L"Calculate");
            DISPID id = 0;
            result = holder.GetIDsOfNames(&name, 1, 0, &id);
            through.Set();
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool waiting = false;
        while (!waiting && std::chrono::steady_clock::now() < deadline) {
            if (through.WaitFor(1)) break;
            waiting = InterlockedCompareExchange(&staticData.LockCount, 0, 0) != held;
        }
        EXPECT_TRUE(waiting) << "the loading thread did not wait for the lock";
    }
    loader.join();
    EXPECT_TRUE(FAILED(result)) << "the host's library is not registered";
    EXPECT_FALSE(holder.Loaded());
}

}  // namespace
}  // namespace pvt::test
