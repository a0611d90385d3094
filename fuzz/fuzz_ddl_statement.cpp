// Any bytes, read as UTF-16, as a statement: parsed, and when it parses,
// carried out on a small database in memory (a Stok table with an index and
// a few records), which must then pass the consistency check. A statement
// that is refused must leave the database as it was. The same bytes after
// the text of an INSERT up to its values must be read by the parser of a
// run of statements, which read that INSERT before, as by itself alone.
#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/sql/ddl_statement.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

namespace {

using namespace varnika;

std::shared_ptr<jet::Database> openInMemory(std::vector<uint8_t> bytes)
{
    auto db = jet::Database::open(std::make_unique<jet::MemoryPageFile>(std::move(bytes)));
    if (!db.isOk()) std::abort();
    return *db;
}

const std::vector<uint8_t>& baseDatabase()
{
    static const std::vector<uint8_t> bytes = [] {
        jet::NewDatabaseOptions o;
        o.sortOrderLcid = 0x041F;
        auto empty = jet::buildEmptyDatabase(o);
        if (!empty.isOk()) std::abort();
        auto db = openInMemory(*empty);
        jet::DdlExecutor ddl(db, RegionalSettings::turkish());
        const char16_t* statements[] = {
            (u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Depo SHORT, Tarih DATETIME, Aciklama MEMO, "
             u"Alacak CURRENCY, Borc CURRENCY)"),
            u"CREATE INDEX ixBirim ON Stok (Birim)",
            u"INSERT INTO Stok (Birim, Depo, Tarih, Aciklama, Alacak, Borc) VALUES ('Adet', 1, #12/31/2010#, 'a\u00e7\u0131klama', 10, 0)",
            u"INSERT INTO Stok (Birim, Depo, Tarih, Aciklama, Alacak, Borc) VALUES ('\u0130\u011fne', 2, Null, Null, 0, 5)",
        };
        for (const char16_t* s : statements)
            if (!ddl.execute(s).isOk()) std::abort();
        auto* file = dynamic_cast<jet::MemoryPageFile*>(&db->pager().file());
        if (!file) std::abort();
        return file->bytes();
    }();
    return bytes;
}

void checkRunParser(const std::u16string& text)
{
    static const std::u16string head = u"INSERT INTO Stok (Birim, Depo) VALUES ";
    jet::DdlStatementParser parser;
    if (!parser.parse(head + u"('Adet', 1)").isOk()) std::abort();
    const std::u16string line = head + text;
    auto inRun = parser.parse(line);
    auto alone = jet::parseDdlStatement(line);
    if (inRun.isOk() != alone.isOk()) std::abort();
    if (!alone.isOk()) {
        if (inRun.status().message() != alone.status().message()) std::abort();
        return;
    }
    const auto* a = std::get_if<jet::InsertInto>(&*alone);
    const auto* b = std::get_if<jet::InsertInto>(&*inRun);
    if (!a || !b || a->table != b->table || a->columns != b->columns || a->dateLiteral != b->dateLiteral ||
        a->values.size() != b->values.size())
        std::abort();
    for (size_t i = 0; i < a->values.size(); ++i)
        if (!(a->values[i] == b->values[i])) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    checkRunParser(text);
    auto statement = jet::parseDdlStatement(text);
    if (!statement.isOk()) return 0;

    const std::vector<uint8_t>& base = baseDatabase();
    auto db = openInMemory(base);
    jet::DdlExecutor ddl(db, RegionalSettings::turkish());
    Status done = ddl.execute(*statement);
    auto* file = dynamic_cast<jet::MemoryPageFile*>(&db->pager().file());
    if (!done.isOk()) {
        if (file->bytes() != base) std::abort();  // a refused statement changed the file
        return 0;
    }
    auto reopened = openInMemory(file->bytes());
    auto report = jet::checkDatabase(*reopened);
    if (!report.isOk() || !report->ok()) std::abort();
    return 0;
}
