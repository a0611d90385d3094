#include "db/jet/table/long_value.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"

#include <set>

namespace varnika::jet {

Result<LongValueHeader> LongValueHeader::parse(std::span<const uint8_t> field)
{
    ByteReader r(field);
    LongValueHeader h;
    uint32_t word = r.u32(longvalue::kLengthAndKind);
    h.first = RowPointer::fromWord(r.u32(longvalue::kPointer));
    if (!r.ok()) return corruption("a long-value field is shorter than its header");
    h.length = word & longvalue::kLengthMask;
    h.kind = word & longvalue::kKindMask;
    return h;
}

namespace {

Result<RowBytes> readLvalRow(Pager& pager, SlotTableMemo& slotTables, RowPointer ptr)
{
    VK_ASSIGN_OR_RETURN(RowBytes row, slotTables.read(pager, ptr));
    ByteReader r(row.page->data(), row.page->size());
    if (r.u32(datapage::kOwner) != datapage::kLongValueOwner)
        return corruption("a long value points at page " + std::to_string(ptr.page) + ", which is not a long-value page");
    if (row.slot.isDeleted()) return corruption("a long value points at a deleted row of page " + std::to_string(ptr.page));
    return row;
}

}  // namespace

Result<std::vector<uint8_t>> LongValueReader::readLongValue(std::span<const uint8_t> field)
{
    VK_ASSIGN_OR_RETURN(LongValueHeader h, LongValueHeader::parse(field));
    ByteReader r(field);
    if (h.kind == longvalue::kKindInline) {
        auto data = r.bytes(longvalue::kHeaderSize, h.length);
        if (!r.ok()) return corruption("an inline long value is longer than its field");
        return std::vector<uint8_t>(data.begin(), data.end());
    }
    // No value can be longer than the pages of the file hold.
    if (uint64_t(h.length) > uint64_t(m_pager.pageCount()) * m_pager.pageSize())
        return corruption("a long value claims more bytes than the file holds");
    if (h.kind == longvalue::kKindSingleRow) {
        VK_ASSIGN_OR_RETURN(RowBytes row, readLvalRow(m_pager, m_slotTables, h.first));
        auto bytes = row.bytes();
        if (bytes.size() < h.length) return corruption("a long value is shorter than its header says");
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(h.length));
    }
    if (h.kind != longvalue::kKindChain) return corruption("a long value has an unknown kind");
    std::vector<uint8_t> out;
    out.reserve(h.length);
    std::set<uint32_t> seen;
    RowPointer ptr = h.first;
    while (out.size() < h.length) {
        if (!seen.insert(ptr.toWord()).second) return corruption("a long-value chain loops");
        VK_ASSIGN_OR_RETURN(RowBytes row, readLvalRow(m_pager, m_slotTables, ptr));
        ByteReader piece(row.bytes());
        uint32_t next = piece.u32(0);
        if (!piece.ok()) return corruption("a long-value piece is too short for its link");
        auto data = row.bytes().subspan(longvalue::kChainPointerSize);
        size_t take = std::min(data.size(), size_t(h.length) - out.size());
        out.insert(out.end(), data.begin(), data.begin() + long(take));
        if (out.size() < h.length) {
            if (next == 0) return corruption("a long-value chain ends before its length");
            ptr = RowPointer::fromWord(next);
        }
    }
    return out;
}

}  // namespace varnika::jet
