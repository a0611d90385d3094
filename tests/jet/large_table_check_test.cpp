// The passes over a table large enough to have its rows read by two
// threads (the check before a run, and the choice of a Select statement's
// records): whatever the file holds, the outcome (the verdict, or the
// records in their order, or the refusal and every word of it) is the one a
// single thread comes to, reading the same file through a layer, which
// offers no second reader.

#include "db/jet/file/bytes.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/query_executor.h"
#include "db/jet/page/data_page.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/table/table.h"
#include "db/sql/sql_parser.h"
#include "support/ddl_test_support.h"
#include "support/layout_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace varnika::jet {
namespace {

namespace fs = std::filesystem;

// A layer that only passes reads and writes on.
class PassOn final : public PageFile {
public:
    explicit PassOn(std::unique_ptr<PageFile> file) : m_file(std::move(file)) {}
    Status read(uint64_t offset, size_t length, uint8_t* out) override { return m_file->read(offset, length, out); }
    Status write(uint64_t offset, const uint8_t* data, size_t length) override { return m_file->write(offset, data, length); }
    Status sync() override { return m_file->sync(); }
    Status truncate(uint64_t size) override { return m_file->truncate(size); }
    uint64_t size() const override { return m_file->size(); }
    bool isWritable() const override { return m_file->isWritable(); }
    const std::string& path() const override { return m_file->path(); }

private:
    std::unique_ptr<PageFile> m_file;
};

PageFileLayer oneThreadOnly(bool oneThread)
{
    if (!oneThread) return {};
    return [](std::unique_ptr<PageFile> f) -> std::unique_ptr<PageFile> { return std::make_unique<PassOn>(std::move(f)); };
}

// Stok: 6,000 records of two long texts, about 670 pages, with indexes on
// Birim and Depo besides the key.
void fillStok(ddltest::NewDb& t)
{
    ASSERT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(255), Depo LONG, Aciklama TEXT(255))").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixBirim ON Stok (Birim)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixDepo ON Stok (Depo)").isOk());
    const std::string filler(200, 'x');
    for (int i = 0; i < 6000; ++i)
        ASSERT_TRUE(t.run("INSERT INTO Stok (Birim, Depo, Aciklama) VALUES ('" + std::string(i % 3 ? "Adet" : "Kutu") +
                          " " + std::to_string(i % 40) + filler + "', " + std::to_string(i % 9) + ", 'Not " +
                          std::to_string(i) + filler + "')")
                        .isOk());
}

struct Verdict {
    Status status;
    size_t verified = 0;
};

// The check a first run on every index of Stok makes, on one thread or two.
Verdict check(const fs::path& file, bool oneThread)
{
    auto db = Database::open(file.string(), OpenMode::ReadWrite, oneThreadOnly(oneThread));
    EXPECT_TRUE(db.isOk()) << db.status().toString();
    if (!db.isOk()) return {db.status()};
    EXPECT_EQ((*db)->pager().readerForThread(1) == nullptr, oneThread);
    auto table = (*db)->table(u"Stok");
    EXPECT_TRUE(table.isOk());
    if (!table.isOk()) return {table.status()};
    EXPECT_GE((**table).ownedPages()->size(), 600u);
    std::vector<size_t> all;
    for (size_t i = 0; i < (**table).def().realIndexes().size(); ++i) all.push_back(i);
    std::set<uint32_t> verified;
    Status s = verifyIndexes(**table, all, (*db)->header().sortLcid, (*db)->header().sortVersion, verified, true);
    return {s, verified.size()};
}

// The records of Stok a Select statement chooses, on one thread or two, as
// "page:row" in their order, or the refusal.
struct Chosen {
    Status status;
    std::vector<std::string> rows;
};

Chosen choose(const fs::path& file, bool oneThread, const std::u16string& source)
{
    auto db = Database::open(file.string(), OpenMode::ReadOnly, oneThreadOnly(oneThread));
    EXPECT_TRUE(db.isOk()) << db.status().toString();
    if (!db.isOk()) return {db.status(), {}};
    EXPECT_EQ((*db)->pager().readerForThread(1) == nullptr, oneThread);
    auto table = (*db)->table(u"Stok");
    auto query = parseRecordSource(source);
    EXPECT_TRUE(table.isOk() && query.isOk());
    if (!table.isOk() || !query.isOk()) return {Status(ErrorCode::IOError, "not set up"), {}};
    auto rows = selectRows(**table, *query, RegionalSettings::unitedStates());
    if (!rows.isOk()) return {rows.status(), {}};
    Chosen c{Status::ok(), {}};
    for (RowPointer r : *rows) c.rows.push_back(std::to_string(r.page) + ":" + std::to_string(r.row));
    return c;
}

// The data pages of Stok, in scan order.
std::vector<uint32_t> dataPagesOf(Database& db)
{
    auto table = db.table(u"Stok");
    EXPECT_TRUE(table.isOk());
    auto pages = (**table).dataPages();
    EXPECT_TRUE(pages.isOk());
    return *pages;
}

// The first record of the data page: its text now ends before it starts.
Status breakFirstRecordOf(Database& db, uint32_t page)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, db.table(u"Stok"));
    VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(db.pager(), RowPointer{page, 0}));
    VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(table->def(), row.bytes()));
    PageBuffer bytes = *row.page;
    putU16(bytes.data() + row.slot.offset, layout.varTableStart, uint16_t(layout.varOffsets[0] - 1));
    VK_RETURN_IF_ERROR(db.pager().write(page, bytes));
    return db.pager().commit();
}

// Each test has a database of its own holding Stok, closed.
class LargeTableCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        fillStok(t);
        ASSERT_FALSE(HasFatalFailure());
        t.db.reset();
        t.executor.reset();
    }
    ddltest::NewDb t;
};

TEST_F(LargeTableCheck, TwoThreadsComeToTheVerdictOfOne)
{
    struct Case {
        const char* what;
        std::function<void(Database&)> damage;
        const char* words;  // in the refusal; null for a sound file
    };
    auto breakAt = [](std::function<size_t(size_t)> which) {
        return [which](Database& db) {
            const std::vector<uint32_t> pages = dataPagesOf(db);
            ASSERT_TRUE(breakFirstRecordOf(db, pages[which(pages.size())]).isOk());
        };
    };
    auto dropEntry = [](std::u16string index, std::function<size_t(size_t)> which) {
        return [index, which](Database& db) {
            const std::vector<uint32_t> pages = dataPagesOf(db);
            ASSERT_TRUE(layouts::dropIndexEntry(db, u"Stok", index, RowPointer{pages[which(pages.size())], 1}).isOk());
        };
    };
    const std::vector<Case> cases = {
        {"sound", [](Database&) {}, nullptr},
        {"a record of the first page", breakAt([](size_t) { return 0; }), "cannot be read"},
        {"a record of the last page", breakAt([](size_t n) { return n - 1; }), "cannot be read"},
        {"a record of a page in the middle", breakAt([](size_t n) { return n / 2; }), "cannot be read"},
        {"records of four pages",
         [&](Database& db) {
             for (auto at : {0.9, 0.3, 0.7, 0.55}) breakAt([at](size_t n) { return size_t(double(n) * at); })(db);
         },
         "cannot be read"},
        {"an entry of a compared index", dropEntry(u"ixBirim", [](size_t n) { return n - 2; }), "an index holds"},
        {"an entry of a counted index", dropEntry(u"ixDepo", [](size_t) { return 3; }), "an index holds"},
        {"an index entry and a record",
         [&](Database& db) {
             dropEntry(u"ixBirim", [](size_t) { return 1; })(db);
             breakAt([](size_t n) { return n - 3; })(db);
         },
         "cannot be read"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const fs::path file = dir.file("stok.mdb");
        fs::copy_file(t.path, file);
        {
            auto db = Database::open(file.string(), OpenMode::ReadWrite);
            ASSERT_TRUE(db.isOk());
            c.damage(**db);
            ASSERT_FALSE(HasFatalFailure()) << c.what;
        }
        const Verdict one = check(file, true);
        const Verdict two = check(file, false);
        EXPECT_EQ(two.status.code(), one.status.code()) << c.what;
        EXPECT_EQ(two.status.message(), one.status.message()) << c.what;
        EXPECT_EQ(two.verified, one.verified) << c.what;
        if (!c.words) {
            EXPECT_TRUE(two.status.isOk()) << c.what << ": " << two.status.toString();
            EXPECT_EQ(two.verified, 3u) << c.what;
        } else {
            EXPECT_NE(two.status.message().find(c.words), std::string::npos) << c.what << ": " << two.status.toString();
        }
    }
}

TEST_F(LargeTableCheck, TwoThreadsChooseTheRecordsOfOne)
{
    const std::vector<std::u16string> sources = {
        u"Select * From Stok where Birim like 'Kutu 1*'",
        u"Select * From Stok where Aciklama like '*7x*'",
        u"Select * From Stok where Depo > 4 and Aciklama like 'Not 5*'",
        u"Select * From Stok where Birim like 'Adet*' order by Aciklama desc",
        u"Select * From Stok where Aciklama = 'Yok'",
        // Through the index on Depo, then each record found read (on most
        // of the pages).
        u"Select * From Stok where Depo = 4",
        u"Select * From Stok where Depo = 2 order by Aciklama desc",
        u"Select * From Stok where Depo = 4 and Aciklama like 'Not 5*'",
    };
    struct Damage {
        const char* what;
        std::function<size_t(size_t)> page;  // of the data pages, the one broken
    };
    const std::vector<Damage> damages = {
        {"sound", nullptr},
        {"a record of a page in the middle", [](size_t n) { return n / 2; }},
        {"a record of the last page", [](size_t n) { return n - 1; }},
    };
    for (const Damage& d : damages) {
        test::TempDir dir;
        const fs::path file = dir.file("stok.mdb");
        fs::copy_file(t.path, file);
        if (d.page) {
            auto db = Database::open(file.string(), OpenMode::ReadWrite);
            ASSERT_TRUE(db.isOk());
            const std::vector<uint32_t> pages = dataPagesOf(**db);
            ASSERT_TRUE(breakFirstRecordOf(**db, pages[d.page(pages.size())]).isOk());
        }
        for (const std::u16string& source : sources) {
            const Chosen one = choose(file, true, source);
            const Chosen two = choose(file, false, source);
            EXPECT_EQ(two.status.code(), one.status.code()) << d.what << ": " << toUtf8(source);
            EXPECT_EQ(two.status.message(), one.status.message()) << d.what << ": " << toUtf8(source);
            EXPECT_EQ(two.rows, one.rows) << d.what << ": " << toUtf8(source);
            if (!d.page) {
                EXPECT_TRUE(two.status.isOk()) << toUtf8(source) << ": " << two.status.toString();
                if (source.find(u"Yok") == std::u16string::npos) {
                    EXPECT_GT(two.rows.size(), 20u) << toUtf8(source);
                }
            }
        }
    }
}

}  // namespace
}  // namespace varnika::jet
