// The resources of the built PvtCorrelator.dll, read back from the file as
// any reader of a PE file sees them.
#include "BlackBoxSupport.h"
#include "support/ExpectedScripts.h"
#include "support/RegisteredClasses.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <string>
#include <vector>

namespace pvt::blackbox {
namespace {

using test::kRegisteredClasses;
using test::RegisteredClass;

std::wstring ModulePath() { return ExecutableDirectory() + L"PvtCorrelator.dll"; }

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The registry script of BubblePtPressure, byte for byte.
const char* const kBubbleScript = pvt::test::kBubblePtPressureScriptText;

// The variable definitions document, all 180 bytes.
const char kDefinitions[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<VariableDefinitions>\r\n"
    "    <Variable DisplayName=\"\" TaggedName=\"Phase_Values\" Type=\"NumericVector\">\r\n"
    "    </Variable>\r\n"
    "</VariableDefinitions>";

class DllResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(ModulePath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module_) << "error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    // The bytes of a resource, of the given language or of any; `found`
    // tells whether it exists.
    std::string Resource(LPCWSTR type, int id, bool* found = nullptr, WORD language = 0) const {
        HRSRC info = language != 0 ? FindResourceExW(module_, type, MAKEINTRESOURCEW(id), language)
                                   : FindResourceW(module_, MAKEINTRESOURCEW(id), type);
        if (found != nullptr) *found = info != nullptr;
        if (info == nullptr) return std::string();
        HGLOBAL handle = LoadResource(module_, info);
        const char* data = handle ? static_cast<const char*>(LockResource(handle)) : nullptr;
        return data ? std::string(data, SizeofResource(module_, info)) : std::string();
    }

    HMODULE module_ = nullptr;
};

TEST_F(DllResources, EveryClassScriptIsTheClassTemplateByteForByte) {
    EXPECT_EQ(std::string(kBubbleScript), Resource(L"REGISTRY", 111));
    // MassDensity's identifier keeps its lower-case letters.
    const std::string massDensity = Resource(L"REGISTRY", 117);
    EXPECT_NE(std::string::npos,
              massDensity.find("\t\tForceRemove {35C881E9-482E-4f5a-AEBA-95C014E71C7E} = s "
                               "'MassDensity Class'\r\n"));
    for (const RegisteredClass& cls : kRegisteredClasses) {
        const std::string name = Narrow(cls.name);
        std::string expected =
            ReplaceAll(kBubbleScript, "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}", Narrow(cls.clsid));
        expected = ReplaceAll(expected, "BubblePtPressure", name);
        EXPECT_EQ(expected, Resource(L"REGISTRY", cls.scriptId)) << name;
    }
}

TEST_F(DllResources, TheVariableDefinitionsDocumentIsStoredAsIs) {
    ASSERT_EQ(180u, sizeof(kDefinitions) - 1);
    bool found = false;
    const std::string document =
        Resource(MAKEINTRESOURCEW(23), 201, &found, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_TRUE(found) << "type 23, id 201, language 1033";
    EXPECT_EQ(std::string(kDefinitions, 180), document);
}

TEST_F(DllResources, StringOneHundredNamesTheProject) {
    wchar_t text[64] = {};
    EXPECT_EQ(13, LoadStringW(module_, 100, text, 64));
    EXPECT_EQ(std::wstring(L"PvtCorrelator"), text);
}

TEST_F(DllResources, TheTypeLibraryIsTheFirstTypeLibResource) {
    bool found = false;
    Resource(L"TYPELIB", 1, &found);
    EXPECT_TRUE(found);
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library));
    EXPECT_EQ(2 * test::kExpectedTypeLibraryNameCount, library->GetTypeInfoCount());
    library->Release();
}

// --- The version block -------------------------------------------------------

class VersionBlock : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(ModulePath().c_str(), &handle);
        ASSERT_GT(size, 0u) << "error " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(ModulePath().c_str(), 0, size, block_.data()));
    }

    // The string value, or "<missing>".
    std::wstring String(const std::wstring& key) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = L"\\StringFileInfo\\040904b0\\" + key;
        if (!VerQueryValueW(block_.data(), path.c_str(), &value, &length)) return L"<missing>";
        std::wstring text(static_cast<const wchar_t*>(value), length);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }

    std::vector<BYTE> block_;
};

TEST_F(VersionBlock, FixedPartNamesVersion38OfADll) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", &value, &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    const VS_FIXEDFILEINFO& info = *static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(0xFEEF04BDu, info.dwSignature);
    EXPECT_EQ(0x00260000u, info.dwFileVersionMS);
    EXPECT_EQ(0u, info.dwFileVersionLS);
    EXPECT_EQ(0x00260000u, info.dwProductVersionMS);
    EXPECT_EQ(0u, info.dwProductVersionLS);
    EXPECT_EQ(0x3Fu, info.dwFileFlagsMask);
    EXPECT_EQ(0u, info.dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), info.dwFileOS);
    EXPECT_EQ(4u, info.dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), info.dwFileType);
    EXPECT_EQ(0u, info.dwFileSubtype);
}

TEST_F(VersionBlock, OneTranslationEnglishUnicode) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(4u, length);
    const WORD* pair = static_cast<const WORD*>(value);
    EXPECT_EQ(0x0409, pair[0]);
    EXPECT_EQ(1200, pair[1]);
}

TEST_F(VersionBlock, StringTableHoldsTheModuleStrings) {
    EXPECT_EQ(L"PvtCorrelator Module", String(L"FileDescription"));
    EXPECT_EQ(L"38, 0, 0, 0", String(L"FileVersion"));
    EXPECT_EQ(L"PvtCorrelator", String(L"InternalName"));
    EXPECT_EQ(L"PvtCorrelator.DLL", String(L"OriginalFilename"));
    EXPECT_EQ(L"PvtCorrelator Module", String(L"ProductName"));
    EXPECT_EQ(L"38, 0, 0, 0", String(L"ProductVersion"));
    // Present and empty; OLESelfRegister marks a self-registering module.
    EXPECT_EQ(L"", String(L"OLESelfRegister"));
    EXPECT_EQ(L"", String(L"LegalTrademarks"));
    EXPECT_EQ(L"", String(L"PrivateBuild"));
    EXPECT_EQ(L"", String(L"SpecialBuild"));
    // The maker's strings are left out.
    EXPECT_EQ(L"<missing>", String(L"CompanyName"));
    EXPECT_EQ(L"<missing>", String(L"LegalCopyright"));
}

}  // namespace
}  // namespace pvt::blackbox
