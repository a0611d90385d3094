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
#include "db/jet/record_sets.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace varnika;

constexpr size_t kTablesWritten = 2;
constexpr int kRecordsWritten = 120;

bool sound(jet::Database& db)
{
    auto report = jet::checkDatabase(db);
    return report.isOk() && report->ok();
}

// A value of the field's kind unlike its present one: a text grown (to move
// the row off a full page) or cut, a number or a date moved on.
Variant changed(const Field& field, const Variant& now, int record)
{
    switch (field.type()) {
    case ColumnType::Text: {
        std::u16string text = now.type() == VariantType::Text ? now.asText() : u"";
        if (record % 2 == 0) text += u"Ğİşçö ılık " + std::u16string(size_t(record % 40), u'x');
        else if (!text.empty()) text.resize(text.size() / 2);
        return Variant::text(std::move(text));
    }
    case ColumnType::Memo:
        return record % 3 == 0 ? Variant::text(std::u16string(size_t(300 * record), u'ş')) : Variant::text(u"kısa not");
    case ColumnType::Long:
    case ColumnType::Integer:
    case ColumnType::Byte:
        // Now and then a small number another record may hold already.
        return Variant::longValue(record % 5 == 0 ? record % 10 : 200 + record);
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::Single:
        return Variant::doubleValue(record * 1.25);
    case ColumnType::DateTime:
        return Variant::date(40000.5 + record);
    default:
        return now;
    }
}

void writeTable(const std::shared_ptr<jet::Database>& db, std::u16string_view name)
{
    auto opened = jet::TableRecordSet::openTable(db, name);
    if (!opened.isOk()) return;
    jet::TableRecordSet& rs = **opened;
    if (!rs.MoveFirst().isOk()) return;
    for (int record = 0; record < kRecordsWritten; ++record) {
        auto eof = rs.Eof();
        if (!eof.isOk() || *eof) break;
        if (record % 3 == 2) {
            (void)rs.Delete();
        } else if (rs.Edit().isOk()) {
            for (int f = 0; f < rs.fieldCount(); ++f) {
                auto field = rs.Fields(f);
                if (!field.isOk()) continue;
                auto now = (*field)->Value();
                if (!now.isOk()) continue;
                // A value the field refuses (too long, out of range, a
                // numbered field) leaves the edit as it was.
                (void)(*field)->SetValue(changed(**field, *now, record + f));
            }
            (void)rs.Update();
        }
        if (!rs.MoveNext().isOk()) break;
    }
    (void)rs.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto file = std::make_unique<jet::MemoryPageFile>(std::vector<uint8_t>(data, data + size));
    const jet::MemoryPageFile* bytes = file.get();
    auto db = jet::Database::open(std::move(file));
    if (!db.isOk()) return 0;
    const bool soundBefore = sound(**db);
    std::vector<std::u16string> tables;
    for (const jet::CatalogEntry& e : (*db)->catalog().tables())
        if (tables.size() < kTablesWritten) tables.push_back(e.name);
    for (const std::u16string& name : tables) writeTable(*db, name);
    if (!soundBefore) return 0;
    // The file as written, read afresh.
    auto after = jet::Database::open(std::make_unique<jet::MemoryPageFile>(bytes->bytes()));
    if (!after.isOk()) {
        std::fprintf(stderr, "a sound file no longer opens after changes: %s\n",
                     after.status().toString().c_str());
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
