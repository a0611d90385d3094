#pragma once
// The independent Jet checker (jcheck, built on the Jackcess library) in the
// tests: databases laid out the way Jackcess lays them out (a global page
// map whose window starts past page 0, maps of its own lengths), and its
// verdict on what our engine wrote.

#include "support/test_support.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnika::test {

// The jcheck script: VARNIKA_JCHECK, or tools/jcheck/jcheck beside the
// fixtures folder; nothing when it or Java (and its jars) are missing.
std::optional<std::filesystem::path> jcheckPath();

#define VK_REQUIRE_JCHECK(var)                                                                       \
    auto var##_opt = ::varnika::test::jcheckPath();                                                  \
    if (!var##_opt) GTEST_SKIP() << "jcheck (Java, Jackcess) is not available; Jackcess-layout test skipped"; \
    const std::filesystem::path var = *var##_opt

// Runs jcheck with the arguments.
CommandResult jcheck(const std::vector<std::string>& args);

// A database that `jcheck make` built from `layout` (its JSON description). Files are kept in
// a cache folder (VARNIKA_TEST_CACHE, or varnika-test-cache in the system's
// temporary folder), named by a hash of the layout, so that each is made once
// for all test programs of a run; a lock keeps two programs from making the
// same one. Nothing (and `error` says why) when jcheck fails.
std::optional<std::filesystem::path> jackcessDatabase(const std::string& layout, std::string* error = nullptr);

// The rows of `table` as `jcheck dump` prints them (one JSON object a line,
// in Jackcess' scan order).
std::vector<std::string> jcheckRows(const std::filesystem::path& file, const std::string& table);

// Whether `jcheck verify` finds every table and index sound; the output
// otherwise.
std::optional<std::string> jcheckProblems(const std::filesystem::path& file);

}  // namespace varnika::test
