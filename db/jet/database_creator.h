#pragma once
// Making a new, empty database (Jet 4, or Jet 3 for Access 97): the header,
// the global page map, the system tables (MSysObjects, MSysACEs, MSysQueries,
// MSysRelationships) with their catalog rows, permissions and indexes.

#include "db/jet/new_database.h"
#include "db/status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnika::jet {

class FileSystem;

// The bytes of a new empty database.
Result<std::vector<uint8_t>> buildEmptyDatabase(const NewDatabaseOptions& options);

// Writes a new empty database to `path` in `files`. An existing file is not
// replaced (InvalidArgument); nothing is left behind on failure.
Status createDatabaseFile(FileSystem& files, const std::string& path, const NewDatabaseOptions& options);
// The same on the system's own files.
Status createDatabaseFile(const std::string& path, const NewDatabaseOptions& options);

}  // namespace varnika::jet
