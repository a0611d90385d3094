#pragma once
// The commands of varnika-db. Each command group lives in its own file and
// adds its entries to the table in main.cpp.

#include "db/status.h"

#include <cstdio>
#include <string>
#include <vector>

namespace varnika::tool {

// What a command ends with: its Status, or a command line that is not
// right (a usage fault: an unknown or missing option, a missing argument),
// which main reports with the command's usage and exit status 2. A failed
// operation is exit status 1.
class Outcome {
public:
    Outcome(Status status) : m_status(std::move(status)) {}
    static Outcome usage(std::string message)
    {
        Outcome o(invalidArgument(std::move(message)));
        o.m_usage = true;
        return o;
    }
    bool isUsage() const { return m_usage; }
    const Status& status() const { return m_status; }

private:
    Status m_status;
    bool m_usage = false;
};

// Arguments after the command name. Output goes to `out`; a failure is
// printed by main to stderr.
using CommandFunction = Outcome (*)(const std::vector<std::string>& args, std::FILE* out);

struct Command {
    const char* name;
    const char* synopsis;  // the arguments, e.g. "FILE TABLE [-H]"
    const char* summary;   // one line for the list of commands
    const char* help;      // what --help prints after the usage line
    CommandFunction run;
};

// Read commands (read_commands.cpp, schema_command.cpp).
Outcome runTables(const std::vector<std::string>& args, std::FILE* out);
Outcome runColumns(const std::vector<std::string>& args, std::FILE* out);
Outcome runExport(const std::vector<std::string>& args, std::FILE* out);
Outcome runSchema(const std::vector<std::string>& args, std::FILE* out);

// Consistency check (check_command.cpp): reads only; a file found unsound is
// reported on the output and makes the command fail.
Outcome runCheck(const std::vector<std::string>& args, std::FILE* out);

// Write commands (write_commands.cpp). A failure the command already
// reported on stderr comes back with an empty message.
Outcome runCreate(const std::vector<std::string>& args, std::FILE* out);
Outcome runExec(const std::vector<std::string>& args, std::FILE* out);

// The main window's bulk operations (bulk_commands.cpp): FILE and flags, one
// flag per box or check box. The counter's final text goes to the output,
// also after a failure; records saved before a failure stay saved. With
// --dry-run the operation runs on a copy in memory and the records it would
// change are counted (and listed with --list); the file is not written.
Outcome runReplace(const std::vector<std::string>& args, std::FILE* out);
Outcome runTitleCase(const std::vector<std::string>& args, std::FILE* out);
Outcome runDeleteAll(const std::vector<std::string>& args, std::FILE* out);

}  // namespace varnika::tool
