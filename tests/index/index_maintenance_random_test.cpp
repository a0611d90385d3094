// Long random runs of inserts, updates and deletes on a table with many
// kinds of index, checked against a model of the rows: after every batch
// each index holds exactly the keys of the rows, its tree is sound (pages
// split and joined as they fill and empty), and the whole file passes the
// consistency check. Unique indexes refuse duplicates without changing
// anything.

#include "db/jet/check/consistency_check.h"
#include "db/jet/check/index_check.h"
#include "db/jet/table/table_writer.h"
#include "support/ddl_test_support.h"

#include <map>
#include <random>

namespace varnika::jet {
namespace {

using ddltest::NewDb;

// Turkish text with every letter that needs a two-byte key, and keys long
// enough that a few hundred rows need several leaf pages.
std::u16string randomName(std::mt19937& rng)
{
    static const char16_t* parts[] = {u"\u00e7i\u011fdem", u"\u0131\u015f\u0131k", u"\u0130stanbul", u"\u00f6z\u00fcm",
                                      u"\u015eeker", u"\u00c7a\u011fla", u"\u00dcmit", u"\u00d6zg\u00fcr",
                                      u"adet", u"Kutu", u"metre", u"KILO", u"ayna", u"Irmak", u"iğne"};
    std::u16string s;
    int n = 1 + int(rng() % 4);
    for (int i = 0; i < n; ++i) {
        if (i) s += u' ';
        s += parts[rng() % (sizeof parts / sizeof parts[0])];
    }
    // Sometimes long, to make big keys and quick splits.
    if (rng() % 2 == 0) s += std::u16string(30 + rng() % 80, u'x');
    return s;
}

struct Model {
    std::map<RowPointer, std::vector<Variant>> rows;
    std::set<int32_t> codes;  // the unique column
};

class IndexMaintenanceRandom : public ::testing::TestWithParam<uint16_t> {};

TEST_P(IndexMaintenanceRandom, EveryIndexFollowsTheRows)
{
    NewDb t(GetParam());
    ASSERT_TRUE(t.run("CREATE TABLE T (Id COUNTER PRIMARY KEY, Ad TEXT(200), Kod LONG, Tarih DATETIME, "
                      "Tutar CURRENCY, Oran DOUBLE, Var BIT, Aciklama MEMO)")
                    .isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixAd ON T (Ad)").isOk());
    ASSERT_TRUE(t.run("CREATE UNIQUE INDEX ixKod ON T (Kod DESC)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixTarihTutar ON T (Tarih, Tutar DESC)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixOranVar ON T (Oran, Var)").isOk());

    auto table = t.db->table(u"T");
    ASSERT_TRUE(table.isOk());
    auto change = t.db->changeTable(**table);
    ASSERT_TRUE(change.isOk()) << change.status().toString();
    TableWriter& writer = *change->writer;
    const TableDef& def = (**table).def();
    auto col = [&](const char16_t* name) { return size_t(def.findColumn(name)); };

    std::mt19937 rng(GetParam());
    Model model;
    int32_t nextId = 1;
    auto randomRow = [&](int32_t id) {
        std::vector<Variant> v(def.columns().size());
        v[col(u"Id")] = Variant::longValue(id);
        v[col(u"Ad")] = rng() % 10 == 0 ? Variant() : Variant::text(randomName(rng));
        int32_t code;
        do code = int32_t(rng() % 100000) - 50000; while (model.codes.count(code));
        v[col(u"Kod")] = Variant::longValue(code);
        v[col(u"Tarih")] = rng() % 8 == 0 ? Variant() : Variant::date(36000.0 + double(rng() % 9000) + double(rng() % 86400) / 86400.0);
        v[col(u"Tutar")] = Variant::currency(Currency{int64_t(rng() % 2000000) - 1000000});
        v[col(u"Oran")] = Variant::doubleValue(double(int(rng() % 2001) - 1000) / 7.0);
        v[col(u"Var")] = Variant::boolean(rng() % 2 == 0);
        v[col(u"Aciklama")] = rng() % 3 == 0 ? Variant() : Variant::text(std::u16string(rng() % 3000, u'\u011f'));
        return v;
    };

    auto checkAll = [&](const std::string& when) {
        SCOPED_TRACE(when);
        ddltest::expectIndexesMatchRows(*t.db, "T");
        for (const RealIndexDef& ix : def.realIndexes()) {
            Status s = checkIndexTree(t.db->pager(), def.firstPage(), ix.rootPage);
            EXPECT_TRUE(s.isOk()) << s.toString();
        }
        auto report = checkDatabase(*t.db);
        ASSERT_TRUE(report.isOk());
        for (const std::string& p : report->problems) ADD_FAILURE() << p;
        std::map<RowPointer, std::vector<Variant>> stored;
        for (const auto& [row, values] : model.rows) {
            auto v = writer.readRow(row);
            ASSERT_TRUE(v.isOk()) << v.status().toString();
            EXPECT_EQ(*v, values);
        }
    };

    // Grow, churn, shrink, grow again and shrink, so that pages split, join
    // and empty. Percentages of insert and delete; the rest are updates.
    struct Phase { int insert, remove; };
    const Phase phases[] = {{60, 10}, {60, 10}, {30, 30}, {10, 60}, {60, 10}, {5, 70}};
    for (size_t round = 0; round < std::size(phases); ++round) {
        for (int step = 0; step < 200; ++step) {
            int what = int(rng() % 100);
            if ((model.rows.empty() || what < phases[round].insert) && step % 5 == 4) {
                // Some records added together: their entries go in at once.
                std::vector<std::vector<Variant>> batch;
                for (size_t n = 1 + rng() % 40; batch.size() < n;) {
                    batch.push_back(randomRow(nextId++));
                    model.codes.insert(batch.back()[col(u"Kod")].asLong());
                }
                auto rows = writer.insertRows(batch);
                ASSERT_TRUE(rows.isOk()) << rows.status().toString();
                ASSERT_EQ(rows->size(), batch.size());
                for (size_t k = 0; k < batch.size(); ++k) model.rows[(*rows)[k]] = batch[k];
            } else if (model.rows.empty() || what < phases[round].insert) {
                std::vector<Variant> v = randomRow(nextId++);
                auto row = writer.insertRow(v);
                ASSERT_TRUE(row.isOk()) << row.status().toString();
                model.codes.insert(v[col(u"Kod")].asLong());
                model.rows[*row] = v;
            } else {
                auto it = model.rows.begin();
                std::advance(it, long(rng() % model.rows.size()));
                if (what < phases[round].insert + phases[round].remove) {
                    ASSERT_TRUE(writer.deleteRow(it->first).isOk());
                    model.codes.erase(it->second[col(u"Kod")].asLong());
                    model.rows.erase(it);
                } else {
                    std::vector<Variant> v = it->second;
                    std::vector<Variant> fresh = randomRow(v[col(u"Id")].asLong());
                    // Change one to three columns, the unique one sometimes.
                    for (size_t c = 1; c < v.size(); ++c)
                        if (rng() % 3 == 0) v[c] = fresh[c];
                    model.codes.erase(it->second[col(u"Kod")].asLong());
                    model.codes.insert(v[col(u"Kod")].asLong());
                    Status updated = writer.updateRow(it->first, v);
                    ASSERT_TRUE(updated.isOk()) << updated.toString();
                    it->second = v;
                }
            }
            // Every index against the rows after every step.
            SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step));
            ddltest::expectIndexesMatchRows(*t.db, "T");
            if (HasFailure()) return;
        }
        checkAll("round " + std::to_string(round));
        if (HasFailure()) return;
        if (round == 1) {
            // At the peak some index spans several leaf pages under a node.
            size_t leaves = 0;
            for (const RealIndexDef& ix : def.realIndexes()) {
                IndexTreeStats stats;
                ASSERT_TRUE(checkIndexTree(t.db->pager(), def.firstPage(), ix.rootPage, &stats).isOk());
                leaves = std::max(leaves, stats.leafPages);
            }
            EXPECT_GE(leaves, 3u);
        }
    }

    // A duplicate in the unique index, by insert and by update: refused, nothing changed.
    ASSERT_GE(model.rows.size(), 2u);
    auto first = model.rows.begin();
    auto second = std::next(first);
    std::vector<Variant> dup = randomRow(nextId++);
    dup[col(u"Kod")] = first->second[col(u"Kod")];
    const std::vector<uint8_t> before = ddltest::fileBytes(t.path);
    EXPECT_EQ(writer.insertRow(dup).status().code(), ErrorCode::Constraint);
    const std::vector<std::vector<Variant>> dupBatch = {randomRow(nextId++), dup, randomRow(nextId++)};
    EXPECT_EQ(writer.insertRows(dupBatch).status().code(), ErrorCode::Constraint);
    std::vector<Variant> clash = second->second;
    clash[col(u"Kod")] = first->second[col(u"Kod")];
    clash[col(u"Ad")] = Variant::text(u"yeni ad");
    EXPECT_EQ(writer.updateRow(second->first, clash).code(), ErrorCode::Constraint);
    EXPECT_EQ(ddltest::fileBytes(t.path), before);
    checkAll("after refusals");

    // Everything gone: every index back to an empty root.
    for (const auto& [row, values] : model.rows) ASSERT_TRUE(writer.deleteRow(row).isOk());
    model.rows.clear();
    checkAll("all deleted");
    t.reopen();
    ddltest::expectIndexesMatchRows(*t.db, "T");

    // Opened again, the indexes are compared with the rows before their
    // first change; records added together are left out of that.
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(t.run("INSERT INTO T (Ad, Kod) VALUES ('ad " + std::to_string(i) + "', " + std::to_string(i) + ")").isOk());
    t.reopen();
    auto again = t.db->table(u"T");
    ASSERT_TRUE(again.isOk());
    auto fresh = t.db->changeTable(**again);
    ASSERT_TRUE(fresh.isOk());
    std::vector<std::vector<Variant>> batch;
    for (int i = 0; i < 25; ++i) {
        std::vector<Variant> v = randomRow(nextId++);
        v[col(u"Id")] = Variant();  // numbered after the rows the statements added
        v[col(u"Kod")] = Variant::longValue(1000 + i);
        batch.push_back(v);
    }
    auto added = fresh->writer->insertRows(batch);
    ASSERT_TRUE(added.isOk()) << added.status().toString();
    ddltest::expectIndexesMatchRows(*t.db, "T");
}

// General, Turkish.
INSTANTIATE_TEST_SUITE_P(SortOrders, IndexMaintenanceRandom, ::testing::Values(uint16_t(0x0409), uint16_t(0x041F)),
                         [](const auto& info) { return info.param == 0x041F ? "Turkish" : "General"; });

}  // namespace
}  // namespace varnika::jet

namespace varnika::jet {
namespace {

// An index whose stored keys are not exactly those this engine makes for
// its rows (another sort order's keys, a missing or an extra entry) is not
// touched: the change is refused before anything is written.
TEST(IndexMaintenanceVerify, ForeignKeysRefuseTheChangeAndLeaveTheFile)
{
    enum class Damage { KeyChanged, EntryMissing, EntryAdded };
    for (Damage damage : {Damage::KeyChanged, Damage::EntryMissing, Damage::EntryAdded}) {
        SCOPED_TRACE(int(damage));
        ddltest::NewDb t(0x041F);
        ASSERT_TRUE(t.run("CREATE TABLE T (Id LONG, Ad TEXT(40))").isOk());
        ASSERT_TRUE(t.run("CREATE INDEX ixAd ON T (Ad)").isOk());
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(t.run("INSERT INTO T (Id, Ad) VALUES (" + std::to_string(i) + ", 'ad " + std::to_string(i) + "')").isOk());
        {
            // Write the index again from slightly wrong entries.
            auto table = t.db->table(u"T");
            ASSERT_TRUE(table.isOk());
            const TableDef& def = (**table).def();
            const RealIndexDef& ix = def.realIndexes()[0];
            std::vector<IndexKeyEntry> entries;
            auto scanner = (**table).scan();
            ASSERT_TRUE(scanner.isOk());
            while (*scanner->next()) {
                auto e = indexEntryFor(def, ix, *scanner->values(), t.db->header().sortLcid, t.db->header().sortVersion);
                ASSERT_TRUE(e.isOk() && e->has_value());
                (*e)->row = scanner->pointer();
                entries.push_back(**e);
            }
            if (damage == Damage::KeyChanged) entries[7].key.back() ^= 0x01;
            if (damage == Damage::EntryMissing) entries.erase(entries.begin() + 7);
            if (damage == Damage::EntryAdded) entries.push_back({entries[3].key, RowPointer{entries[3].row.page, 200}});
            PageAllocator allocator(t.db->pager());
            ASSERT_TRUE(rebuildIndex(allocator, def.firstPage(), ix, entries).isOk());
            ASSERT_TRUE(t.db->pager().commit().isOk());
        }
        t.reopen();
        const std::vector<uint8_t> before = ddltest::fileBytes(t.path);
        Status s = t.run("INSERT INTO T (Id, Ad) VALUES (99, 'yeni')");
        // A missing or extra entry is damage, which Access's repair mends; a
        // changed key may be another writer's rule.
        EXPECT_EQ(s.code(), damage == Damage::KeyChanged ? ErrorCode::NotSupported : ErrorCode::Corruption) << s.toString();
        EXPECT_NE(s.message().find("not changed"), std::string::npos) << s.message();
        if (damage != Damage::KeyChanged) {
            EXPECT_NE(s.message().find("Compact and Repair"), std::string::npos) << s.message();
        }
        EXPECT_EQ(ddltest::fileBytes(t.path), before);
        // A table without the damaged index can still be written.
        ASSERT_TRUE(t.run("CREATE TABLE U (Id LONG)").isOk());
        EXPECT_TRUE(t.run("INSERT INTO U (Id) VALUES (1)").isOk());
    }
}

}  // namespace
}  // namespace varnika::jet
