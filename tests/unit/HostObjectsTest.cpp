// Loading host objects through the data server library.
#include "host/HostObjects.h"
#include "support/HostFixture.h"

#include <wrl/client.h>

namespace pvt::test {
namespace {

using Microsoft::WRL::ComPtr;

class HostObjectsTest : public HostFixture {
protected:
    HRESULT CreateSet(ComPtr<IHostVariableSet>& set) {
        return CreateHostObject(CLSID_HostVariableSet, IID_PPV_ARGS(&set));
    }
};

TEST_F(HostObjectsTest, CreatesTheRequestedInterfaceWithOneReference) {
    ComPtr<IHostVariableSet> set;
    ASSERT_EQ(S_OK, CreateSet(set));
    ASSERT_TRUE(set);
    EXPECT_EQ(2u, set->AddRef());
    set->Release();
}

TEST_F(HostObjectsTest, PassesOnTheFactoryFailureWithNoObject) {
    VarHub_FailCreation(1, E_OUTOFMEMORY);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY,
              CreateHostObject(CLSID_HostVariableSet, IID_IHostVariableSet, &object));
    EXPECT_EQ(nullptr, object);
}

TEST_F(HostObjectsTest, SuccessWithoutAnObjectIsAFailure) {
    VarHub_FailCreation(1, S_OK + 0x7);  // success code, no object
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, CreateHostObject(CLSID_HostVariable, IID_IHostVariable, &object));
    EXPECT_EQ(nullptr, object);
}

TEST_F(HostObjectsTest, UnknownClassAndMissingInterfaceFail) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, CreateHostObject(IID_IHostVariable, IID_IHostVariable, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_NOINTERFACE, CreateHostObject(CLSID_HostVariableSet, IID_IHostVariable, &object));
    EXPECT_EQ(nullptr, object);
}

TEST_F(HostObjectsTest, ExceptionsCrossFromTheDoubleIntoThisModule) {
    // The doubles throw C++ exceptions at the module's catch paths; this
    // proves such a throw from another MinGW module is caught here.
    ComPtr<IHostVariableSet> set;
    ASSERT_EQ(S_OK, CreateSet(set));
    VarHub_ThrowIn("Clone");
    ComPtr<IHostVariableSet> clone;
    bool caught = false;
    try {
        set->Clone(clone.GetAddressOf());
    } catch (const std::exception& e) {
        caught = std::string(e.what()).find("Clone") != std::string::npos;
    }
    EXPECT_TRUE(caught);
}

}  // namespace
}  // namespace pvt::test
