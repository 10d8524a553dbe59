// ICorrelation's identity getters and its list of connections.
#include "support/CorrelationFixture.h"

namespace pvt::test {
namespace {

class ConnectionsTest : public CorrelationFixture {
protected:
    std::vector<LONG> Ids() {
        std::vector<LONG> ids;
        for (auto& record : CorrelationTestAccess::connections(*Object()))
            ids.push_back(record->connectionId);
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
