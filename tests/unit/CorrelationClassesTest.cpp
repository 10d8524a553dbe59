// Every class of the catalogue, from one table written out here: identity,
// kind code, own interface and the slot it publishes.
#include "correlations/CorrelationClasses.h"
#include "module/ClassTable.h"
#include "support/CorrelationFixture.h"

namespace pvt::test {
namespace {

struct ExpectedClass {
    const wchar_t* displayName;
    const wchar_t* classIdText;
    LONG kindCode;
    int slot;  // -1: a derived publication
};

// In class-table order.
const ExpectedClass kExpected[kCatalogueSize] = {
    {L"Bubble Point Pressure", L"{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}", 2, 0},
    {L"Bubble Point Temperature", L"{F6C3A86A-63DE-4E4B-9A8B-824BCDE7CD3C}", -1, 1},
    {L"Gas Oil Ratio", L"{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}", 88, 6},
    {L"Heat Capacity", L"{417AE24C-0F7D-4785-84ED-88399FAA4274}", 15, 7},
    {L"Heat Capacity Ratio", L"{23E6B729-F543-4270-A88F-5FE56DD6C749}", -1, 8},
    {L"Mass Density", L"{35C881E9-482E-4F5A-AEBA-95C014E71C7E}", 16, 10},
    {L"Mass Enthalpy", L"{659B8C3C-5EA6-4036-808B-7C2B30844EE4}", 30, 11},
    {L"Mass Entropy", L"{7E4F5C93-E369-4B6C-BE4F-C811173088F3}", 29, 12},
    {L"Mass Flow Rate", L"{BDC15BA1-E919-46A8-9381-DAD3C7527A86}", 4, -1},
    {L"Mass Fraction", L"{5A154B22-968A-4ED1-B3CD-75833FE1A658}", -1, 14},
    {L"Net Heating Value", L"{D7A75815-6415-42F9-9133-D4955C1CB714}", 71, 15},
    {L"Oil Formation Volume Factor", L"{08A3B23A-DE3B-4ED8-9BD8-A9C857CA95F5}", -1, 16},
    {L"Oil Viscosity", L"{78A467C1-0B4E-4FFB-A21B-1B7E9B7B42BC}", 11, 17},
    {L"Solution Gas Oil Ratio", L"{DC6D821F-0ACF-4C4F-B8B1-2403CE07CD34}", -1, 18},
    {L"Surface Tension", L"{1310AEE9-D0BC-4038-AAB9-7D1250C47038}", -1, 20},
    {L"Thermal Conductivity", L"{8113CC0E-5FEA-4CDF-B1EA-2DB0BD45524F}", 10, 21},
    {L"Viscosity", L"{17CE4F7D-7828-4656-B72A-97D3F2FD5CE8}", 11, -1},
    {L"Volume Fraction", L"{486DDA58-C30E-45AE-B013-D1F8E7C483AB}", -1, 26},
    {L"Watson K", L"{A7FD6E38-11DD-4F2B-B1FA-98D055E8D4EC}", -1, 27},
    {L"Z Factor", L"{2936EFFC-F4F6-4AA6-8E8E-EB7B8A59A7CE}", -1, 28},
    {L"Viscosity Coefficient a", L"{45A8F93E-735D-452C-81E6-38A029DCAED7}", -1, 2},
    {L"Viscosity Coefficient b", L"{D094CE4D-EA54-4589-8470-BE12172C6608}", -1, 3},
    {L"Std Liq Mass Density", L"{F4521B60-693D-4716-BEF5-40B39D6911DD}", 13, 19},
    {L"Thermal Conductivity Mass Blend", L"{E41CFA95-EEEB-49F1-B14D-5C5E77AE0CF9}", 10, 22},
    {L"Thermal Conductivity Vol Blend", L"{B847D19F-1FF3-4CA4-AC9D-0C758583A7CB}", 10, 23},
    {L"Volumetric Flow Rate", L"{4ED8B9D4-7059-4367-BF26-DB7CBFD88567}", 5, -1},
};

std::wstring Take(BSTR text) {
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

class CorrelationClassesTest : public HostFixture {};

TEST_F(CorrelationClassesTest, EachClassHasItsIdentityKindAndSlot) {
    for (int i = 0; i < kCatalogueSize; ++i) {
        SCOPED_TRACE(kCatalogue[i].name);
        const ExpectedClass& expected = kExpected[i];
        ComPtr<ICorrelation> correlation;
        ASSERT_EQ(S_OK, kClassTable[i].makeInstance(
                            nullptr, IID_ICorrelation,
                            reinterpret_cast<void**>(correlation.GetAddressOf())));

        BSTR text = nullptr;
        ASSERT_EQ(S_OK, correlation->GetDisplayName(&text));
        EXPECT_EQ(expected.displayName, Take(text));
        ASSERT_EQ(S_OK, correlation->GetClassIdText(&text));
        EXPECT_EQ(expected.classIdText, Take(text));
        LONG kind2 = 0, kind3 = 0;
        EXPECT_EQ(S_OK, correlation->GetInteger2(&kind2));
        EXPECT_EQ(S_OK, correlation->GetInteger3(&kind3));
        EXPECT_EQ(expected.kindCode, kind2);
        EXPECT_EQ(expected.kindCode, kind3);

        ComPtr<IUnknown> own, primary;
        EXPECT_EQ(S_OK, correlation->QueryInterface(kCatalogue[i].interfaceId,
                                                    reinterpret_cast<void**>(own.GetAddressOf())));
        EXPECT_EQ(S_OK, correlation->QueryInterface(
                            IID_IUnknown, reinterpret_cast<void**>(primary.GetAddressOf())));
        EXPECT_EQ(primary.Get(), own.Get());
        const int other = (i + 1) % kCatalogueSize;  // another class's interface
        void* foreign = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, correlation->QueryInterface(kCatalogue[other].interfaceId, &foreign));
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
        ASSERT_EQ(S_OK, static_cast<IHostVariableSet*>(set)->FindVariable(
                            L"Phase_Values", variable.GetAddressOf()));
        const double k = expected.slot * 10;
        EXPECT_EQ(k + 4.5, VarHub_Value(variable.Get(), 0));
        EXPECT_EQ(k + 0.5, VarHub_Value(variable.Get(), 1));
        EXPECT_EQ(k + 1.5, VarHub_Value(variable.Get(), 2));
        EXPECT_EQ(k + 2.5, VarHub_Value(variable.Get(), 3));
    }
}

}  // namespace
}  // namespace pvt::test
