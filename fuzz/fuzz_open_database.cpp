// Any bytes as a database file: open it, list its tables, read every row of
// every table and run the consistency check. Errors are fine; crashes,
// sanitizer reports and hangs are not.
#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace varnika;
    auto file = std::make_unique<jet::MemoryPageFile>(std::vector<uint8_t>(data, data + size));
    auto db = jet::Database::open(std::move(file));
    if (!db.isOk()) return 0;
    for (const jet::CatalogEntry& e : (*db)->catalog().tables()) {
        auto table = (*db)->table(e.name);
        if (!table.isOk()) continue;
        auto scan = (*table)->scan();
        if (!scan.isOk()) continue;
        for (int rows = 0; rows < 10000; ++rows) {
            auto more = scan->next();
            if (!more.isOk() || !*more) break;
            (void)scan->values();
        }
    }
    (void)jet::checkDatabase(**db);
    return 0;
}
