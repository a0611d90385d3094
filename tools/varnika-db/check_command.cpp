#include "tools/varnika-db/commands.h"

#include "db/jet/consistency_check.h"
#include "db/jet/database.h"

namespace varnika::tool {

Status runCheck(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Database> db, jet::Database::open(args[0], jet::OpenMode::ReadOnly));
    VK_ASSIGN_OR_RETURN(jet::CheckReport report, jet::checkDatabase(*db));
    for (const std::string& p : report.problems) std::fprintf(out, "problem: %s\n", p.c_str());
    for (const std::string& n : report.notes) std::fprintf(out, "note: %s\n", n.c_str());
    std::fprintf(out, "%zu tables, %zu rows, %zu indexes checked: %s\n", report.tables, report.rows, report.indexes,
                 report.ok() ? "sound" : "NOT SOUND");
    if (!report.ok())
        return corruption(std::to_string(report.problems.size()) + " problem(s) found in " + args[0]);
    return Status::ok();
}

}  // namespace varnika::tool
