#pragma once
// The first pages of a new, empty database (Jet 4, or Jet 3 for Access
// 97): the header (page 0) and the page holding the global usage map
// (page 1).

#include "db/jet/file/jet_format.h"
#include "db/jet/page/page_layout.h"

#include <cstdint>

namespace varnika::jet {

struct NewDatabaseOptions {
    uint16_t sortOrderLcid = 0x0409;  // General
    uint8_t sortOrderVersion = 0;
    uint16_t codePage = 1252;  // Jet 3: the code page of its text (1254 with the Turkish order)
    double creationDate = 0;  // OLE date; 0 means now
    JetVersion version = JetVersion::Jet4;

    // The layout of the new file, its code page set.
    JetFormat format() const;
};

PageBuffer buildHeaderPage(const NewDatabaseOptions& options);

// Page 1: a data page owned by page 1, whose row 0 is the global map (an
// inline bitmap from page 0, bit set = page free) marking pages
// [0, pagesInUse) as used, and row 1 the second, unused map row Access keeps.
PageBuffer buildGlobalMapPage(uint32_t pagesInUse, const JetFormat& format = JetFormat::jet4());

// The OLE date of the current moment.
double oleDateNow();

}  // namespace varnika::jet
