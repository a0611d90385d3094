#include "db/jet/table/long_value_writer.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/page/text_codec.h"
#include "db/jet/page/usage_map.h"

#include <map>
#include <set>

namespace varnika::jet {

namespace {

std::vector<uint8_t> makeHeader(uint32_t lengthAndKind, uint32_t pointerWord)
{
    std::vector<uint8_t> h(longvalue::kHeaderSize, 0);
    putU32(h.data(), longvalue::kLengthAndKind, lengthAndKind);
    putU32(h.data(), longvalue::kPointer, pointerWord);
    putU32(h.data(), longvalue::kReserved, 0);
    return h;
}

}  // namespace

std::vector<uint8_t> encodeMemoText(const std::u16string& text, bool compressionAllowed)
{
    // Memo text is stored exactly like Text.
    return encodeJetText(text, compressionAllowed);
}

Result<RowPointer> LongValueWriter::addRow(std::span<const uint8_t> row, const PageOwners& columnMaps)
{
    Pager& pager = m_allocator.pager();
    std::optional<uint32_t> target;
    if (columnMaps.owned) {
        VK_ASSIGN_OR_RETURN(target, m_allocator.findPageWithRoom(*columnMaps.owned, columnMaps.freeSpace,
                                                                 datapage::kLongValueOwner, row.size()));
    } else if (m_unownedPage && *m_unownedPage < pager.pageCount()) {
        VK_ASSIGN_OR_RETURN(PageRef page, pager.read(*m_unownedPage));
        auto editor = DataPageEditor::open(*page, *m_unownedPage, pager.format());
        if (editor && editor->owner() == datapage::kLongValueOwner && editor->canAddRow(row.size()))
            target = *m_unownedPage;
    }
    if (!target) {
        VK_ASSIGN_OR_RETURN(uint32_t added, m_allocator.allocateDataPage(datapage::kLongValueOwner, columnMaps));
        target = added;
        if (!columnMaps.owned) m_unownedPage = added;
    }
    VK_ASSIGN_OR_RETURN(DataPageEditor editor, m_allocator.openDataPage(*target));
    VK_ASSIGN_OR_RETURN(int slot, editor.addRow(row));
    const size_t freeAfter = editor.freeSpace();
    VK_RETURN_IF_ERROR(m_allocator.writeDataPage(std::move(editor)));
    if (columnMaps.owned && freeAfter < PageAllocator::kNearlyFullBytes)
        VK_RETURN_IF_ERROR(m_allocator.noteFreeSpace(*target, freeAfter, columnMaps.freeSpace));
    return RowPointer{*target, uint8_t(slot)};
}

Result<std::vector<uint8_t>> LongValueWriter::write(std::span<const uint8_t> data, const PageOwners& columnMaps,
                                                    size_t inlineRoom)
{
    if (data.size() > longvalue::kLengthMask) return invalidArgument("a long value of 1 GB or more cannot be stored");
    const uint32_t length = uint32_t(data.size());

    if (data.size() <= longvalue::kMaxInline && data.size() <= inlineRoom) {
        std::vector<uint8_t> out = makeHeader(length | longvalue::kKindInline, 0);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
    const JetFormat::LongValues& limits = m_allocator.pager().format().longValue;
    if (data.size() <= limits.maxSingleRow) {
        VK_ASSIGN_OR_RETURN(RowPointer where, addRow(data, columnMaps));
        return makeHeader(length | longvalue::kKindSingleRow, where.toWord());
    }
    // Write the pieces from the last to the first so that each row can name
    // the one after it.
    size_t pieces = (data.size() + limits.maxChainPiece - 1) / limits.maxChainPiece;
    uint32_t next = 0;
    for (size_t i = pieces; i-- > 0;) {
        size_t begin = i * limits.maxChainPiece;
        size_t size = std::min(limits.maxChainPiece, data.size() - begin);
        std::vector<uint8_t> row(longvalue::kChainPointerSize + size);
        putU32(row.data(), 0, next);
        std::copy(data.begin() + long(begin), data.begin() + long(begin + size), row.begin() + long(longvalue::kChainPointerSize));
        VK_ASSIGN_OR_RETURN(RowPointer where, addRow(row, columnMaps));
        next = where.toWord();
    }
    return makeHeader(length | longvalue::kKindChain, next);
}

Result<std::vector<RowPointer>> LongValueWriter::rowsOf(std::span<const uint8_t> columnBytes)
{
    ByteReader r(columnBytes);
    uint32_t word = r.u32(longvalue::kLengthAndKind);
    uint32_t pointer = r.u32(longvalue::kPointer);
    if (!r.ok()) return corruption("a long-value header is shorter than 12 bytes");
    uint32_t kind = word & longvalue::kKindMask;
    size_t length = word & longvalue::kLengthMask;
    std::vector<RowPointer> rows;
    if (kind == longvalue::kKindInline) return rows;

    Pager& pager = m_allocator.pager();
    auto fetch = [&](RowPointer at) -> Result<RowBytes> {
        VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(pager, at));
        ByteReader pr(row.page->data(), row.page->size());
        if (pr.u32(datapage::kOwner) != datapage::kLongValueOwner)
            return corruption("a long value points at page " + std::to_string(at.page) + ", which is not a long-value page");
        if (row.slot.flags != 0)
            return corruption("a long value points at row " + std::to_string(at.row) + " of page " +
                              std::to_string(at.page) + ", which is deleted");
        return row;
    };
    if (kind == longvalue::kKindSingleRow) {
        RowPointer at = RowPointer::fromWord(pointer);
        VK_ASSIGN_OR_RETURN(RowBytes row, fetch(at));
        if (row.slot.length < length) return corruption("a long-value row is shorter than its value");
        rows.push_back(at);
        return rows;
    }
    if (kind != longvalue::kKindChain) return corruption("a long-value header has an unknown kind");
    std::set<uint32_t> seen;
    size_t collected = 0;
    uint32_t next = pointer;
    while (collected < length) {
        if (next == 0) return corruption("a long-value chain ends before its stated length");
        if (!seen.insert(next).second) return corruption("a long-value chain loops");
        RowPointer at = RowPointer::fromWord(next);
        VK_ASSIGN_OR_RETURN(RowBytes row, fetch(at));
        ByteReader rr(row.bytes());
        next = rr.u32(0);
        if (!rr.ok() || row.slot.length == longvalue::kChainPointerSize)
            return corruption("a long-value chain holds an empty piece");
        collected += row.slot.length - longvalue::kChainPointerSize;
        rows.push_back(at);
    }
    return rows;
}

Status LongValueWriter::release(std::span<const uint8_t> columnBytes, const PageOwners& columnMaps)
{
    VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, rowsOf(columnBytes));
    if (rows.empty()) return Status::ok();
    std::map<uint32_t, std::vector<int>> byPage;
    for (RowPointer p : rows) byPage[p.page].push_back(p.row);

    // The column's owned pages: marking rows deleted changes only the
    // free-space map, so one look serves every page.
    const UsageMap* owned = nullptr;
    if (columnMaps.owned && columnMaps.freeSpace) {
        VK_ASSIGN_OR_RETURN(owned, m_allocator.ownerMap(*columnMaps.owned));
    }
    for (auto& [pageNumber, slots] : byPage) {
        // Through the allocator: a page whose values were released just
        // before (the records of a run lie close together) is not parsed again.
        VK_ASSIGN_OR_RETURN(DataPageEditor editor, m_allocator.openDataPage(pageNumber));
        for (int slot : slots) VK_RETURN_IF_ERROR(editor.markDeleted(slot));
        const size_t freeAfter = editor.freeSpace();
        VK_RETURN_IF_ERROR(m_allocator.writeDataPage(std::move(editor)));
        // The page has room again: offer it for the column's next values.
        if (owned && owned->contains(pageNumber))
            VK_RETURN_IF_ERROR(m_allocator.noteFreeSpace(pageNumber, freeAfter, columnMaps.freeSpace));
    }
    return Status::ok();
}

}  // namespace varnika::jet
