#include "db/jet/file/safe_point_journal.h"

#include "db/jet/file/bytes.h"
#include "db/jet/file/journal_checksum.h"

#include <cstring>
#include <memory>
#include <span>
#include <random>
#include <vector>

namespace varnika::jet {
namespace {

constexpr uint8_t kMagic[8] = {'V', 'K', 'S', 'A', 'F', 'E', '0', '1'};
constexpr size_t kHeaderSize = 64;
constexpr size_t kHdrMagic = 0;
constexpr size_t kHdrPageSize = 8;
constexpr size_t kHdrPageCount = 12;
constexpr size_t kHdrEpoch = 16;
constexpr size_t kHdrBootId = 24;
constexpr size_t kBootIdSize = kHeaderSize - kHdrBootId;
constexpr size_t kEntryPage = 0;
constexpr size_t kEntryChecksum = 8;
constexpr size_t kEntryData = 16;

size_t entrySize(size_t pageSize) { return kEntryData + pageSize; }

// Entries gathered before they are written: a few hundred kilobytes, so
// that a commit's journal goes out in a handful of writes.
constexpr size_t kMaxPendingBytes = 256 * 1024;

uint64_t entryChecksum(uint64_t epoch, uint32_t page, const uint8_t* data, size_t pageSize)
{
    return journalChecksum(kJournalChecksumStart ^ (epoch * 0x9e3779b97f4a7c15ULL) ^ page, data, pageSize);
}

void putBootId(uint8_t* header, const std::string& bootId)
{
    std::memset(header + kHdrBootId, 0, kBootIdSize);
    std::memcpy(header + kHdrBootId, bootId.data(), std::min(bootId.size(), kBootIdSize));
}

}  // namespace

std::string safePointPathFor(const std::string& databasePath) { return databasePath + "-safepoint"; }

Status SafePointJournal::writeHeader(uint64_t epoch, uint32_t pageCount)
{
    uint8_t header[kHeaderSize] = {};
    std::memcpy(header + kHdrMagic, kMagic, sizeof kMagic);
    putU32(header, kHdrPageSize, uint32_t(m_pageSize));
    putU32(header, kHdrPageCount, pageCount);
    putU64(header, kHdrEpoch, epoch);
    putBootId(header, m_bootId);
    VK_RETURN_IF_ERROR(m_file->write(0, header, kHeaderSize));
    return m_file->sync();
}

Status SafePointJournal::start(uint32_t pageCount)
{
    // A fresh epoch number each time, so that no entry left in the file from
    // any earlier epoch, of this run or another, passes for one of this epoch.
    if (!m_started) m_epoch = (uint64_t(std::random_device{}()) << 32) ^ std::random_device{}();
    ++m_epoch;
    m_started = false;
    m_protected.clear();
    m_changed.clear();
    m_pendingBytes = 0;
    m_pendingPages.clear();
    m_unsynced = false;
    VK_RETURN_IF_ERROR(writeHeader(m_epoch, pageCount));
    m_pageCount = pageCount;
    m_end = kHeaderSize;
    m_started = true;
    return Status::ok();
}

Status SafePointJournal::add(uint32_t page, const PageBuffer& original)
{
    // Every byte is set below: the page number, four zeros, the checksum
    // and the page.
    const size_t size = entrySize(m_pageSize);
    // Written out once past kMaxPendingBytes, so never more than this.
    if (!m_pending) m_pending = std::make_unique_for_overwrite<uint8_t[]>(kMaxPendingBytes + size);
    uint8_t* entry = m_pending.get() + m_pendingBytes;
    m_pendingBytes += size;
    std::memset(entry, 0, kEntryData);
    putU32(entry, kEntryPage, page);
    putU64(entry, kEntryChecksum, entryChecksum(m_epoch, page, original.data(), m_pageSize));
    std::memcpy(entry + kEntryData, original.data(), m_pageSize);
    m_pendingPages.push_back(page);
    m_protected.insert(page);
    return m_pendingBytes >= kMaxPendingBytes ? writePending() : Status::ok();
}

Status SafePointJournal::writePending()
{
    if (m_pendingBytes == 0) return Status::ok();
    Status s = m_file->write(m_end, m_pending.get(), m_pendingBytes);
    if (s.isOk()) {
        m_end += m_pendingBytes;
        m_unsynced = true;
    } else {
        // Part of the entries may be in the file, past m_end: the next
        // entries are written over them. Each holds its page as it was at
        // the safe point, so one left behind a later entry says nothing
        // untrue either.
        for (uint32_t page : m_pendingPages) m_protected.erase(page);
    }
    m_pendingBytes = 0;
    m_pendingPages.clear();
    return s;
}

Status SafePointJournal::sync()
{
    VK_RETURN_IF_ERROR(writePending());
    if (!m_unsynced) return Status::ok();
    VK_RETURN_IF_ERROR(m_file->sync());
    m_unsynced = false;
    return Status::ok();
}

Status SafePointJournal::syncInBackground()
{
    VK_RETURN_IF_ERROR(writePending());
    if (m_unsynced) m_file->startSync();
    return Status::ok();
}

Result<bool> rollBackAfterPowerLoss(PageFile& database, PageFile& journal, const std::string& bootId)
{
    if (journal.size() < kHeaderSize) return false;
    uint8_t header[kHeaderSize];
    VK_RETURN_IF_ERROR(journal.read(0, kHeaderSize, header));
    ByteReader h(header, kHeaderSize);
    const size_t pageSize = h.u32(kHdrPageSize);
    if (std::memcmp(header + kHdrMagic, kMagic, sizeof kMagic) != 0 || (pageSize != kPageSize && pageSize != JetFormat::jet3().pageSize))
        return false;
    uint8_t ours[kHeaderSize];
    putBootId(ours, bootId);
    // The same boot: the process was killed, and every write it made is in
    // the file; the rollback journal deals with the commit in hand. No boot
    // id to go by: nothing can be told, and nothing is undone.
    if (bootId.empty() || std::memcmp(header + kHdrBootId, ours + kHdrBootId, kBootIdSize) == 0) return false;
    if (!database.isWritable())
        return Status(ErrorCode::ReadOnly,
                      "the database was being changed when the power failed and must be opened for writing once to "
                      "be put back as it was");
    const uint64_t epoch = h.u64(kHdrEpoch);
    const uint32_t pageCount = h.u32(kHdrPageCount);
    std::vector<uint8_t> entry(entrySize(pageSize));
    for (uint64_t at = kHeaderSize; at + entry.size() <= journal.size(); at += entry.size()) {
        VK_RETURN_IF_ERROR(journal.read(at, entry.size(), entry.data()));
        ByteReader e(entry.data(), entry.size());
        const uint32_t page = e.u32(kEntryPage);
        if (e.u64(kEntryChecksum) != entryChecksum(epoch, page, entry.data() + kEntryData, pageSize)) break;
        if (page >= pageCount) break;  // never written so; not an entry of this epoch
        VK_RETURN_IF_ERROR(database.write(uint64_t(page) * pageSize, entry.data() + kEntryData, pageSize));
    }
    if (database.size() > uint64_t(pageCount) * pageSize)
        VK_RETURN_IF_ERROR(database.truncate(uint64_t(pageCount) * pageSize));
    VK_RETURN_IF_ERROR(database.sync());
    const uint8_t zero[sizeof kMagic] = {};
    VK_RETURN_IF_ERROR(journal.write(0, zero, sizeof zero));
    VK_RETURN_IF_ERROR(journal.sync());
    return true;
}

}  // namespace varnika::jet
