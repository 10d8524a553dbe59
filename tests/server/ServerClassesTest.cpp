// Every class of the catalogue through its class object, and the dispatch
// side's type information once the module's type library is registered.
#include "server/LoadedServer.h"

#include "HostCorrelation.h"
#include "support/ExpectedCatalogue.h"

#include <oleauto.h>

namespace pvt::server_test {
namespace {

const GUID kModuleLibrary = Guid(L"{DEEC13C7-7766-4086-8C1B-434FBF176F1C}");

using test::ExpectedClass;
using test::ExpectedClassNamed;
using test::kExpectedClasses;
using test::UpperCaseIdentifier;

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"(null)";
    SysFreeString(text);
    return result;
}

using ServerClassesTest = LoadedServer;

TEST_F(ServerClassesTest, EveryClassIsCreatedThroughItsClassObjectWithItsIdentity) {
    for (const ExpectedClass& expected : kExpectedClasses) {
        SCOPED_TRACE(expected.name);
        IClassFactory* factory = Factory(Guid(expected.wideClassId));
        ASSERT_NE(nullptr, factory);
        ICorrelation* correlation = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&correlation)));
        factory->Release();

        BSTR text = nullptr;
        EXPECT_EQ(S_OK, correlation->GetDisplayName(&text));
        EXPECT_EQ(expected.wideDisplayName, Take(text));
        text = nullptr;
        EXPECT_EQ(S_OK, correlation->GetClassIdText(&text));
        EXPECT_EQ(UpperCaseIdentifier(expected.wideClassId), Take(text));
        LONG kind2 = 0;
        LONG kind3 = 0;
        EXPECT_EQ(S_OK, correlation->GetInteger2(&kind2));
        EXPECT_EQ(S_OK, correlation->GetInteger3(&kind3));
        EXPECT_EQ(expected.kindCode, kind2);
        EXPECT_EQ(expected.kindCode, kind3);

        IUnknown* own = nullptr;
        EXPECT_EQ(S_OK, correlation->QueryInterface(Guid(expected.wideInterfaceId),
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
    const ExpectedClass& gor = ExpectedClassNamed("GOR");
    const ExpectedClass& viscosity = ExpectedClassNamed("Viscosity");
    IDispatch* first = Create(gor.wideClassId);
    IDispatch* second = Create(gor.wideClassId);
    IDispatch* other = Create(viscosity.wideClassId);
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
    EXPECT_TRUE(IsEqualGUID(Guid(gor.wideInterfaceId), attributes->guid));
    firstInfo->ReleaseTypeAttr(attributes);
    ASSERT_EQ(S_OK, otherInfo->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(Guid(viscosity.wideInterfaceId), attributes->guid));
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
