#pragma once
// Sorting the entries of an index being built, in bounded memory. Entries
// are gathered in a packed list (index_entry_list.h) up to a budget; a full
// list is sorted and written out as a run to a temporary file, which has no
// name (nothing is left behind by a crash) and goes when the sort does. The
// runs are merged as they are read back, as often as the reader starts
// over. Entries that fit the budget never leave memory.

#include "db/jet/index/index_entry_list.h"
#include "db/status.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace varnika::jet {

// Entries in the order of their bytes, read one at a time.
class SortedEntries {
public:
    virtual ~SortedEntries() = default;
    // How many entries there are.
    virtual size_t size() const = 0;
    // Back before the first entry.
    virtual Status rewind() = 0;
    // Moves to the next entry: false past the last one.
    virtual Result<bool> next() = 0;
    // The entry `next` moved to (key ‖ row id), good until the next call.
    virtual std::span<const uint8_t> entry() const = 0;
};

// The entries of a sorted list, which must outlive the reader.
class SortedListEntries final : public SortedEntries {
public:
    explicit SortedListEntries(const IndexEntryList& sorted) : m_list(sorted) {}
    size_t size() const override { return m_list.size(); }
    Status rewind() override
    {
        m_next = 0;
        return Status::ok();
    }
    Result<bool> next() override
    {
        if (m_next >= m_list.size()) return false;
        m_current = m_list[m_next++];
        return true;
    }
    std::span<const uint8_t> entry() const override { return m_current; }

private:
    const IndexEntryList& m_list;
    size_t m_next = 0;
    std::span<const uint8_t> m_current;
};

class EntrySorter {
public:
    // What the entries held in memory may take (their bytes and places).
    static constexpr size_t kDefaultMemoryBudget = size_t(16) << 20;

    explicit EntrySorter(size_t memoryBudget = kDefaultMemoryBudget);
    ~EntrySorter();
    EntrySorter(const EntrySorter&) = delete;
    EntrySorter& operator=(const EntrySorter&) = delete;

    // Adds key ‖ row id. A temporary file that cannot be made or written
    // → IOError; an entry too large for any index → InvalidArgument.
    Status add(std::span<const uint8_t> key, RowId row);
    // Adds an entry's bytes as they are.
    Status addBytes(std::span<const uint8_t> entry);
    size_t size() const { return m_count; }
    // How many runs went to the temporary file so far.
    size_t runs() const { return m_runs.size(); }

    // Sorts what was added and hands it over; the sorter is empty after.
    Result<std::unique_ptr<SortedEntries>> finish();

private:
    struct Run {
        uint64_t offset = 0;
        uint64_t bytes = 0;
        size_t count = 0;
    };
    Status spillIfFull();
    Status spill();

    size_t m_budget;
    size_t m_count = 0;
    std::unique_ptr<IndexEntryList> m_held;
    std::vector<Run> m_runs;
    int m_fd = -1;  // the temporary file, once made
    uint64_t m_written = 0;
};

}  // namespace varnika::jet
