// What tells one correlation class from another.
#pragma once

#include "properties/Publication.h"

#include <windows.h>

namespace pvt {

// The fields in the order of the table's columns, which the generated rows
// follow; the padding is 8 bytes a row.
struct CorrelationRow {  // NOLINT(clang-analyzer-optin.performance.Padding)
    const char* name;    // catalogue name: the class is C + name
    CLSID classId;
    IID interfaceId;       // the class's own dual interface
    int scriptResourceId;  // its "REGISTRY" resource
    const char* displayName;
    LONG kindCode;
    Publication publication;
    int slot;  // the property slot of a common publication
};

// The module's classes in class-table order, generated from Catalogue.table
// (kCatalogueSize too: the number of its class rows). A derived publication
// reads several slots; its row's slot is -1.
#include "CatalogueSize.inc"
extern const CorrelationRow kCatalogue[kCatalogueSize];

}  // namespace pvt
