// ICorrelation's identity getters and its list of connections.
#include "support/CorrelationFixture.h"

#include <algorithm>
#include <random>

namespace pvt::test {
namespace {

class ConnectionsTest : public CorrelationFixture {
protected:
    // The id each record answers to, in list order.
    std::vector<LONG> Ids() {
        std::vector<LONG> ids;
        const auto& records = CorrelationTestAccess::connections(*Object());
        for (LONG id = -1; id <= static_cast<LONG>(records.size()) + 1; ++id) {
            if (CConnectionInfo* found = CorrelationTestAccess::Find(*Object(), id)) {
                EXPECT_EQ(records[static_cast<std::size_t>(id - 1)].get(), found);
                ids.push_back(id);
            }
        }
        return ids;
    }
};

TEST_F(ConnectionsTest, IdentityAndIntegers) {
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, correlation->GetDisplayName(&text));
    EXPECT_EQ(std::wstring(L"Bubble Point Pressure"), std::wstring(text, SysStringLen(text)));
    SysFreeString(text);
    ASSERT_EQ(S_OK, correlation->GetClassIdText(&text));
    EXPECT_EQ(std::wstring(L"{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}"), text);
    SysFreeString(text);

    LONG values[4] = {9, 9, 9, 9};
    EXPECT_EQ(S_OK, correlation->GetInteger1(&values[0]));
    EXPECT_EQ(S_OK, correlation->GetInteger2(&values[1]));
    EXPECT_EQ(S_OK, correlation->GetInteger3(&values[2]));
    EXPECT_EQ(S_OK, correlation->GetInteger4(&values[3]));
    EXPECT_EQ(0, values[0]);
    EXPECT_EQ(2, values[1]);
    EXPECT_EQ(2, values[2]);
    EXPECT_EQ(0, values[3]);
}

TEST_F(ConnectionsTest, EmptyTextIsAnEmptyNonNullBstrAndNullOutPointersAreRefused) {
    CorrelationTestAccess::displayName(*Object()).clear();
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, correlation->GetDisplayName(&text));
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(0u, SysStringLen(text));
    SysFreeString(text);

    EXPECT_EQ(E_POINTER, correlation->GetDisplayName(nullptr));
    EXPECT_EQ(E_POINTER, correlation->GetClassIdText(nullptr));
    EXPECT_EQ(E_POINTER, correlation->GetInteger2(nullptr));
    EXPECT_EQ(E_POINTER, correlation->GetVariableSet(nullptr));
    auto source = Adopt(new FakeSource());
    LONG id = 0;
    IUnknown* set = nullptr;
    EXPECT_EQ(E_POINTER, correlation->Connect(source.Get(), 1, nullptr, &set));
    EXPECT_EQ(E_POINTER, correlation->Connect(source.Get(), 1, &id, nullptr));
    EXPECT_EQ(E_CONNECTION_REFUSED, correlation->Connect(nullptr, 1, nullptr, nullptr))
        << "the null source is tested first";
    EXPECT_TRUE(CorrelationTestAccess::connections(*Object()).empty());
}

TEST_F(ConnectionsTest, IdsFollowPositionsAndRenumberAfterDisconnect) {
    PropertyBlock block = DistinctBlock();
    Connection a = Connect(block), b = Connect(block), c = Connect(block);
    EXPECT_EQ((std::vector<LONG>{1, 2, 3}), (std::vector<LONG>{a.id, b.id, c.id}));
    EXPECT_NE(a.set, b.set) << "each connection has its own set";

    EXPECT_EQ(S_OK, correlation->Disconnect(2));
    EXPECT_EQ((std::vector<LONG>{1, 2}), Ids());
    EXPECT_EQ(c.source.Get(), CorrelationTestAccess::connections(*Object())[1]->source.Get());
    EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Calculate(3));
    EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Disconnect(3));
    EXPECT_EQ(3, Connect(block).id);

    for (LONG bad : {0L, -1L, 4L, 99L}) {
        EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Disconnect(bad)) << bad;
        EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Calculate(bad)) << bad;
    }
    EXPECT_EQ(3u, CorrelationTestAccess::connections(*Object()).size());
}

// The ids are looked up by position: after removals in random order, some
// made from inside another connection's publication, every id in and around
// the range finds the record that a plain list of the sources has there.
TEST_F(ConnectionsTest, IdsFindTheRecordAModelOfPositionsHasAfterRandomRemovals) {
    const PropertyBlock block = DistinctBlock();
    std::vector<Connection> kept;
    std::vector<IConnectionSource*> model;
    for (int i = 0; i < 24; ++i) {
        kept.push_back(Connect(block));
        model.push_back(kept.back().source.Get());
    }
    std::mt19937 random(17);
    auto check = [&](int step) {
        for (LONG id = -1; id <= static_cast<LONG>(model.size()) + 2; ++id) {
            CConnectionInfo* found = CorrelationTestAccess::Find(*Object(), id);
            const bool inRange = id >= 1 && id <= static_cast<LONG>(model.size());
            ASSERT_EQ(inRange ? model[static_cast<std::size_t>(id - 1)] : nullptr,
                      found ? found->source.Get() : nullptr)
                << "step " << step << ", id " << id;
        }
    };
    for (int step = 0; !model.empty(); ++step) {
        const LONG count = static_cast<LONG>(model.size());
        const LONG id = std::uniform_int_distribution<LONG>(-1, count + 1)(random);
        const bool valid = id >= 1 && id <= count;
        if (step % 3 == 2 && valid && count >= 2) {
            // Calculating the last connection removes id from inside.
            Connection& last = *std::find_if(kept.begin(), kept.end(), [&](Connection& c) {
                return c.source.Get() == model.back();
            });
            last.source->onCall = [&, id](const char*) {
                EXPECT_EQ(S_OK, correlation->Disconnect(id));
            };
            EXPECT_EQ(S_OK, correlation->Calculate(count)) << "step " << step;
            last.source->onCall = nullptr;
        } else {
            EXPECT_EQ(valid ? S_OK : E_NO_SUCH_CONNECTION, correlation->Disconnect(id))
                << "step " << step << ", id " << id;
        }
        if (valid) model.erase(model.begin() + (id - 1));
        check(step);
    }
    for (const Connection& c : kept) EXPECT_EQ(1, c.source->RefCount());
}

TEST_F(ConnectionsTest, DisconnectReleasesExactlyTheRecordsReferences) {
    Connection a = Connect(DistinctBlock());
    EXPECT_EQ(2, a.source->RefCount()) << "ours and the record's";
    VarHub_Reset();
    EXPECT_EQ(S_OK, correlation->Disconnect(1));
    EXPECT_EQ(1, a.source->RefCount());
    EXPECT_EQ((std::vector<std::string>{"Source.Release() -> 1", "Set#1.Release() -> 0",
                                        "Variable#1.Release() -> 0"}),
              LogWith("Release"))
        << "the source first, then the connection's set";
    EXPECT_EQ(E_NO_SUCH_CONNECTION, correlation->Disconnect(1));
}

TEST_F(ConnectionsTest, RefusalsKeepNothingAndWriteNothing) {
    LONG id = 42;
    IUnknown* set = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_CONNECTION_REFUSED, correlation->Connect(nullptr, 1, &id, &set));

    auto plain = Adopt(new FakeUnknown());
    EXPECT_EQ(E_CONNECTION_REFUSED, correlation->Connect(plain.Get(), 1, &id, &set));
    EXPECT_EQ(1, plain->RefCount());

    auto source = Adopt(new FakeSource());
    VarHub_FailMethod("Clone", E_OUTOFMEMORY);
    EXPECT_EQ(E_CONNECTION_REFUSED, correlation->Connect(source.Get(), 1, &id, &set));
    EXPECT_EQ(1, source->RefCount());
    VarHub_Reset();

    Object()->Cleanup();  // no template set left to clone
    EXPECT_EQ(E_CONNECTION_REFUSED, correlation->Connect(source.Get(), 1, &id, &set));
    EXPECT_EQ(1, source->RefCount());

    EXPECT_EQ(42, id);
    EXPECT_EQ(reinterpret_cast<IUnknown*>(1), set);
    EXPECT_TRUE(CorrelationTestAccess::connections(*Object()).empty());
}

TEST_F(ConnectionsTest, ConnectThatCannotAllocateKeepsNothing) {
    auto source = Adopt(new FakeSource());
    LONG id = 42;
    IUnknown* set = reinterpret_cast<IUnknown*>(1);
    HRESULT hr;
    FakeCounters::SetLogging(false);  // the first allocation is then the module's own
    {
        ScopedAllocationFailure failure(1);
        hr = correlation->Connect(source.Get(), 1, &id, &set);
    }
    FakeCounters::SetLogging(true);
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_EQ(1, source->RefCount());
    EXPECT_EQ(42, id);
    EXPECT_EQ(reinterpret_cast<IUnknown*>(1), set);
    EXPECT_TRUE(CorrelationTestAccess::connections(*Object()).empty());
}

TEST_F(ConnectionsTest, VariableSetIsTheSameSetWithAReferenceEachTime) {
    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    const LONG before = VarHub_References();
    ASSERT_EQ(S_OK, correlation->GetVariableSet(&first));
    ASSERT_EQ(S_OK, correlation->GetVariableSet(&second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(before + 2, VarHub_References());
    first->Release();
    second->Release();
}

}  // namespace
}  // namespace pvt::test
