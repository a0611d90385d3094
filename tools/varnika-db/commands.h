#pragma once
// The commands of varnika-db. Each command group lives in its own file and
// adds its entries to the table in main.cpp.

#include "db/status.h"

#include <cstdio>
#include <string>
#include <vector>

namespace varnika::tool {

// Arguments after the command name. Output goes to `out`; a failure is
// returned and printed by main to stderr with exit status 1.
using CommandFunction = Status (*)(const std::vector<std::string>& args, std::FILE* out);

struct Command {
    const char* name;
    const char* usage;  // arguments, e.g. "FILE TABLE"
    size_t argumentCount;
    CommandFunction run;
    size_t optionalArgumentCount = 0;  // allowed after the required ones
};

// Read commands (read_commands.cpp).
Status runTables(const std::vector<std::string>& args, std::FILE* out);
Status runColumns(const std::vector<std::string>& args, std::FILE* out);
Status runExport(const std::vector<std::string>& args, std::FILE* out);

// Consistency check (check_command.cpp): reads only; a file found unsound is
// reported on the output and makes the command fail.
Status runCheck(const std::vector<std::string>& args, std::FILE* out);

// Write commands (write_commands.cpp). A failure the command already
// reported on stderr comes back with an empty message.
Status runCreate(const std::vector<std::string>& args, std::FILE* out);
Status runExec(const std::vector<std::string>& args, std::FILE* out);

// The main window's bulk operations (bulk_commands.cpp): FILE and flags, one
// flag per box or check box. The counter's final text goes to the output,
// also after a failure; records saved before a failure stay saved.
Status runReplace(const std::vector<std::string>& args, std::FILE* out);
Status runTitleCase(const std::vector<std::string>& args, std::FILE* out);
Status runDeleteAll(const std::vector<std::string>& args, std::FILE* out);

// Room for every flag of a command that takes its inputs as flags.
constexpr size_t kManyOptions = 64;

}  // namespace varnika::tool
