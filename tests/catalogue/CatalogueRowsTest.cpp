// The C++ catalogue generated from Catalogue.table: order, spot checks of
// rows, and agreement with the identifiers that widl generated from the
// same table.
#include "correlations/Catalogue.h"
#include "catalogue/CatalogueTestSupport.h"

#include "PvtCorrelator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace pvt::test {
namespace {

const CorrelationRow* FindRow(const std::string& name) {
    for (const CorrelationRow& row : kCatalogue) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

TEST(CatalogueRowsTest, RowsRunInClassTableOrder) {
    EXPECT_STREQ("BubblePtPressure", kCatalogue[0].name);
    EXPECT_STREQ("BubblePtTemperature", kCatalogue[1].name);
    EXPECT_STREQ("GOR", kCatalogue[2].name);
    EXPECT_STREQ("MassDensity", kCatalogue[5].name);
    EXPECT_STREQ("WatsonK", kCatalogue[18].name);
    EXPECT_STREQ("VolFlowRate", kCatalogue[kCatalogueSize - 1].name);
    // The registry scripts rise with the order, skipping 113, 124 and 131.
    EXPECT_EQ(111, kCatalogue[0].scriptResourceId);
    EXPECT_EQ(139, kCatalogue[kCatalogueSize - 1].scriptResourceId);
    for (int i = 1; i < kCatalogueSize; ++i) {
        EXPECT_LT(kCatalogue[i - 1].scriptResourceId, kCatalogue[i].scriptResourceId)
            << kCatalogue[i].name;
        EXPECT_NE(113, kCatalogue[i].scriptResourceId);
        EXPECT_NE(124, kCatalogue[i].scriptResourceId);
        EXPECT_NE(131, kCatalogue[i].scriptResourceId);
    }
}

TEST(CatalogueRowsTest, NamesAndIdentifiersAreDistinct) {
    std::set<std::string> names, identifiers;
    for (const CorrelationRow& row : kCatalogue) {
        names.insert(row.name);
        identifiers.insert(GuidText(row.classId));
        identifiers.insert(GuidText(row.interfaceId));
    }
    EXPECT_EQ(26u, names.size());
    EXPECT_EQ(52u, identifiers.size());
    // The type-library-only names have no class.
    EXPECT_EQ(nullptr, FindRow("OilGravity"));
    EXPECT_EQ(nullptr, FindRow("GasGravity"));
    EXPECT_EQ(nullptr, FindRow("WaterGravity"));
}

struct ExpectedRow {
    const char* name;
    const char* classId;      // upper case, as the class reports it
    const char* interfaceId;
    int script;
    const char* displayName;
    LONG kindCode;
    Publication publication;
    int slot;
};

// Rows whose display names do not follow the class names, shared kind
// codes, and the three derived publications.
const ExpectedRow kSpotChecks[] = {
    {"BubblePtPressure", "{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}",
     "{4794603D-5099-4656-9DD1-1A8702C8114B}", 111, "Bubble Point Pressure", 2,
     Publication::Common, 0},
    {"BubblePtTemperature", "{F6C3A86A-63DE-4E4B-9A8B-824BCDE7CD3C}",
     "{D6038475-2F1A-492D-9D92-1D1992671A8E}", 112, "Bubble Point Temperature", -1,
     Publication::Common, 1},
    {"GOR", "{5C60E2BB-B37E-4B51-B03D-46B1E6195AAB}", "{5C0BF17F-1EB3-49C3-97C5-FE121327071B}",
     114, "Gas Oil Ratio", 88, Publication::Common, 6},
    {"MassDensity", "{35C881E9-482E-4F5A-AEBA-95C014E71C7E}",
     "{4E911D62-7E49-4D25-B1F2-D9B3A011B498}", 117, "Mass Density", 16, Publication::Common, 10},
    {"MassFlowRate", "{BDC15BA1-E919-46A8-9381-DAD3C7527A86}",
     "{EAF45C12-5484-4F2E-9D4C-BC1A86E8B084}", 120, "Mass Flow Rate", 4,
     Publication::MassFlowRate, -1},
    {"OilViscosity", "{78A467C1-0B4E-4FFB-A21B-1B7E9B7B42BC}",
     "{718A8745-1A15-49F4-B199-CD0DF4956A22}", 125, "Oil Viscosity", 11, Publication::Common, 17},
    {"SolutionGOR", "{DC6D821F-0ACF-4C4F-B8B1-2403CE07CD34}",
     "{EBCC01FF-BB0A-497B-A2CD-B1568941673D}", 126, "Solution Gas Oil Ratio", -1,
     Publication::Common, 18},
    {"Surface_Tension", "{1310AEE9-D0BC-4038-AAB9-7D1250C47038}",
     "{C2E73167-4901-4226-A9D3-034A089DB825}", 127, "Surface Tension", -1, Publication::Common, 20},
    {"Viscosity", "{17CE4F7D-7828-4656-B72A-97D3F2FD5CE8}", "{DEBD24A2-4000-4C05-AC26-4182C061E6C8}",
     129, "Viscosity", 11, Publication::Viscosity, -1},
    {"WatsonK", "{A7FD6E38-11DD-4F2B-B1FA-98D055E8D4EC}", "{694CC726-57BA-4315-BDA1-EA72D1955836}",
     132, "Watson K", -1, Publication::Common, 27},
    {"ZFactor", "{2936EFFC-F4F6-4AA6-8E8E-EB7B8A59A7CE}", "{C0820417-2E72-42FC-8884-3112F2BDB3F3}",
     133, "Z Factor", -1, Publication::Common, 28},
    {"Coefficient_a", "{45A8F93E-735D-452C-81E6-38A029DCAED7}",
     "{9EBE8481-9628-49DA-BDD5-6AF9CEDB73C0}", 134, "Viscosity Coefficient a", -1,
     Publication::Common, 2},
    {"Coefficient_b", "{D094CE4D-EA54-4589-8470-BE12172C6608}",
     "{BBBF1495-553D-456E-BF0C-0BAF75B3593B}", 135, "Viscosity Coefficient b", -1,
     Publication::Common, 3},
    {"StdLiqMassDensity", "{F4521B60-693D-4716-BEF5-40B39D6911DD}",
     "{DFF13692-3921-4106-B3C1-B4EF0474B172}", 136, "Std Liq Mass Density", 13,
     Publication::Common, 19},
    {"ThermalConductivityVolBlend", "{B847D19F-1FF3-4CA4-AC9D-0C758583A7CB}",
     "{55D434FF-DD0D-4C60-8013-F0FA51390279}", 138, "Thermal Conductivity Vol Blend", 10,
     Publication::Common, 23},
    {"VolFlowRate", "{4ED8B9D4-7059-4367-BF26-DB7CBFD88567}",
     "{87EF411E-638D-456C-BAC5-9A0DCCF571E9}", 139, "Volumetric Flow Rate", 5,
     Publication::VolFlowRate, -1},
};

TEST(CatalogueRowsTest, SpotChecksOfRows) {
    for (const ExpectedRow& expected : kSpotChecks) {
        SCOPED_TRACE(expected.name);
        const CorrelationRow* row = FindRow(expected.name);
        ASSERT_NE(nullptr, row);
        EXPECT_EQ(expected.classId, GuidText(row->classId));
        EXPECT_EQ(expected.interfaceId, GuidText(row->interfaceId));
        EXPECT_EQ(expected.script, row->scriptResourceId);
        EXPECT_STREQ(expected.displayName, row->displayName);
        EXPECT_EQ(expected.kindCode, row->kindCode);
        EXPECT_EQ(expected.publication, row->publication);
        EXPECT_EQ(expected.slot, row->slot);
    }
}

TEST(CatalogueRowsTest, SharedKindCodesAndSlots) {
    const auto kindCount = [](LONG kind) {
        return std::count_if(std::begin(kCatalogue), std::end(kCatalogue),
                             [kind](const CorrelationRow& row) { return row.kindCode == kind; });
    };
    EXPECT_EQ(11, kindCount(-1));
    EXPECT_EQ(3, kindCount(10));
    EXPECT_EQ(2, kindCount(11));

    // 23 common publications, each of its own slot of the block.
    std::set<int> slots;
    int common = 0;
    for (const CorrelationRow& row : kCatalogue) {
        if (row.publication != Publication::Common) continue;
        ++common;
        EXPECT_GE(row.slot, 0) << row.name;
        EXPECT_LE(row.slot, 28) << row.name;
        slots.insert(row.slot);
    }
    EXPECT_EQ(23, common);
    EXPECT_EQ(23u, slots.size());
}

// The rows and widl's identifiers come from the same table by different
// roads (C++ initializers, IDL text); they must agree.
TEST(CatalogueRowsTest, AgreesWithTheTypeLibraryIdentifiers) {
    EXPECT_TRUE(IsEqualGUID(CLSID_BubblePtPressure, kCatalogue[0].classId));
    EXPECT_TRUE(IsEqualGUID(IID_IBubblePtPressure, kCatalogue[0].interfaceId));
    EXPECT_TRUE(IsEqualGUID(CLSID_MassDensity, kCatalogue[5].classId));
    EXPECT_TRUE(IsEqualGUID(IID_IMassDensity, kCatalogue[5].interfaceId));
    EXPECT_TRUE(IsEqualGUID(CLSID_VolFlowRate, kCatalogue[25].classId));
    EXPECT_TRUE(IsEqualGUID(IID_IVolFlowRate, kCatalogue[25].interfaceId));
    EXPECT_EQ("{DEEC13C7-7766-4086-8C1B-434FBF176F1C}", GuidText(LIBID_PVTCORRELATORLib));
}

}  // namespace
}  // namespace pvt::test
