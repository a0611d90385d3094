// Writing and selecting on a large indexed table, record by record, as the
// bulk operations do: inserts, an update of the indexed text of every tenth
// row, deletes of a tenth of the rows, and selections of 1% of the rows by
// an unindexed and by an indexed column. Prints records per second and the
// peak memory after each step.
// usage: bench_million_rows [ROWS] [FOLDER]

#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/jet/table/table_writer.h"
#include "db/text.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace varnika;
using Clock = std::chrono::steady_clock;

namespace {

long peakMegabytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

void report(const char* step, uint64_t records, Clock::time_point since)
{
    const double s = std::chrono::duration<double>(Clock::now() - since).count();
    std::printf("%-44s %9llu records %8.2f s %11.0f records/s  peak %4ld MB\n", step,
                static_cast<unsigned long long>(records), s, double(records) / s, peakMegabytes());
    std::fflush(stdout);
}

[[noreturn]] void fail(const Status& s)
{
    std::fprintf(stderr, "%s\n", s.toString().c_str());
    std::exit(1);
}

void check(const Status& s)
{
    if (!s.isOk()) fail(s);
}

const char16_t* const kUnits[] = {u"Adet", u"Kutu", u"\u015ei\u015fe", u"\u00c7uval", u"Metre", u"Kilo", u"Paket",
                                  u"Rulo", u"\u0130\u011fne", u"Tabaka"};

// 100 different texts, so each one is 1% of the rows.
std::u16string unitFor(uint64_t i)
{
    return std::u16string(kUnits[i % 10]) + u" " + fromUtf8(std::to_string((i / 10) % 10));
}

uint64_t selectCount(const std::string& path, const std::u16string& source)
{
    DataControl data;
    data.SetDatabaseName(fromUtf8(path));
    data.SetRecordSource(source);
    check(data.Refresh());
    RecordSet& rs = *data.Recordset();
    uint64_t n = 0;
    while (true) {
        auto eof = rs.Eof();
        if (!eof.isOk()) fail(eof.status());
        if (*eof) break;
        ++n;
        check(rs.MoveNext());
    }
    (void)rs.Close();
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint64_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
    const std::string path = (folder / "bench_million_rows.mdb").string();
    std::filesystem::remove(path);
    std::filesystem::remove(path + "-journal");

    jet::NewDatabaseOptions options;
    options.sortOrderLcid = 0x041F;
    check(jet::createDatabaseFile(path, options));
    {
        auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
        if (!db.isOk()) fail(db.status());
        jet::DdlExecutor ddl(*db, RegionalSettings::turkish());
        check(ddl.execute(u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(30), Tarih DATETIME, "
                          u"Alacak CURRENCY, Borc CURRENCY)"));
        check(ddl.execute(u"CREATE INDEX ixBirim ON Stok (Birim)"));

        auto table = (*db)->table(u"Stok");
        if (!table.isOk()) fail(table.status());
        auto change = (*db)->changeTable(**table);
        if (!change.isOk()) fail(change.status());
        jet::TableWriter& writer = *change->writer;

        std::vector<jet::RowPointer> placed;
        placed.reserve(rows);
        auto t0 = Clock::now();
        for (uint64_t i = 0; i < rows; ++i) {
            std::vector<Variant> v{Variant(), Variant::text(unitFor(i)), Variant::date(40000.0 + double(i % 3650) + 0.5),
                                   Variant::currency(Currency{int64_t(i % 100) * 10000}),
                                   Variant::currency(Currency{int64_t(i) * 25})};
            auto r = writer.insertRow(std::move(v));
            if (!r.isOk()) fail(r.status());
            placed.push_back(*r);
        }
        report("insert (primary key + indexed text)", rows, t0);

        t0 = Clock::now();
        uint64_t updated = 0;
        for (uint64_t i = 0; i < rows; i += 10) {
            auto v = writer.readRow(placed[i]);
            if (!v.isOk()) fail(v.status());
            (*v)[1] = Variant::text(unitFor(i + 1) + u" yeni");
            check(writer.updateRow(placed[i], *v));
            ++updated;
        }
        report("update indexed text of every tenth row", updated, t0);

        t0 = Clock::now();
        uint64_t deleted = 0;
        for (uint64_t i = 5; i < rows; i += 10) {
            check(writer.deleteRow(placed[i]));
            ++deleted;
        }
        report("delete every tenth row", deleted, t0);
    }

    auto t0 = Clock::now();
    uint64_t n = selectCount(path, u"Select * From Stok where Alacak = 7");
    report("select 1% by an unindexed column (matches)", n, t0);
    t0 = Clock::now();
    n = selectCount(path, u"Select * From Stok where Birim = 'Kutu 3'");
    report("select 1% by the indexed text (matches)", n, t0);

    if (std::getenv("BENCH_CHECK")) {
        auto db = jet::Database::open(path, jet::OpenMode::ReadOnly);
        if (!db.isOk()) fail(db.status());
        t0 = Clock::now();
        auto r = jet::checkDatabase(**db);
        if (!r.isOk()) fail(r.status());
        report(r->ok() ? "consistency check: sound" : "consistency check: NOT SOUND", r->rows, t0);
    }
    std::printf("file: %s, %.1f MB\n", path.c_str(), double(std::filesystem::file_size(path)) / 1e6);
    return 0;
}
