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

// Memory running out while the type information loads (the member names,
// the shut-down entry): the call fails with E_OUTOFMEMORY and leaves the
// holder empty, and a later call loads it from the start. Each allocation of
// the load fails once in turn, on a holder of its own: the correlations'
// holders stay as the test above leaves them. Static, because a loaded
// holder stays registered for the module's shut-down.
using TypeInfoLoadTest = HostFixture;

TEST_F(TypeInfoLoadTest, RunningOutOfMemoryFailsTheCallAndTheNextOneLoadsAgain) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(BesideExecutable(L"HostCorrelation.tlb").c_str(),
                                  REGKIND_REGISTER, &library));
    library->Release();
    static CComTypeInfoHolder holder(LIBID_HostCorrelationLib, IID_ICorrelation);
    ASSERT_FALSE(holder.Loaded());

    // Spelled as the type information spells it (answered from the names
    // loaded with it), and in other case (answered by the type information).
    LPOLESTR exact = const_cast<LPOLESTR>(L"GetDisplayName");
    LPOLESTR otherCase = const_cast<LPOLESTR>(L"getdisplayname");
    long failures = 0;
    HRESULT hr = E_OUTOFMEMORY;
    for (long n = 1; hr == E_OUTOFMEMORY && n < 1000; ++n) {
        DISPID id = 0;
        {
            ScopedAllocationFailure failure(n);
            hr = holder.GetIDsOfNames(&exact, 1, 0, &id);
        }
        if (hr == E_OUTOFMEMORY) {
            ++failures;
            EXPECT_FALSE(holder.Loaded()) << "allocation " << n;
        }
    }
    EXPECT_GT(failures, 0) << "the load allocates: some allocation must have failed";
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(holder.Loaded());
    DISPID exactId = -1;
    DISPID otherCaseId = -2;
    EXPECT_EQ(S_OK, holder.GetIDsOfNames(&exact, 1, 0, &exactId));
    EXPECT_EQ(S_OK, holder.GetIDsOfNames(&otherCase, 1, 0, &otherCaseId));
    EXPECT_EQ(exactId, otherCaseId);

    EXPECT_EQ(S_OK, UnRegisterTypeLib(LIBID_HostCorrelationLib, 1, 0, 0, SYS_WIN64));
}

}  // namespace
}  // namespace pvt::test
