#include "correlations/Catalogue.h"

namespace pvt {

// The rows are generated at build time from Catalogue.table, the single list
// of the module's classes, by the generator that counts them into
// kCatalogueSize. Should the two ever disagree, more rows fail to compile as
// excess initializers and fewer leave empty rows at the end, which the
// assertion below rejects.
constexpr CorrelationRow kCatalogue[kCatalogueSize] = {
#include "CatalogueRows.inc"
};

static_assert(kCatalogue[kCatalogueSize - 1].name != nullptr,
              "Catalogue.table must list exactly kCatalogueSize classes");

}  // namespace pvt
