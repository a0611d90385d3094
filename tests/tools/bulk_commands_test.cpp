// varnika-db replace, titlecase and delete-all against the window's own
// handlers: each command runs on one copy of a database built by our engine,
// the same inputs go through Form1's handlers with the fake window on another
// copy, and both files must hold the same records afterwards.

#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/text.h"
#include "ops/delete_all.h"
#include "ops/fakes.h"
#include "ops/find_replace.h"
#include "support/test_support.h"
#include "tools/varnika-db/headless_window.h"
#include "tools/varnika-db/progress_meter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace varnika {
namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// 60 stock records with every kind of value the operations touch: an indexed
// Turkish text, numbers, dates with and without a time of day, a memo and the
// two ledger amounts; and a small table with a unique index.
void buildDatabase(const std::string& path)
{
    jet::NewDatabaseOptions o;
    o.sortOrderLcid = 0x041F;
    ASSERT_TRUE(jet::createDatabaseFile(path, o).isOk());
    auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    jet::DdlExecutor ddl(*db, RegionalSettings::unitedStates());
    std::vector<std::string> statements = {
        "CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Miktar LONG, Depo SHORT, Tarih DATETIME, "
        "Aciklama MEMO, Alacak CURRENCY, Borc CURRENCY)",
        "CREATE INDEX ixBirim ON Stok (Birim)",
        "CREATE TABLE Kodlar (Id COUNTER PRIMARY KEY, Kod TEXT(10))",
        "CREATE UNIQUE INDEX ixKod ON Kodlar (Kod)",
    };
    const char* units[] = {"Adet", "KUTU", "ırmak suyu", "İSTANBUL ŞUBESİ", "o''neil-smith  ali"};
    for (int i = 0; i < 60; ++i) {
        const std::string time = i % 5 == 0 ? "" : " 14:30:05";
        const std::string amounts = i % 3 == 0 ? "0, 150" : i % 3 == 1 ? "80, 0" : "20, 150";
        statements.push_back("INSERT INTO Stok (Birim, Miktar, Depo, Tarih, Aciklama, Alacak, Borc) VALUES ('" +
                             std::string(units[i % 5]) + "', " + std::to_string(i % 10) + ", " +
                             std::to_string(i % 3 + 1) + ", #12/" + std::to_string(i % 7 + 1) + "/2010" + time +
                             "#, 'not " + std::to_string(i) + "', " + amounts + ")");
    }
    for (int i = 0; i < 5; ++i) statements.push_back("INSERT INTO Kodlar (Kod) VALUES ('K" + std::to_string(i) + "')");
    for (const std::string& s : statements) ASSERT_TRUE(ddl.execute(fromUtf8(s)).isOk()) << s;
}

struct Case {
    const char* name;
    const char* command;  // replace, titlecase or delete-all
    std::vector<std::string> flags;
    // The same inputs as the window has them.
    std::map<TextBox, std::u16string> boxes;
    std::vector<CheckBox> checks;
    const char* recordSource;  // delete-all: the binding the last run left
    const char* table;         // whose records are compared
    int exitCode;
    const char* counter;       // the command's output, without its line break
};

const Case kCases[] = {
    {"text", "replace", {"--table", "Stok", "--field", "Birim", "--old", "Adet", "--new", "Koli"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Birim"}, {TextBox::Text3, u"Adet"}, {TextBox::Text4, u"Koli"}},
     {}, nullptr, "Stok", 0, " Kayıt: 12"},
    {"text with a condition", "replace",
     {"--table", "Stok", "--field", "Birim", "--old", "KUTU", "--new", "Koli", "--and", "and Depo=2"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Birim"}, {TextBox::Text3, u"KUTU"}, {TextBox::Text4, u"Koli"},
      {TextBox::Text6, u"and Depo=2"}},
     {}, nullptr, "Stok", 0, " Kayıt: 4"},
    {"numeric", "replace", {"--table=Stok", "--field=Miktar", "--old=5", "--new=55", "--numeric"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Miktar"}, {TextBox::Text3, u"5"}, {TextBox::Text4, u"55"}},
     {CheckBox::Check1}, nullptr, "Stok", 0, " Kayıt: 6"},
    {"numeric, empty old value: the whole table", "replace",
     {"--table", "Stok", "--field", "Miktar", "--old", "", "--new", "-7", "--numeric"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Miktar"}, {TextBox::Text3, u""}, {TextBox::Text4, u"-7"}},
     {CheckBox::Check1}, nullptr, "Stok", 0, " Kayıt: 60"},
    {"date, dots become slashes", "replace",
     {"--table", "Stok", "--field", "Tarih", "--old", "12.6.2010", "--new", "01.02.2011", "--date"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Tarih"}, {TextBox::Text3, u"12.6.2010"},
      {TextBox::Text4, u"01.02.2011"}},
     {CheckBox::Check5}, nullptr, "Stok", 0, " Kayıt: 2"},
    {"date and time keeps each time of day", "replace",
     {"--table", "Stok", "--field", "Tarih", "--old", "12.03.2010", "--new", "09.10.2011", "--datetime"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Tarih"}, {TextBox::Text3, u"12.03.2010"},
      {TextBox::Text4, u"09.10.2011"}},
     {CheckBox::Check6}, nullptr, "Stok", 0, " Kayıt: 60"},
    {"second field", "replace",
     {"--table", "Stok", "--field", "Birim", "--old", "KUTU", "--new", "Koli", "--field2", "Aciklama", "--new2",
      "Düzeltildi"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Birim"}, {TextBox::Text3, u"KUTU"}, {TextBox::Text4, u"Koli"},
      {TextBox::Text7, u"Aciklama"}, {TextBox::Text8, u"Düzeltildi"}},
     {}, nullptr, "Stok", 0, " Kayıt: 12"},
    {"debit to credit over the whole table", "replace",
     {"--table", "Stok", "--field", "Birim", "--old", "", "--debit-to-credit"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Birim"}, {TextBox::Text3, u""}}, {CheckBox::Check2}, nullptr,
     "Stok", 0, " Kayıt: 60"},
    {"credit to debit on a selection", "replace",
     {"--table", "Stok", "--field", "Depo", "--old", "2", "--numeric", "--credit-to-debit"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Depo"}, {TextBox::Text3, u"2"}},
     {CheckBox::Check1, CheckBox::Check3}, nullptr, "Stok", 0, " Kayıt: 20"},
    {"nothing selected keeps the counter", "replace",
     {"--table", "Stok", "--field", "Birim", "--old", "Yok", "--new", "Koli"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Birim"}, {TextBox::Text3, u"Yok"}, {TextBox::Text4, u"Koli"}},
     {}, nullptr, "Stok", 0, "Kayıt : "},
    {"a duplicate key stops the run after the first record", "replace",
     {"--table", "Kodlar", "--field", "Kod", "--old", "", "--new", "Ayni"},
     {{TextBox::Text5, u"Kodlar"}, {TextBox::Text2, u"Kod"}, {TextBox::Text3, u""}, {TextBox::Text4, u"Ayni"}}, {},
     nullptr, "Kodlar", 1, " Kayıt: 2"},
    {"title case", "titlecase", {"--table", "Stok", "--field", "Birim"},
     {{TextBox::Text5, u"Stok"}, {TextBox::Text2, u"Birim"}}, {CheckBox::Check4}, nullptr, "Stok", 0, "Kayıt : "},
    {"delete all of a query", "delete-all", {"--source", "Select * From Stok where Depo=2"}, {}, {},
     "Select * From Stok where Depo=2", "Stok", 0, "Kayıt : "},
    {"delete all of a table", "delete-all", {"--source", "Kodlar"}, {}, {}, "Kodlar", "Kodlar", 0, "Kayıt : "},
};

class BulkCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        original = dir.file("original.mdb");
        buildDatabase(original.string());
    }

    fs::path copy(const std::string& name) { return test::copyWritable(original, dir.file(name)); }

    std::string records(const fs::path& file, const char* table)
    {
        test::CommandResult r = test::runCommand({test::varnikaDb(), "export", file.string(), table});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }

    void expectSound(const fs::path& file)
    {
        auto db = jet::Database::open(file.string(), jet::OpenMode::ReadOnly);
        ASSERT_TRUE(db.isOk()) << db.status().toString();
        auto report = jet::checkDatabase(**db);
        ASSERT_TRUE(report.isOk());
        for (const auto& p : report->problems) ADD_FAILURE() << file << ": " << p;
    }

    test::TempDir dir;
    fs::path original;
};

TEST_F(BulkCommands, EachCommandLeavesTheRecordsTheWindowLeaves)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path byCommand = copy("command.mdb");
        const fs::path byWindow = copy("window.mdb");

        std::vector<std::string> argv = {test::varnikaDb(), c.command, byCommand.string()};
        argv.insert(argv.end(), c.flags.begin(), c.flags.end());
        test::CommandResult ran = test::runCommand(argv);
        EXPECT_EQ(ran.exitCode, c.exitCode) << ran.err;
        EXPECT_EQ(ran.out, std::string(c.counter) + "\n");
        if (c.exitCode != 0) EXPECT_NE(ran.err.find("varnika-db: "), std::string::npos);
        else EXPECT_EQ(ran.err, "");

        test::FakeWindow window;
        window.texts[TextBox::Text1] = fromUtf8(byWindow.string());
        for (const auto& [box, text] : c.boxes) window.texts[box] = text;
        for (CheckBox check : c.checks) window.checks[check] = true;
        DataControl data;
        Status status;
        if (c.recordSource) {
            data.SetDatabaseName(window.texts[TextBox::Text1]);
            data.SetRecordSource(fromUtf8(c.recordSource));
            status = Command3_Click(window, data);
        } else {
            status = Command1_Click(window, data);
        }
        EXPECT_EQ(status.isOk(), c.exitCode == 0) << status.toString();
        EXPECT_EQ(toUtf8(window.counter), c.counter);

        const std::string before = records(original, c.table);
        const std::string after = records(byCommand, c.table);
        EXPECT_EQ(after, records(byWindow, c.table));
        if (std::string(c.counter) != "Kayıt : " || c.recordSource || std::string(c.command) == "titlecase") {
            EXPECT_NE(after, before) << "the case changes nothing, so it proves nothing";
        }
        expectSound(byCommand);
    }
}

// Records of an export by their first field (the Id).
std::map<std::string, std::string> byId(const std::string& csv)
{
    std::map<std::string, std::string> rows;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) rows[line.substr(0, line.find(','))] = line;
    return rows;
}

TEST_F(BulkCommands, DryRunCountsWhatTheRunChangesAndWritesNothing)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path dry = copy("dry.mdb");
        const std::string bytes = fileBytes(dry);
        const auto filesBefore = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
        std::vector<std::string> argv = {test::varnikaDb(), c.command, dry.string()};
        argv.insert(argv.end(), c.flags.begin(), c.flags.end());
        argv.insert(argv.end(), {"--dry-run", "--list"});
        test::CommandResult ran = test::runCommand(argv);
        EXPECT_EQ(ran.exitCode, c.exitCode) << ran.err;
        EXPECT_EQ(fileBytes(dry), bytes);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), filesBefore)
            << "no journal or other file beside the database";

        // The records the real run changes, as the export shows them.
        const fs::path real = copy("real.mdb");
        argv[2] = real.string();
        argv.resize(argv.size() - 2);
        EXPECT_EQ(test::runCommand(argv).exitCode, c.exitCode);
        const auto before = byId(records(original, c.table));
        const auto after = byId(records(real, c.table));
        size_t changed = 0;
        for (const auto& [id, row] : before) changed += !after.count(id) || after.at(id) != row;

        const std::string verb = std::string(c.command) == "delete-all" ? "be deleted" : "change";
        const std::string summary = "dry run: " + std::to_string(changed) + (changed == 1 ? " record" : " records") +
                                    " would " + verb;
        EXPECT_NE(ran.out.find(summary), std::string::npos) << ran.out;
        size_t listed = 0;
        for (size_t at = ran.out.find("record "); at != std::string::npos; at = ran.out.find("\nrecord ", at + 1)) ++listed;
        EXPECT_EQ(listed, changed) << ran.out;
    }
    // Without --list only the count is printed.
    test::CommandResult quiet = test::runCommand(
        {test::varnikaDb(), "replace", copy("q.mdb").string(), "--table", "Stok", "--field", "Birim", "--old", "Adet", "--new", "Koli",
         "--dry-run"});
    EXPECT_EQ(quiet.out, "dry run: 12 records would change; nothing was written\n");
}

TEST_F(BulkCommands, BadInputChangesNothing)
{
    const fs::path file = copy("kept.mdb");
    const std::string bytes = fileBytes(file);
    const std::string path = file.string();
    struct Bad {
        std::vector<std::string> args;
        const char* message;
        int exitCode = 2;  // a wrong command line; 1: the engine refused
    };
    const Bad cases[] = {
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "Adet", "--new", "Koli", "--colour"},
         "unknown option \"--colour\""},
        {{"replace", path, "--field", "Birim", "--old", "Adet", "--new", "Koli"}, "--table is required"},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--new", "Koli"}, "--old is required"},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "Adet"}, "--new is required"},
        {{"replace", path, "--table", "", "--field", "Birim", "--old", "Adet", "--new", "Koli"}, "--table needs a name"},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "Adet", "--new"}, "--new needs a value"},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "", "--debit-to-credit", "--credit-to-debit"},
         "exclude each other"},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "A", "--new", "B", "--field2", "Aciklama"},
         "--field2 and --new2 go together"},
        {{"replace", path, "--table", "Stok", "--table", "Stok", "--field", "Birim", "--old", "A", "--new", "B"},
         "given twice"},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "A", "--new", "B", "--numeric=yes"},
         "takes no value"},
        {{"replace", path, path, "--table", "Stok", "--field", "Birim", "--old", "A", "--new", "B"}, "more than one file"},
        {{"replace", "--table", "Stok", "--field", "Birim", "--old", "A", "--new", "B"}, "no database file"},
        {{"titlecase", path, "--table", "Stok"}, "--field is required"},
        {{"titlecase", path, "--table", "Stok", "--field", "Birim", "--old", "x"}, "unknown option \"--old\""},
        {{"delete-all", path}, "--source is required"},
        {{"delete-all", path, "--table", "Stok"}, "unknown option \"--table\""},
        {{"delete-all", path, "--source", "Stok", "--list"}, "--list goes with --dry-run"},
        {{"titlecase", path, "--table", "Stok", "--field", "Birim", "--dry-run=yes"}, "takes no value"},
        // The engine refuses these before any record is touched.
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "Adet", "--new", "Koli", "--and", "and Id>"},
         "syntax error", 1},
        {{"replace", path, "--table", "Stok", "--field", "Birim", "--old", "Ad'et", "--new", "Koli"}, "syntax error", 1},
        {{"replace", path, "--table", "Stok", "--field", "Tarih", "--old", "", "--new", "1.1.2011", "--date"}, "", 1},
        {{"replace", path, "--table", "Yok", "--field", "Birim", "--old", "A", "--new", "B"}, "Yok", 1},
        {{"titlecase", path, "--table", "Stok", "--field", "Renk"}, "Renk", 1},
        {{"delete-all", path, "--source", "Select * From Stok where"}, "syntax error", 1},
        {{"delete-all", path, "--source", "Select * From Stok where", "--dry-run"}, "syntax error", 1},
        {{"replace", path, "--table", "Stok", "--field", "Miktar", "--old", "x", "--new", "1", "--numeric", "--dry-run"},
         "x", 1},
    };
    for (const Bad& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        std::vector<std::string> argv = {test::varnikaDb()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        test::CommandResult r = test::runCommand(argv);
        EXPECT_EQ(r.exitCode, c.exitCode);
        if (c.exitCode == 2) {
            EXPECT_NE(r.err.find("usage: varnika-db"), std::string::npos) << r.err;
        }
        if (std::find(c.args.begin(), c.args.end(), "--dry-run") == c.args.end()) {
            EXPECT_EQ(r.out, "");
        }
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(fileBytes(file), bytes);
    }
}

TEST_F(BulkCommands, AMissingFileIsReportedAndNothingIsCreated)
{
    const fs::path missing = dir.file("yok.mdb");
    for (const char* command : {"replace", "titlecase", "delete-all"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> argv = {test::varnikaDb(), command, missing.string()};
        if (std::string(command) == "delete-all") argv.insert(argv.end(), {"--source", "Stok"});
        else argv.insert(argv.end(), {"--table", "Stok", "--field", "Birim", "--old", "A", "--new", "B"});
        if (std::string(command) == "titlecase") argv.resize(7);
        test::CommandResult r = test::runCommand(argv);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);  // original.mdb
    }
}

TEST_F(BulkCommands, ProgressStaysQuietForAShortRun)
{
    const fs::path file = copy("kisa.mdb");
    test::CommandResult r =
        test::runCommand({test::varnikaDb(), "titlecase", file.string(), "--table", "Stok", "--field", "Birim", "--progress"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Kayıt : \n");
}

TEST(ProgressMeter, DrawsOnlyAfterTheQuietTimeAndEndsItsLine)
{
    double now = 100;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    {
        tool::ProgressMeter meter(out, [&] { return now; });
        now = 100.5;
        meter.update(10, 1000);
        EXPECT_FALSE(meter.hasDrawn());
        now = 102;
        meter.update(500, 1000);
        EXPECT_TRUE(meter.hasDrawn());
        now = 102.01;
        meter.update(501, 1000);  // too soon to draw again
        now = 104;
        meter.update(1000, 1000);
        meter.finish();
        meter.finish();
    }
    std::fclose(out);
    const std::string drawn(text, size);
    std::free(text);
    EXPECT_EQ(drawn, "\r" + tool::ProgressMeter::line(500, 1000, 2) + "   \r" +
                         tool::ProgressMeter::line(1000, 1000, 4) + "   \r" +
                         tool::ProgressMeter::line(1000, 1000, 4) + "   \n");
}

TEST(ProgressMeter, LineShowsDoneTotalAndRate)
{
    EXPECT_EQ(tool::ProgressMeter::line(250, 1000, 0.5),
              "[#######-----------------------]  25% 250/1000 records  500 records/s");
    EXPECT_EQ(tool::ProgressMeter::line(1000, 1000, 2), "[##############################] 100% 1000/1000 records  500 records/s");
    EXPECT_EQ(tool::ProgressMeter::line(7, -1, 0), "7 records  0 records/s");
    EXPECT_EQ(tool::ProgressMeter::line(0, 0, 1), "0 records  0 records/s");
}

TEST(HeadlessWindow, BoxesResetTheCounterAsTypingDoes)
{
    tool::HeadlessWindow w;
    EXPECT_EQ(w.counterText(), u"Kay\u0131t : ");
    EXPECT_EQ(w.text(TextBox::Text3), u"0");
    EXPECT_EQ(w.text(TextBox::Text4), u"1");
    w.setCounterText(u" Kay\u0131t: 9");
    w.setText(TextBox::Text2, u"Birim");  // no change behaviour
    EXPECT_EQ(w.counterText(), u" Kay\u0131t: 9");
    w.setText(TextBox::Text3, u"0");  // the same text: nothing changes
    EXPECT_EQ(w.counterText(), u" Kay\u0131t: 9");
    for (TextBox box : {TextBox::Text3, TextBox::Text4, TextBox::Text7, TextBox::Text8}) {
        w.setCounterText(u" Kay\u0131t: 9");
        w.setText(box, u"yeni");
        EXPECT_EQ(w.counterText(), u"Kay\u0131t : ");
    }
    w.setText(TextBox::Text1, u"/a.mdb");
    EXPECT_EQ(w.counterText(), u" Kay\u0131t: 0");
    w.fill(TextBox::Text3, u"sessiz");
    EXPECT_EQ(w.counterText(), u" Kay\u0131t: 0");
    Check2_Click(w);
    w.setChecked(CheckBox::Check2, true);
    Check3_Click(w);
    EXPECT_FALSE(w.isChecked(CheckBox::Check2));
}

}  // namespace
}  // namespace varnika
