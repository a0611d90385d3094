// Scans every table of a database and prints rows per second.
// usage: bench_scan FILE [REPEATS]

#include "db/jet/database.h"
#include "db/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace varnika;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_scan FILE [REPEATS]\n");
        return 1;
    }
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    auto db = jet::Database::open(argv[1], jet::OpenMode::ReadOnly);
    if (!db.isOk()) {
        std::fprintf(stderr, "%s\n", db.status().toString().c_str());
        return 1;
    }
    double openSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("open + table list: %.3f ms, %zu tables\n", openSeconds * 1000, (*db)->catalog().tables().size());
    uint64_t totalRows = 0;
    double totalSeconds = 0;
    for (const auto& e : (*db)->catalog().tables()) {
        auto table = (*db)->table(e.name);
        if (!table.isOk()) {
            std::fprintf(stderr, "%s: %s\n", toUtf8(e.name).c_str(), table.status().toString().c_str());
            return 1;
        }
        uint64_t rows = 0;
        auto t0 = Clock::now();
        for (int r = 0; r < repeats; ++r) {
            auto scanner = (*table)->scan();
            if (!scanner.isOk()) return 1;
            while (true) {
                auto more = scanner->next();
                if (!more.isOk()) {
                    std::fprintf(stderr, "%s\n", more.status().toString().c_str());
                    return 1;
                }
                if (!*more) break;
                auto values = scanner->values();
                if (!values.isOk()) {
                    std::fprintf(stderr, "%s\n", values.status().toString().c_str());
                    return 1;
                }
                ++rows;
            }
        }
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        totalRows += rows;
        totalSeconds += s;
        std::printf("%-28s %8llu rows/scan  %10.0f rows/s\n", toUtf8(e.name).c_str(),
                    static_cast<unsigned long long>(rows / uint64_t(repeats)), s > 0 ? double(rows) / s : 0.0);
    }
    std::printf("total: %llu rows in %.3f s over %d scans: %.0f rows/s\n", static_cast<unsigned long long>(totalRows),
                totalSeconds, repeats, totalSeconds > 0 ? double(totalRows) / totalSeconds : 0.0);
    return 0;
}
