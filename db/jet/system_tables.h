#pragma once
// The system tables a new database starts with, as Access lays them out,
// and the catalog rows that describe them.

#include "db/jet/table/table_builder.h"
#include "db/variant.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnika::jet {

// Object ids and types of the catalog (MSysObjects).
namespace catalog {
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr int32_t kDatabasesContainer = 0x0F000002;
constexpr int32_t kRelationshipsContainer = 0x0F000003;
constexpr int32_t kRootContainer = 0x0F000000;
constexpr int32_t kDatabaseObject = 0x10000000;  // MSysDb
constexpr int16_t kTypeTable = 1;
constexpr int16_t kTypeDatabase = 2;
constexpr int16_t kTypeContainer = 3;
constexpr uint32_t kFlagSystem = 0x80000000;
constexpr uint32_t kTdefPageMask = 0x00FFFFFF;
}  // namespace catalog

struct SystemTable {
    std::u16string name;
    NewTable definition;
};

// MSysObjects, MSysACEs, MSysQueries and MSysRelationships, in that order,
// as the Access of `version` lays them out (Jet 3's MSysQueries has no
// LvExtra). Their text columns use the database's sort order.
std::vector<SystemTable> systemTables(uint16_t sortLcid, uint8_t sortVersion, JetVersion version = JetVersion::Jet4);

// The owner of system objects in a database without a workgroup: the
// engine's built-in identities, as Access records them.
std::vector<uint8_t> engineOwnerSid();
std::vector<uint8_t> adminOwnerSid();

}  // namespace varnika::jet
