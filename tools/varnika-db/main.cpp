// varnika-db: the database engine from the command line.

#include "tools/varnika-db/commands.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace varnika::tool;

const Command kCommands[] = {
    {"tables", "FILE", 1, runTables},
    {"columns", "FILE TABLE", 2, runColumns},
    {"export", "FILE TABLE", 2, runExport},
    {"check", "FILE", 1, runCheck},
    {"create", "FILE [--sort general|turkish]", 1, runCreate, 2},
    {"exec", "FILE  (statements on standard input, one a line)", 1, runExec},
    {"replace",
     "FILE --table T --field F --old O --new N [--numeric] [--date] [--datetime] [--and X]\n"
     "                     [--field2 F2 --new2 V2] [--debit-to-credit | --credit-to-debit] [--progress]",
     1, runReplace, kManyOptions},
    {"titlecase", "FILE --table T --field F [--progress]", 1, runTitleCase, kManyOptions},
    {"delete-all", "FILE --source RECORDSOURCE [--progress]", 1, runDeleteAll, kManyOptions},
};

int usage()
{
    std::fprintf(stderr, "usage:\n");
    for (const Command& c : kCommands) std::fprintf(stderr, "  varnika-db %s %s\n", c.name, c.usage);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return usage();
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        if (args.size() < c.argumentCount || args.size() > c.argumentCount + c.optionalArgumentCount) {
            std::fprintf(stderr, "usage: varnika-db %s %s\n", c.name, c.usage);
            return 1;
        }
        varnika::Status s = c.run(args, stdout);
        if (std::fflush(stdout) != 0 && s.isOk()) s = varnika::ioError("the output could not be written");
        if (!s.isOk()) {
            if (s.message().empty()) return 1;
            std::fprintf(stderr, "varnika-db: %s\n", s.toString().c_str());
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "varnika-db: unknown command \"%s\"\n", argv[1]);
    return usage();
}
