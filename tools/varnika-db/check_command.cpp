#include "tools/varnika-db/commands.h"

#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"
#include "tools/varnika-db/options.h"

namespace varnika::tool {

Outcome runCheck(const std::vector<std::string>& args, std::FILE* out)
{
    Result<ParsedArgs> a = parseArgs(args, {}, 1, 1, "FILE");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    const std::string& file = a->positional[0];
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Database> db, jet::Database::open(file, jet::OpenMode::ReadOnly));
    VK_ASSIGN_OR_RETURN(jet::CheckReport report, jet::checkDatabase(*db));
    for (const std::string& p : report.problems) std::fprintf(out, "problem: %s\n", p.c_str());
    for (const std::string& n : report.notes) std::fprintf(out, "note: %s\n", n.c_str());
    std::fprintf(out, "%zu tables, %zu rows, %zu indexes checked: %s\n", report.tables, report.rows, report.indexes,
                 report.ok() ? "sound" : "NOT SOUND");
    if (!report.ok())
        return corruption(std::to_string(report.problems.size()) + " problem(s) found in " + file);
    return Status::ok();
}

}  // namespace varnika::tool
