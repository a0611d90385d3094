#pragma once
// The guard against a power cut. The rollback journal makes each commit all
// or nothing against a killed process, whose writes the operating system
// still carries to the disk; but it is not forced to the disk itself, so
// after a power cut the database may hold any mix of recent page writes.
//
// This second journal ("<file>-safepoint") is forced to the disk, and keeps
// the database's pages as they were at the last safe point: before a commit
// first changes a page that existed at the safe point, the page's bytes as
// they were then are appended here and the journal is synced. At a safe
// point (every second or so during a run, and when the file is closed) the
// database is synced and the journal starts again. After a power cut (the
// machine has started again since the journal was begun), the next open puts
// those pages back and cuts the file to its size at the safe point: the file
// is then exactly as it was at the safe point, whole and consistent, and the
// changes since then are lost. After a killed process (the same boot), the
// journal is not used: the rollback journal puts back only the commit in hand.
//
// Layout: a 64-byte header (magic, page size, page count at the safe point,
// epoch, boot id), then entries of {u32 page, u32 zero, u64 checksum, page
// bytes} of the page size the header names. Each entry's checksum covers the epoch, so entries of an earlier
// epoch left further in the file, and a torn last entry, end the list.

#include "db/jet/file/page_file.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace varnika::jet {

class SafePointJournal {
public:
    SafePointJournal(std::unique_ptr<PageFile> file, std::string bootId, size_t pageSize = kPageSize)
        : m_file(std::move(file)), m_bootId(std::move(bootId)), m_pageSize(pageSize) {}
    // The size of the database's pages (4096, or 2048 for a Jet 3 file).
    void setPageSize(size_t pageSize) { m_pageSize = pageSize; }

    // Begins a new epoch for a database of `pageCount` pages: from now on
    // the journal describes the database as it is at this instant, which
    // must already be on the disk (the caller syncs the database first).
    Status start(uint32_t pageCount);
    bool started() const { return m_started; }
    // Whether `page` needs its bytes journaled before it is first changed.
    bool needs(uint32_t page) const { return m_started && page < m_pageCount && !m_protected.count(page); }
    // Notes that a commit changes `page`, one of the database's pages at
    // the safe point; whether one was, since the safe point.
    void noteChanged(uint32_t page)
    {
        if (m_started && page < m_pageCount) m_changed.insert(page);
    }
    bool changed(uint32_t page) const { return m_changed.count(page) != 0; }
    // Appends the bytes `page` had at the safe point (not yet synced).
    // Entries are gathered in memory and written together, by sync() or
    // once enough of them are waiting.
    Status add(uint32_t page, const PageBuffer& original);
    // Writes what was added and forces every entry written since the last
    // sync to the disk; nothing to do when there is none. On a failed
    // write, the pages whose entries may not have reached the file count
    // as not journaled: they are added again before they are first
    // changed. After a failed sync the next sync tries again.
    Status sync();
    // Writes what was added and starts its sync, which goes on while the
    // caller works (PageFile::startSync); the next sync() completes it.
    Status syncInBackground();
    size_t entries() const { return m_protected.size(); }
    // The database's page count at the safe point.
    uint32_t pageCount() const { return m_pageCount; }

    PageFile& file() { return *m_file; }

private:
    Status writeHeader(uint64_t epoch, uint32_t pageCount);
    // Writes the gathered entries at m_end in one write.
    Status writePending();

    std::unique_ptr<PageFile> m_file;
    std::string m_bootId;
    size_t m_pageSize;
    bool m_started = false;
    uint64_t m_epoch = 0;
    uint32_t m_pageCount = 0;
    uint64_t m_end = 0;  // where the next entry goes
    std::unordered_set<uint32_t> m_protected;
    std::unordered_set<uint32_t> m_changed;
    // Entries added but not yet written: m_pendingBytes of them, in room
    // made once and never cleared (add() sets every byte it hands out).
    std::unique_ptr<uint8_t[]> m_pending;
    size_t m_pendingBytes = 0;
    std::vector<uint32_t> m_pendingPages;   // their pages
    bool m_unsynced = false;                // entries written since the last sync
};

// The safe-point journal's path for a database path.
std::string safePointPathFor(const std::string& databasePath);

// After a power cut (the journal was begun under another boot id than
// `bootId`): puts the database back as it was at the last safe point and
// empties the journal. Returns whether it did; false when the journal is
// empty, of an earlier epoch only, or from this boot (a killed process).
Result<bool> rollBackAfterPowerLoss(PageFile& database, PageFile& journal, const std::string& bootId);

}  // namespace varnika::jet
