// The registry scripts as the build embeds them: read back from this
// executable's own "REGISTRY" resources (it links the module's resources).
#include "catalogue/CatalogueTestSupport.h"
#include "correlations/Catalogue.h"
#include "support/ExpectedCatalogue.h"
#include "support/ExpectedScripts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pvt::test {
namespace {

// The script of CBubblePtPressure, byte for byte.
const std::string kBubblePtPressureScript = kBubblePtPressureScriptText;

const std::string kBubblePtPressureId = "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
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

// Every expected name, the type-library-only ones included (present, never
// run), has its script under its resource id with its identifier as written.
TEST(RegistryScriptsTest, OtherScriptsCarryTheirNameAndIdentifierAsWritten) {
    std::vector<const ExpectedName*> names;
    for (const ExpectedClass& expected : kExpectedClasses) names.push_back(&expected);
    for (const ExpectedName& only : kExpectedTypeLibraryOnlyNames) names.push_back(&only);
    for (const ExpectedName* expected : names) {
        SCOPED_TRACE(expected->name);
        EXPECT_EQ(ExpectedScript(expected->name, expected->classId), Script(expected->scriptId));
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

// From the first class's script (111) to the last name's, nothing missing
// and nothing beyond.
TEST(RegistryScriptsTest, ScriptsOccupyExactlyTheirRange) {
    int first = kExpectedClasses[0].scriptId;
    int last = first;
    for (const ExpectedClass& expected : kExpectedClasses) last = std::max(last, expected.scriptId);
    for (const ExpectedName& only : kExpectedTypeLibraryOnlyNames) {
        last = std::max(last, only.scriptId);
    }
    EXPECT_EQ(111, first);
    EXPECT_EQ(kExpectedClassCount + kExpectedTypeLibraryOnlyCount,
              static_cast<std::size_t>(last - first + 1));
    for (int id = first; id <= last; ++id) {
        EXPECT_FALSE(Script(id).empty()) << id;
    }
    EXPECT_TRUE(Script(first - 1).empty());
    EXPECT_TRUE(Script(last + 1).empty());
}

}  // namespace
}  // namespace pvt::test
