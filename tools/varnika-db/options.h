#pragma once
// The command line of the read and write commands, taken apart the way
// mdbtools and most Unix tools take theirs: short options (-H, -d ';' or
// -d';', several switches together as -HQ), long options (--json,
// --sort turkish or --sort=turkish), "--" before arguments that begin with
// a dash. Anything else is a positional argument.

#include "db/status.h"

#include <map>
#include <string>
#include <vector>

namespace varnika::tool {

struct OptionSpec {
    const char* longName;  // without the dashes
    char shortName;        // 0 when there is none
    bool takesValue;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // by long name; "" for a switch

    bool has(const std::string& longName) const { return options.count(longName) != 0; }
    const std::string& value(const std::string& longName) const { return options.at(longName); }
};

// Fails (InvalidArgument, a usage fault) on an unknown option, an option
// given twice, a missing value, a value given to a switch, or fewer than
// `minPositional` / more than `maxPositional` positional arguments (named
// in the message by `positionalNames`, e.g. "FILE TABLE").
Result<ParsedArgs> parseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                             size_t minPositional, size_t maxPositional, const char* positionalNames);

}  // namespace varnika::tool
