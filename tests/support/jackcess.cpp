#include "support/jackcess.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace varnika::test {

namespace fs = std::filesystem;

std::optional<fs::path> jcheckPath()
{
    static const std::optional<fs::path> found = []() -> std::optional<fs::path> {
        fs::path script;
        if (const char* v = std::getenv("VARNIKA_JCHECK"); v && *v) {
            script = v;
        } else {
            auto fixtures = fixturesDir();
            if (!fixtures) return std::nullopt;
            script = fixtures->parent_path() / "tools" / "jcheck" / "jcheck";
        }
        if (!fs::exists(script) || !haveProgram("java")) return std::nullopt;
        for (const char* jar : {"/usr/share/java/commons-lang3.jar", "/usr/share/java/commons-logging.jar"})
            if (!fs::exists(jar)) return std::nullopt;
        return fs::absolute(script);
    }();
    return found;
}

CommandResult jcheck(const std::vector<std::string>& args)
{
    auto script = jcheckPath();
    if (!script) return {};
    std::vector<std::string> argv{script->string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv);
}

std::optional<fs::path> jackcessDatabase(const std::string& layout, std::string* error)
{
    fs::path dir;
    if (const char* v = std::getenv("VARNIKA_TEST_CACHE"); v && *v) dir = v;
    else dir = fs::temp_directory_path() / "varnika-test-cache";
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::ostringstream name;
    name << "jackcess-" << std::hex << std::hash<std::string>{}(layout);
    const fs::path file = dir / (name.str() + ".mdb");

    // One maker at a time; the others wait and find the file made.
    const fs::path lockPath = dir / (name.str() + ".lock");
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    std::optional<fs::path> made;
    if (fs::exists(file)) {
        made = file;
    } else {
        const fs::path layoutFile = dir / (name.str() + ".json");
        const fs::path partial = dir / (name.str() + ".partial.mdb");
        std::ofstream(layoutFile) << layout;
        CommandResult r = jcheck({"make", "-f", layoutFile.string(), partial.string()});
        if (r.exitCode == 0 && fs::exists(partial)) {
            fs::rename(partial, file, ec);
            if (!ec) made = file;
        } else if (error) {
            *error = "jcheck make failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
        }
    }
    if (lock >= 0) ::close(lock);
    return made;
}

std::vector<std::string> jcheckRows(const fs::path& file, const std::string& table)
{
    std::vector<std::string> rows;
    CommandResult r = jcheck({"dump", file.string(), table});
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.front() == '{') rows.push_back(line);
    return rows;
}

std::optional<std::string> jcheckProblems(const fs::path& file)
{
    CommandResult r = jcheck({"verify", file.string()});
    if (r.exitCode == 0 && r.out.find("problems=0") != std::string::npos) return std::nullopt;
    return "jcheck verify exit " + std::to_string(r.exitCode) + ":\n" + r.out + r.err;
}

}  // namespace varnika::test
