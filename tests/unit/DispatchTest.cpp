// The dispatch side of ICorrelation, through the host's registered type
// library.
#include "support/CorrelationFixture.h"
#include "support/ExecutablePath.h"

#include <oleauto.h>

namespace pvt::test {
namespace {

class DispatchTest : public CorrelationFixture {
protected:
    static HRESULT LoadHostLibrary() {
        ITypeLib* library = nullptr;
        const HRESULT hr = LoadRegTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, &library);
        if (library) library->Release();
        return hr;
    }

    HRESULT InvokeGetDisplayName(std::wstring* name) {
        LPOLESTR member = const_cast<LPOLESTR>(L"GetDisplayName");
        DISPID id = 0;
        HRESULT hr = correlation->GetIDsOfNames(IID_NULL, &member, 1, 0, &id);
        if (FAILED(hr)) return hr;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        hr =
            correlation->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
        if (SUCCEEDED(hr) && result.vt == VT_BSTR) name->assign(result.bstrVal);
        VariantClear(&result);
        return hr;
    }
};

// One test, because the order matters: the type information, once loaded,
// stays loaded for the life of the process.
TEST_F(DispatchTest, FailsUntilTheHostLibraryIsRegisteredThenAnswers) {
    UnRegisterTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, SYS_WIN64);  // left by a failed run
    const HRESULT notRegistered = LoadHostLibrary();
    ASSERT_TRUE(FAILED(notRegistered)) << "the test prefix must start without the library";

    UINT count = 0;
    EXPECT_EQ(S_OK, correlation->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(DISP_E_BADINDEX, correlation->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(notRegistered, correlation->GetTypeInfo(0, 0, &info));
    EXPECT_EQ(nullptr, info);
    std::wstring name;
    EXPECT_EQ(notRegistered, InvokeGetDisplayName(&name));

    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(BesideExecutable(L"HostCorrelation.tlb").c_str(),
                                  REGKIND_REGISTER, &library));
    library->Release();

    EXPECT_EQ(S_OK, InvokeGetDisplayName(&name)) << "the next call tries again";
    EXPECT_EQ(L"Bubble Point Pressure", name);
    ASSERT_EQ(S_OK, correlation->GetTypeInfo(0, 0, &info));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(IID_ICorrelation, attributes->guid));
    info->ReleaseTypeAttr(attributes);
    info->Release();

    LPOLESTR unknownName = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, correlation->GetIDsOfNames(IID_NULL, &unknownName, 1, 0, &id));

    // Null arrays are answered here; the type information would read them.
    VARIANT argument;
    VariantInit(&argument);
    DISPPARAMS noArguments = {nullptr, nullptr, 1, 0};
    DISPPARAMS noNamedArguments = {&argument, nullptr, 1, 1};
    const auto invoke = [&](DISPPARAMS* params) {
        return correlation->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, params, nullptr, nullptr,
                                   nullptr);
    };
    const struct {
        const char* what;
        HRESULT result, expected;
    } nullArrays[] = {
        {"no id array", correlation->GetIDsOfNames(IID_NULL, &unknownName, 1, 0, nullptr),
         E_POINTER},
        {"no name array", correlation->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG},
        {"no DISPPARAMS", invoke(nullptr), E_INVALIDARG},
        {"no argument array", invoke(&noArguments), E_INVALIDARG},
        {"no named-argument array", invoke(&noNamedArguments), E_INVALIDARG},
    };
    for (const auto& c : nullArrays) EXPECT_EQ(c.expected, c.result) << c.what;

    EXPECT_EQ(S_OK, UnRegisterTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, SYS_WIN64));
}

}  // namespace
}  // namespace pvt::test
