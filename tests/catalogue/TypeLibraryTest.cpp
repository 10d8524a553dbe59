// The compiled type library PVTCORRELATORLib, loaded from the .tlb that the
// build puts beside the executables, and the copy embedded as "TYPELIB" 1.
#include "catalogue/CatalogueTestSupport.h"
#include "correlations/Catalogue.h"
#include "support/ExpectedCatalogue.h"

#include <gtest/gtest.h>

#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace pvt::test {
namespace {

using Microsoft::WRL::ComPtr;

const GUID kLibraryId = {
    0xDEEC13C7, 0x7766, 0x4086, {0x8C, 0x1B, 0x43, 0x4F, 0xBF, 0x17, 0x6F, 0x1C}};
const GUID kStdOleLibraryId = {
    0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::wstring TypeLibraryPath() { return ExecutableDirectory() + L"PvtCorrelator.tlb"; }

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

// Owns a BSTR for the length of a check.
class Text {
public:
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { SysFreeString(value_); }
    BSTR* Out() { return &value_; }
    bool IsNull() const { return value_ == nullptr; }
    std::string Narrow() const {
        std::string text;
        for (UINT i = 0; value_ && i < SysStringLen(value_); ++i)
            text += static_cast<char>(value_[i]);
        return text;
    }

private:
    BSTR value_ = nullptr;
};

// Copies a type's attributes, so that every path releases the original.
TYPEATTR Attributes(ITypeInfo* info) {
    TYPEATTR copy = {};
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
        copy = *attributes;
        info->ReleaseTypeAttr(attributes);
    }
    return copy;
}

std::string Name(ITypeInfo* info) {
    Text name;
    info->GetDocumentation(MEMBERID_NIL, name.Out(), nullptr, nullptr, nullptr);
    return name.Narrow();
}

std::string HelpString(ITypeInfo* info) {
    Text help;
    info->GetDocumentation(MEMBERID_NIL, nullptr, help.Out(), nullptr, nullptr);
    return help.Narrow();
}

// The type that implementation slot index refers to (-1: a dual's interface view).
ComPtr<ITypeInfo> Implemented(ITypeInfo* info, UINT index) {
    ComPtr<ITypeInfo> referenced;
    HREFTYPE handle = 0;
    if (SUCCEEDED(info->GetRefTypeOfImplType(index, &handle))) {
        info->GetRefTypeInfo(handle, &referenced);
    }
    return referenced;
}

GUID ContainingLibraryId(ITypeInfo* info) {
    GUID id = GUID_NULL;
    ComPtr<ITypeLib> library;
    UINT index = 0;
    if (SUCCEEDED(info->GetContainingTypeLib(&library, &index))) {
        TLIBATTR* attributes = nullptr;
        if (SUCCEEDED(library->GetLibAttr(&attributes))) {
            id = attributes->guid;
            library->ReleaseTLibAttr(attributes);
        }
    }
    return id;
}

struct Entry {
    std::string name;
    GUID classId;
    GUID interfaceId;
};

GUID GuidFromText(const char* text) {
    GUID guid = GUID_NULL;
    const std::wstring wide(text, text + std::char_traits<char>::length(text));
    CLSIDFromString(wide.c_str(), &guid);
    return guid;
}

// The expected classes in catalogue order, then the names without a class.
std::vector<Entry> ExpectedEntries() {
    std::vector<Entry> entries;
    for (const ExpectedClass& expected : kExpectedClasses) {
        entries.push_back(
            {expected.name, GuidFromText(expected.classId), GuidFromText(expected.interfaceId)});
    }
    for (const ExpectedName& only : kExpectedTypeLibraryOnlyNames) {
        entries.push_back({only.name, GuidFromText(only.classId), GuidFromText(only.interfaceId)});
    }
    return entries;
}

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, LoadTypeLib(TypeLibraryPath().c_str(), &library_)); }

    ComPtr<ITypeInfo> Type(UINT index) {
        ComPtr<ITypeInfo> info;
        library_->GetTypeInfo(index, &info);
        return info;
    }

    void ExpectCoclass(UINT index, const Entry& entry);
    void ExpectDualInterface(UINT index, const Entry& entry);

    ComPtr<ITypeLib> library_;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library_->GetLibAttr(&attributes));
    const TLIBATTR copy = *attributes;
    library_->ReleaseTLibAttr(attributes);
    EXPECT_TRUE(IsEqualGUID(kLibraryId, copy.guid));
    EXPECT_EQ(0u, copy.lcid);
    EXPECT_EQ(SYS_WIN64, copy.syskind);
    EXPECT_EQ(1, copy.wMajorVerNum);
    EXPECT_EQ(0, copy.wMinorVerNum);
    // The loader marks every library read from a file as having a disk
    // image; the library itself carries no flags.
    EXPECT_EQ(0, copy.wLibFlags & ~LIBFLAG_FHASDISKIMAGE);

    Text name, help, helpFile;
    DWORD helpContext = 1;
    ASSERT_EQ(S_OK,
              library_->GetDocumentation(-1, name.Out(), help.Out(), &helpContext, helpFile.Out()));
    EXPECT_EQ("PVTCORRELATORLib", name.Narrow());
    EXPECT_EQ("PvtCorrelator 1.0 Type Library", help.Narrow());
    EXPECT_EQ(0u, helpContext);
    EXPECT_TRUE(helpFile.IsNull());
}

void TypeLibraryTest::ExpectCoclass(UINT index, const Entry& entry) {
    ComPtr<ITypeInfo> coclass = Type(index);
    ASSERT_TRUE(coclass);
    const TYPEATTR attributes = Attributes(coclass.Get());
    EXPECT_EQ(TKIND_COCLASS, attributes.typekind);
    EXPECT_EQ(entry.name, Name(coclass.Get()));
    EXPECT_EQ(entry.name + " Class", HelpString(coclass.Get()));
    EXPECT_TRUE(IsEqualGUID(entry.classId, attributes.guid));
    EXPECT_EQ(TYPEFLAG_FCANCREATE, attributes.wTypeFlags);
    EXPECT_EQ(0, attributes.wMajorVerNum);
    EXPECT_EQ(0, attributes.wMinorVerNum);
    ASSERT_EQ(1, attributes.cImplTypes);
    INT flags = 0;
    EXPECT_EQ(S_OK, coclass->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    ComPtr<ITypeInfo> implemented = Implemented(coclass.Get(), 0);
    ASSERT_TRUE(implemented);
    EXPECT_EQ("I" + entry.name, Name(implemented.Get()));
    EXPECT_TRUE(IsEqualGUID(entry.interfaceId, Attributes(implemented.Get()).guid));
}

void TypeLibraryTest::ExpectDualInterface(UINT index, const Entry& entry) {
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    ComPtr<ITypeInfo> dispatchView = Type(index);
    ASSERT_TRUE(dispatchView);
    const TYPEATTR dispatch = Attributes(dispatchView.Get());
    EXPECT_EQ(TKIND_DISPATCH, dispatch.typekind);
    EXPECT_EQ("I" + entry.name, Name(dispatchView.Get()));
    EXPECT_EQ("I" + entry.name + " Interface", HelpString(dispatchView.Get()));
    EXPECT_TRUE(IsEqualGUID(entry.interfaceId, dispatch.guid));
    EXPECT_EQ(0, dispatch.wMajorVerNum);
    EXPECT_EQ(0, dispatch.wMinorVerNum);
    // The platform reports a dual's dispatch view without FOLEAUTOMATION;
    // the interface view below carries the flags as the library stores them.
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE,
              dispatch.wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION);
    // No members of its own: the table holds the seven entries of IDispatch.
    EXPECT_EQ(7, dispatch.cFuncs);
    EXPECT_EQ(0, dispatch.cVars);
    EXPECT_EQ(static_cast<WORD>(7 * sizeof(void*)), dispatch.cbSizeVft);

    ComPtr<ITypeInfo> interfaceView = Implemented(dispatchView.Get(), static_cast<UINT>(-1));
    ASSERT_TRUE(interfaceView);
    const TYPEATTR vtable = Attributes(interfaceView.Get());
    EXPECT_EQ(TKIND_INTERFACE, vtable.typekind);
    EXPECT_EQ(dual, vtable.wTypeFlags);
    EXPECT_EQ(0, vtable.cFuncs);
    EXPECT_EQ(0, vtable.cVars);
    ASSERT_EQ(1, vtable.cImplTypes);

    // Derived from IDispatch, as stdole2.tlb declares it.
    ComPtr<ITypeInfo> base = Implemented(interfaceView.Get(), 0);
    ASSERT_TRUE(base);
    EXPECT_TRUE(IsEqualGUID(IID_IDispatch, Attributes(base.Get()).guid));
    EXPECT_TRUE(IsEqualGUID(kStdOleLibraryId, ContainingLibraryId(base.Get())));
}

TEST_F(TypeLibraryTest, CoclassAndDualInterfacePairsInCatalogueOrder) {
    const std::vector<Entry> entries = ExpectedEntries();
    ASSERT_EQ(2 * kExpectedTypeLibraryNameCount, library_->GetTypeInfoCount());
    for (UINT i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].name);
        ExpectCoclass(2 * i, entries[i]);
        ExpectDualInterface(2 * i + 1, entries[i]);
    }
}

TEST_F(TypeLibraryTest, TypesAreFoundByIdentifier) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library_->GetTypeInfoOfGuid(kCatalogue[5].classId, &info));
    EXPECT_EQ("MassDensity", Name(info.Get()));
    info.Reset();
    ASSERT_EQ(S_OK, library_->GetTypeInfoOfGuid(kCatalogue[5].interfaceId, &info));
    EXPECT_EQ("IMassDensity", Name(info.Get()));
}

// The module carries the same library as its "TYPELIB" resource 1.
TEST(EmbeddedTypeLibraryTest, ResourceIsTheBuiltLibrary) {
    const std::string bytes = FileBytes(TypeLibraryPath());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes, OwnResource(L"TYPELIB", 1));
}

}  // namespace
}  // namespace pvt::test
