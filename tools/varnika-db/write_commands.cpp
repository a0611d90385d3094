// create, exec: making a database and changing it from the command line.

#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/text.h"
#include "tools/varnika-db/commands.h"

#include <cstdio>

namespace varnika::tool {

namespace {

constexpr uint16_t kGeneralSortLcid = 0x0409;
constexpr uint16_t kTurkishSortLcid = 0x041F;

// One line of `in` without its line break; false at the end.
bool readLine(std::FILE* in, std::string& line)
{
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(char(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

bool isSkipped(const std::string& line)
{
    size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line.compare(first, 2, "--") == 0;
}

}  // namespace

Status runCreate(const std::vector<std::string>& args, std::FILE*)
{
    jet::NewDatabaseOptions options;
    options.sortOrderLcid = kGeneralSortLcid;
    if (args.size() > 1) {
        std::string sort;
        if (args.size() == 3 && args[1] == "--sort") sort = args[2];
        else if (args.size() == 2 && args[1].rfind("--sort=", 0) == 0) sort = args[1].substr(7);
        else return invalidArgument("unknown option \"" + args[1] + "\" (use --sort general or --sort turkish)");
        if (sort == "turkish") options.sortOrderLcid = kTurkishSortLcid;
        else if (sort != "general") return invalidArgument("unknown sort order \"" + sort + "\" (general or turkish)");
    }
    return jet::createDatabaseFile(args[0], options);
}

Status runExec(const std::vector<std::string>& args, std::FILE*)
{
    VK_ASSIGN_OR_RETURN(auto db, jet::Database::open(args[0], jet::OpenMode::ReadWrite));
    if (!db->isWritable()) {
        const std::string& why = db->pager().readOnlyReason();
        return Status(ErrorCode::ReadOnly, "cannot change " + args[0] + (why.empty() ? "" : ": " + why));
    }
    // SQL literals are read the way Jet reads them, independent of the
    // user's settings.
    jet::DdlExecutor executor(db, RegionalSettings::unitedStates());
    std::string line;
    for (size_t number = 1; readLine(stdin, line); ++number) {
        if (isSkipped(line)) continue;
        Status s = executor.execute(fromUtf8(line));
        if (!s.isOk()) {
            std::fprintf(stderr, "line %zu: %s\n", number, s.message().c_str());
            return Status(s.code(), "");
        }
    }
    if (std::ferror(stdin)) return ioError("the statements could not be read from standard input");
    return Status::ok();
}

}  // namespace varnika::tool
