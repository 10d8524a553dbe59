// Every class of the catalogue through its class object, and the dispatch
// side's type information once the module's type library is registered.
#include "server/LoadedServer.h"

#include "HostCorrelation.h"

#include <oleauto.h>

namespace pvt::server_test {
namespace {

const GUID kCorrelation = Guid(L"{0BFE8550-E173-11D2-A62C-00A0C9DF4274}");
const GUID kModuleLibrary = Guid(L"{DEEC13C7-7766-4086-8C1B-434FBF176F1C}");

struct ExpectedClass {
    const wchar_t* classId;
    const wchar_t* interfaceId;
    const wchar_t* displayName;
    LONG kindCode;
};

// The catalogue, in class-table order.
const ExpectedClass kClasses[] = {
    {L"{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}", L"{4794603D-5099-4656-9DD1-1A8702C8114B}",
     L"Bubble Point Pressure", 2},
    {L"{F6C3A86A-63DE-4E4B-9A8B-824BCDE7CD3C}", L"{D6038475-2F1A-492D-9D92-1D1992671A8E}",
     L"Bubble Point Temperature", -1},
    {L"{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}", L"{5C0BF17F-1EB3-49C3-97C5-FE121327071B}",
     L"Gas Oil Ratio", 88},
    {L"{417AE24C-0F7D-4785-84ED-88399FAA4274}", L"{218E8F21-0387-4B09-9DF6-19BFEEEAEC9C}",
     L"Heat Capacity", 15},
    {L"{23E6B729-F543-4270-A88F-5FE56DD6C749}", L"{DE8BBF27-B5F9-419D-83B1-777E9BC4C09B}",
     L"Heat Capacity Ratio", -1},
    {L"{35C881E9-482E-4F5A-AEBA-95C014E71C7E}", L"{4E911D62-7E49-4D25-B1F2-D9B3A011B498}",
     L"Mass Density", 16},
    {L"{659B8C3C-5EA6-4036-808B-7C2B30844EE4}", L"{AF7954EF-E82C-451B-93C0-1EEC8B35F340}",
     L"Mass Enthalpy", 30},
    {L"{7E4F5C93-E369-4B6C-BE4F-C811173088F3}", L"{31AA0FF2-FD97-484C-B0D8-266EE8EE19CE}",
     L"Mass Entropy", 29},
    {L"{BDC15BA1-E919-46A8-9381-DAD3C7527A86}", L"{EAF45C12-5484-4F2E-9D4C-BC1A86E8B084}",
     L"Mass Flow Rate", 4},
    {L"{5A154B22-968A-4ED1-B3CD-75833FE1A658}", L"{949EB9DD-9E37-4AA8-B5D7-66C4FB435731}",
     L"Mass Fraction", -1},
    {L"{D7A75815-6415-42F9-9133-D4955C1CB714}", L"{51508EE1-BC1D-43BD-BCFB-175DB038C06A}",
     L"Net Heating Value", 71},
    {L"{08A3B23A-DE3B-4ED8-9BD8-A9C857CA95F5}", L"{6B7DE9B1-E254-4102-872B-4214F4E01ED9}",
     L"Oil Formation Volume Factor", -1},
    {L"{78A467C1-0B4E-4FFB-A21B-1B7E9B7B42BC}", L"{718A8745-1A15-49F4-B199-CD0DF4956A22}",
     L"Oil Viscosity", 11},
    {L"{DC6D821F-0ACF-4C4F-B8B1-2403CE07CD34}", L"{EBCC01FF-BB0A-497B-A2CD-B1568941673D}",
     L"Solution Gas Oil Ratio", -1},
    {L"{1310AEE9-D0BC-4038-AAB9-7D1250C47038}", L"{C2E73167-4901-4226-A9D3-034A089DB825}",
     L"Surface Tension", -1},
    {L"{8113CC0E-5FEA-4CDF-B1EA-2DB0BD45524F}", L"{ECCCBEC7-7A10-48A6-BD90-282F795AD421}",
     L"Thermal Conductivity", 10},
    {L"{17CE4F7D-7828-4656-B72A-97D3F2FD5CE8}", L"{DEBD24A2-4000-4C05-AC26-4182C061E6C8}",
     L"Viscosity", 11},
    {L"{486DDA58-C30E-45AE-B013-D1F8E7C483AB}", L"{823B43CC-2993-4E5C-9F2B-AB0D87CCBC27}",
     L"Volume Fraction", -1},
    {L"{A7FD6E38-11DD-4F2B-B1FA-98D055E8D4EC}", L"{694CC726-57BA-4315-BDA1-EA72D1955836}",
     L"Watson K", -1},
    {L"{2936EFFC-F4F6-4AA6-8E8E-EB7B8A59A7CE}", L"{C0820417-2E72-42FC-8884-3112F2BDB3F3}",
     L"Z Factor", -1},
    {L"{45A8F93E-735D-452C-81E6-38A029DCAED7}", L"{9EBE8481-9628-49DA-BDD5-6AF9CEDB73C0}",
     L"Viscosity Coefficient a", -1},
    {L"{D094CE4D-EA54-4589-8470-BE12172C6608}", L"{BBBF1495-553D-456E-BF0C-0BAF75B3593B}",
     L"Viscosity Coefficient b", -1},
    {L"{F4521B60-693D-4716-BEF5-40B39D6911DD}", L"{DFF13692-3921-4106-B3C1-B4EF0474B172}",
     L"Std Liq Mass Density", 13},
    {L"{E41CFA95-EEEB-49F1-B14D-5C5E77AE0CF9}", L"{2322B04B-59D2-4CCD-AE9F-554D967FEE28}",
     L"Thermal Conductivity Mass Blend", 10},
    {L"{B847D19F-1FF3-4CA4-AC9D-0C758583A7CB}", L"{55D434FF-DD0D-4C60-8013-F0FA51390279}",
     L"Thermal Conductivity Vol Blend", 10},
    {L"{4ED8B9D4-7059-4367-BF26-DB7CBFD88567}", L"{87EF411E-638D-456C-BAC5-9A0DCCF571E9}",
     L"Volumetric Flow Rate", 5},
};

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"(null)";
    SysFreeString(text);
    return result;
}

using ServerClassesTest = LoadedServer;

TEST_F(ServerClassesTest, EveryClassIsCreatedThroughItsClassObjectWithItsIdentity) {
    EXPECT_EQ(26u, sizeof kClasses / sizeof kClasses[0]);
    for (const ExpectedClass& expected : kClasses) {
        SCOPED_TRACE(expected.displayName);
        IClassFactory* factory = Factory(Guid(expected.classId));
        ASSERT_NE(nullptr, factory);
        ICorrelation* correlation = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, kCorrelation,
                                                reinterpret_cast<void**>(&correlation)));
        factory->Release();

        BSTR text = nullptr;
        EXPECT_EQ(S_OK, correlation->GetDisplayName(&text));
        EXPECT_EQ(expected.displayName, Take(text));
        text = nullptr;
        EXPECT_EQ(S_OK, correlation->GetClassIdText(&text));
        EXPECT_EQ(expected.classId, Take(text));
        LONG kind2 = 0;
        LONG kind3 = 0;
        EXPECT_EQ(S_OK, correlation->GetInteger2(&kind2));
        EXPECT_EQ(S_OK, correlation->GetInteger3(&kind3));
        EXPECT_EQ(expected.kindCode, kind2);
        EXPECT_EQ(expected.kindCode, kind3);

        IUnknown* own = nullptr;
        EXPECT_EQ(S_OK, correlation->QueryInterface(Guid(expected.interfaceId),
                                                    reinterpret_cast<void**>(&own)));
        if (own) own->Release();
        EXPECT_EQ(0u, correlation->Release());
    }
    EXPECT_EQ(S_OK, CanUnloadNow());
}

// The own interface's type information: loaded once per class from the
// registered library and shared by the class's objects. The library is
// registered for this test only.
class ServerTypeInfoTest : public LoadedServer {
protected:
    void SetUp() override {
        ITypeLib* library = nullptr;
        ASSERT_EQ(S_OK, LoadTypeLibEx(BesideExecutable(L"PvtCorrelator.tlb").c_str(),
                                      REGKIND_REGISTER, &library));
        library->Release();
        LoadedServer::SetUp();
    }

    void TearDown() override {
        LoadedServer::TearDown();
        EXPECT_EQ(S_OK, UnRegisterTypeLib(kModuleLibrary, 1, 0, 0, SYS_WIN64));
    }

    IDispatch* Create(const wchar_t* classId) {
        IClassFactory* factory = Factory(Guid(classId));
        if (factory == nullptr) return nullptr;
        IDispatch* object = nullptr;
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown,
                                                reinterpret_cast<void**>(&object)));
        factory->Release();
        return object;
    }
};

// The reference count an interface reports after an AddRef, less one.
ULONG CountOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

TEST_F(ServerTypeInfoTest, OwnInterfaceInformationIsLoadedOncePerClassAndReleasedAtUnload) {
    const ExpectedClass& gor = kClasses[2];
    const ExpectedClass& viscosity = kClasses[16];
    IDispatch* first = Create(gor.classId);
    IDispatch* second = Create(gor.classId);
    IDispatch* other = Create(viscosity.classId);
    ASSERT_TRUE(first && second && other);

    UINT count = 0;
    EXPECT_EQ(S_OK, first->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, first->GetTypeInfoCount(nullptr));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(DISP_E_BADINDEX, first->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(E_POINTER, first->GetTypeInfo(0, 0, nullptr));

    ITypeInfo* firstInfo = nullptr;
    ITypeInfo* secondInfo = nullptr;
    ITypeInfo* otherInfo = nullptr;
    ASSERT_EQ(S_OK, first->GetTypeInfo(0, 0, &firstInfo));
    ASSERT_EQ(S_OK, second->GetTypeInfo(0, 0, &secondInfo));
    ASSERT_EQ(S_OK, other->GetTypeInfo(0, 0, &otherInfo));
    EXPECT_EQ(firstInfo, secondInfo) << "one holder for the class's objects";
    EXPECT_NE(firstInfo, otherInfo);

    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, firstInfo->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(Guid(gor.interfaceId), attributes->guid));
    firstInfo->ReleaseTypeAttr(attributes);
    ASSERT_EQ(S_OK, otherInfo->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(Guid(viscosity.interfaceId), attributes->guid));
    otherInfo->ReleaseTypeAttr(attributes);

    for (IDispatch* object : {first, second, other}) EXPECT_EQ(0u, object->Release());
    secondInfo->Release();
    otherInfo->Release();

    // The module's shut-down lets go of the information it kept.
    const ULONG beforeUnload = CountOf(firstInfo);
    EXPECT_EQ(S_OK, CanUnloadNow());
    Unload();
    EXPECT_EQ(beforeUnload - 1, CountOf(firstInfo));
    firstInfo->Release();
}

}  // namespace
}  // namespace pvt::server_test
