#pragma once
// Rollback journal. Before the pages of one commit overwrite the database,
// their original bytes go to a journal file beside it; once the database
// pages are written the journal is emptied. A journal that is still complete
// when the database is next opened means a commit was cut short: its
// original pages are put back, so every commit is all or nothing.
//
// Layout: a 32-byte header, then entries of {u32 page number, page bytes};
// the header names the page size (4096, or 2048 for a Jet 3 file).
// The header carries a checksum of the entries, so a journal cut short while
// being written is ignored (the database was not touched yet). The entries
// are written before the header, and synced before it when the journal is.

#include "db/jet/file/page_file.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <memory>
#include <vector>

namespace varnika::jet {

struct JournalEntry {
    uint32_t page;
    PageBuffer original;
};

class Journal {
public:
    explicit Journal(std::unique_ptr<PageFile> file, size_t pageSize = kPageSize)
        : m_file(std::move(file)), m_pageSize(pageSize) {}
    // The size of the database's pages, for the entries begin() writes (a
    // pending journal is read with the size its header names).
    void setPageSize(size_t pageSize) { m_pageSize = pageSize; }

    // Records the original pages and the database's size in pages before a
    // commit. With `durable` the journal reaches the disk before returning.
    Status begin(uint32_t originalPageCount, const std::vector<JournalEntry>& originals, bool durable);
    // The same from the original pages' bytes where they are held.
    struct Original {
        uint32_t page;
        const PageBuffer* bytes;
    };
    Status begin(uint32_t originalPageCount, std::span<const Original> originals, bool durable);
    // begin() over a journal armed by a begin() without entries, for the
    // same size (pages were written past it ahead of the commit): at every
    // instant the journal says at least to cut the file back to that size.
    Status beginOver(uint32_t originalPageCount, std::span<const Original> originals, bool durable);
    // Marks the commit finished: the journal no longer describes a rollback.
    Status finish(bool durable);
    // True while the journal describes a commit that has not finished.
    Result<bool> isArmed();

    // A complete journal left by a commit that did not finish, if any.
    struct Pending {
        uint32_t originalPageCount = 0;
        size_t pageSize = kPageSize;  // bytes of each entry's page (the first of original)
        std::vector<JournalEntry> entries;
    };
    Result<std::optional<Pending>> readPending();

    PageFile& file() { return *m_file; }

private:
    // The entries, then the header.
    Status write(uint32_t originalPageCount, std::span<const Original> originals, bool durable);

    // Entries written to the file at a time (256 KB of Jet 4 pages).
    static constexpr size_t kEntriesPerWrite = 64;

    std::unique_ptr<PageFile> m_file;
    size_t m_pageSize;
    std::vector<uint8_t> m_run;  // the entries of one write
};

// The journal's path for a database path.
std::string journalPathFor(const std::string& databasePath);

// Puts back the pages of a pending journal into the database file and cuts it
// to its size before the interrupted commit, then empties the journal.
// Returns whether anything was rolled back.
Result<bool> rollBackPendingJournal(PageFile& database, Journal& journal);

}  // namespace varnika::jet
