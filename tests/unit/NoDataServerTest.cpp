// Runs where no data server library can be loaded.
#include "correlations/CorrelationClasses.h"
#include "host/HostObjects.h"

#include <gtest/gtest.h>

namespace pvt::test {
namespace {

TEST(NoDataServerTest, HostObjectsCannotBeCreated) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, CreateHostObject(CLSID_HostVariableSet, IID_IHostVariableSet, &object));
    EXPECT_EQ(nullptr, object);
}

TEST(NoDataServerTest, CreationFailsWithEFailHoldingNothing) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, CComObject<CBubblePtPressure>::CreateInstance(IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, Module().GetLockCount());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"varhub2.dll"));
}

}  // namespace
}  // namespace pvt::test
