#pragma once
// The catalog: the local user tables listed in MSysObjects.

#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnika::jet {

struct CatalogEntry {
    std::u16string name;
    uint32_t tdefPage = 0;
    int32_t id = 0;
    uint32_t flags = 0;
};

class Catalog {
public:
    // Reads MSysObjects (its definition is always on page 2) and keeps the
    // local user tables: Type 1, not system, not hidden, not MSys*. Each
    // entry's page is checked to hold a user table definition.
    static Result<Catalog> load(Pager& pager);

    // User tables in catalog order.
    const std::vector<CatalogEntry>& tables() const { return m_tables; }
    // The definition pages of every local table, system tables included,
    // as the catalog names them (unchecked; for the check of the file).
    const std::vector<uint32_t>& allTablePages() const { return m_allTablePages; }
    // The table with that name, without regard to case; null when none.
    const CatalogEntry* find(std::u16string_view name) const;

private:
    std::vector<CatalogEntry> m_tables;
    std::vector<uint32_t> m_allTablePages;
};

}  // namespace varnika::jet
