#include "db/jet/file/pager.h"

#include "db/jet/file/journal.h"
#include "db/jet/file/safe_point_journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

namespace varnika::jet {
namespace {

// Pages after a changed one that the safe-point journal takes along: a
// few, and many when one of the few before it was changed since the safe
// point too. A run over a table's rows changes its pages in order: a group of
// records then mostly finds the pages it changes journaled by an earlier
// group, and needs no sync of the journal of its own.
constexpr uint32_t kSafePointPagesAhead = 8;
constexpr uint32_t kSafePointRunAhead = 128;
// The most pages journaled ahead of a run after a group's commit (4 MB).
constexpr uint32_t kSafePointRunAheadOfGroup = 1024;

// Pages written to the file between two starts of its write-back.
constexpr size_t kWriteBackPages = 1024;

// Whether a page ahead is of the changed page's kind, so that a run over
// the changed page's table may well change it too: the same type (the first
// byte of every page but the first) and the same owner (the table of a data
// or index page, or the mark of the pages of long values). A run over a
// table's rows leaves the pages of its long values, which often lie between
// them, alone.
constexpr size_t kKindType = 0x00;
constexpr size_t kKindOwner = 0x04;
constexpr size_t kKindOwnerSize = 4;

bool sameKind(const PageBuffer& changed, const PageBuffer& other)
{
    return changed[kKindType] == other[kKindType] &&
           std::memcmp(changed.data() + kKindOwner, other.data() + kKindOwner, kKindOwnerSize) == 0;
}

std::string lowerAscii(std::string s)
{
    for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s;
}

std::string folderOf(const std::string& path)
{
    std::filesystem::path db(path);
    return db.has_parent_path() ? db.parent_path().string() : std::string(".");
}

// Access keeps "<name>.ldb" beside a database it has open and holds byte-range
// locks on it while it does. A lock file nobody locks is left over from an
// earlier session and does not stop us.
Status checkAccessLockFile(FileSystem& files, const std::string& path)
{
    const std::string folder = folderOf(path);
    const std::string want = lowerAscii(std::filesystem::path(path).stem().string() + ".ldb");
    for (const std::string& name : files.list(folder)) {
        if (lowerAscii(name) != want) continue;
        if (files.isLockedByAnother((std::filesystem::path(folder) / name).string()))
            return Status(ErrorCode::Locked, "the database " + path + " is open in Microsoft Access (its lock file " +
                                                 name + " is in use)");
    }
    return Status::ok();
}

}  // namespace

Pager::Pager(std::unique_ptr<PageFile> file, size_t cachePages)
    : m_file(std::move(file)), m_cache(cachePages)
{
    // A header that cannot be read is the database's to report; the file is
    // taken for Jet 4 meanwhile.
    Result<JetVersion> version = detectJetVersion(*m_file);
    m_format = JetFormat::of(version.isOk() ? *version : JetVersion::Jet4);
    m_pageCount = uint32_t(m_file->size() / pageSize());
    m_committedPageCount = m_pageCount;
}

std::unique_ptr<Pager> Pager::readerForThread(size_t cachePages) const
{
    if (!m_dirty.empty() || m_appendedAhead || !m_overlay.empty() || m_pageCount != m_committedPageCount) return nullptr;
    std::unique_ptr<PageFile> file = m_file->concurrentReader();
    if (!file) return nullptr;
    auto reader = std::make_unique<Pager>(std::move(file), cachePages);
    reader->m_format = m_format;
    reader->m_pageCount = reader->m_committedPageCount = m_pageCount;
    reader->m_maxPages = m_maxPages;
    reader->m_readOnlyReason = "a pager that reads for another thread does not write";
    return reader;
}

Pager::~Pager()
{
    // Pages written ahead of a commit that never came.
    dropAppendedAhead();
    // The units a group finished are whole changes: they are kept; a unit
    // still in hand is not.
    if (m_group) {
        undoUnit();
        (void)commitFinishedUnits(Status::ok(), m_unitsLost);
        m_group = false;
    }
    // A last safe point: the file is on the disk as it stands, and the
    // safe-point journal describes nothing to undo, so it need not stay.
    if (m_safePoints && m_dirty.empty()) {
        bool safe = !m_safePoints->started() || takeSafePoint().isOk();
        const std::string& path = m_safePoints->file().path();
        if (safe && m_files && !path.empty()) (void)m_files->remove(path);
    }
    // A disarmed journal means no commit is in flight: it need not stay.
    if (m_journal && m_files && !m_journal->file().path().empty()) {
        Result<bool> armed = m_journal->isArmed();
        if (armed.isOk() && !*armed) (void)m_files->remove(m_journal->file().path());
    }
}

void Pager::setJournal(std::unique_ptr<Journal> journal)
{
    m_journal = std::move(journal);
    if (m_journal) m_journal->setPageSize(pageSize());
}

void Pager::setSafePointJournal(std::unique_ptr<SafePointJournal> journal)
{
    m_safePoints = std::move(journal);
    if (m_safePoints) m_safePoints->setPageSize(pageSize());
}

std::string Pager::largestSizeText() const
{
    constexpr uint64_t kGigabyte = uint64_t(1) << 30;
    return std::to_string(uint64_t(kMaxPages) * pageSize() / kGigabyte) + " GB";
}

Status Pager::takeSafePoint()
{
    if (!m_safePoints) return Status::ok();
    VK_RETURN_IF_ERROR(m_file->sync());
    VK_RETURN_IF_ERROR(m_safePoints->start(m_committedPageCount));
    m_lastSafePoint = std::chrono::steady_clock::now();
    return Status::ok();
}

Status Pager::protectForSafePoint()
{
    if (!m_safePoints && !m_safePointPath.empty()) {
        VK_ASSIGN_OR_RETURN(std::unique_ptr<PageFile> f, m_files->openOrCreate(m_safePointPath));
        if (m_layer) f = m_layer(std::move(f));
        setSafePointJournal(std::make_unique<SafePointJournal>(std::move(f), m_files->bootId()));
    }
    if (!m_safePoints) return Status::ok();
    if (!m_safePoints->started()) VK_RETURN_IF_ERROR(takeSafePoint());
    std::vector<const PageBuffer*> journaledNow;  // pages this commit changes that the journal did not hold
    for (const auto& [page, ref] : m_originals) {
        m_safePoints->noteChanged(page);
        if (!m_safePoints->needs(page)) continue;
        VK_RETURN_IF_ERROR(m_safePoints->add(page, *ref));
        journaledNow.push_back(ref.get());
        bool inRun = false;
        for (uint32_t before = 1; before <= std::min(page, kSafePointPagesAhead) && !inRun; ++before)
            inRun = m_safePoints->changed(page - before);
        // A run over a table changes the pages after this one next: they go
        // along now, which spares a sync for each of them later.
        const uint32_t ahead = inRun ? kSafePointRunAhead : kSafePointPagesAhead;
        for (uint32_t next = page + 1; next < page + ahead; ++next) {
            if (!m_safePoints->needs(next) || m_originals.count(next)) continue;
            VK_ASSIGN_OR_RETURN(PageRef committed, read(next));
            if (!sameKind(*ref, *committed)) continue;
            VK_RETURN_IF_ERROR(m_safePoints->add(next, *committed));
        }
    }
    planRunAhead(journaledNow);
    // Also when nothing was added now: entries written for a commit that
    // failed may not be on the disk yet.
    return m_safePoints->sync();
}

void Pager::planRunAhead(const std::vector<const PageBuffer*>& journaledNow)
{
    m_runAhead.clear();
    if (!m_group) return;
    // The runs are those of the kinds of page the commit changed one in
    // every few of on its way (a run over a table's records goes through
    // its data pages, and a delete through their long values as well), not
    // the index leaves its keys fall on here and there.
    struct Kind {
        PageRef bytes;
        uint32_t first = 0;
        uint32_t last = 0;
        uint32_t changed = 0;
    };
    std::vector<Kind> kinds;
    const uint32_t safePointPages = m_safePoints->pageCount();
    for (const auto& original : m_originals) {
        const uint32_t page = original.first;
        const PageRef& bytes = original.second;
        if (page >= safePointPages) break;
        auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) { return sameKind(*k.bytes, *bytes); });
        if (kind == kinds.end()) kind = kinds.insert(kinds.end(), Kind{bytes, page, page, 0});
        kind->last = page;
        ++kind->changed;
    }
    std::vector<RunAhead> runs;
    for (const Kind& kind : kinds) {
        const uint32_t span = kind.last - kind.first + 1;
        if (kind.changed < 2 || uint64_t(kind.changed) * kSafePointPagesAhead < span) continue;
        runs.push_back({kind.last, std::min(span + span / 2, kSafePointRunAheadOfGroup), kind.bytes});
    }
    // A run whose groups also change pages the journal lacks that are of
    // no run (index leaves here and there) syncs for those anyway: its
    // pages go to the journal with them, as they always did.
    for (const PageBuffer* page : journaledNow)
        if (std::none_of(runs.begin(), runs.end(), [&](const RunAhead& run) { return sameKind(*run.kind, *page); })) return;
    m_runAhead = std::move(runs);
    m_runAheadHit = journaledNow.empty();
}

void Pager::journalRunAhead()
{
    const std::vector<RunAhead> runs = std::exchange(m_runAhead, {});
    if (runs.empty() || !m_group || !m_safePoints || !m_safePoints->started()) return;
    // Best effort: should anything fail, the next commit journals what it
    // changes itself, as ever.
    for (const RunAhead& run : runs) {
        for (uint32_t next = run.last + 1; next <= run.last + run.pages && next < m_committedPageCount; ++next) {
            if (!m_safePoints->needs(next)) continue;
            Result<PageRef> committed = read(next);
            if (!committed.isOk()) return;
            if (!sameKind(*run.kind, **committed)) continue;
            if (!m_safePoints->add(next, **committed).isOk()) return;
        }
    }
    // Synced with the next commit's own entries, should it have any (the
    // first group after a safe point); or else in the background now.
    if (m_runAheadHit) (void)m_safePoints->syncInBackground();
}

Result<std::unique_ptr<Pager>> Pager::open(const std::string& path, OpenMode mode, size_t cachePages,
                                           const PageFileLayer& layer)
{
    return open(posixFileSystem(), path, mode, cachePages, layer);
}

Result<std::unique_ptr<Pager>> Pager::open(std::shared_ptr<FileSystem> files, const std::string& path, OpenMode mode,
                                           size_t cachePages, const PageFileLayer& layer)
{
    auto layered = [&](std::unique_ptr<PageFile> f) { return layer ? layer(std::move(f)) : std::move(f); };
    std::string readOnlyReason;
    std::unique_ptr<PageFile> file;
    if (mode == OpenMode::ReadWrite) {
        VK_RETURN_IF_ERROR(checkAccessLockFile(*files, path));
        auto rw = files->open(path, OpenMode::ReadWrite);
        // The system lets the superuser write any file; a file whose
        // permission bits allow nobody to write it is still meant to be
        // read-only, and is treated so whoever runs the program.
        if (rw.isOk() && !files->permitsWriting(path)) {
            readOnlyReason = "the file " + path + " is read-only";
        } else if (rw.isOk()) {
            file = std::move(rw).value();
        } else if (rw.status().code() == ErrorCode::IOError && !files->canWrite(path)) {
            readOnlyReason = "the file " + path + " is read-only";
        } else {
            return rw.status();
        }
    }
    if (!file) {
        VK_ASSIGN_OR_RETURN(file, files->open(path, OpenMode::ReadOnly));
        if (mode == OpenMode::ReadWrite && readOnlyReason.empty()) readOnlyReason = "the file " + path + " is read-only";
    }

    file = layered(std::move(file));
    const std::string jpath = journalPathFor(path);
    const std::string spath = safePointPathFor(path);
    std::unique_ptr<Journal> journal;
    std::unique_ptr<SafePointJournal> safePoints;
    bool createLater = false;
    if (file->isWritable()) {
        // After a power cut the file goes back to its last safe point, and
        // the rollback journal (written after it) no longer applies.
        bool powerLoss = false;
        if (files->exists(spath)) {
            auto sf = files->open(spath, OpenMode::ReadWrite);
            if (!sf.isOk()) return sf.status();
            std::unique_ptr<PageFile> spFile = layered(std::move(sf).value());
            const std::string boot = files->bootId();
            VK_ASSIGN_OR_RETURN(powerLoss, rollBackAfterPowerLoss(*file, *spFile, boot));
            safePoints = std::make_unique<SafePointJournal>(std::move(spFile), boot);
        }
        if (files->exists(jpath)) {
            auto jf = files->open(jpath, OpenMode::ReadWrite);
            if (!jf.isOk()) return jf.status();
            journal = std::make_unique<Journal>(layered(std::move(jf).value()));
            if (powerLoss) {
                VK_RETURN_IF_ERROR(journal->finish(true));
            } else {
                VK_ASSIGN_OR_RETURN(bool rolledBack, rollBackPendingJournal(*file, *journal));
                (void)rolledBack;
            }
        } else {
            if (!files->canWrite(folderOf(path)))
                readOnlyReason = "its folder cannot be written, so changes could not be made safely";
            else
                createLater = true;
        }
    }

    auto pager = std::make_unique<Pager>(std::move(file), cachePages);
    pager->m_readOnlyReason = readOnlyReason;
    pager->m_layer = layer;
    pager->m_files = files;
    if (createLater) pager->m_journalPath = jpath;
    if (safePoints) pager->setSafePointJournal(std::move(safePoints));
    else if (pager->m_readOnlyReason.empty() && pager->m_file->isWritable()) pager->m_safePointPath = spath;
    if (journal) {
        pager->setJournal(std::move(journal));
    } else if (files->exists(jpath)) {
        // Show the database as it was before an interrupted commit.
        auto jf = files->open(jpath, OpenMode::ReadOnly);
        if (jf.isOk()) {
            Journal reader(std::move(jf).value());
            VK_ASSIGN_OR_RETURN(auto pending, reader.readPending());
            if (pending) {
                for (auto& e : pending->entries) pager->m_overlay[e.page] = std::make_shared<PageBuffer>(e.original);
                if (pending->originalPageCount < pager->m_pageCount) {
                    pager->m_pageCount = pending->originalPageCount;
                    pager->m_committedPageCount = pending->originalPageCount;
                }
            }
        }
    }
    return pager;
}

Result<PageRef> Pager::read(uint32_t page)
{
    if (auto it = m_dirty.find(page); it != m_dirty.end()) return it->second;
    if (const PageRef* kept = m_cache.find(page)) return *kept;
    if (page >= m_pageCount)
        return corruption("page " + std::to_string(page) + " is beyond the end of the file (" +
                          std::to_string(m_pageCount) + " pages)");
    if (auto it = m_overlay.find(page); it != m_overlay.end()) return it->second;
    // A walk goes on at the page after its last one read, or a few pages
    // on: a table's pages lie between those of its long values and indexes.
    const auto goesOn = [page](uint32_t next) { return page >= next && page - next < kReadAheadGap; };
    auto walk = std::find_if(m_readAheadFrom.begin(), m_readAheadFrom.end(), goesOn);
    if (walk != m_readAheadFrom.end())
        if (std::optional<Result<PageRef>> run = readRun(page, *walk)) return std::move(*run);
    std::shared_ptr<PageBuffer> buf = bufferToRead();
    VK_RETURN_IF_ERROR(m_file->read(uint64_t(page) * pageSize(), pageSize(), buf->data()));
    if (pageSize() < buf->size()) std::memset(buf->data() + pageSize(), 0, buf->size() - pageSize());
    ++m_fileReads;
    if (walk == m_readAheadFrom.end()) {
        // A new walk, maybe: in the place of the walk begun longest ago.
        walk = m_readAheadFrom.begin() + m_oldestWalk;
        m_oldestWalk = (m_oldestWalk + 1) % m_readAheadFrom.size();
    }
    *walk = page + 1;
    PageRef ref = buf;
    remember(page, ref);
    return ref;
}

std::shared_ptr<PageBuffer> Pager::bufferToRead()
{
    // The read sets every byte of the page; only a smaller page's unused
    // tail needs zeros.
    std::shared_ptr<PageBuffer> buf = m_cache.takeSpare();
    return buf ? buf : std::make_shared_for_overwrite<PageBuffer>();
}

std::optional<Result<PageRef>> Pager::readRun(uint32_t page, uint32_t& walkGoesOn)
{
    if (!m_file->readsAhead()) return std::nullopt;
    // Pages past the file's end are left to the read of one page, which
    // tells of them; pages held here are newer than the file's.
    const uint64_t onFile = std::min<uint64_t>(m_pageCount, m_file->size() / pageSize());
    const size_t most = std::clamp<size_t>(m_cache.limit() / 4, 1, kReadAheadPages);
    size_t count = 1;
    for (uint64_t p = page + 1; count < most && p < onFile; ++p, ++count)
        if (m_dirty.contains(uint32_t(p)) || m_cache.contains(uint32_t(p)) || m_overlay.contains(uint32_t(p))) break;
    if (count < 2) return std::nullopt;
    std::array<std::shared_ptr<PageBuffer>, kReadAheadPages> buffers;
    std::array<uint8_t*, kReadAheadPages> into{};
    for (size_t i = 0; i < count; ++i) {
        buffers[i] = bufferToRead();
        into[i] = buffers[i]->data();
    }
    // A run that cannot be read leaves the page to be read alone, so that
    // what fails, and how, is the page's own.
    if (!m_file->readPages(uint64_t(page) * pageSize(), pageSize(), std::span(into.data(), count)).isOk())
        return std::nullopt;
    m_fileReads += count;
    walkGoesOn = uint32_t(page + count);
    // The pages ahead first, so that the one asked for is the most recently used.
    for (size_t i = count; i-- > 0;) {
        if (pageSize() < buffers[i]->size())
            std::memset(buffers[i]->data() + pageSize(), 0, buffers[i]->size() - pageSize());
        remember(page + uint32_t(i), buffers[i]);
    }
    return Result<PageRef>(PageRef(std::move(buffers[0])));
}

void Pager::remember(uint32_t page, PageRef ref)
{
    m_cache.put(page, std::move(ref));
}

Status Pager::checkWritable() const
{
    if (isWritable()) return Status::ok();
    return Status(ErrorCode::ReadOnly, m_readOnlyReason.empty() ? "the database is open for reading only"
                                                                : "cannot change the database: " + m_readOnlyReason);
}

Status Pager::write(uint32_t page, const PageBuffer& bytes)
{
    if (!isWritable()) return checkWritable();
    return keep(page, std::make_shared<PageBuffer>(bytes));
}

Status Pager::write(uint32_t page, std::shared_ptr<PageBuffer> bytes)
{
    if (!bytes) return invalidArgument("no bytes to write to page " + std::to_string(page));
    if (!isWritable()) return checkWritable();
    return keep(page, std::move(bytes));
}

Result<PageBuffer*> Pager::writable(uint32_t page)
{
    if (!isWritable()) return checkWritable();
    // Before the buffer is found free to change in place: a watch may take
    // a reference to it.
    beforeChange();
    if (auto d = m_dirty.find(page); d != m_dirty.end() && d->second.use_count() == 1 &&
                                     (!m_group || m_unitUndo.contains(page))) {
        ++m_changes;
        // Every dirty page is a buffer the pager made or was given to keep.
        return const_cast<PageBuffer*>(d->second.get());
    }
    VK_ASSIGN_OR_RETURN(PageRef current, read(page));
    auto copy = std::make_shared<PageBuffer>(*current);
    PageBuffer* bytes = copy.get();
    current.reset();
    VK_RETURN_IF_ERROR(keep(page, std::move(copy)));
    return bytes;
}

Status Pager::keep(uint32_t page, std::shared_ptr<PageBuffer> bytes)
{
    if (page > m_pageCount) return invalidArgument("page " + std::to_string(page) + " is past the end of the file");
    beforeChange();
    if (page < m_committedPageCount && !m_originals.count(page)) {
        // Keep the file's bytes for the journal and for restoring after a failure.
        VK_ASSIGN_OR_RETURN(PageRef original, read(page));
        if (auto d = m_dirty.find(page); d == m_dirty.end()) m_originals[page] = original;
    }
    if (m_group && !m_unitUndo.contains(page)) {
        auto d = m_dirty.find(page);
        m_unitUndo.add(page, d != m_dirty.end() ? d->second : PageRef());
    }
    if (page == m_pageCount) ++m_pageCount;
    ++m_changes;
    // A smaller page keeps the rest of its buffer zero, as it was read.
    std::fill(bytes->begin() + long(pageSize()), bytes->end(), uint8_t(0));
    m_dirty[page] = std::move(bytes);
    m_cache.erase(page);
    return Status::ok();
}

Result<uint32_t> Pager::append(const PageBuffer& bytes)
{
    uint32_t page = m_pageCount;
    if (page >= m_maxPages)
        return Status(ErrorCode::Full, page >= kMaxPages ? "the database file would grow past " + largestSizeText() + ", the largest size an Access database can have"
                                                        : "the database file would grow past " + std::to_string(m_maxPages) + " pages");
    VK_RETURN_IF_ERROR(write(page, bytes));
    return page;
}

Status Pager::restoreOriginals()
{
    if (m_journal) {
        auto r = rollBackPendingJournal(*m_file, *m_journal);
        if (r.isOk() && *r) return Status::ok();
    }
    for (const auto& [page, ref] : m_originals)
        VK_RETURN_IF_ERROR(m_file->write(uint64_t(page) * pageSize(), ref->data(), pageSize()));
    if (m_file->size() > uint64_t(m_committedPageCount) * pageSize())
        VK_RETURN_IF_ERROR(m_file->truncate(uint64_t(m_committedPageCount) * pageSize()));
    return Status::ok();
}

void Pager::beginGroup()
{
    if (m_group) return;
    m_group = true;
    m_unitUndo.clear();
    m_unitPageCount = m_pageCount;
    m_groupUnits = 0;
}

Status Pager::saveGroup()
{
    if (!m_group) return Status::ok();
    if (hasPendingWrites()) return invalidArgument("a change to the database is in hand and not yet finished");
    return commitFinishedUnits(Status::ok(), m_unitsLost);
}

Status Pager::endGroup()
{
    if (!m_group) return Status::ok();
    Status s = hasPendingWrites() ? Status::ok() : commitFinishedUnits(Status::ok(), m_unitsLost);
    m_group = false;
    m_unitUndo.clear();
    m_unitPageCount = m_pageCount;
    return s;
}

bool Pager::groupDue(size_t units) const
{
    return m_dirty.size() >= m_groupLimits.maxPages || m_groupUnits + units >= m_groupLimits.maxUnits;
}

Status Pager::commit(size_t units)
{
    if (!m_group) return commitWithHeldBack(false);
    // A unit that wrote pages ahead is committed as it ends: the pages on
    // the file are its alone, and a later unit's failure must not cut them.
    units = std::max<size_t>(units, 1);
    if (!groupDue(units) && !m_appendedAhead) {
        // The unit ends; it reaches the file with the group.
        m_unitUndo.clear();
        m_unitPageCount = m_pageCount;
        m_groupUnits += units;
        if (m_heldBack) m_heldBack->unitFinished();
        return Status::ok();
    }
    // The group is committed with this unit. Should that fail, the file is
    // as it was before the group, and the unit alone is undone: the units
    // before it are committed by themselves, as they would have been had
    // each been committed when it finished.
    const size_t lostBefore = m_unitsLost;
    Status s = commitWithHeldBack(true);
    if (s.isOk()) return s;
    undoUnit();
    if (m_heldBack) m_heldBack->unitUndone();
    return commitFinishedUnits(s, lostBefore);
}

Status Pager::commitWithHeldBack(bool keepOnFailure)
{
    if (!m_heldBack || !m_heldBack->pending()) return commitDirty(keepOnFailure);
    if (!m_group) {
        // The change stands alone: a failure forgets it whole.
        Status s = m_heldBack->complete();
        if (!s.isOk()) {
            forgetDirty();
            return s;
        }
        return commitDirty(false);
    }
    // The work is a unit of its own, after the unit in hand: should it or
    // the write fail, its pages alone are taken back.
    UnitUndo inHand = std::move(m_unitUndo);
    m_unitUndo.clear();
    const uint32_t inHandPageCount = m_unitPageCount;
    m_unitPageCount = m_pageCount;
    const size_t forgets = m_forgets;
    Status s = m_heldBack->complete();
    if (s.isOk()) s = commitDirty(true);
    if (s.isOk()) return s;
    if (m_forgets != forgets) return s;  // the pages are gone (the file could not be put back)
    undoUnit();
    m_unitUndo = std::move(inHand);
    m_unitPageCount = inHandPageCount;
    if (!keepOnFailure) forgetDirty();
    return s;
}

Status Pager::commitFinishedUnits(Status failure, size_t lostBefore)
{
    Status s = Status::ok();
    if (!m_dirty.empty()) {
        s = commitWithHeldBack(true);
        // Once more, for a fault that passes (the file was put back).
        if (!s.isOk() && !m_dirty.empty()) s = commitWithHeldBack(false);
    }
    m_groupUnits = 0;
    const size_t lost = m_unitsLost - lostBefore;
    if (lost == 0) return failure.isOk() ? s : failure;
    const std::string what = lost == 1 ? "the change" : "the " + std::to_string(lost) + " changes";
    if (failure.isOk())
        return Status(s.code(), s.message() + " (" + what + " finished since the last save " + (lost == 1 ? "was" : "were") + " lost)");
    return Status(failure.code(), failure.message() + "; " + what + " finished before it could not be saved either" +
                                      (s.isOk() ? std::string() : ": " + s.message()));
}

Status Pager::ensureJournal()
{
    if (m_journal || m_journalPath.empty()) return Status::ok();
    VK_ASSIGN_OR_RETURN(std::unique_ptr<PageFile> journalFile, m_files->openOrCreate(m_journalPath));
    if (m_layer) journalFile = m_layer(std::move(journalFile));
    setJournal(std::make_unique<Journal>(std::move(journalFile)));
    return Status::ok();
}

Status Pager::writeAppendedAhead()
{
    // In a group, the pages past the committed size are all the unit's in
    // hand only while no finished unit waits.
    if (m_group && m_groupUnits > 0) return Status::ok();
    const auto ahead = dirtyInOrder(m_committedPageCount);
    if (ahead.empty()) return Status::ok();
    if (!m_appendedAhead) {
        // From the first page on, the journal tells a reopening that the
        // file is to be cut back to its committed size.
        VK_RETURN_IF_ERROR(ensureJournal());
        if (m_journal)
            VK_RETURN_IF_ERROR(m_journal->begin(m_committedPageCount, std::span<const Journal::Original>(), m_syncOnCommit));
        m_appendedAhead = true;
    }
    // The unit's cut at failure is the file's committed size, so a failure
    // here needs nothing put back.
    VK_RETURN_IF_ERROR(writeInRuns(ahead));
    for (const auto* dirty : ahead) m_dirty.erase(dirty->first);
    return Status::ok();
}

Status Pager::writeInRuns(std::span<const std::pair<const uint32_t, PageRef>* const> pages)
{
    std::vector<const uint8_t*> run;
    for (size_t at = 0; at < pages.size();) {
        const uint32_t first = pages[at]->first;
        run.clear();
        while (at < pages.size() && pages[at]->first == first + run.size()) run.push_back(pages[at++]->second->data());
        VK_RETURN_IF_ERROR(m_file->writePages(uint64_t(first) * pageSize(), pageSize(), run));
        m_fileWrites += run.size();
    }
    return Status::ok();
}

Status Pager::writeAppendedAheadIfMany()
{
    return m_dirty.size() >= m_appendedAheadLimit ? writeAppendedAhead() : Status::ok();
}

void Pager::dropAppendedAhead()
{
    if (!m_appendedAhead) return;
    m_appendedAhead = false;
    // Best effort: past the committed size the file holds nothing anyone
    // reads, and a journal left armed cuts it at the next opening.
    if (m_file->size() > uint64_t(m_committedPageCount) * pageSize())
        (void)m_file->truncate(uint64_t(m_committedPageCount) * pageSize());
    if (m_journal) (void)m_journal->finish(false);
    // Read back meanwhile, those pages may be in the cache.
    m_cache.eraseFrom(m_committedPageCount);
}

Status Pager::commitDirty(bool keepOnFailure)
{
    if (m_dirty.empty() && !m_appendedAhead) return Status::ok();
    // Before the file was touched: the dirty pages are kept when asked.
    auto refuse = [&](Status s) {
        if (!keepOnFailure) forgetDirty();
        return s;
    };
    // After: the file is put back first; should that fail, the dirty pages
    // describe nothing the file can be brought to, and go.
    auto fail = [&](Status s) {
        Status restored = restoreOriginals();
        if (!keepOnFailure || !restored.isOk()) forgetDirty();
        if (!restored.isOk())
            return Status(s.code(), s.message() + "; putting the file back also failed: " + restored.message());
        return s;
    };
    // A change of one page already in the file needs no rollback journal:
    // the system copies a write of one aligned page into the file whole, so
    // a killed process leaves the page entirely old or entirely new. (A
    // power cut is the safe points' business, as for every commit.)
    const bool onePage = !m_syncOnCommit && m_dirty.size() == 1 && m_pageCount == m_committedPageCount &&
                         m_originals.count(m_dirty.begin()->first);
    if (onePage) {
        if (Status s = protectForSafePoint(); !s.isOk()) return refuse(s);
        const auto& [page, ref] = *m_dirty.begin();
        Status s = m_file->write(uint64_t(page) * pageSize(), ref->data(), pageSize());
        if (!s.isOk()) return fail(s);
        ++m_fileWrites;
        return finishCommit(dirtyInOrder());
    }
    if (Status s = ensureJournal(); !s.isOk()) return refuse(s);
    if (Status s = protectForSafePoint(); !s.isOk()) return refuse(s);
    if (m_journal) {
        std::vector<Journal::Original> originals;
        originals.reserve(m_originals.size());
        for (const auto& [page, ref] : m_originals) originals.push_back({page, ref.get()});
        Status s = m_appendedAhead ? m_journal->beginOver(m_committedPageCount, originals, m_syncOnCommit)
                                   : m_journal->begin(m_committedPageCount, originals, m_syncOnCommit);
        if (!s.isOk()) return refuse(s);
    }
    const auto ordered = dirtyInOrder();
    if (Status s = writeInRuns(ordered); !s.isOk()) return fail(s);
    if (m_syncOnCommit) {
        Status s = m_file->sync();
        if (!s.isOk()) return fail(s);
    }
    if (m_journal) {
        Status s = m_journal->finish(m_syncOnCommit);
        if (!s.isOk()) return fail(s);
    }
    return finishCommit(ordered);
}

Status Pager::finishCommit(const std::vector<const std::pair<const uint32_t, PageRef>*>& ordered)
{
    m_appendedAhead = false;
    for (const auto* dirty : ordered) remember(dirty->first, dirty->second);
    m_dirty.clear();
    m_originals.clear();
    m_unitUndo.clear();
    m_committedPageCount = m_pageCount;
    m_unitPageCount = m_pageCount;
    m_groupUnits = 0;
    if (m_heldBack) m_heldBack->forget();
    // The next safe point syncs the file: the pages it had at the safe
    // point that a run rewrites go to the disk while the run goes on, a few
    // megabytes at a time. Pages added since stay for the sync, which lays
    // them out on the disk together (sent bit by bit, they would cost the
    // inserts that add them more than the sync).
    m_writtenSinceWriteBack += ordered.size();
    if (m_safePoints && m_writtenSinceWriteBack >= kWriteBackPages) {
        m_file->startWriteBack(uint64_t(m_safePoints->pageCount()) * pageSize());
        m_writtenSinceWriteBack = 0;
    }
    // A safe point now and then; should one fail, the commit stands, and
    // the next commit tries again.
    if (m_safePoints && (m_safePoints->entries() >= m_safePointMaxPages ||
                         std::chrono::steady_clock::now() - m_lastSafePoint >=
                             std::chrono::duration<double>(m_safePointSeconds)))
        (void)takeSafePoint();
    journalRunAhead();
    return Status::ok();
}

std::vector<const std::pair<const uint32_t, PageRef>*> Pager::dirtyInOrder(uint32_t from) const
{
    std::vector<const std::pair<const uint32_t, PageRef>*> pages;
    pages.reserve(m_dirty.size());
    for (const auto& dirty : m_dirty)
        if (dirty.first >= from) pages.push_back(&dirty);
    std::sort(pages.begin(), pages.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    return pages;
}

void Pager::rollback()
{
    if (m_group) {
        undoUnit();
        if (m_heldBack) m_heldBack->unitUndone();
    } else {
        forgetDirty();
    }
}

void Pager::undoUnit()
{
    beforeChange();
    ++m_changes;
    // Pages written ahead are the unit's own (see writeAppendedAhead).
    dropAppendedAhead();
    for (auto& [page, before] : m_unitUndo) {
        if (before) {
            m_dirty[page] = std::move(before);
        } else {
            // Not dirty before the unit: neither are its original bytes kept.
            m_dirty.erase(page);
            m_originals.erase(page);
        }
    }
    m_unitUndo.clear();
    m_pageCount = m_unitPageCount;
}

void Pager::forgetDirty()
{
    beforeChange();
    ++m_changes;
    dropAppendedAhead();
    m_unitsLost += m_groupUnits;
    ++m_forgets;
    if (m_heldBack) m_heldBack->forget();
    m_dirty.clear();
    m_originals.clear();
    m_unitUndo.clear();
    m_pageCount = m_committedPageCount;
    m_unitPageCount = m_pageCount;
    m_groupUnits = 0;
}

Pager::ChangeWatch Pager::watchNextChange(std::function<void()> before)
{
    const uint64_t id = ++m_nextWatch;
    m_watches.emplace_back(id, std::move(before));
    return ChangeWatch(this, id);
}

void Pager::beforeChange()
{
    // One at a time, off the list before it runs: a watch that goes while
    // another runs is not run.
    while (!m_watches.empty()) {
        std::function<void()> before = std::move(m_watches.front().second);
        m_watches.erase(m_watches.begin());
        before();
    }
}

void Pager::dropWatch(uint64_t id)
{
    std::erase_if(m_watches, [id](const auto& w) { return w.first == id; });
}

}  // namespace varnika::jet
