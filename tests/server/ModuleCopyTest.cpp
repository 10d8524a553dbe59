// Registration of a copy of the module that differs from the build's: a
// module path too long to read, a class script missing or empty, no type
// library inside the module. A failed per-user registration leaves the
// user's classes exactly as they were.
#include "server/ModuleCopy.h"

#include <winerror.h>

namespace pvt::server_test {
namespace {

constexpr wchar_t kTypeLibraryKey[] = L"TypeLib\\{DEEC13C7-7766-4086-8C1B-434FBF176F1C}\\1.0";
constexpr int kFirstClassScript = 111;
constexpr int kLaterClassScript = 117;

class ModuleCopyTest : public ::testing::Test {
protected:
    void SetUp() override { before_ = UserClassesDump(); }
    void TearDown() override {
        EXPECT_EQ(before_, UserClassesDump()) << "the user's classes changed";
    }

private:
    std::wstring before_;
};

TEST_F(ModuleCopyTest, FromAPathOfMaxPathOrMoreEveryRegistrationFailsCleanly) {
    for (std::size_t length : {std::size_t{MAX_PATH}, std::size_t{300}}) {
        SCOPED_TRACE(length);
        ModuleCopy copy(L"longpath", length);
        ASSERT_TRUE(copy.Copied());
        ASSERT_EQ(length, copy.Path().size());
        ASSERT_TRUE(copy.Load()) << "error " << GetLastError();
        const HRESULT insufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(insufficientBuffer, copy.Install(true)) << "per-user registration";
        EXPECT_EQ(insufficientBuffer, copy.Install(false)) << "per-user unregistration";
        EXPECT_EQ(insufficientBuffer, copy.RegisterServer());
        EXPECT_EQ(insufficientBuffer, copy.UnregisterServer());
    }
}

TEST_F(ModuleCopyTest, AMissingOrEmptyClassScriptFailsThePerUserRegistration) {
    struct Case {
        const char* what;
        int script;
        bool removed;  // or left empty
        HRESULT expected;
    };
    const Case cases[] = {
        {"the first class's script missing", kFirstClassScript, true,
         HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)},
        {"a later class's script missing", kLaterClassScript, true,
         HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)},
        {"a later class's script empty", kLaterClassScript, false, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModuleCopy copy(L"scriptcopy");
        ASSERT_TRUE(copy.Copied());
        ASSERT_TRUE(c.removed ? copy.RemoveModuleResource(L"REGISTRY", c.script)
                              : copy.EmptyModuleResource(L"REGISTRY", c.script));
        ASSERT_EQ(c.removed ? -1 : 0, copy.ResourceSize(L"REGISTRY", c.script));
        ASSERT_TRUE(copy.Load());
        EXPECT_EQ(c.expected, copy.Install(true));
        EXPECT_EQ(L"(missing)", UserClassesDefaultValue(kTypeLibraryKey));
    }
}

TEST_F(ModuleCopyTest, WithoutItsTypeLibraryResourceTheModuleRegistersTheFileBesideIt) {
    for (bool fileBeside : {true, false}) {
        SCOPED_TRACE(fileBeside ? "with the .tlb beside" : "without a .tlb");
        ModuleCopy copy(L"tlbcopy");
        ASSERT_TRUE(copy.Copied());
        ASSERT_TRUE(copy.RemoveModuleResource(L"TYPELIB", 1));
        ASSERT_EQ(-1, copy.ResourceSize(L"TYPELIB", 1));
        const std::wstring typeLibrary = fileBeside ? copy.AddTypeLibraryFile() : L"";
        ASSERT_TRUE(copy.Load());
        if (!fileBeside) {
            EXPECT_TRUE(FAILED(copy.Install(true)));
            continue;
        }
        ASSERT_EQ(S_OK, copy.Install(true));
        const std::wstring registered =
            UserClassesDefaultValue(std::wstring(kTypeLibraryKey) + L"\\0\\win64");
        EXPECT_EQ(CSTR_EQUAL,
                  CompareStringOrdinal(typeLibrary.c_str(), -1, registered.c_str(), -1, TRUE))
            << "registered: " << testing::PrintToString(registered);
        EXPECT_EQ(S_OK, copy.Install(false));
    }
}

}  // namespace
}  // namespace pvt::server_test
