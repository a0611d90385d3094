#include "db/jet/table/row_runs.h"

#include "db/jet/table/page_runs.h"
#include "db/text.h"

#include <exception>
#include <memory>
#include <system_error>
#include <thread>

namespace varnika::jet {
namespace {

// A table of this many pages (2 MB of Jet 4 pages) or more has its rows
// read by two threads: below, starting one costs more than it saves.
constexpr size_t kPagesWorthASecondThread = 512;
// Clean pages a pager that reads for another thread keeps: the rows are
// read page after page; a long value's pages are met again now and then.
constexpr size_t kReaderCachePages = 64;

}  // namespace

Status readRowsInRuns(Table& table, std::span<const uint32_t> pages, const RowRunReader& read,
                      const std::function<void()>& meanwhile)
{
    std::unique_ptr<Pager> reader;
    std::shared_ptr<Table> readerTable;
    if (pages.size() >= kPagesWorthASecondThread) reader = table.pager().readerForThread(kReaderCachePages);
    if (reader) {
        auto t = Table::open(*reader, table.tdefPage(), table.name());
        if (t.isOk()) readerTable = *t;
    }
    if (!readerTable) {
        if (meanwhile) meanwhile();
        return read(table, 0, pages);
    }
    PageRuns runs(pages, kRowRunPages);
    {
        std::jthread other;
        try {
            other = std::jthread([&] {
                try {
                    runs.readWith([&](std::span<const uint32_t> run) { return read(*readerTable, 1, run); });
                } catch (const std::exception& e) {
                    // Not let out of the thread, where it would end the program.
                    runs.refuse(0, Status(ErrorCode::IOError, "the records of table \"" + toUtf8(table.name()) +
                                                                  "\" could not be read (" + e.what() + ")"));
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one reads every run.
        }
        if (meanwhile) meanwhile();
        runs.readWith([&](std::span<const uint32_t> run) { return read(table, 0, run); });
    }  // the other thread has ended
    return runs.verdict();
}

}  // namespace varnika::jet
