#pragma once
// Writes to the records of one table as the window's runs do: every field
// of a record is given a value of its kind unlike its present one (a text
// grown past its page's room or cut, a memo long or short, a number, a
// date), and every third record is deleted. Refusals (a value a unique
// index holds already, a key the engine cannot make, a field that does not
// take the value) are counted, not stopped at. For tests and the write
// fuzz target: header only, so that the fuzz target needs nothing else.

#include "db/jet/database.h"
#include "db/jet/record_sets.h"

#include <cstddef>
#include <memory>
#include <string>

namespace varnika::test {

struct RecordWrites {
    size_t updated = 0;
    size_t deleted = 0;
    size_t refused = 0;  // an Update or Delete that failed, undone alone
};

inline Variant changedFieldValue(const Field& field, const Variant& now, int record)
{
    switch (field.type()) {
    case ColumnType::Text: {
        std::u16string text = now.type() == VariantType::Text ? now.asText() : u"";
        if (record % 2 == 0) text += u"Ğİşçö ılık " + std::u16string(size_t(record % 40), u'x');
        else if (!text.empty()) text.resize(text.size() / 2);
        return Variant::text(std::move(text));
    }
    case ColumnType::Memo:
        return record % 3 == 0 ? Variant::text(std::u16string(size_t(300 * (record % 50)), u'ş'))
                               : Variant::text(u"kısa not");
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

// Up to `records` records of `table` from its first, changed or deleted;
// the record set is closed at the end (its last group written).
inline RecordWrites writeEveryRecord(const std::shared_ptr<jet::Database>& db, std::u16string_view table, int records)
{
    RecordWrites done;
    auto opened = jet::TableRecordSet::openTable(db, table);
    if (!opened.isOk()) return done;
    jet::TableRecordSet& rs = **opened;
    if (!rs.MoveFirst().isOk()) return done;
    for (int record = 0; record < records; ++record) {
        auto eof = rs.Eof();
        if (!eof.isOk() || *eof) break;
        if (record % 3 == 2) {
            if (rs.Delete().isOk()) ++done.deleted;
            else ++done.refused;
        } else if (rs.Edit().isOk()) {
            for (int f = 0; f < rs.fieldCount(); ++f) {
                auto field = rs.Fields(f);
                if (!field.isOk()) continue;
                auto now = (*field)->Value();
                if (!now.isOk()) continue;
                // A value the field refuses (too long, out of range, a
                // numbered field) leaves the edit as it was.
                (void)(*field)->SetValue(changedFieldValue(**field, *now, record + f));
            }
            if (rs.Update().isOk()) ++done.updated;
            else ++done.refused;
        }
        if (!rs.MoveNext().isOk()) break;
    }
    (void)rs.Close();
    return done;
}

}  // namespace varnika::test
