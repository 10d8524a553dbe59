// Applying variable definitions from a definitions document.
#include "host/HostObjects.h"
#include "host/VariableDefinition.h"
#include "support/HostFixture.h"

#include <wrl/client.h>

namespace pvt::test {
namespace {

using Microsoft::WRL::ComPtr;
using Lines = std::vector<std::string>;

constexpr char kExpectedDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<VariableDefinitions>\r\n"
    "    <Variable DisplayName=\"\" TaggedName=\"Phase_Values\" Type=\"NumericVector\">\r\n"
    "    </Variable>\r\n"
    "</VariableDefinitions>";

std::string Document(const std::string& variables) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<VariableDefinitions>" + variables +
           "</VariableDefinitions>";
}

class VariableDefinitionTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_EQ(S_OK,
                  CreateHostObject(CLSID_HostVariable, IID_PPV_ARGS(variable.GetAddressOf())));
    }
    void TearDown() override {
        variable.Reset();
        HostFixture::TearDown();
    }

    // The calls made on the variable by applying name's definition from text.
    Lines Apply(const std::string& name, const std::string& text, int expected = 1) {
        VarHub_Reset();
        EXPECT_EQ(expected, ApplyVariableDefinitionFromText(name, variable.Get(), text));
        return Log(false);
    }

    ComPtr<IHostVariable> variable;
};

TEST_F(VariableDefinitionTest, StoredDocumentIsTheExact180Bytes) {
    const std::string_view document = VariableDefinitionsDocument();
    EXPECT_EQ(180u, document.size());
    EXPECT_EQ(std::string_view(kExpectedDocument), document);
}

TEST_F(VariableDefinitionTest, StoredDefinitionOfPhaseValuesSetsOnlyItsTaggedName) {
    VarHub_Reset();
    EXPECT_EQ(1, ApplyVariableDefinition("Phase_Values", variable.Get()));
    EXPECT_EQ(Lines({"Variable#1.SetTaggedName(\"Phase_Values\")"}), Log(false));
}

TEST_F(VariableDefinitionTest, NoVariableGivesZero) {
    EXPECT_EQ(0, ApplyVariableDefinition("Phase_Values", nullptr));
    EXPECT_EQ(0, ApplyVariableDefinitionFromText("Phase_Values", nullptr, kExpectedDocument));
}

TEST_F(VariableDefinitionTest, QuietEndsChangeNothingAndGiveOne) {
    EXPECT_EQ(Lines{}, Apply("Unknown_Name", kExpectedDocument)) << "no such definition";
    EXPECT_EQ(Lines{}, Apply("Phase\"Values", kExpectedDocument)) << "quote breaks the path";
    EXPECT_EQ(Lines{}, Apply("Phase_Values", "<VariableDefinitions><Variable")) << "no parse";
    EXPECT_EQ(Lines{}, Apply("Phase_Values", "")) << "empty document";
}

TEST_F(VariableDefinitionTest, DisplayNameThenTaggedNameAndFirstMatchWins) {
    const std::string text = Document(
        "<Variable DisplayName=\"Rates\" TaggedName=\"Q\" Type=\"NumericVector\"/>"
        "<Variable DisplayName=\"Second\" TaggedName=\"Q\" Type=\"NumericVector\"/>");
    EXPECT_EQ(Lines({"Variable#1.SetDisplayName(\"Rates\")", "Variable#1.SetTaggedName(\"Q\")"}),
              Apply("Q", text));
}

TEST_F(VariableDefinitionTest, EnumLabelsInDocumentOrderWithAnEmptyOne) {
    const std::string text = Document(
        "<Variable DisplayName=\"\" TaggedName=\"Mode\" Type=\"Enum\">"
        "<EnumValue>Oil</EnumValue><EnumValue></EnumValue><EnumValue>Water</EnumValue>"
        "</Variable>");
    EXPECT_EQ(Lines({"Variable#1.SetTaggedName(\"Mode\")", "Variable#1.SetEnumFlag(1)",
                     "Variable#1.SetEnumIndex(0)", "Variable#1.SetEnumValue(0, \"Oil\")",
                     "Variable#1.SetEnumValue(1, \"\")", "Variable#1.SetEnumValue(2, \"Water\")"}),
              Apply("Mode", text));
}

TEST_F(VariableDefinitionTest, EnumWithoutLabelsStillSetsFlagAndIndex) {
    const std::string text =
        Document("<Variable DisplayName=\"\" TaggedName=\"Mode\" Type=\"Enum\"> </Variable>");
    EXPECT_EQ(Lines({"Variable#1.SetTaggedName(\"Mode\")", "Variable#1.SetEnumFlag(1)",
                     "Variable#1.SetEnumIndex(0)"}),
              Apply("Mode", text));
}

TEST_F(VariableDefinitionTest, OnlyTheExactTypeEnumReadsLabels) {
    const std::string lower = Document(
        "<Variable DisplayName=\"\" TaggedName=\"Mode\" Type=\"enum\">"
        "<EnumValue>Oil</EnumValue></Variable>");
    EXPECT_EQ(Lines({"Variable#1.SetTaggedName(\"Mode\")"}), Apply("Mode", lower));

    const std::string exact = Document(
        "<Variable DisplayName=\"\" TaggedName=\"Mode\" Type=\"Enum\">"
        "<EnumValue>Oil</EnumValue></Variable>");
    VarHub_Reset();
    VarHub_SetEnumSupport(0);
    EXPECT_EQ(1, ApplyVariableDefinitionFromText("Mode", variable.Get(), exact));
    EXPECT_EQ(Lines({"Variable#1.SetTaggedName(\"Mode\")"}), Log(false))
        << "a variable without the enumeration interface gets no labels";
}

TEST_F(VariableDefinitionTest, ReadNodeTextOfNoNodeIsEmpty) {
    EXPECT_EQ("", ReadNodeText(nullptr, "@TaggedName"));
    EXPECT_EQ("", ReadNodeText(nullptr, ""));
}

TEST_F(VariableDefinitionTest, AllocationFailureIsRaisedNotSwallowed) {
    // The routine leaves allocation failure to its caller, which turns it
    // into a failed construction.
    EXPECT_THROW(
        {
            ScopedAllocationFailure failure(1);
            ApplyVariableDefinitionFromText("Phase_Values", variable.Get(), kExpectedDocument);
        },
        std::bad_alloc);
}

}  // namespace
}  // namespace pvt::test
