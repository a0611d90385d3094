#include "db/jet/page/data_page_editor.h"

#include "db/jet/file/bytes.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace varnika::jet {

namespace {

std::string slotName(uint32_t pageNumber, size_t slot)
{
    return "data page " + std::to_string(pageNumber) + " row " + std::to_string(slot);
}

}  // namespace

PageBuffer makeDataPage(uint32_t owner, const JetFormat& format)
{
    PageBuffer p{};
    putU8(p.data(), page::kType, uint8_t(PageType::Data));
    putU8(p.data(), page::kMarker, page::kMarkerValue);
    putU16(p.data(), datapage::kFreeSpace, uint16_t(format.dataPageRoom()));
    putU32(p.data(), datapage::kOwner, owner);
    if (format.data.reserved != kAbsent) putU32(p.data(), format.data.reserved, 0);
    putU16(p.data(), format.data.slotCount, 0);
    return p;
}

Status checkDataPage(std::span<const uint8_t> bytes, uint32_t pageNumber, const JetFormat& format)
{
    // Named only when something is wrong: a sound page costs no text.
    auto where = [pageNumber] { return "data page " + std::to_string(pageNumber); };
    if (bytes.size() < format.pageSize) return corruption(where() + " is not a whole page");
    bytes = bytes.first(format.pageSize);
    ByteReader r(bytes);
    if (r.u8(page::kType) != uint8_t(PageType::Data)) return corruption(where() + " is not a data page");
    if (r.u8(page::kMarker) != page::kMarkerValue) return corruption(where() + " has a wrong marker byte");
    size_t count = r.u16(format.data.slotCount);
    if (count > size_t(datapage::kMaxSlots)) return corruption(where() + " claims " + std::to_string(count) + " rows");
    size_t tableEnd = format.data.slotTable + count * datapage::kSlotSize;
    if (tableEnd > format.pageSize) return corruption(where() + " has a slot table past the end of the page");
    size_t previous = format.pageSize;
    size_t used = tableEnd;
    for (size_t i = 0; i < count; ++i) {
        uint16_t word = r.u16(format.data.slotTable + i * datapage::kSlotSize);
        uint16_t flags = word & datapage::kSlotDeleted;
        bool deleted = flags == datapage::kSlotDeleted;
        if (word & datapage::kSlotUnknownFlag) return corruption(slotName(pageNumber, i) + " has an unknown flag bit");
        size_t offset = word & datapage::kSlotOffsetMask;
        if (offset > previous || offset < tableEnd) {
            if (!deleted) return corruption(slotName(pageNumber, i) + " lies outside the page's row area");
            offset = previous;
        }
        size_t length = previous - offset;
        if (flags == datapage::kSlotLookup && length < datapage::kOverflowPointerSize)
            return corruption(slotName(pageNumber, i) + " is an overflow header too short for its pointer");
        used += length;
        previous = offset;
    }
    if (used > format.pageSize) return corruption(where() + " holds more bytes than a page");
    size_t computed = format.pageSize - used;
    if (r.u16(datapage::kFreeSpace) != computed)
        return corruption(where() + " records " + std::to_string(r.u16(datapage::kFreeSpace)) +
                          " free bytes but its rows leave " + std::to_string(computed));
    return Status::ok();
}

Result<DataPageEditor> DataPageEditor::open(const PageBuffer& page, uint32_t pageNumber, const JetFormat& format)
{
    VK_RETURN_IF_ERROR(checkDataPage(page, pageNumber, format));
    return openAccepted(page, pageNumber, format);
}

Result<DataPageEditor> DataPageEditor::openAccepted(const PageBuffer& page, uint32_t pageNumber, const JetFormat& format)
{
    DataPageEditor e;
    e.m_page = page;
    e.m_pageNumber = pageNumber;
    e.m_format = &format;
    ByteReader r(page.data(), format.pageSize);
    size_t count = r.u16(format.data.slotCount);
    size_t tableEnd = e.slotTableEnd(count);
    size_t previous = format.pageSize;
    bool stale = false;
    e.m_slots.reserve(count + 1);
    for (size_t i = 0; i < count; ++i) {
        uint16_t word = r.u16(format.data.slotTable + i * datapage::kSlotSize);
        Entry s;
        s.flags = word & datapage::kSlotDeleted;
        size_t offset = word & datapage::kSlotOffsetMask;
        if (offset > previous || offset < tableEnd) {
            offset = previous;  // a deleted slot with a stale offset (checked above)
            stale = true;
        }
        s.offset = uint16_t(offset);
        s.length = uint16_t(previous - offset);
        e.m_slots.push_back(s);
        previous = offset;
    }
    // Normalise stale offsets at once so that every later slot word we
    // write is consistent; the row bytes do not move.
    if (stale) e.writeSlotTable();
    return e;
}

DataPageEditor DataPageEditor::reopen(const PageBuffer& page, uint32_t pageNumber, Slots known, const JetFormat& format)
{
    DataPageEditor e;
    e.m_page = page;
    e.m_pageNumber = pageNumber;
    e.m_format = &format;
    e.m_slots = std::move(known);
    return e;
}

DataPageEditor DataPageEditor::create(uint32_t pageNumber, uint32_t owner, const JetFormat& format)
{
    DataPageEditor e;
    e.m_page = makeDataPage(owner, format);
    e.m_pageNumber = pageNumber;
    e.m_format = &format;
    return e;
}

uint32_t DataPageEditor::owner() const
{
    ByteReader r(m_page.data(), m_page.size());
    return r.u32(datapage::kOwner);
}

std::span<const uint8_t> DataPageEditor::rowBytes(int slot) const
{
    if (slot < 0 || slot >= slotCount()) return {};
    const Entry& s = m_slots[size_t(slot)];
    return {m_page.data() + s.offset, s.length};
}

size_t DataPageEditor::slotTableEnd(size_t slots) const
{
    return m_format->data.slotTable + slots * datapage::kSlotSize;
}

size_t DataPageEditor::usedBytes() const
{
    size_t used = slotTableEnd(m_slots.size());
    for (const Entry& s : m_slots) used += s.length;
    return used;
}

size_t DataPageEditor::freeSpace() const
{
    size_t used = usedBytes();
    return used <= m_format->pageSize ? m_format->pageSize - used : 0;
}

bool DataPageEditor::canAddRow(size_t length) const
{
    return m_slots.size() < size_t(datapage::kMaxSlots) && length + datapage::kSlotSize <= freeSpace();
}

bool DataPageEditor::canReplaceRow(int slot, size_t length) const
{
    if (slot < 0 || slot >= slotCount()) return false;
    size_t old = m_slots[size_t(slot)].length;
    return length <= old || length - old <= freeSpace();
}

void DataPageEditor::writeSlotTable()
{
    putU16(m_page.data(), m_format->data.slotCount, uint16_t(m_slots.size()));
    for (size_t i = 0; i < m_slots.size(); ++i)
        putU16(m_page.data(), m_format->data.slotTable + i * datapage::kSlotSize,
               uint16_t(m_slots[i].offset | m_slots[i].flags));
    putU16(m_page.data(), datapage::kFreeSpace, uint16_t(freeSpace()));
}

bool DataPageEditor::shiftInPlace(int slot, std::span<const uint8_t> replacement, uint16_t newFlags)
{
    // Only a page already laid out as rebuild() lays it out: no bytes kept
    // by deleted slots, overflow headers of their pointer alone, nothing but
    // zeros outside the rows. Its other rows then only move.
    if (slot < 0 || size_t(slot) >= m_slots.size()) return false;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (int(i) == slot) continue;
        const Entry& s = m_slots[i];
        if (s.flags == datapage::kSlotDeleted && s.length != 0) return false;
        if (s.flags == datapage::kSlotLookup && s.length != datapage::kOverflowPointerSize) return false;
    }
    const size_t tableEnd = slotTableEnd(m_slots.size());
    const size_t lowest = m_slots.back().offset;
    if (lowest < tableEnd || m_format->pageSize > m_page.size()) return false;
    static constexpr PageBuffer kZeros{};
    auto zero = [](const uint8_t* from, const uint8_t* to) { return std::memcmp(from, kZeros.data(), size_t(to - from)) == 0; };
    if (!zero(m_page.data() + tableEnd, m_page.data() + lowest) || !zero(m_page.data() + m_format->pageSize, m_page.data() + m_page.size()))
        return false;
    Entry& changed = m_slots[size_t(slot)];
    const size_t end = size_t(changed.offset) + changed.length;
    const long delta = long(changed.length) - long(replacement.size());  // what the rows after it move up by
    if (long(lowest) + delta < long(tableEnd)) return false;
    std::memmove(m_page.data() + long(lowest) + delta, m_page.data() + lowest, changed.offset - lowest);
    if (delta > 0) std::memset(m_page.data() + lowest, 0, size_t(delta));
    std::copy(replacement.begin(), replacement.end(), m_page.begin() + long(end - replacement.size()));
    changed.offset = uint16_t(end - replacement.size());
    changed.length = uint16_t(replacement.size());
    changed.flags = newFlags;
    for (size_t i = size_t(slot) + 1; i < m_slots.size(); ++i) m_slots[i].offset = uint16_t(long(m_slots[i].offset) + delta);
    writeSlotTable();
    return true;
}

void DataPageEditor::rebuild(int slot, std::span<const uint8_t> replacement, uint16_t newFlags)
{
    if (shiftInPlace(slot, replacement, newFlags)) return;
    std::vector<std::vector<uint8_t>> rows(m_slots.size());
    for (size_t i = 0; i < m_slots.size(); ++i) {
        Entry& s = m_slots[i];
        if (int(i) == slot) {
            rows[i].assign(replacement.begin(), replacement.end());
            s.flags = newFlags;
        } else if (s.flags == datapage::kSlotDeleted) {
            // nothing: a deleted slot keeps no bytes
        } else if (s.flags == datapage::kSlotLookup) {
            auto b = rowBytes(int(i)).first(std::min<size_t>(s.length, datapage::kOverflowPointerSize));
            rows[i].assign(b.begin(), b.end());
        } else {
            auto b = rowBytes(int(i));
            rows[i].assign(b.begin(), b.end());
        }
    }
    size_t tableEnd = slotTableEnd(m_slots.size());
    std::fill(m_page.begin() + long(tableEnd), m_page.end(), uint8_t(0));
    size_t pos = m_format->pageSize;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        pos -= rows[i].size();
        std::copy(rows[i].begin(), rows[i].end(), m_page.begin() + long(pos));
        m_slots[i].offset = uint16_t(pos);
        m_slots[i].length = uint16_t(rows[i].size());
    }
    writeSlotTable();
}

void DataPageEditor::compact()
{
    rebuild(-1, {}, 0);
}

Result<int> DataPageEditor::addRow(std::span<const uint8_t> bytes, uint16_t flags)
{
    if (flags != 0 && flags != datapage::kSlotNotBaseRow)
        return invalidArgument("a new row can only be a base row or an overflow target");
    if (m_slots.size() >= size_t(datapage::kMaxSlots))
        return invalidArgument("data page " + std::to_string(m_pageNumber) + " already holds 255 rows");
    if (bytes.size() + datapage::kSlotSize > freeSpace())
        return invalidArgument("data page " + std::to_string(m_pageNumber) + " has no room for a row of " +
                               std::to_string(bytes.size()) + " bytes");
    size_t lowest = m_slots.empty() ? m_format->pageSize : m_slots.back().offset;
    Entry s;
    s.offset = uint16_t(lowest - bytes.size());
    s.length = uint16_t(bytes.size());
    s.flags = flags;
    std::copy(bytes.begin(), bytes.end(), m_page.begin() + s.offset);
    m_slots.push_back(s);
    // The slot table on the page is the editor's but for the new slot.
    const size_t slot = m_slots.size() - 1;
    putU16(m_page.data(), m_format->data.slotCount, uint16_t(m_slots.size()));
    putU16(m_page.data(), m_format->data.slotTable + slot * datapage::kSlotSize, uint16_t(s.offset | s.flags));
    putU16(m_page.data(), datapage::kFreeSpace, uint16_t(freeSpace()));
    return int(slot);
}

Status DataPageEditor::replaceRow(int slot, std::span<const uint8_t> bytes)
{
    if (slot < 0 || slot >= slotCount()) return invalidArgument(slotName(m_pageNumber, size_t(std::max(slot, 0))) + " does not exist");
    Entry& s = m_slots[size_t(slot)];
    if (s.flags != 0 && s.flags != datapage::kSlotNotBaseRow)
        return invalidArgument(slotName(m_pageNumber, size_t(slot)) + " is deleted or an overflow header");
    if (bytes.size() == s.length) {
        std::copy(bytes.begin(), bytes.end(), m_page.begin() + s.offset);
        return Status::ok();
    }
    if (!canReplaceRow(slot, bytes.size()))
        return invalidArgument(slotName(m_pageNumber, size_t(slot)) + " cannot grow to " + std::to_string(bytes.size()) +
                               " bytes on this page");
    rebuild(slot, bytes, s.flags);
    return Status::ok();
}

Status DataPageEditor::replaceRowPadded(int slot, std::span<const uint8_t> bytes, size_t padAt)
{
    if (slot < 0 || slot >= slotCount() || bytes.size() >= m_slots[size_t(slot)].length)
        return replaceRow(slot, bytes);
    if (padAt > bytes.size()) return invalidArgument("the padding position lies outside the row");
    std::vector<uint8_t> padded(bytes.begin(), bytes.begin() + long(padAt));
    padded.resize(padAt + (m_slots[size_t(slot)].length - bytes.size()), 0);
    padded.insert(padded.end(), bytes.begin() + long(padAt), bytes.end());
    return replaceRow(slot, padded);
}

Status DataPageEditor::markDeleted(int slot)
{
    if (slot < 0 || slot >= slotCount()) return invalidArgument(slotName(m_pageNumber, size_t(std::max(slot, 0))) + " does not exist");
    rebuild(slot, {}, datapage::kSlotDeleted);
    return Status::ok();
}

Status DataPageEditor::makeOverflowHeader(int slot, RowPointer target)
{
    if (slot < 0 || slot >= slotCount()) return invalidArgument(slotName(m_pageNumber, size_t(std::max(slot, 0))) + " does not exist");
    const Entry& s = m_slots[size_t(slot)];
    if (s.flags != 0 && s.flags != datapage::kSlotLookup)
        return invalidArgument(slotName(m_pageNumber, size_t(slot)) + " is deleted or an overflow target");
    if (target.page == m_pageNumber && target.row == slot)
        return invalidArgument("an overflow header cannot point at itself");
    uint8_t pointer[datapage::kOverflowPointerSize];
    putU32(pointer, 0, target.toWord());
    // Shrinking to the pointer never needs room: every real row is at least
    // as long as the pointer, and a shorter one still fits after compaction
    // when the page has the few bytes free.
    if (s.length < datapage::kOverflowPointerSize && datapage::kOverflowPointerSize - s.length > freeSpace())
        return invalidArgument(slotName(m_pageNumber, size_t(slot)) + " has no room for an overflow pointer");
    rebuild(slot, pointer, datapage::kSlotLookup);
    return Status::ok();
}

}  // namespace varnika::jet
