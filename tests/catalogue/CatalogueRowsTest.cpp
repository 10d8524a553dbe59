// The C++ catalogue generated from Catalogue.table against the tests'
// expected class list: order, every row, and agreement with the identifiers
// that widl generated from the same table.
#include "catalogue/CatalogueTestSupport.h"
#include "correlations/Catalogue.h"
#include "support/ExpectedCatalogue.h"

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

Publication AsPublication(ExpectedPublication publication) {
    switch (publication) {
        case ExpectedPublication::Common:
            return Publication::Common;
        case ExpectedPublication::MassFlowRate:
            return Publication::MassFlowRate;
        case ExpectedPublication::VolFlowRate:
            return Publication::VolFlowRate;
        case ExpectedPublication::Viscosity:
            return Publication::Viscosity;
    }
    return Publication::Common;
}

TEST(CatalogueRowsTest, RowsRunInClassTableOrder) {
    ASSERT_EQ(kExpectedClassCount, static_cast<std::size_t>(kCatalogueSize));
    for (int i = 0; i < kCatalogueSize; ++i) {
        EXPECT_STREQ(kExpectedClasses[i].name, kCatalogue[i].name) << i;
    }
    // The registry scripts rise with the order, skipping those of the
    // type-library-only names.
    EXPECT_EQ(std::begin(kExpectedClasses)->scriptId, kCatalogue[0].scriptResourceId);
    EXPECT_EQ(std::rbegin(kExpectedClasses)->scriptId,
              kCatalogue[kCatalogueSize - 1].scriptResourceId);
    for (int i = 1; i < kCatalogueSize; ++i) {
        EXPECT_LT(kCatalogue[i - 1].scriptResourceId, kCatalogue[i].scriptResourceId)
            << kCatalogue[i].name;
        for (const ExpectedName& only : kExpectedTypeLibraryOnlyNames) {
            EXPECT_NE(only.scriptId, kCatalogue[i].scriptResourceId) << kCatalogue[i].name;
        }
    }
}

TEST(CatalogueRowsTest, NamesAndIdentifiersAreDistinct) {
    std::set<std::string> names, identifiers;
    for (const CorrelationRow& row : kCatalogue) {
        names.insert(row.name);
        identifiers.insert(GuidText(row.classId));
        identifiers.insert(GuidText(row.interfaceId));
    }
    EXPECT_EQ(kExpectedClassCount, names.size());
    EXPECT_EQ(2 * kExpectedClassCount, identifiers.size());
    // The type-library-only names have no class.
    for (const ExpectedName& only : kExpectedTypeLibraryOnlyNames) {
        EXPECT_EQ(nullptr, FindRow(only.name)) << only.name;
    }
}

// Every row: identifiers, script, display name, kind code and publication.
TEST(CatalogueRowsTest, EveryRowIsTheExpectedOne) {
    for (const ExpectedClass& expected : kExpectedClasses) {
        SCOPED_TRACE(expected.name);
        const CorrelationRow* row = FindRow(expected.name);
        ASSERT_NE(nullptr, row);
        EXPECT_EQ(UpperCaseIdentifier(expected.classId), GuidText(row->classId));
        EXPECT_EQ(UpperCaseIdentifier(expected.interfaceId), GuidText(row->interfaceId));
        EXPECT_EQ(expected.scriptId, row->scriptResourceId);
        EXPECT_STREQ(expected.displayName, row->displayName);
        EXPECT_EQ(expected.kindCode, row->kindCode);
        EXPECT_EQ(AsPublication(expected.publication), row->publication);
        EXPECT_EQ(expected.slot, row->slot);
    }
}

TEST(CatalogueRowsTest, SharedKindCodesAndSlots) {
    const auto kindCount = [](LONG kind) {
        return std::count_if(std::begin(kCatalogue), std::end(kCatalogue),
                             [kind](const CorrelationRow& row) { return row.kindCode == kind; });
    };
    const auto expectedKindCount = [](LONG kind) {
        return std::count_if(std::begin(kExpectedClasses), std::end(kExpectedClasses),
                             [kind](const ExpectedClass& c) { return c.kindCode == kind; });
    };
    EXPECT_EQ(expectedKindCount(-1), kindCount(-1));
    EXPECT_EQ(expectedKindCount(10), kindCount(10));
    EXPECT_EQ(expectedKindCount(11), kindCount(11));

    // The common publications, each of its own slot of the block.
    std::set<int> slots;
    int common = 0;
    for (const CorrelationRow& row : kCatalogue) {
        if (row.publication != Publication::Common) continue;
        ++common;
        EXPECT_GE(row.slot, 0) << row.name;
        EXPECT_LE(row.slot, 28) << row.name;
        slots.insert(row.slot);
    }
    const auto expectedCommon = std::count_if(
        std::begin(kExpectedClasses), std::end(kExpectedClasses),
        [](const ExpectedClass& c) { return c.publication == ExpectedPublication::Common; });
    EXPECT_EQ(expectedCommon, common);
    EXPECT_EQ(static_cast<std::size_t>(common), slots.size());
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
