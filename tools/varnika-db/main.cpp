// varnika-db: the database engine from the command line.
//
// Exit status: 0 success, 1 the operation failed (its message on stderr),
// 2 the command line is wrong (the usage on stderr).

#include "tools/varnika-db/commands.h"

#include <cstdio>
#include <cstring>

#ifndef VARNIKA_VERSION
#define VARNIKA_VERSION "unknown"
#endif

namespace {

using namespace varnika::tool;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const Command kCommands[] = {
    {"tables", "FILE", "list the user tables, one a line",
     "Lists the user tables of the database, one name a line, in the order the\n"
     "database keeps them (the order of mdb-tables -1).\n",
     runTables},
    {"columns", "FILE TABLE", "list a table's fields: name, type, size",
     "Lists the fields of TABLE, one a line: name, type word and size (characters\n"
     "for TEXT, bytes otherwise), separated by tabs.\n",
     runColumns},
    {"export", "FILE TABLE [-d DELIM] [-H] [-Q] [-D FORMAT] [--json]", "print a table's records as CSV or JSON Lines",
     "Prints the records of TABLE as CSV: a header row of field names, then one\n"
     "line a record. Text, Memo, date, binary and GUID values are quoted (a quote\n"
     "inside is doubled), as mdb-export quotes them; Null is an empty field.\n"
     "Dates print as 2024-12-31 23:59:59, booleans as 1 and 0, binary as hex.\n"
     "\n"
     "  -d, --delimiter DELIM   separate fields with DELIM (\\t for a tab)\n"
     "  -H, --no-header         leave out the header row\n"
     "  -Q, --no-quote          quote no value\n"
     "  -D, --date-format FMT   print dates with the strftime(3) format FMT\n"
     "      --json              one JSON object a line, values typed (numbers,\n"
     "                          true/false, null, text); dates follow -D\n",
     runExport},
    {"schema", "FILE [TABLE]", "print CREATE TABLE and CREATE INDEX statements",
     "Prints, for TABLE or for every user table, the statements that make the\n"
     "table's shape again, one a line: CREATE TABLE with each field's type, size,\n"
     "NOT NULL and DEFAULT, its primary key and unique constraints, then CREATE\n"
     "INDEX for the other indexes. \"varnika-db exec\" runs them on a new file.\n",
     runSchema},
    {"check", "FILE", "check every table's rows, long values and indexes",
     "Reads every table: each row, each Memo and OLE value, each index entry,\n"
     "and reports what is not sound. Fails (status 1) when a problem is found.\n",
     runCheck},
    {"create", "FILE [--sort general|turkish] [--format jet4|jet3]", "make a new, empty database",
     "Makes a new database with no user tables: an Access 2000-2003 file (Jet 4,\n"
     "the default) or, with --format jet3, an Access 97 file (its text in code\n"
     "page 1252, or 1254 with the Turkish order). --sort chooses the sort order\n"
     "of its text (General, the default, or Turkish).\n",
     runCreate},
    {"exec", "FILE", "run statements read from standard input",
     "Runs statements read from standard input, one a line; empty lines and lines\n"
     "starting with -- are skipped. Accepted:\n"
     "  CREATE TABLE, CREATE [UNIQUE] INDEX, ALTER TABLE ... ADD COLUMN\n"
     "  INSERT INTO t [(fields)] VALUES (...)   fields left out take their defaults\n"
     "  UPDATE t SET f = value [, ...] [WHERE condition]\n"
     "  DELETE FROM t [WHERE condition]\n"
     "The conditions are those a record source takes. UPDATE and DELETE print\n"
     "how many records they changed. The first failing statement stops the run\n"
     "with its line number; statements before it stay done.\n",
     runExec},
    {"replace",
     "FILE --table T --field F --old O --new N [--numeric] [--date] [--datetime]\n"
     "       [--and X] [--field2 F2 --new2 V2] [--debit-to-credit | --credit-to-debit]\n"
     "       [--dry-run [--list]] [--progress]",
     "the window's find and replace (\"Değiştir\")",
     "Runs the window's find and replace. --table is \"Tablo\", --field \"Field\",\n"
     "--old \"Eski Veri\", --new \"Yeni Veri\", --and \"And\", --field2/--new2\n"
     "\"2.Field\" and its new value; --numeric \"Numerik\", --date \"Tarih\n"
     "12/31/2010\", --datetime \"Tarih Saatli\", --debit-to-credit \"Borçları Alacak\n"
     "Yap\", --credit-to-debit \"Alacakları Borç Yap\". Prints the record counter's\n"
     "last text.\n"
     "  --dry-run   run on a copy in memory: count the records that would change\n"
     "  --list      with --dry-run, also list them\n"
     "  --progress  draw a progress bar on standard error\n",
     runReplace},
    {"titlecase", "FILE --table T --field F [--dry-run [--list]] [--progress]",
     "the window's Turkish title case of a field",
     "Rewrites the field's text in every record in Turkish title case, as the\n"
     "window's \"Büyü Harf Küçük harf\" option does. --dry-run, --list and\n"
     "--progress as for replace.\n",
     runTitleCase},
    {"delete-all", "FILE --source RECORDSOURCE [--dry-run [--list]] [--progress]",
     "delete the records of a table or a Select statement",
     "Deletes every record of RECORDSOURCE (a table name or \"Select * From t\n"
     "Where ...\"), as the window's \"Hepsini Sil\" does. --dry-run, --list and\n"
     "--progress as for replace.\n",
     runDeleteAll},
};

void printCommandList(std::FILE* to)
{
    std::fprintf(to, "usage: varnika-db COMMAND ARGUMENTS...\n"
                     "       varnika-db COMMAND --help\n"
                     "       varnika-db --version\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(to, "  %-11s %s\n", c.name, c.summary);
    std::fprintf(to, "\nExit status: 0 success, 1 the operation failed, 2 a wrong command line.\n"
                     "See varnika-db(1).\n");
}

void printUsage(std::FILE* to, const Command& c) { std::fprintf(to, "usage: varnika-db %s %s\n", c.name, c.synopsis); }

bool asksForHelp(const std::vector<std::string>& args)
{
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printCommandList(stderr);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--version" || first == "-V") {
        std::printf("varnika-db %s\n", VARNIKA_VERSION);
        return 0;
    }
    const bool helpCommand = first == "help";
    if (first == "--help" || first == "-h" || (helpCommand && argc == 2)) {
        printCommandList(stdout);
        return 0;
    }
    const char* name = helpCommand ? argv[2] : argv[1];
    for (const Command& c : kCommands) {
        if (std::strcmp(name, c.name) != 0) continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        if (helpCommand || asksForHelp(args)) {
            printUsage(stdout, c);
            std::printf("\n%s", c.help);
            return 0;
        }
        Outcome outcome = c.run(args, stdout);
        varnika::Status s = outcome.status();
        if (std::fflush(stdout) != 0 && s.isOk()) s = varnika::ioError("the output could not be written");
        if (outcome.isUsage()) {
            std::fprintf(stderr, "varnika-db %s: %s\n", c.name, s.message().c_str());
            printUsage(stderr, c);
            return kExitUsage;
        }
        if (!s.isOk()) {
            if (!s.message().empty()) std::fprintf(stderr, "varnika-db: %s\n", s.toString().c_str());
            return kExitFailed;
        }
        return 0;
    }
    std::fprintf(stderr, "varnika-db: unknown command \"%s\"\n\n", name);
    printCommandList(stderr);
    return kExitUsage;
}
