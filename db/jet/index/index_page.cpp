#include "db/jet/index/index_page.h"

#include "db/jet/file/bytes.h"
#include "db/jet/index/index_page_walk.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace varnika::jet {

using namespace indexlayout;

RowId IndexEntry::rowId() const
{
    const size_t n = bytes.size();
    if (n < kRowIdSize) return {};
    return RowId{(uint32_t(bytes[n - 4]) << 16) | (uint32_t(bytes[n - 3]) << 8) | bytes[n - 2], bytes[n - 1]};
}

IndexEntry IndexEntry::make(std::span<const uint8_t> key, RowId row, uint32_t child)
{
    IndexEntry e;
    e.bytes.reserve(key.size() + kRowIdSize);
    e.bytes.assign(key.begin(), key.end());
    e.bytes.push_back(uint8_t(row.page >> 16));
    e.bytes.push_back(uint8_t(row.page >> 8));
    e.bytes.push_back(uint8_t(row.page));
    e.bytes.push_back(row.row);
    e.child = child;
    return e;
}

namespace {

size_t commonPrefix(std::span<const uint8_t> a, std::span<const uint8_t> b)
{
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Whether `b` begins with the first `n` bytes of `a` (commonPrefix(a, b) >= n).
bool sharesPrefix(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t n)
{
    return a.size() >= n && b.size() >= n && (n == 0 || std::memcmp(a.data(), b.data(), n) == 0);
}

std::string pageText(size_t v) { return std::to_string(v); }

}  // namespace

Status walkIndexPage(std::span<const uint8_t> bytes, const JetFormat& format, IndexPage& p,
                     const std::function<Status(std::span<const uint8_t> entry, uint32_t child)>& visit)
{
    return walkIndexPageWith(bytes, format, p, visit);
}

Result<IndexPage> decodeIndexPage(std::span<const uint8_t> bytes, const JetFormat& format)
{
    IndexPage p;
    std::vector<IndexEntry> entries;
    // Room for as many entries as the bitmap marks (a bound: marks past the
    // data are refused by the walk), so that none is moved while they are
    // read.
    const JetFormat::IndexPage& f = format.index;
    if (bytes.size() >= f.bitmap + f.bitmapSize) {
        size_t marked = 0;
        for (uint8_t b : bytes.subspan(f.bitmap, f.bitmapSize)) marked += size_t(std::popcount(b));
        entries.reserve(marked);
    }
    VK_RETURN_IF_ERROR(walkIndexPageWith(
        bytes, format, p, [&](std::span<const uint8_t> prefix, std::span<const uint8_t> own, uint32_t child) {
            IndexEntry& e = entries.emplace_back();
            e.bytes.assign(prefix.data(), prefix.size());
            e.bytes.append(own.data(), own.size());
            e.child = child;
            return Status::ok();
        }));
    p.entries = std::move(entries);
    return p;
}

size_t commonKeyPrefix(const IndexEntry& a, const IndexEntry& b) { return commonPrefix(a.key(), b.key()); }

size_t choosePrefixLength(std::span<const IndexEntry> entries, size_t maxPrefix)
{
    if (entries.size() < 2) return 0;
    const auto& a = entries.front();
    const auto& b = entries.back();
    const auto first = a.key();
    size_t p = std::min(commonPrefix(first, b.key()), maxPrefix);
    // The smallest common prefix of the first entry with any other: on a
    // sorted page each entry between shares the first's and last's, which a
    // compare of p bytes confirms; a shorter key or unsorted input lowers it.
    for (size_t i = 1; i + 1 < entries.size() && p > 0; ++i) {
        const auto k = entries[i].key();
        if (!sharesPrefix(first, k, p)) p = std::min(p, commonPrefix(first, k));
    }
    return p;
}

namespace {

size_t entrySizeWithPrefix(std::span<const IndexEntry> entries, bool node, size_t p)
{
    size_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        total += entries[i].bytes.size() + (node ? kChildSize : 0) - (i == 0 ? 0 : p);
    return total;
}

}  // namespace

size_t encodedEntrySize(std::span<const IndexEntry> entries, bool node, size_t maxPrefix)
{
    return entrySizeWithPrefix(entries, node, choosePrefixLength(entries, maxPrefix));
}

namespace {

// `shared`: the prefix is the one choosePrefixLength gives, which every entry shares.
Result<PageBuffer> encodeWith(const IndexPage& page, size_t prefix, const JetFormat& format, bool shared)
{
    const JetFormat::IndexPage& f = format.index;
    if (page.type != kTypeLeaf && page.type != kTypeNode) return invalidArgument("not an index page type");
    const bool node = page.isNode();
    if (page.entries.size() >= 2) {
        if (!shared) {
            const auto first = page.entries.front().key();
            for (const auto& e : page.entries)
                if (!sharesPrefix(first, e.key(), prefix))
                    return invalidArgument("an index entry does not share the page's prefix");
        }
    } else {
        prefix = std::min<size_t>(prefix, page.entries.empty() ? 0 : page.entries.front().key().size());
    }
    if (prefix > format.maxIndexPrefix()) return invalidArgument("a shared prefix is longer than an index page records");
    const size_t total = entrySizeWithPrefix(page.entries, node, prefix);
    if (total > f.maxEntryData)
        return invalidArgument("index entries of " + pageText(total) + " bytes do not fit on one page");
    PageBuffer buf{};
    uint8_t* p = buf.data();
    putU8(p, kType, page.type);
    putU8(p, kConstant, kConstantValue);
    putU16(p, kFreeSpace, uint16_t(f.maxEntryData - total));
    putU32(p, kTdefPage, page.tdefPage);
    if (f.unknown08 != kAbsent) putU32(p, f.unknown08, page.unknown08);
    putU32(p, f.prevPage, page.prev);
    putU32(p, f.nextPage, page.next);
    putU32(p, f.tailPage, node ? page.tail : 0);
    if (f.prefixLengthSize == 1) {
        putU8(p, f.prefixLength, uint8_t(prefix));
    } else {
        putU16(p, f.prefixLength, uint16_t(prefix));
    }
    if (f.unknown1A != kAbsent) putU8(p, f.unknown1A, page.unknown1A);
    size_t at = 0;
    for (size_t i = 0; i < page.entries.size(); ++i) {
        const auto& e = page.entries[i];
        if (e.bytes.size() < kRowIdSize + 1) return invalidArgument("an index entry has no key bytes");
        const size_t skip = i == 0 ? 0 : prefix;
        std::copy(e.bytes.begin() + long(skip), e.bytes.end(), p + f.entryData + at);
        at += e.bytes.size() - skip;
        if (node) {
            putU32be(p, f.entryData + at, e.child);
            at += kChildSize;
        }
        p[f.bitmap + at / 8] |= uint8_t(1u << (at % 8));
    }
    return buf;
}

}  // namespace

Result<PageBuffer> spliceLeafEntry(const PageBuffer& before, size_t offset, size_t removed,
                                   std::span<const uint8_t> added, const JetFormat& format)
{
    PageBuffer out;
    VK_RETURN_IF_ERROR(spliceLeafEntry(before, offset, removed, added, format, out));
    return out;
}

Status spliceLeafEntry(const PageBuffer& before, size_t offset, size_t removed, std::span<const uint8_t> added,
                       const JetFormat& format, PageBuffer& out)
{
    const JetFormat::IndexPage& f = format.index;
    ByteReader r(before.data(), format.pageSize);
    const size_t free = r.u16(kFreeSpace);
    if (r.u8(kType) != kTypeLeaf || free > f.maxEntryData) return corruption("an index leaf to change is not a sound leaf");
    const size_t used = f.maxEntryData - free;
    if (offset > used || removed > used - offset) return corruption("an index entry to change lies outside its leaf");
    const size_t grown = used - removed + added.size();
    if (grown > f.maxEntryData) return invalidArgument("index entries of " + pageText(grown) + " bytes do not fit on one page");

    out = before;
    uint8_t* data = out.data() + f.entryData;
    std::memmove(data + offset + added.size(), before.data() + f.entryData + offset + removed, used - offset - removed);
    if (!added.empty()) std::memcpy(data + offset, added.data(), added.size());
    if (grown < used) std::memset(data + grown, 0, used - grown);
    putU16(out.data(), kFreeSpace, uint16_t(f.maxEntryData - grown));

    // End marks up to `offset` stay; the one of a removed entry goes; those
    // after it move by the change in length, a byte of marks at a time; an
    // added entry gets its own.
    uint8_t* bitmap = out.data() + f.bitmap;
    const uint8_t* old = before.data() + f.bitmap;
    const size_t bitmapBytes = f.bitmapSize;
    auto oldByte = [&](long k) -> unsigned { return k < 0 || size_t(k) >= bitmapBytes ? 0u : old[k]; };
    size_t clear = offset + 1;
    for (; clear <= used && clear % 8 != 0; ++clear) bitmap[clear / 8] &= uint8_t(~(1u << (clear % 8)));
    if (clear <= used) std::memset(bitmap + clear / 8, 0, used / 8 - clear / 8 + 1);
    const long delta = long(added.size()) - long(removed);
    const size_t firstMoved = offset + removed + 1;  // old position of the first mark that moves
    if (firstMoved <= used) {
        // The mark at new position p was at p - delta: byte b of the new
        // bitmap takes eight old marks from byte b + skip on, `shift` bits in.
        const long back = -delta;
        const long skip = back >= 0 ? back / 8 : -((-back + 7) / 8);
        const unsigned shift = unsigned(back - 8 * skip);
        const size_t to = size_t(long(firstMoved) + delta), last = size_t(long(used) + delta);
        const size_t firstByte = to / 8, lastByte = std::min(last / 8, bitmapBytes - 1);
        auto marksAt = [&](size_t b) -> unsigned {
            const long k = long(b) + skip;
            return ((oldByte(k) | (oldByte(k + 1) << 8)) >> shift) & 0xFFu;
        };
        auto lastMask = [&](size_t b) { return b == last / 8 ? (1u << (last % 8 + 1)) - 1 : 0xFFu; };
        if (firstByte <= lastByte) {
            bitmap[firstByte] |= uint8_t(marksAt(firstByte) & (0xFFu << (to % 8)) & lastMask(firstByte));
            // The bytes between take eight marks each; in the middle, both
            // old bytes they come from lie in the bitmap.
            const size_t innerEnd = lastByte == last / 8 ? lastByte : lastByte + 1;
            const long inner = long(firstByte) + 1;
            const size_t fastBegin = size_t(std::clamp<long>(-skip, std::min(inner, long(innerEnd)), long(innerEnd)));
            const size_t fastEnd = size_t(std::clamp<long>(long(bitmapBytes) - 1 - skip, long(fastBegin), long(innerEnd)));
            size_t b = firstByte + 1;
            for (; b < fastBegin; ++b) bitmap[b] |= uint8_t(marksAt(b));
            if constexpr (std::endian::native == std::endian::little) {
                // Eight bytes of marks at a time, from nine old bytes: the
                // ninth of the last is old byte b + 7 + skip + 1, which the
                // byte loop below reads for b + 7 too.
                for (; b + 8 <= fastEnd; b += 8) {
                    const uint8_t* from = old + long(b) + skip;
                    uint64_t low, now;
                    std::memcpy(&low, from, sizeof low);
                    const uint64_t high = from[8];
                    const uint64_t moved = shift == 0 ? low : (low >> shift) | (high << (64 - shift));
                    std::memcpy(&now, bitmap + b, sizeof now);
                    now |= moved;
                    std::memcpy(bitmap + b, &now, sizeof now);
                }
            }
            for (; b < fastEnd; ++b) {
                const uint8_t* from = old + long(b) + skip;
                bitmap[b] |= uint8_t((from[0] | (from[1] << 8)) >> shift);
            }
            for (; b < innerEnd; ++b) bitmap[b] |= uint8_t(marksAt(b));
            if (lastByte > firstByte && lastByte == last / 8) bitmap[lastByte] |= uint8_t(marksAt(lastByte) & lastMask(lastByte));
        }
    }
    if (!added.empty()) bitmap[(offset + added.size()) / 8] |= uint8_t(1u << ((offset + added.size()) % 8));
    return Status::ok();
}

namespace {

// The set bits of a word. The baseline x86-64 processor has no instruction
// for it, and std::popcount becomes a library call costing more than this.
constexpr size_t bitCount(uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return size_t((x * 0x0101010101010101ULL) >> 56);
}
static_assert(bitCount(0) == 0 && bitCount(~0ULL) == 64 && bitCount(0x8000000000000001ULL) == 2 &&
              bitCount(0x0123456789ABCDEFULL) == 32);

}  // namespace

std::optional<size_t> leafEntryStart(const PageBuffer& page, size_t n, const JetFormat& format)
{
    const JetFormat::IndexPage& f = format.index;
    if (n == 0 || f.bitmap + f.bitmapSize > format.pageSize) return std::nullopt;
    const uint8_t* marks = page.data() + f.bitmap;
    size_t seen = 0, at = 0;
    // Eight bytes of marks at a time while the n-th lies further on.
    for (; at + 8 <= f.bitmapSize; at += 8) {
        uint64_t word;
        std::memcpy(&word, marks + at, sizeof word);
        const size_t count = bitCount(word);
        if (seen + count >= n) break;
        seen += count;
    }
    for (; at < f.bitmapSize; ++at) {
        unsigned bits = marks[at];
        while (bits) {
            if (++seen == n) return 8 * at + size_t(std::countr_zero(bits));
            bits &= bits - 1;
        }
    }
    return std::nullopt;
}

Result<PageBuffer> encodeIndexPage(const IndexPage& page, const JetFormat& format)
{
    return encodeWith(page, choosePrefixLength(page.entries, format.maxIndexPrefix()), format, true);
}

Result<PageBuffer> encodeIndexPageWithPrefix(const IndexPage& page, size_t prefix, const JetFormat& format)
{
    return encodeWith(page, prefix, format, false);
}

Result<PageBuffer> encodeIndexPageWithChosenPrefix(const IndexPage& page, size_t prefix, const JetFormat& format)
{
    return encodeWith(page, prefix, format, true);
}

}  // namespace varnika::jet
