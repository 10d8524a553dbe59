// Dispatch type information that cannot be loaded: each dispatch call
// reports why on its own, writes nothing, and leaves the holder empty so
// that a later call tries again.
#include "com/TypeInfoHolder.h"
#include "support/ExecutablePath.h"
#include "support/HostFixture.h"

#include "HostCorrelation.h"

#include <oleauto.h>

namespace pvt::test {
namespace {

class TypeInfoLoadingTest : public HostFixture {
protected:
    void TearDown() override {
        UnRegisterTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, SYS_WIN64);
        HostFixture::TearDown();
    }

    // What loading the host's library and finding iid in it gives.
    static HRESULT ExpectedFailure(REFIID iid) {
        ITypeLib* library = nullptr;
        HRESULT hr = LoadRegTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, &library);
        if (FAILED(hr)) return hr;
        ITypeInfo* info = nullptr;
        hr = library->GetTypeInfoOfGuid(iid, &info);
        if (info != nullptr) info->Release();
        library->Release();
        return hr;
    }
};

TEST_F(TypeInfoLoadingTest, EachDispatchCallReportsTheFailure) {
    UnRegisterTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, SYS_WIN64);  // left by a failed run
    struct Case {
        const char* what;
        bool registered;  // the host's library registered first
        const IID* interfaceId;
    };
    // The second holder asks a registered library for an interface it does
    // not describe, as a library registered under the host's identifier
    // without ICorrelation would answer.
    const Case cases[] = {
        {"library not registered", false, &IID_ICorrelation},
        {"interface not in the library", true, &IID_IClassFactory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.registered) {
            ITypeLib* library = nullptr;
            ASSERT_EQ(S_OK, LoadTypeLibEx(BesideExecutable(L"HostCorrelation.tlb").c_str(),
                                          REGKIND_REGISTER, &library));
            library->Release();
        }
        const HRESULT expected = ExpectedFailure(*c.interfaceId);
        ASSERT_TRUE(FAILED(expected));

        CComTypeInfoHolder holder(LIBID_HostCorrelationLib, *c.interfaceId);
        LPOLESTR name = const_cast<LPOLESTR>(L"GetDisplayName");
        DISPID id = 77;
        EXPECT_EQ(expected, holder.GetIDsOfNames(&name, 1, 0, &id));
        EXPECT_EQ(77, id);
        ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
        EXPECT_EQ(expected, holder.GetTypeInfo(0, 0, &info));
        EXPECT_EQ(nullptr, info);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        EXPECT_EQ(expected,
                  holder.Invoke(nullptr, 0, 1, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
        EXPECT_FALSE(holder.Loaded());
    }
}

}  // namespace
}  // namespace pvt::test
