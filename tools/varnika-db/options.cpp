#include "tools/varnika-db/options.h"

namespace varnika::tool {

Result<ParsedArgs> parseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                             size_t minPositional, size_t maxPositional, const char* positionalNames)
{
    ParsedArgs parsed;
    auto add = [&](const OptionSpec& spec, std::string value) -> Status {
        if (parsed.has(spec.longName)) return invalidArgument(std::string("the option --") + spec.longName + " is given twice");
        parsed.options.emplace(spec.longName, std::move(value));
        return Status::ok();
    };
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionSpec* spec = nullptr;
            for (const OptionSpec& s : specs)
                if (name == s.longName) spec = &s;
            if (!spec) return invalidArgument("unknown option \"--" + name + "\"");
            std::string value;
            if (spec->takesValue) {
                if (equals != std::string::npos) value = arg.substr(equals + 1);
                else if (i + 1 < args.size()) value = args[++i];
                else return invalidArgument("the option --" + name + " needs a value");
            } else if (equals != std::string::npos) {
                return invalidArgument("the option --" + name + " takes no value");
            }
            VK_RETURN_IF_ERROR(add(*spec, std::move(value)));
            continue;
        }
        // One or more short options: -H, -HQ, -d, -d';', -Hd ';'.
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionSpec* spec = nullptr;
            for (const OptionSpec& s : specs)
                if (s.shortName != 0 && arg[k] == s.shortName) spec = &s;
            if (!spec) return invalidArgument("unknown option \"-" + std::string(1, arg[k]) + "\"");
            if (!spec->takesValue) {
                VK_RETURN_IF_ERROR(add(*spec, ""));
                continue;
            }
            std::string value;
            if (k + 1 < arg.size()) value = arg.substr(k + 1);
            else if (i + 1 < args.size()) value = args[++i];
            else return invalidArgument("the option -" + std::string(1, spec->shortName) + " needs a value");
            VK_RETURN_IF_ERROR(add(*spec, std::move(value)));
            break;
        }
    }
    if (parsed.positional.size() < minPositional)
        return invalidArgument(std::string("missing arguments: ") + positionalNames + " expected");
    if (parsed.positional.size() > maxPositional)
        return invalidArgument("unexpected argument \"" + parsed.positional[maxPositional] + "\"");
    return parsed;
}

}  // namespace varnika::tool
