#pragma once
// Page cache over a PageFile. Reads are served from a bounded cache; writes
// are held as dirty pages (visible to later reads) until commit() puts them
// into the file, or rollback() forgets them. One engine operation (an Update,
// a Delete, an insert, an ALTER TABLE) is one commit, so a failure halfway
// leaves the file as it was.
//
// A run over many records may group its operations (beginGroup): each
// operation is then a unit that commit() ends and rollback() undoes alone,
// and the finished units reach the file together in one commit, so that a
// page changed by many records is journaled and written once.

#include "db/jet/file/file_system.h"
#include "db/jet/file/jet_format.h"
#include "db/jet/file/page_buffer.h"
#include "db/jet/file/page_cache.h"
#include "db/jet/file/page_file.h"
#include "db/jet/file/unit_undo.h"
#include "db/status.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace varnika::jet {

class Journal;
class SafePointJournal;
// The most pages a file can have: 2 GB of Jet 4 pages, or 1 GB of Jet 3
// pages (Access 97's largest database).
constexpr uint32_t kMaxPages = 524288;
// Pages kept in memory by default (2 MB of Jet 4 pages). The system keeps
// the file's pages too, and reads them again for little: a larger cache
// mostly costs the first touch of its memory, which made every bulk run
// slower, up to 20% on 100,000 records.
constexpr size_t kDefaultCachePages = 512;
// The most pages read at once when reads go through the file in order.
constexpr size_t kReadAheadPages = 32;
// The most pages a walk through the file may pass over between two reads
// and still be read ahead.
constexpr uint32_t kReadAheadGap = 8;

// Work the units of a group hold back until the group is written (the
// index entries of a run's records, written together in key order). The
// pager has it done through itself just before the finished units go to the
// file, as a step of its own that it takes back should it or the write fail.
class HeldBackWork {
public:
    virtual ~HeldBackWork() = default;
    // Whether anything is held back.
    virtual bool pending() const = 0;
    // Writes what the finished units and the unit in hand held back; may be
    // asked again after a failure was taken back, and holds on to the work
    // until forget().
    virtual Status complete() = 0;
    // The unit in hand ended: what it held back is the finished units'.
    virtual void unitFinished() = 0;
    // The unit in hand was undone: what it held back is forgotten.
    virtual void unitUndone() = 0;
    // The units were written, or lost: everything held back is forgotten.
    virtual void forget() = 0;
};

class Pager {
public:
    // `cachePages` bounds the memory of clean cached pages (dirty pages are
    // held until commit regardless). The file's layout (Jet 3 or Jet 4, and
    // with it the page size) is told by its header (detectJetVersion).
    explicit Pager(std::unique_ptr<PageFile> file, size_t cachePages = kDefaultCachePages);
    ~Pager();

    // Opens a database file in `files` with its rollback journal: a journal
    // left by an interrupted commit is rolled back first (or, when the file
    // can only be read, its original pages are shown in place of the changed
    // ones). Opening for writing takes an exclusive lock on the file (Locked
    // while another writer holds it, or while Microsoft Access holds its
    // .ldb lock file); when the file or its folder cannot be written, the
    // database opens for reading and every write fails with
    // ErrorCode::ReadOnly and the reason. The journals are made, and removed
    // when no longer needed, in `files` too.
    static Result<std::unique_ptr<Pager>> open(std::shared_ptr<FileSystem> files, const std::string& path, OpenMode mode,
                                               size_t cachePages = kDefaultCachePages, const PageFileLayer& layer = {});
    // The same on the system's own files.
    static Result<std::unique_ptr<Pager>> open(const std::string& path, OpenMode mode, size_t cachePages = kDefaultCachePages,
                                               const PageFileLayer& layer = {});

    // Commits go through the journal from now on.
    void setJournal(std::unique_ptr<Journal> journal);
    // Commits keep the safe-point journal from now on (see
    // safe_point_journal.h): a safe point is taken when `seconds` have
    // passed since the last one or `maxPages` pages are journaled, and when
    // the pager closes.
    void setSafePointJournal(std::unique_ptr<SafePointJournal> journal);
    void setSafePointInterval(double seconds, size_t maxPages)
    {
        m_safePointSeconds = seconds;
        m_safePointMaxPages = maxPages;
    }
    // Syncs the database and begins a new safe-point epoch now.
    Status takeSafePoint();

    PageFile& file() { return *m_file; }
    // The layout of the file: page size and every offset that differs
    // between Jet 3 and Jet 4. Pages are read and written pageSize bytes at
    // a time; a PageBuffer of a 2 KB page uses its first half, the rest zero.
    const JetFormat& format() const { return m_format; }
    size_t pageSize() const { return m_format.pageSize; }
    // The code page of the file's text (Jet 3), from its header.
    void setCodePage(uint16_t codePage) { m_format.codePage = codePage; }
    bool isWritable() const { return m_file->isWritable() && m_readOnlyReason.empty(); }
    // Why writes are refused, when they are.
    const std::string& readOnlyReason() const { return m_readOnlyReason; }
    // Fails with ReadOnly, and the reason, when the file cannot be written:
    // every refusal of a change to a read-only database is this one.
    Status checkWritable() const;

    // Pages in the file, counting pages appended but not yet committed.
    uint32_t pageCount() const { return m_pageCount; }

    // The page's bytes. A page beyond the end of the file is a Corruption.
    // When the page read from the file follows one read from it lately,
    // the pages after it that the pager does not hold come in with it, in
    // one read of the file (up to kReadAheadPages, or a quarter of the
    // cache), to be found in the cache when they are asked for.
    Result<PageRef> read(uint32_t page);

    // Replaces a page's bytes. `page` may equal pageCount() to append.
    Status write(uint32_t page, const PageBuffer& bytes);
    // The same with bytes the pager takes over, sparing a copy (made with
    // std::make_shared: one allocation with their count); a caller that
    // keeps a reference to them must not change them.
    Status write(uint32_t page, std::shared_ptr<PageBuffer> bytes);
    // The page's bytes to change in place, as a write of them would: the
    // pager's own dirty copy when nothing else holds it and, in a group, the
    // unit in hand wrote it already (its bytes before the unit are kept
    // apart); otherwise a new dirty copy of the page. The bytes stay the
    // pager's; the pointer is good until the next call to the pager.
    Result<PageBuffer*> writable(uint32_t page);
    // Appends a page and returns its number. Past maxPages() the append is
    // refused with ErrorCode::Full.
    Result<uint32_t> append(const PageBuffer& bytes);

    // Writes the pages appended since the last commit to the file now, and
    // lets them go from memory (they are read back from the file), so that
    // a change that adds many pages (a new index) needs no memory for them.
    // Past its committed size the file holds nothing a rollback or a failed
    // commit needs: both cut it back to that size, as does the journal,
    // armed from the first such write, at the next opening after a crash.
    // In a group, only while no finished unit waits to be committed (a
    // no-op otherwise); a unit that wrote pages ahead is committed, with
    // the group, when it ends, and undoing it cuts them off.
    Status writeAppendedAhead();
    // The same once the dirty pages number at least `limit` (default 1024,
    // 4 MB); for a writer of many pages to call as it goes.
    Status writeAppendedAheadIfMany();
    void setAppendedAheadLimit(size_t limit) { m_appendedAheadLimit = std::max<size_t>(limit, 1); }

    // Whether a change is in hand: any dirty page, or in a group, a page
    // written since the last unit ended.
    bool hasPendingWrites() const
    {
        return m_group ? !m_unitUndo.empty() || m_pageCount != m_unitPageCount : !m_dirty.empty() || m_appendedAhead;
    }

    // Groups the operations from now on. In a group, commit() ends a unit
    // (one operation): its pages stay in memory with those of the units
    // before it, and the finished units are committed together, as one
    // commit, once they hold `maxPages` dirty pages or number `maxUnits`
    // (a count, not a time, so that a run writes the same whatever the
    // machine's speed), and at saveGroup() and
    // endGroup(). rollback() undoes the unit in hand alone, back to the
    // dirty pages and page count it began with. When the commit() that
    // takes the group fails, the file is put back, that unit is undone and
    // the units finished before it are committed alone (tried twice), so
    // that the failing operation is the only one lost, as without a group;
    // should that fail too, they are lost as well (unitsLost()). A killed
    // process loses the finished units not yet committed, each one whole.
    struct GroupLimits {
        size_t maxPages = 2048;  // 8 MB
        size_t maxUnits = 500;
    };
    void beginGroup();
    // The limits of the groups begun from now on.
    void setGroupLimits(GroupLimits limits) { m_groupLimits = limits; }
    bool inGroup() const { return m_group; }
    // Commits the finished units now; the group goes on. A unit in hand
    // (written, not yet ended) is an InvalidArgument: end or undo it first.
    Status saveGroup();
    // saveGroup(), and every commit() stands alone again.
    Status endGroup();
    // The work the units hold back (null: none), done before they are
    // written; it must outlive its time here, or be taken away first.
    void setHeldBackWork(HeldBackWork* work) { m_heldBack = work; }
    HeldBackWork* heldBackWork() const { return m_heldBack; }
    // Before pages the held-back work would change are read for themselves
    // (an index searched, compared with its rows): saveGroup() when work is
    // held back, and no unit is in hand.
    Status saveHeldBack()
    {
        if (!m_heldBack || !m_heldBack->pending() || hasPendingWrites()) return Status::ok();
        return saveGroup();
    }
    // Finished units a failed group commit dropped, since the pager opened.
    // (A commit that fails is tried once more before they are dropped.)
    size_t unitsLost() const { return m_unitsLost; }
    // Journals the original pages, writes every dirty page to the file in
    // page order, then disarms the journal (a change of one existing page is
    // written without the journal: see commit()); syncs at each step when
    // syncOnCommit is set. On failure the file is put back as it was before
    // the commit (from the journal, or from memory without one), the dirty
    // pages are forgotten and the error is returned. In a group, a unit that
    // stands for several operations (records added together) counts as
    // `units` toward maxUnits and toward unitsLost().
    Status commit(size_t units = 1);
    // Forgets every dirty page and every page appended since the last
    // commit; in a group, only those of the unit in hand.
    void rollback();

    void setSyncOnCommit(bool on) { m_syncOnCommit = on; }

    // The largest size of a file of this format, in words ("2 GB").
    std::string largestSizeText() const;
    // The most pages the file may grow to: kMaxPages, or less for tests
    // that reach the limit without a 2 GB file.
    uint32_t maxPages() const { return m_maxPages; }
    void setMaxPages(uint32_t pages) { m_maxPages = std::min(pages, kMaxPages); }

    // A pager of its own over a second handle on the file, for reading the
    // pages this one shows from another thread, which nothing may write
    // while the reader lives (it must not outlive this pager either). Null
    // when this pager holds pages the file does not (a change in hand, a
    // group's finished units, an interrupted commit's originals shown in
    // place), or when the file offers no second handle.
    std::unique_ptr<Pager> readerForThread(size_t cachePages) const;

    // Moves on whenever what read() returns may have changed (a write, a
    // rollback, a failed commit): bytes read at one count are still the
    // bytes at the same count.
    uint64_t changeCount() const { return m_changes; }

    // Runs `before` once, ahead of the next change to what read() returns
    // (the change count moving on), while every page still reads as it
    // does now; the watch is dropped unrun when the returned object goes.
    // `before` may read through this pager, and must not change it.
    class ChangeWatch {
    public:
        ChangeWatch() = default;
        ChangeWatch(ChangeWatch&& other) noexcept { *this = std::move(other); }
        ChangeWatch& operator=(ChangeWatch&& other) noexcept
        {
            if (this != &other) {
                reset();
                m_pager = std::exchange(other.m_pager, nullptr);
                m_id = other.m_id;
            }
            return *this;
        }
        ~ChangeWatch() { reset(); }
        void reset()
        {
            if (m_pager) m_pager->dropWatch(m_id);
            m_pager = nullptr;
        }

    private:
        friend class Pager;
        ChangeWatch(Pager* pager, uint64_t id) : m_pager(pager), m_id(id) {}
        Pager* m_pager = nullptr;
        uint64_t m_id = 0;
    };
    [[nodiscard]] ChangeWatch watchNextChange(std::function<void()> before);

    // Counters for tests and benchmarks.
    uint64_t fileReads() const { return m_fileReads; }
    uint64_t fileWrites() const { return m_fileWrites; }

private:
    void remember(uint32_t page, PageRef ref);
    // A buffer for a page to be read into: a spare of the cache's, or new.
    std::shared_ptr<PageBuffer> bufferToRead();
    // The page from the file, with the pages after it that read() may
    // bring in, and `walkGoesOn` set to the page after them; nullopt when
    // none may come (the page is read alone).
    std::optional<Result<PageRef>> readRun(uint32_t page, uint32_t& walkGoesOn);
    Status restoreOriginals();
    Status protectForSafePoint();
    // Ends a commit whose pages are written: `ordered` (every dirty page, in
    // page order, as they were written) goes to the cache.
    Status finishCommit(const std::vector<const std::pair<const uint32_t, PageRef>*>& ordered);
    // After a group's commit: journals the pages a run over a table changes
    // next, and starts their sync (see m_runAhead).
    void journalRunAhead();
    void planRunAhead(const std::vector<const PageBuffer*>& journaledNow);
    Status ensureJournal();
    // Cuts the file back to its committed size after pages were written
    // ahead, and disarms the journal.
    void dropAppendedAhead();
    // write() once the bytes are the pager's own.
    Status keep(uint32_t page, std::shared_ptr<PageBuffer> bytes);
    // Commits every dirty page; on failure the file is put back and the
    // dirty pages are forgotten, or kept with `keepOnFailure`.
    Status commitDirty(bool keepOnFailure);
    // Commits the units a group finished, trying twice; returns `failure`,
    // or the commit's error, telling how many units were lost since
    // unitsLost() was `lostBefore`.
    Status commitFinishedUnits(Status failure, size_t lostBefore);
    // commitDirty() after the held-back work is done. Should either fail,
    // the work's pages are taken back, and the unit in hand is as before.
    Status commitWithHeldBack(bool keepOnFailure);
    bool groupDue(size_t units) const;
    // The dirty pages from `from` on, in page order.
    std::vector<const std::pair<const uint32_t, PageRef>*> dirtyInOrder(uint32_t from = 0) const;
    // Writes `pages` (in page order) to the file, each run of consecutive
    // pages in one call.
    Status writeInRuns(std::span<const std::pair<const uint32_t, PageRef>* const> pages);
    void forgetDirty();
    void undoUnit();
    // Runs the watches, each once, before the change count moves on.
    void beforeChange();
    void dropWatch(uint64_t id);

    std::unique_ptr<PageFile> m_file;
    JetFormat m_format;
    uint32_t m_pageCount = 0;
    uint32_t m_committedPageCount = 0;
    uint32_t m_maxPages = kMaxPages;
    bool m_syncOnCommit = false;
    // Looked up on every read: hashed, and put in page order to be written.
    std::unordered_map<uint32_t, PageRef> m_dirty;
    bool m_appendedAhead = false;  // pages past the committed size are on the file
    size_t m_appendedAheadLimit = 1024;
    std::map<uint32_t, PageRef> m_originals;  // file bytes of dirty pages, before this batch
    std::map<uint32_t, PageRef> m_overlay;    // read-only view of an interrupted commit's originals
    bool m_group = false;
    GroupLimits m_groupLimits;
    // The unit in hand: each page it wrote, with the dirty bytes the page had
    // before (null: it was not dirty), and the page count it began with.
    UnitUndo m_unitUndo;
    uint32_t m_unitPageCount = 0;
    size_t m_groupUnits = 0;  // units finished since the group's last commit
    size_t m_unitsLost = 0;
    size_t m_forgets = 0;  // times the dirty pages were forgotten
    HeldBackWork* m_heldBack = nullptr;
    std::unique_ptr<Journal> m_journal;
    std::string m_journalPath;  // created at the first commit
    std::unique_ptr<SafePointJournal> m_safePoints;
    std::string m_safePointPath;  // created at the first commit
    double m_safePointSeconds = 1.0;
    size_t m_safePointMaxPages = 4096;
    // Where the commit in hand ends each run over a table's pages, and how
    // many pages after it the next group is likely to change (as many as
    // this one spanned, and half again): once the commit is made, their
    // bytes go to the safe-point journal and, when the commit found every
    // page it changed journaled already (m_runAheadHit), are synced while
    // the next group is worked out, so that its commit seldom waits for a
    // sync.
    struct RunAhead {
        uint32_t last = 0;
        uint32_t pages = 0;
        PageRef kind;  // a page of the run, to tell its pages by their kind
    };
    std::vector<RunAhead> m_runAhead;
    bool m_runAheadHit = false;
    size_t m_writtenSinceWriteBack = 0;  // pages written since the file's write-back was last started
    std::chrono::steady_clock::time_point m_lastSafePoint;
    PageFileLayer m_layer;
    std::shared_ptr<FileSystem> m_files;  // where the journals are made; null for a pager over a file alone
    std::string m_readOnlyReason;
    PageCache m_cache;
    uint64_t m_changes = 0;
    std::vector<std::pair<uint64_t, std::function<void()>>> m_watches;
    uint64_t m_nextWatch = 0;
    uint64_t m_fileReads = 0;
    // Where reads from the file go on in order: the page after the last
    // one read of each of a few walks (of a table's rows, of an index's
    // leaves, ...) whose reads come between each other's.
    std::array<uint32_t, 4> m_readAheadFrom{UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX};
    size_t m_oldestWalk = 0;
    uint64_t m_fileWrites = 0;
};

}  // namespace varnika::jet
