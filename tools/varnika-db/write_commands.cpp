// create, exec: making a database and changing it from the command line.

#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/data_statement.h"
#include "db/text.h"
#include "tools/varnika-db/commands.h"
#include "tools/varnika-db/options.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <variant>
#include <stdio.h>

namespace varnika::tool {

namespace {

constexpr uint16_t kGeneralSortLcid = 0x0409;
constexpr uint16_t kTurkishSortLcid = 0x041F;
constexpr uint16_t kTurkishCodePage = 1254;

// The lines of a stream, one at a time, without their line breaks.
class LineReader {
public:
    explicit LineReader(std::FILE* in) : m_in(in) {}
    ~LineReader() { std::free(m_buffer); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // False at the end. getline keeps every byte of the line, a zero byte
    // too, which the statement's reader then refuses.
    bool next(std::string& line)
    {
        const ssize_t n = ::getline(&m_buffer, &m_capacity, m_in);
        if (n < 0) return false;
        line.assign(m_buffer, size_t(n));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

private:
    std::FILE* m_in;
    char* m_buffer = nullptr;
    size_t m_capacity = 0;
};

bool isSkipped(const std::string& line)
{
    size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line.compare(first, 2, "--") == 0;
}

// The first word of a statement, for telling the kinds apart before any
// of them is parsed.
std::string firstWord(const std::string& line)
{
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    size_t end = start;
    std::string w;
    // ASCII only, whatever the locale: a Turkish one upper-cases i to İ.
    for (; end < line.size(); ++end) {
        char c = line[end];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') break;
        w.push_back(c);
    }
    return w;
}

}  // namespace

Outcome runCreate(const std::vector<std::string>& args, std::FILE*)
{
    Result<ParsedArgs> a = parseArgs(args, {{"sort", 0, true}, {"format", 0, true}}, 1, 1, "FILE");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    jet::NewDatabaseOptions options;
    options.sortOrderLcid = kGeneralSortLcid;
    if (a->has("format")) {
        const std::string& format = a->value("format");
        if (format == "jet3") options.version = jet::JetVersion::Jet3;
        else if (format != "jet4") return Outcome::usage("unknown format \"" + format + "\" (jet4 or jet3)");
    }
    if (a->has("sort")) {
        const std::string& sort = a->value("sort");
        if (sort == "turkish") options.sortOrderLcid = kTurkishSortLcid;
        else if (sort != "general") return Outcome::usage("unknown sort order \"" + sort + "\" (general or turkish)");
    }
    // An Access 97 file keeps its text in the code page of its language.
    if (options.version == jet::JetVersion::Jet3 && options.sortOrderLcid == kTurkishSortLcid)
        options.codePage = kTurkishCodePage;
    return jet::createDatabaseFile(a->positional[0], options);
}

Outcome runExec(const std::vector<std::string>& args, std::FILE* out)
{
    Result<ParsedArgs> a = parseArgs(args, {}, 1, 1, "FILE");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    const std::string& file = a->positional[0];
    VK_ASSIGN_OR_RETURN(auto db, jet::Database::open(file, jet::OpenMode::ReadWrite));
    VK_RETURN_IF_ERROR(db->checkWritable());
    // SQL literals are read the way Jet reads them, independent of the
    // user's settings.
    const RegionalSettings settings = RegionalSettings::unitedStates();
    jet::DdlExecutor executor(db, settings);
    // The statements are written in groups (Pager::beginGroup): each one
    // whole, those before a failure saved before it is reported.
    db->pager().beginGroup();
    auto failed = [&](size_t number, const Status& s) {
        Status saved = db->pager().endGroup();
        std::fflush(out);
        std::fprintf(stderr, "line %zu: %s\n", number, s.message().c_str());
        if (!saved.isOk())
            std::fprintf(stderr, "the statements before it could not be saved: %s\n", saved.message().c_str());
        return Outcome(Status(s.code(), ""));
    };
    // Consecutive INSERTs are carried out together (DdlExecutor::insertAll).
    constexpr size_t kInsertsTogether = 250;
    std::vector<jet::InsertInto> inserts;
    std::vector<size_t> insertLines;
    auto runInserts = [&]() -> std::optional<Outcome> {
        if (inserts.empty()) return std::nullopt;
        size_t done = 0;
        Status s = executor.insertAll(inserts, done);
        const size_t line = done < insertLines.size() ? insertLines[done] : insertLines.back();
        inserts.clear();
        insertLines.clear();
        if (!s.isOk()) return failed(line, s);
        return std::nullopt;
    };
    std::string line;
    LineReader lines(stdin);
    for (size_t number = 1; lines.next(line); ++number) {
        if (isSkipped(line)) continue;
        const std::string word = firstWord(line);
        if (word == "INSERT") {
            Result<jet::DdlStatement> parsed = executor.parse(fromUtf8(line));
            if (parsed.isOk() && std::holds_alternative<jet::InsertInto>(*parsed)) {
                inserts.push_back(std::move(std::get<jet::InsertInto>(*parsed)));
                insertLines.push_back(number);
                if (inserts.size() == kInsertsTogether)
                    if (std::optional<Outcome> stop = runInserts()) return std::move(*stop);
                continue;
            }
            if (std::optional<Outcome> stop = runInserts()) return std::move(*stop);
            if (!parsed.isOk()) return failed(number, parsed.status());
            if (Status s = executor.execute(*parsed); !s.isOk()) return failed(number, s);
            continue;
        }
        if (std::optional<Outcome> stop = runInserts()) return std::move(*stop);
        Status s;
        if (word == "UPDATE" || word == "DELETE") {
            Result<DataStatement> statement = parseDataStatement(fromUtf8(line));
            Result<int64_t> changed = statement.isOk() ? executeDataStatement(db, *statement, settings)
                                                       : Result<int64_t>(statement.status());
            if (changed.isOk())
                std::fprintf(out, "%s %lld record%s\n", word == "UPDATE" ? "updated" : "deleted",
                             static_cast<long long>(*changed), *changed == 1 ? "" : "s");
            s = changed.status();
        } else if (word == "CREATE" || word == "ALTER") {
            s = executor.execute(fromUtf8(line));
        } else {
            s = invalidArgument("only CREATE TABLE, CREATE INDEX, ALTER TABLE, INSERT INTO, UPDATE and DELETE can "
                                "be run here" + (word.empty() ? std::string() : ", not " + word));
        }
        if (!s.isOk()) return failed(number, s);
    }
    if (std::optional<Outcome> stop = runInserts()) return std::move(*stop);
    VK_RETURN_IF_ERROR(db->pager().endGroup());
    if (std::ferror(stdin)) return ioError("the statements could not be read from standard input");
    return Status::ok();
}

}  // namespace varnika::tool
