// Builds a realistic ledger database for the benchmarks: one table Hareket of
// ROWS records with Turkish text, dates with times, amounts and a memo. The
// rows are inserted into the bare table and the indexes built afterwards,
// which is the quick way to fill a large table.
// usage: bench_make_table FILE ROWS [--sort general|turkish]
//
// The file's text sort order is Turkish, as our users' files are, or General
// (the order other Jet writers such as Jackcess can write indexes in, for
// comparisons on the same file).
//
// Hareket (Id COUNTER primary key, Birim TEXT(20) indexed, Sube TEXT(20),
//          Musteri TEXT(50), Tarih DATETIME, Alacak CURRENCY, Borc CURRENCY,
//          Aciklama MEMO)
// Birim and Sube each take one of ten values in turn, so every value is held
// by exactly a tenth of the records ("Adet", "Merkez" among them); Musteri is
// an upper-case name, as old systems stored them.

#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/jet/table/table_writer.h"
#include "db/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>

using namespace varnika;

namespace {

const char16_t* const kUnits[] = {u"Adet",  u"Kutu", u"Koli",     u"Paket", u"Şişe",
                                  u"Çuval", u"Düzine", u"Kilogram", u"Litre", u"Metre"};
const char16_t* const kBranches[] = {u"Merkez", u"Kadıköy", u"Üsküdar", u"Beşiktaş", u"Çankaya",
                                     u"Karşıyaka", u"Bornova", u"Nilüfer", u"Muratpaşa", u"Şahinbey"};
const char16_t* const kFirstNames[] = {u"AYŞE", u"MEHMET", u"İSMAİL", u"ÖZLEM", u"ÇAĞRI", u"IŞIL",
                                       u"GÜLŞEN", u"ŞÜKRÜ", u"İREM", u"ONUR", u"FATMA", u"IRMAK"};
const char16_t* const kLastNames[] = {u"YILMAZ", u"KAYA",  u"DEMİR",  u"ŞAHİN", u"ÇELİK", u"YILDIZ",
                                      u"ÖZTÜRK", u"AYDIN", u"ARSLAN", u"DOĞAN", u"KILIÇ", u"KOÇ"};
const char16_t* const kWords[] = {u"fatura", u"ödeme", u"iade", u"havale", u"çek", u"senet", u"tahsilat",
                                  u"düzeltme", u"kasa", u"şube", u"müşteri", u"ürün", u"sevkiyat", u"ığdır"};

constexpr double kFirstDay = 43831;  // 1 January 2020 as an OLE date
constexpr int kDays = 1461;          // four years of dates
constexpr int kSecondsPerDay = 86400;

int fail(const Status& s, const char* what)
{
    std::fprintf(stderr, "bench_make_table: %s: %s\n", what, s.toString().c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool sortGiven = argc == 5 && std::string_view(argv[3]) == "--sort";
    const bool general = sortGiven && std::string_view(argv[4]) == "general";
    if ((argc != 3 && !sortGiven) || (sortGiven && !general && std::string_view(argv[4]) != "turkish")) {
        std::fprintf(stderr, "usage: bench_make_table FILE ROWS [--sort general|turkish]\n");
        return 1;
    }
    const std::string path = argv[1];
    const long rows = std::atol(argv[2]);
    if (rows <= 0) {
        std::fprintf(stderr, "bench_make_table: ROWS must be a positive number\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();

    jet::NewDatabaseOptions options;
    options.sortOrderLcid = general ? 0x0409 : 0x041F;
    if (Status s = jet::createDatabaseFile(path, options); !s.isOk()) return fail(s, "create");
    auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
    if (!db.isOk()) return fail(db.status(), "open");
    jet::DdlExecutor ddl(*db, RegionalSettings::unitedStates());
    Status created = ddl.execute(
        u"CREATE TABLE Hareket (Id COUNTER NOT NULL, Birim TEXT(20), Sube TEXT(20), Musteri TEXT(50), Tarih DATETIME, "
        u"Alacak CURRENCY, Borc CURRENCY, Aciklama MEMO)");
    if (!created.isOk()) return fail(created, "create table");
    auto table = (*db)->table(u"Hareket");
    if (!table.isOk()) return fail(table.status(), "table");
    const jet::TableDef& def = (*table)->def();
    auto column = [&](const char16_t* name) { return size_t(def.findColumn(name)); };
    const size_t birim = column(u"Birim"), sube = column(u"Sube"), musteri = column(u"Musteri"),
                 tarih = column(u"Tarih"), alacak = column(u"Alacak"), borc = column(u"Borc"),
                 aciklama = column(u"Aciklama");

    auto change = (*db)->changeTable(**table);
    if (!change.isOk()) return fail(change.status(), "change");
    std::mt19937 random(20101231);
    auto pick = [&](auto& list) { return list[random() % std::size(list)]; };
    for (long i = 0; i < rows; ++i) {
        std::vector<Variant> values(def.columns().size());
        values[birim] = Variant::text(kUnits[i % 10]);
        values[sube] = Variant::text(kBranches[(i / 10) % 10]);
        values[musteri] = Variant::text(std::u16string(pick(kFirstNames)) + u" " + pick(kLastNames));
        const int day = int(random() % kDays), second = int(random() % kSecondsPerDay);
        values[tarih] = Variant::date(kFirstDay + day + double(second) / kSecondsPerDay);
        const int64_t amount = int64_t(random() % 1000000) * 100;  // up to 10 000,00 with whole kuruş
        const bool credit = random() % 2;
        values[alacak] = Variant::currency({credit ? amount : 0});
        values[borc] = Variant::currency({credit ? 0 : amount});
        std::u16string note = u"Kayıt " + toU16(std::to_string(i + 1)) + u":";
        const int words = int(random() % 12) + 3;
        for (int w = words; w > 0; --w) note += (note.empty() ? u"" : u" ") + std::u16string(pick(kWords));
        if (!note.empty()) values[aciklama] = Variant::text(std::move(note));

        auto placed = change->writer->insertRow(std::move(values));
        if (!placed.isOk()) return fail(placed.status(), "insert");
    }
    const double inserted = std::chrono::duration<double>(Clock::now() - start).count();
    for (const char16_t* statement : {u"CREATE UNIQUE INDEX PrimaryKey ON Hareket (Id) WITH PRIMARY",
                                      u"CREATE INDEX ixBirim ON Hareket (Birim)"}) {
        if (Status s = ddl.execute(statement); !s.isOk()) return fail(s, "create index");
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "bench_make_table: %ld records in %.1f s (indexes %.1f s)\n", rows, total, total - inserted);
    return 0;
}
