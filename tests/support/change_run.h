#pragma once
// A run of record changes for the tests of faults and crashes: a Stok table
// with two indexes and memos, and changes that split index pages, write and
// give back long-value chains, delete, insert and add a column.

#include "db/jet/table/table_writer.h"
#include "support/ddl_test_support.h"

#include <functional>

namespace varnika::jet::changerun {

using Rows = std::vector<std::vector<Variant>>;

// The table's records, long values resolved, in scan order.
inline Rows recordsOf(Database& db)
{
    Rows out;
    auto table = db.table(u"Stok");
    EXPECT_TRUE(table.isOk()) << table.status().toString();
    if (!table.isOk()) return out;
    auto change = db.changeTable(**table);
    EXPECT_TRUE(change.isOk()) << change.status().toString();
    auto rows = (*table)->rowPointers();
    EXPECT_TRUE(rows.isOk());
    if (!change.isOk() || !rows.isOk()) return out;
    for (RowPointer p : *rows) {
        auto v = change->writer->readRow(p);
        EXPECT_TRUE(v.isOk()) << v.status().toString();
        if (v.isOk()) out.push_back(*v);
    }
    return out;
}

inline std::u16string memo(char16_t c, size_t n) { return std::u16string(n, c); }

// One change of the run, against an open database.
using Step = std::function<Status(Database&, DdlExecutor&)>;

inline Status updateWhere(Database& db, int32_t id, const std::function<void(std::vector<Variant>&, const TableDef&)>& edit)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, db.table(u"Stok"));
    VK_ASSIGN_OR_RETURN(TableChange change, db.changeTable(*table));
    VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, table->rowPointers());
    for (RowPointer p : rows) {
        VK_ASSIGN_OR_RETURN(std::vector<Variant> v, change.writer->readRow(p));
        if (v[0].asLong() != id) continue;
        edit(v, table->def());
        return change.writer->updateRow(p, v);
    }
    return notFound("no record " + std::to_string(id));
}

// The texts the run writes: Turkish in a Jet 4 file; an Access 97 file in
// code page 1252 takes Western letters (which also carry accents in keys).
struct RunTexts {
    std::u16string longKey;    // an indexed text long enough to split a leaf
    char16_t chainLetter;      // a memo of 9000 of them spans a chain of pages
    std::u16string shortMemo;
    std::u16string newUnit;
    std::vector<std::string> units;  // UTF-8, the records' units
};

inline RunTexts turkishTexts()
{
    return {u"\u0130\u015fK\u00d6\u011eE " + memo(u'\u00e7', 180), u'\u0131', u"k\u0131sa", u"\u015eeker",
            {"Adet", "Kutu", "Metre", "Kilo", "\u00c7uval", "\u0130\u011fne"}};
}

inline RunTexts westernTexts()
{
    return {u"\u00c4RGER \u00d6L " + memo(u'\u00e7', 180), u'\u00e9', u"kurz", u"S\u00fc\u00dfes",
            {"Adet", "Kutu", "Metre", "Kilo", "\u00c7uval", "\u00d6l\u00e7\u00fc"}};
}

inline std::vector<Step> theRun(const RunTexts& texts = turkishTexts())
{
    auto set = [](int32_t id, const char16_t* column, Variant value) -> Step {
        return [=](Database& db, DdlExecutor&) {
            return updateWhere(db, id, [&](std::vector<Variant>& v, const TableDef& def) {
                v[size_t(def.findColumn(column))] = value;
            });
        };
    };
    std::vector<Step> steps;
    // Long keys in the middle of the index: its leaf splits.
    for (int32_t id : {40, 41, 42, 43, 44, 45})
        steps.push_back(set(id, u"Birim", Variant::text(texts.longKey)));
    steps.push_back(set(7, u"Aciklama", Variant::text(memo(texts.chainLetter, 9000))));  // a chain of pages
    steps.push_back(set(8, u"Aciklama", Variant::text(texts.shortMemo)));                // a chain given back
    steps.push_back(set(9, u"Aciklama", Variant()));
    steps.push_back([](Database& db, DdlExecutor&) -> Status {
        VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, db.table(u"Stok"));
        VK_ASSIGN_OR_RETURN(TableChange change, db.changeTable(*table));
        VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, table->rowPointers());
        return change.writer->deleteRow(rows.at(12));
    });
    steps.push_back([unit = texts.newUnit](Database&, DdlExecutor& x) {
        return x.execute(u"INSERT INTO Stok (Birim, Depo, Aciklama) VALUES ('" + unit + u"', 3, '" + memo(u'x', 5000) + u"')");
    });
    steps.push_back([](Database&, DdlExecutor& x) { return x.execute(u"ALTER TABLE Stok ADD COLUMN Yeni TEXT(20)"); });
    steps.push_back(set(50, u"Depo", Variant::longValue(99)));
    return steps;
}

// A new database with the Stok table and 300 records, as bytes: Jet 4 with
// the Turkish sort order, or an Access 97 file with the General one.
inline std::vector<uint8_t> buildStok(JetVersion version = JetVersion::Jet4)
{
    ddltest::NewDb t(version == JetVersion::Jet3 ? 0x0409 : 0x041F, version);
    EXPECT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(255), Depo LONG, Aciklama MEMO)").isOk());
    EXPECT_TRUE(t.run("CREATE INDEX ixBirim ON Stok (Birim)").isOk());
    EXPECT_TRUE(t.run("CREATE INDEX ixDepo ON Stok (Depo DESC)").isOk());
    const std::vector<std::string> units = (version == JetVersion::Jet3 ? westernTexts() : turkishTexts()).units;
    for (int i = 0; i < 300; ++i) {
        std::string memoText = i % 25 == 0 ? std::string(4500, 'm') : "not " + std::to_string(i);
        EXPECT_TRUE(t.run(std::string("INSERT INTO Stok (Birim, Depo, Aciklama) VALUES ('") + units[size_t(i) % 6] + " " +
                          std::to_string(i % 37) + "', " + std::to_string(i % 5) + ", '" + memoText + "')")
                        .isOk());
    }
    t.db.reset();
    t.executor.reset();
    return ddltest::fileBytes(t.path);
}

}  // namespace varnika::jet::changerun
