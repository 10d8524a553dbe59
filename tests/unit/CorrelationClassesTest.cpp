// Every class of the catalogue, against the tests' expected class list:
// identity, kind code, own interface and the slot it publishes.
#include "correlations/CorrelationClasses.h"
#include "module/ClassTable.h"
#include "support/CorrelationFixture.h"
#include "support/ExpectedCatalogue.h"

namespace pvt::test {
namespace {

std::wstring Take(BSTR text) {
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

class CorrelationClassesTest : public HostFixture {};

TEST_F(CorrelationClassesTest, EachClassHasItsIdentityKindAndSlot) {
    // The expected list is in class-table order.
    ASSERT_EQ(kExpectedClassCount, static_cast<std::size_t>(kCatalogueSize));
    for (int i = 0; i < kCatalogueSize; ++i) {
        SCOPED_TRACE(kCatalogue[i].name);
        const ExpectedClass& expected = kExpectedClasses[i];
        ComPtr<ICorrelation> correlation;
        ASSERT_EQ(S_OK,
                  kClassTable[i].makeInstance(nullptr, IID_PPV_ARGS(correlation.GetAddressOf())));

        BSTR text = nullptr;
        ASSERT_EQ(S_OK, correlation->GetDisplayName(&text));
        EXPECT_EQ(expected.wideDisplayName, Take(text));
        ASSERT_EQ(S_OK, correlation->GetClassIdText(&text));
        EXPECT_EQ(UpperCaseIdentifier(expected.wideClassId), Take(text));
        LONG kind2 = 0, kind3 = 0;
        EXPECT_EQ(S_OK, correlation->GetInteger2(&kind2));
        EXPECT_EQ(S_OK, correlation->GetInteger3(&kind3));
        EXPECT_EQ(expected.kindCode, kind2);
        EXPECT_EQ(expected.kindCode, kind3);

        ComPtr<IUnknown> own, primary;
        EXPECT_EQ(S_OK, correlation->QueryInterface(kCatalogue[i].interfaceId,
                                                    reinterpret_cast<void**>(own.GetAddressOf())));
        EXPECT_EQ(S_OK, correlation->QueryInterface(IID_PPV_ARGS(primary.GetAddressOf())));
        EXPECT_EQ(primary.Get(), own.Get());
        const int other = (i + 1) % kCatalogueSize;  // another class's interface
        void* foreign = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE,
                  correlation->QueryInterface(kCatalogue[other].interfaceId, &foreign));
        EXPECT_EQ(nullptr, foreign);

        if (expected.slot < 0) continue;
        // Every slot and phase holds a distinct value, so a wrong slot or a
        // swapped phase shows.
        auto source = Adopt(new FakeSource());
        auto item = Adopt(new FakeItem());
        auto fluid = Adopt(new FakeFluid());
        fluid->block = DistinctBlock();
        item->fluid = fluid;
        source->item = item;
        LONG id = 0;
        IUnknown* set = nullptr;
        ASSERT_EQ(S_OK, correlation->Connect(source.Get(), 1, &id, &set));
        ASSERT_EQ(S_OK, correlation->Calculate(id));
        ComPtr<IUnknown> variable;
        ASSERT_EQ(S_OK, FindPhaseValues(set, variable));
        const double k = expected.slot * 10;
        EXPECT_EQ(k + 4.5, VarHub_Value(variable.Get(), 0));
        EXPECT_EQ(k + 0.5, VarHub_Value(variable.Get(), 1));
        EXPECT_EQ(k + 1.5, VarHub_Value(variable.Get(), 2));
        EXPECT_EQ(k + 2.5, VarHub_Value(variable.Get(), 3));
    }
}

}  // namespace
}  // namespace pvt::test
