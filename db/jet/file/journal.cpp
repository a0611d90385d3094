#include "db/jet/file/journal.h"

#include "db/jet/file/bytes.h"
#include "db/jet/file/journal_checksum.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace varnika::jet {
namespace {

constexpr uint8_t kMagic[8] = {'V', 'K', 'J', 'O', 'U', 'R', 'N', '2'};
constexpr size_t kHeaderSize = 32;
constexpr size_t kHdrMagic = 0;
constexpr size_t kHdrPageSize = 8;
constexpr size_t kHdrOriginalPages = 12;
constexpr size_t kHdrEntries = 16;
constexpr size_t kHdrChecksum = 20;  // u64 over every entry byte
constexpr size_t kEntryPageNumber = 4;

size_t entrySize(size_t pageSize) { return kEntryPageNumber + pageSize; }

}  // namespace

std::string journalPathFor(const std::string& databasePath) { return databasePath + "-journal"; }

Status Journal::begin(uint32_t originalPageCount, const std::vector<JournalEntry>& originals, bool durable)
{
    std::vector<Original> pages;
    pages.reserve(originals.size());
    for (const JournalEntry& e : originals) pages.push_back({e.page, &e.original});
    return begin(originalPageCount, pages, durable);
}

Status Journal::begin(uint32_t originalPageCount, std::span<const Original> originals, bool durable)
{
    return write(originalPageCount, originals, durable);
}

Status Journal::beginOver(uint32_t originalPageCount, std::span<const Original> originals, bool durable)
{
    return write(originalPageCount, originals, durable);
}

Status Journal::write(uint32_t originalPageCount, std::span<const Original> originals, bool durable)
{
    // The entries go first, a run of them at a time through a buffer kept
    // from one commit to the next (a buffer for the whole journal, new at
    // every commit, cost more in fresh memory than the writing itself).
    // Until the header is written the journal is not armed: a begin()
    // finds it disarmed, and a beginOver() finds the header of a journal
    // without entries, which stays good while they are written. A write
    // cut short leaves a checksum that does not match, so the journal is
    // ignored, and the database has not been touched yet.
    const size_t entryBytes = entrySize(m_pageSize);
    // An even number of entries per run keeps each run a whole number of
    // the checksum's 8-byte words, so the runs' checksums carry on.
    static_assert(kEntriesPerWrite % 2 == 0);
    const size_t perRun = std::min(kEntriesPerWrite, originals.size());
    if (m_run.size() < perRun * entryBytes) m_run.resize(perRun * entryBytes);
    uint64_t checksum = kJournalChecksumStart;
    for (size_t first = 0; first < originals.size(); first += perRun) {
        const size_t count = std::min(perRun, originals.size() - first);
        // Every byte of the run is set here.
        for (size_t i = 0; i < count; ++i) {
            uint8_t* e = m_run.data() + i * entryBytes;
            putU32(e, 0, originals[first + i].page);
            std::memcpy(e + kEntryPageNumber, originals[first + i].bytes->data(), m_pageSize);
        }
        checksum = journalChecksum(checksum, m_run.data(), count * entryBytes);
        VK_RETURN_IF_ERROR(m_file->write(kHeaderSize + first * entryBytes, m_run.data(), count * entryBytes));
    }
    uint8_t header[kHeaderSize] = {};
    std::memcpy(header + kHdrMagic, kMagic, sizeof kMagic);
    putU32(header, kHdrPageSize, uint32_t(m_pageSize));
    putU32(header, kHdrOriginalPages, originalPageCount);
    putU32(header, kHdrEntries, uint32_t(originals.size()));
    putU64(header, kHdrChecksum, checksum);
    // Synced, the entries reach the disk before the header that makes them count.
    if (durable && !originals.empty()) VK_RETURN_IF_ERROR(m_file->sync());
    VK_RETURN_IF_ERROR(m_file->write(0, header, kHeaderSize));
    return durable ? m_file->sync() : Status::ok();
}

Status Journal::finish(bool durable)
{
    // Wiping the magic is enough to disarm the journal. The file keeps its
    // length: truncating and growing it again on every commit costs the
    // file system more than the commit itself. It is removed on close.
    uint8_t zero[sizeof kMagic] = {};
    VK_RETURN_IF_ERROR(m_file->write(0, zero, sizeof zero));
    if (durable) VK_RETURN_IF_ERROR(m_file->sync());
    return Status::ok();
}

Result<bool> Journal::isArmed()
{
    if (m_file->size() < sizeof kMagic) return false;
    uint8_t magic[sizeof kMagic];
    VK_RETURN_IF_ERROR(m_file->read(0, sizeof magic, magic));
    return std::memcmp(magic, kMagic, sizeof kMagic) == 0;
}

Result<std::optional<Journal::Pending>> Journal::readPending()
{
    std::optional<Pending> none;
    if (m_file->size() < kHeaderSize) return none;
    uint8_t header[kHeaderSize];
    VK_RETURN_IF_ERROR(m_file->read(0, kHeaderSize, header));
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return none;
    ByteReader h(header, kHeaderSize);
    const size_t pageSize = h.u32(kHdrPageSize);
    if (pageSize != kPageSize && pageSize != JetFormat::jet3().pageSize) return none;
    const size_t entryBytes = entrySize(pageSize);
    uint32_t count = h.u32(kHdrEntries);
    uint64_t expected = h.u64(kHdrChecksum);
    if (m_file->size() < kHeaderSize + uint64_t(count) * entryBytes) return none;
    Pending p;
    p.originalPageCount = h.u32(kHdrOriginalPages);
    p.pageSize = pageSize;
    std::vector<uint8_t> body(size_t(count) * entryBytes);
    if (!body.empty()) VK_RETURN_IF_ERROR(m_file->read(kHeaderSize, body.size(), body.data()));
    if (journalChecksum(kJournalChecksumStart, body.data(), body.size()) != expected) return none;
    p.entries.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = body.data() + size_t(i) * entryBytes;
        ByteReader r(e, entryBytes);
        p.entries[i].page = r.u32(0);
        std::memcpy(p.entries[i].original.data(), e + kEntryPageNumber, pageSize);
    }
    return std::optional<Pending>(std::move(p));
}

Result<bool> rollBackPendingJournal(PageFile& database, Journal& journal)
{
    VK_ASSIGN_OR_RETURN(std::optional<Journal::Pending> pending, journal.readPending());
    if (!pending) {
        if (journal.file().size() > 0 && journal.file().isWritable()) VK_RETURN_IF_ERROR(journal.file().truncate(0));
        return false;
    }
    if (!database.isWritable())
        return Status(ErrorCode::ReadOnly,
                      "the database was left half-written by an interrupted change and must be opened for writing "
                      "once to be repaired");
    const size_t pageSize = pending->pageSize;
    for (const JournalEntry& e : pending->entries)
        VK_RETURN_IF_ERROR(database.write(uint64_t(e.page) * pageSize, e.original.data(), pageSize));
    if (database.size() > uint64_t(pending->originalPageCount) * pageSize)
        VK_RETURN_IF_ERROR(database.truncate(uint64_t(pending->originalPageCount) * pageSize));
    VK_RETURN_IF_ERROR(database.sync());
    VK_RETURN_IF_ERROR(journal.finish(true));
    return true;
}

}  // namespace varnika::jet
