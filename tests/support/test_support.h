#pragma once
// Helpers shared by the test programs: the fixtures folder, temporary
// folders, and running the mdbtools commands that serve as an independent
// reader.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnika::test {

// The folder of real Access-made databases, from VARNIKA_FIXTURES, or
// nothing when the variable is unset (tests that need it then skip).
std::optional<std::filesystem::path> fixturesDir();

// Skips the current test, with a printed notice, when the fixtures are absent.
#define VK_REQUIRE_FIXTURES(var)                                                              \
    auto var##_opt = ::varnika::test::fixturesDir();                                          \
    if (!var##_opt) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped"; \
    const std::filesystem::path var = *var##_opt

// Every .mdb file directly in `dir`, sorted by name.
std::vector<std::filesystem::path> mdbFilesIn(const std::filesystem::path& dir);

// A fresh folder under the system's temporary folder, removed when the
// object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path file(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Copies a file and makes the copy writable.
std::filesystem::path copyWritable(const std::filesystem::path& from, const std::filesystem::path& to);

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs argv[0] with the arguments (no shell), capturing both outputs.
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input = {});

// Whether a program is on the PATH.
bool haveProgram(const std::string& name);

// The folder of the build (for finding varnika-db).
std::filesystem::path binaryDir();
// The varnika-db program of the build.
std::string varnikaDb();

// A text's lines, without their line ends.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace varnika::test
