// The registry scripts as the build embeds them: read back from this
// executable's own "REGISTRY" resources (it links the module's resources).
#include "correlations/Catalogue.h"
#include "catalogue/CatalogueTestSupport.h"
#include "support/ExpectedScripts.h"

#include <gtest/gtest.h>

#include <string>

namespace pvt::test {
namespace {

// The script of CBubblePtPressure, byte for byte.
const std::string kBubblePtPressureScript = kBubblePtPressureScriptText;

const std::string kBubblePtPressureId = "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Another class's script: the same text with its name and identifier.
std::string ExpectedScript(const std::string& name, const std::string& classIdAsWritten) {
    return ReplaceAll(ReplaceAll(kBubblePtPressureScript, kBubblePtPressureId, classIdAsWritten),
                      "BubblePtPressure", name);
}

std::string Script(int id) { return OwnResource(L"REGISTRY", id); }

TEST(RegistryScriptsTest, BubblePtPressureScriptIsExact) {
    EXPECT_EQ(kBubblePtPressureScript, Script(111));
}

TEST(RegistryScriptsTest, OtherScriptsCarryTheirNameAndIdentifierAsWritten) {
    struct Case {
        int id;
        const char* name;
        const char* classIdAsWritten;
    };
    const Case cases[] = {
        {117, "MassDensity", "{35C881E9-482E-4f5a-AEBA-95C014E71C7E}"},
        {114, "GOR", "{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}"},
        {134, "Coefficient_a", "{45A8F93E-735D-452c-81E6-38A029DCAED7}"},
        {139, "VolFlowRate", "{4ED8B9D4-7059-4367-BF26-DB7CBFD88567}"},
        // Scripts for the type-library-only names: present, never run.
        {113, "OilGravity", "{F0EAA17C-5047-4024-9A93-FE72BF66D8AB}"},
        {124, "GasGravity", "{24E8FEBE-072A-4653-A7E6-03B70A4D2896}"},
        {131, "WaterGravity", "{97CC4403-C92E-4E04-8205-52D6633F7A7A}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExpectedScript(c.name, c.classIdAsWritten), Script(c.id));
    }
}

// Every class's script follows the template with the class's own name and
// identifier; only the case of the identifier's letters is the script's own.
TEST(RegistryScriptsTest, EveryClassHasItsScript) {
    const std::string before = "\t\tCLSID = s '";
    for (const CorrelationRow& row : kCatalogue) {
        SCOPED_TRACE(row.name);
        const std::string script = Script(row.scriptResourceId);
        const size_t at = script.find(before);
        ASSERT_NE(std::string::npos, at);
        const std::string written = script.substr(at + before.size(), 38);
        EXPECT_EQ(GuidText(row.classId), Upper(written));
        EXPECT_EQ(ExpectedScript(row.name, written), script);
    }
}

TEST(RegistryScriptsTest, ScriptsOccupyExactly111To139) {
    for (int id = 111; id <= 139; ++id) {
        EXPECT_FALSE(Script(id).empty()) << id;
    }
    EXPECT_TRUE(Script(110).empty());
    EXPECT_TRUE(Script(140).empty());
}

}  // namespace
}  // namespace pvt::test
