#include "db/jet/index/entry_sorter.h"

#include "db/jet/index/entry_bytes.h"
#include "db/jet/index/index_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace varnika::jet {

namespace {

// An entry in a run: its length (u16, little-endian) and its bytes.
constexpr size_t kRunLengthSize = 2;
// What a run is written and read back through.
constexpr size_t kRunBufferSize = size_t(64) << 10;

std::string systemReason() { return std::strerror(errno); }

Status writeAll(int fd, uint64_t offset, const uint8_t* bytes, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, bytes, n, off_t(offset));
        if (w < 0) {
            if (errno == EINTR) continue;
            return ioError("the index's entries could not be written to a temporary file: " + systemReason());
        }
        bytes += w;
        offset += uint64_t(w);
        n -= size_t(w);
    }
    return Status::ok();
}

// Blocks small enough that a small budget is kept, and never smaller
// than the largest entry.
size_t blockSizeFor(size_t budget)
{
    const size_t largest = kMaxIndexKeySize + indexlayout::kRowIdSize;
    return std::clamp(budget / 4, largest, IndexEntryList::kDefaultBlockSize);
}

class HeldEntries final : public SortedEntries {
public:
    explicit HeldEntries(std::unique_ptr<IndexEntryList> list) : m_list(std::move(list)), m_reader(*m_list) {}
    size_t size() const override { return m_reader.size(); }
    Status rewind() override { return m_reader.rewind(); }
    Result<bool> next() override { return m_reader.next(); }
    std::span<const uint8_t> entry() const override { return m_reader.entry(); }

private:
    std::unique_ptr<IndexEntryList> m_list;
    SortedListEntries m_reader;
};

// The runs of a temporary file, merged: each run is read through a buffer
// of its own, and a heap keeps the run whose entry comes first on top.
class MergedRuns final : public SortedEntries {
public:
    struct Run {
        uint64_t offset = 0;
        uint64_t bytes = 0;
        size_t count = 0;
    };

    MergedRuns(int fd, std::vector<Run> runs, size_t count) : m_fd(fd), m_runs(std::move(runs)), m_count(count)
    {
        m_readers.resize(m_runs.size());
        for (Reader& r : m_readers) r.buffer.resize(kRunBufferSize);
    }
    ~MergedRuns() override { ::close(m_fd); }
    MergedRuns(const MergedRuns&) = delete;
    MergedRuns& operator=(const MergedRuns&) = delete;

    size_t size() const override { return m_count; }

    Status rewind() override
    {
        m_heap.clear();
        m_current = kNone;
        for (size_t i = 0; i < m_runs.size(); ++i) {
            Reader& r = m_readers[i];
            r.at = m_runs[i].offset;
            r.end = m_runs[i].offset + m_runs[i].bytes;
            r.left = m_runs[i].count;
            r.held = r.used = 0;
            VK_ASSIGN_OR_RETURN(bool has, advance(r));
            if (has) pushRun(i);
        }
        m_started = true;
        return Status::ok();
    }

    Result<bool> next() override
    {
        if (!m_started) VK_RETURN_IF_ERROR(rewind());
        if (m_current != kNone) {
            const size_t run = m_current;
            m_current = kNone;
            VK_ASSIGN_OR_RETURN(bool has, advance(m_readers[run]));
            if (has) pushRun(run);
        }
        if (m_heap.empty()) return false;
        std::pop_heap(m_heap.begin(), m_heap.end(), later());
        m_current = m_heap.back();
        m_heap.pop_back();
        return true;
    }

    std::span<const uint8_t> entry() const override
    {
        if (m_current == kNone) return {};
        return m_readers[m_current].entry;
    }

private:
    static constexpr size_t kNone = SIZE_MAX;

    struct Reader {
        uint64_t at = 0, end = 0;  // what is left of the run in the file
        size_t left = 0;           // entries not yet read
        std::vector<uint8_t> buffer;
        size_t held = 0, used = 0;  // bytes in the buffer, and taken
        EntryBytes entry;
    };

    // The ordering of the heap: the run whose entry comes later sinks.
    struct Later {
        const std::vector<Reader>* readers;
        bool operator()(size_t a, size_t b) const { return (*readers)[a].entry > (*readers)[b].entry; }
    };
    Later later() const { return Later{&m_readers}; }
    void pushRun(size_t run)
    {
        m_heap.push_back(run);
        std::push_heap(m_heap.begin(), m_heap.end(), later());
    }

    // `n` bytes of the run into `out`, refilling the buffer as it empties.
    Status take(Reader& r, uint8_t* out, size_t n)
    {
        while (n > 0) {
            if (r.used == r.held) {
                const size_t want = size_t(std::min<uint64_t>(r.buffer.size(), r.end - r.at));
                if (want == 0) return ioError("the temporary file of the index's entries ends before its entries do");
                const ssize_t got = ::pread(m_fd, r.buffer.data(), want, off_t(r.at));
                if (got < 0) {
                    if (errno == EINTR) continue;
                    return ioError("the index's entries could not be read back from a temporary file: " + systemReason());
                }
                if (got == 0) return ioError("the temporary file of the index's entries ends before its entries do");
                r.at += uint64_t(got);
                r.held = size_t(got);
                r.used = 0;
            }
            const size_t k = std::min(n, r.held - r.used);
            std::memcpy(out, r.buffer.data() + r.used, k);
            r.used += k;
            out += k;
            n -= k;
        }
        return Status::ok();
    }

    // The run's next entry into its reader: false when the run is done.
    Result<bool> advance(Reader& r)
    {
        if (r.left == 0) return false;
        uint8_t length[kRunLengthSize];
        VK_RETURN_IF_ERROR(take(r, length, kRunLengthSize));
        const size_t n = size_t(length[0]) | size_t(length[1]) << 8;
        if (n == 0) return ioError("the temporary file of the index's entries holds an empty entry");
        r.entry.resize(n);
        VK_RETURN_IF_ERROR(take(r, r.entry.data(), n));
        --r.left;
        return true;
    }

    int m_fd;
    std::vector<Run> m_runs;
    size_t m_count;
    std::vector<Reader> m_readers;
    std::vector<size_t> m_heap;
    size_t m_current = kNone;
    bool m_started = false;
};

}  // namespace

EntrySorter::EntrySorter(size_t memoryBudget)
    : m_budget(memoryBudget), m_held(std::make_unique<IndexEntryList>(blockSizeFor(memoryBudget)))
{
}

EntrySorter::~EntrySorter()
{
    if (m_fd >= 0) ::close(m_fd);
}

Status EntrySorter::add(std::span<const uint8_t> key, RowId row)
{
    if (key.size() > kMaxIndexKeySize) return notSupported("an index key of " + std::to_string(key.size()) + " bytes is too long");
    m_held->add(key, row);
    ++m_count;
    return spillIfFull();
}

Status EntrySorter::addBytes(std::span<const uint8_t> entry)
{
    if (entry.empty() || entry.size() > kMaxIndexKeySize + indexlayout::kRowIdSize)
        return invalidArgument("an index entry of " + std::to_string(entry.size()) + " bytes cannot be sorted");
    m_held->addBytes(entry);
    ++m_count;
    return spillIfFull();
}

Status EntrySorter::spillIfFull()
{
    if (!m_held->complete()) return notSupported("an index of this many entries cannot be built");
    return m_held->memoryHeld() >= m_budget ? spill() : Status::ok();
}

Status EntrySorter::spill()
{
    if (m_held->empty()) return Status::ok();
    if (m_fd < 0) {
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir && *dir ? dir : "/tmp") + "/varnika-index-XXXXXX";
        m_fd = ::mkstemp(path.data());
        if (m_fd < 0) return ioError("no temporary file could be made to sort the index's entries in: " + systemReason());
        // Nameless from now on: the file goes with the last descriptor.
        ::unlink(path.c_str());
    }
    m_held->sort();
    Run run;
    run.offset = m_written;
    run.count = m_held->size();
    std::vector<uint8_t> buffer;
    buffer.reserve(kRunBufferSize);
    for (size_t i = 0; i < m_held->size(); ++i) {
        const std::span<const uint8_t> e = (*m_held)[i];
        if (buffer.size() + kRunLengthSize + e.size() > kRunBufferSize) {
            VK_RETURN_IF_ERROR(writeAll(m_fd, m_written, buffer.data(), buffer.size()));
            m_written += buffer.size();
            buffer.clear();
        }
        buffer.push_back(uint8_t(e.size()));
        buffer.push_back(uint8_t(e.size() >> 8));
        buffer.insert(buffer.end(), e.begin(), e.end());
    }
    VK_RETURN_IF_ERROR(writeAll(m_fd, m_written, buffer.data(), buffer.size()));
    m_written += buffer.size();
    run.bytes = m_written - run.offset;
    m_runs.push_back(run);
    m_held = std::make_unique<IndexEntryList>(blockSizeFor(m_budget));
    return Status::ok();
}

Result<std::unique_ptr<SortedEntries>> EntrySorter::finish()
{
    std::unique_ptr<SortedEntries> out;
    if (m_runs.empty()) {
        m_held->sort();
        out = std::make_unique<HeldEntries>(std::move(m_held));
    } else {
        VK_RETURN_IF_ERROR(spill());
        std::vector<MergedRuns::Run> runs;
        for (const Run& r : m_runs) runs.push_back({r.offset, r.bytes, r.count});
        out = std::make_unique<MergedRuns>(m_fd, std::move(runs), m_count);
        m_fd = -1;
    }
    m_held = std::make_unique<IndexEntryList>(blockSizeFor(m_budget));
    m_runs.clear();
    m_count = 0;
    m_written = 0;
    return out;
}

}  // namespace varnika::jet
