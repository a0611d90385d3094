// Any bytes as a database file, written to: in each of the first tables,
// records are given longer and shorter texts, numbers and dates, and every
// third record is deleted, as the window's runs do. Errors are fine; crashes,
// sanitizer reports and hangs are not. A file the consistency check finds
// sound must still be sound afterwards, whatever each change reported: a
// change that is refused (a value a unique index holds already, a key this
// engine cannot make) is undone alone. A sound file left damaged stops the
// run (abort), with the check's findings.
#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"
#include "tests/support/write_every_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t kTablesWritten = 2;
constexpr int kRecordsWritten = 120;

bool sound(varnika::jet::Database& db)
{
    auto report = varnika::jet::checkDatabase(db);
    return report.isOk() && report->ok();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace varnika;
    auto file = std::make_unique<jet::MemoryPageFile>(std::vector<uint8_t>(data, data + size));
    const jet::MemoryPageFile* bytes = file.get();
    auto db = jet::Database::open(std::move(file));
    if (!db.isOk()) return 0;
    const bool soundBefore = sound(**db);
    std::vector<std::u16string> tables;
    for (const jet::CatalogEntry& e : (*db)->catalog().tables())
        if (tables.size() < kTablesWritten) tables.push_back(e.name);
    for (const std::u16string& name : tables) (void)test::writeEveryRecord(*db, name, kRecordsWritten);
    if (!soundBefore) return 0;
    // The file as written, read afresh.
    auto after = jet::Database::open(std::make_unique<jet::MemoryPageFile>(bytes->bytes()));
    if (!after.isOk()) {
        std::fprintf(stderr, "a sound file no longer opens after changes: %s\n", after.status().toString().c_str());
        std::abort();
    }
    auto report = jet::checkDatabase(**after);
    if (!report.isOk() || !report->ok()) {
        std::fprintf(stderr, "a sound file is damaged by changes:\n");
        if (!report.isOk()) std::fprintf(stderr, "  %s\n", report.status().toString().c_str());
        else
            for (const std::string& p : report->problems) std::fprintf(stderr, "  %s\n", p.c_str());
        std::abort();
    }
    return 0;
}
