// Writes one database for each layout Access leaves in real files (see
// tests/support/layout_files.h) into a folder: seeds for the open-database
// fuzzer, and files to try the tools on.
// usage: bench_make_layouts FOLDER

#include "support/layout_files.h"

#include <cstdio>
#include <filesystem>
#include <functional>

using namespace varnika;
using namespace varnika::jet;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    auto moved = [&](const std::function<Status(layouts::MovedRows&)>& damage) {
        return [damage](const std::string& path) -> Status {
            VK_ASSIGN_OR_RETURN(layouts::MovedRows m, layouts::makeMovedRows(path));
            return damage(m);
        };
    };
    const std::vector<std::pair<const char*, std::function<Status(const std::string&)>>> files = {
        {"stale-moved-rows.mdb", [](const std::string& p) { return layouts::makeStaleMovedRows(p).status(); }},
        {"variable-numbers.mdb", [](const std::string& p) { return layouts::makeVariableNumbers(p).status(); }},
        {"stale-row-count.mdb", moved([](layouts::MovedRows& m) { return layouts::setStoredRowCount(*m.db, u"Kitap", 63); })},
        {"moved-row-without-record.mdb", moved([](layouts::MovedRows& m) { return layouts::orphanMovedRow(m).status(); })},
        {"missing-index-entry.mdb", moved([](layouts::MovedRows& m) {
             return layouts::dropIndexEntry(*m.db, u"Kitap", u"ixYazar", m.headers.front());
         })},
        {"moved-bytes-lost.mdb", moved([](layouts::MovedRows& m) { return layouts::loseMovedBytes(m).status(); })},
        {"sort-order-1058.mdb", [](const std::string& p) { return layouts::makeForeignSortOrder(p, 1058).status(); }},
        {"sort-order-2052.mdb", [](const std::string& p) { return layouts::makeForeignSortOrder(p, 2052).status(); }},
    };
    int failed = 0;
    for (const auto& [name, make] : files) {
        const std::filesystem::path path = folder / name;
        std::filesystem::remove(path, ec);
        Status s = make(path.string());
        if (!s.isOk()) {
            std::fprintf(stderr, "%s: %s\n", name, s.toString().c_str());
            ++failed;
        }
    }
    return failed ? 1 : 0;
}
