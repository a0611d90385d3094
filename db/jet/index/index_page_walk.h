#pragma once
// The walk over an index page's entries, for callers that know their
// visitor where they call: the visitor is called directly for each entry
// rather than through a std::function.

#include "db/jet/file/bytes.h"
#include "db/jet/index/index_page.h"

#include <bit>
#include <string>
#include <type_traits>

namespace varnika::jet {

// walkIndexPage with `visit(std::span<const uint8_t> entry, uint32_t child)`
// returning a Status: the same reading and the same refusals. Without
// `kWholeEntries` the visitor is given an empty span for each entry (for a
// caller that counts them), and the shared prefix is not put back.
template <bool kWholeEntries = true, typename Visit>
Status walkIndexPageWith(std::span<const uint8_t> bytes, const JetFormat& format, IndexPage& p, Visit&& visit)
{
    using namespace indexlayout;
    auto pageText = [](size_t v) { return std::to_string(v); };
    const JetFormat::IndexPage& f = format.index;
    if (bytes.size() < format.pageSize || bytes.size() > kPageSize)
        return corruption("an index page is " + pageText(bytes.size()) + " bytes long");
    ByteReader r(bytes.first(format.pageSize));
    p = IndexPage();
    p.type = r.u8(kType);
    if (p.type != kTypeLeaf && p.type != kTypeNode)
        return corruption("page type " + pageText(p.type) + " is not an index page");
    p.freeSpace = r.u16(kFreeSpace);
    p.tdefPage = r.u32(kTdefPage);
    if (f.unknown08 != kAbsent) p.unknown08 = r.u32(f.unknown08);
    p.prev = r.u32(f.prevPage);
    p.next = r.u32(f.nextPage);
    p.tail = r.u32(f.tailPage);
    p.prefixLength = f.prefixLengthSize == 1 ? r.u8(f.prefixLength) : r.u16(f.prefixLength);
    if (f.unknown1A != kAbsent) p.unknown1A = r.u8(f.unknown1A);
    if (p.isLeaf() && p.tail != 0) return corruption("an index leaf page names a tail child");
    const size_t pointerSize = kRowIdSize + (p.isNode() ? kChildSize : 0);

    size_t start = 0;
    bool any = false;
    std::span<const uint8_t> first;
    std::vector<uint8_t> whole;  // an entry with the shared prefix put back
    // Bit k of the bitmap (k from 1 to the size of the entry data) marks an
    // entry ending k bytes in. The set bits are found a 64-bit word at a
    // time.
    const std::span<const uint8_t> bitmap = r.bytes(f.bitmap, f.bitmapSize);
    if (!r.ok()) return corruption("an index page is truncated");
    for (size_t word = 0; word * 8 < bitmap.size(); ++word) {
        uint64_t bits = 0;
        for (size_t j = 0; j < 8 && word * 8 + j < bitmap.size(); ++j) bits |= uint64_t(bitmap[word * 8 + j]) << (8 * j);
        if (word == 0) bits &= ~uint64_t(1);  // no entry ends 0 bytes in
        for (; bits; bits &= bits - 1) {
            const size_t k = word * 64 + size_t(std::countr_zero(bits));
            if (k > f.maxEntryData) break;  // checked below
            std::span<const uint8_t> stored = r.bytes(f.entryData + start, k - start);
            if (!r.ok()) return corruption("an index entry lies outside its page");
            const size_t prefix = any ? p.prefixLength : 0;
            // The shared prefix lies within the key bytes, so every stored part
            // holds its whole row pointer (and the first entry the prefix too).
            if (stored.size() < pointerSize + (any ? 0 : size_t(p.prefixLength)) || prefix + stored.size() < pointerSize + 1)
                return corruption("an index entry of " + pageText(stored.size()) +
                                  " bytes is shorter than its row pointer and shared prefix");
            uint32_t child = 0;
            if (p.isNode()) {
                ByteReader cr(stored);
                child = cr.u32be(stored.size() - kChildSize);
            }
            const std::span<const uint8_t> own = stored.first(stored.size() - (p.isNode() ? kChildSize : 0));
            if constexpr (!kWholeEntries) {
                VK_RETURN_IF_ERROR(visit(std::span<const uint8_t>(), child));
            } else if constexpr (std::is_invocable_v<Visit, std::span<const uint8_t>, std::span<const uint8_t>, uint32_t>) {
                // A visitor that takes the shared prefix and the entry's own
                // bytes apart puts them together itself.
                VK_RETURN_IF_ERROR(visit(first.first(prefix), own, child));
            } else if (prefix == 0) {
                VK_RETURN_IF_ERROR(visit(own, child));
            } else {
                whole.assign(first.begin(), first.begin() + long(prefix));
                whole.insert(whole.end(), own.begin(), own.end());
                VK_RETURN_IF_ERROR(visit(whole, child));
            }
            if (!any) first = stored;
            any = true;
            start = k;
        }
    }
    if (!r.ok()) return corruption("an index page is truncated");
    // Bits past the data area (the bitmap has 3624 bits for 3616 bytes).
    for (size_t k = f.maxEntryData + 1; k < f.bitmapSize * 8; ++k)
        if (r.u8(f.bitmap + k / 8) & (1u << (k % 8))) return corruption("an index page bitmap marks an entry past the page end");
    return Status::ok();
}

}  // namespace varnika::jet
