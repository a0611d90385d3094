#pragma once
// Index pages (type 0x03 node, 0x04 leaf): decoding into whole entries and
// encoding entries back into a page. The constants below are the Jet 4
// layout; a JetFormat gives the Jet 3 one (2 KB pages, no unknown fields,
// a 226-byte bitmap and entries from 0xF8).
//
// Entry bytes are "key ‖ data page (BE u24) ‖ data row (u8)" on leaves; node
// entries add the child page (BE u32). Entries after the first share the
// first P bytes of the first entry and are stored without them; a bitmap
// marks where each entry ends.
#include "db/jet/file/jet_format.h"
#include "db/jet/index/entry_bytes.h"
#include "db/jet/index/front_room_vector.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"

#include <cstdint>
#include <optional>
#include <functional>
#include <span>
#include <vector>

namespace varnika::jet {

namespace indexlayout {
constexpr size_t kType = 0x00;
constexpr size_t kConstant = 0x01;       // always 0x01
constexpr size_t kFreeSpace = 0x02;      // u16
constexpr size_t kTdefPage = 0x04;       // u32
constexpr size_t kUnknown08 = 0x08;      // u32, preserved
constexpr size_t kPrevPage = 0x0C;       // u32
constexpr size_t kNextPage = 0x10;       // u32
constexpr size_t kTailPage = 0x14;       // u32, nodes only
constexpr size_t kPrefixLength = 0x18;   // u16
constexpr size_t kUnknown1A = 0x1A;      // u8, preserved
constexpr size_t kBitmap = 0x1B;
constexpr size_t kBitmapSize = 453;
constexpr size_t kEntryData = 0x1E0;     // 480
constexpr size_t kMaxEntryData = kPageSize - kEntryData;  // 3616

constexpr uint8_t kTypeNode = 0x03;
constexpr uint8_t kTypeLeaf = 0x04;
constexpr uint8_t kConstantValue = 0x01;

constexpr size_t kRowIdSize = 4;   // data page BE u24 + row u8
constexpr size_t kChildSize = 4;   // BE u32
}  // namespace indexlayout

// The row an index entry points at.
struct RowId {
    uint32_t page = 0;  // data page, < 2^24
    uint8_t row = 0;
    friend auto operator<=>(const RowId&, const RowId&) = default;
};

struct IndexEntry {
    EntryBytes bytes;    // key bytes ‖ row id (4 bytes); compare these
    uint32_t child = 0;  // node entries only

    std::span<const uint8_t> key() const { return {bytes.data(), bytes.size() - indexlayout::kRowIdSize}; }
    RowId rowId() const;
    static IndexEntry make(std::span<const uint8_t> key, RowId row, uint32_t child = 0);
    friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// An entry's bytes are held in place or behind one pointer of its own:
// never a pointer into itself.
template <>
struct MovesAsBytes<IndexEntry> : std::true_type {};

using IndexEntries = FrontRoomVector<IndexEntry>;

struct IndexPage {
    uint8_t type = indexlayout::kTypeLeaf;
    uint32_t tdefPage = 0;
    uint32_t prev = 0;
    uint32_t next = 0;
    uint32_t tail = 0;            // nodes: the last child, which has no entry
    uint32_t unknown08 = 0;
    uint8_t unknown1A = 0;
    uint16_t prefixLength = 0;    // as decoded; encodePage chooses its own
    uint16_t freeSpace = 0;       // as decoded
    IndexEntries entries;
    // prefixLength is what choosePrefixLength gives for these entries (a
    // page this engine encoded and has not changed since).
    bool prefixChosen = false;

    bool isLeaf() const { return type == indexlayout::kTypeLeaf; }
    bool isNode() const { return type == indexlayout::kTypeNode; }
};

// Decodes an index page of the format's size. Anything a sound page never
// holds (wrong type, bitmap past the data, an entry shorter than its row
// pointer, a prefix longer than the first entry) → Corruption.
Result<IndexPage> decodeIndexPage(std::span<const uint8_t> page, const JetFormat& format = JetFormat::jet4());

// The same reading without keeping the entries: `header` takes the page's
// header fields (its entries left empty), and `visit` each entry in order,
// as decodeIndexPage would hold it (the shared prefix put back, a node's
// child pointer apart); the bytes are good until it returns. The same
// refusals; an error from `visit` ends the walk.
Status walkIndexPage(std::span<const uint8_t> page, const JetFormat& format, IndexPage& header,
                     const std::function<Status(std::span<const uint8_t> entry, uint32_t child)>& visit);

// A leaf's bytes after one entry was added or taken out, made from its bytes
// before: at `offset` into the entry data, `removed` bytes go and `added`
// (an entry's bytes without the page's prefix) come in, the end marks
// after them move along and the free space follows. The result is what
// encoding the changed entries gives, provided the page was encoded that
// way before, keeps its prefix, and the change is not to its first entry.
// Offsets or lengths the page's bytes do not hold → Corruption.
Result<PageBuffer> spliceLeafEntry(const PageBuffer& before, size_t offset, size_t removed,
                                   std::span<const uint8_t> added, const JetFormat& format);
// The same into `out` (not `before`), for a caller that holds the page on
// the heap; on failure `out` is left unspecified.
Status spliceLeafEntry(const PageBuffer& before, size_t offset, size_t removed, std::span<const uint8_t> added,
                       const JetFormat& format, PageBuffer& out);

// Where entry `n` (counting from 0) of a leaf starts in its entry data:
// where the end mark of entry n - 1 lies, found from the marks alone.
// Nothing when n is 0 or the leaf has fewer marks.
std::optional<size_t> leafEntryStart(const PageBuffer& page, size_t n, const JetFormat& format);

// How many key bytes (row ids aside) two entries have in common.
size_t commonKeyPrefix(const IndexEntry& a, const IndexEntry& b);

// The prefix length encodeIndexPage uses: common prefix of the key bytes of
// the first and the last entry.
// The prefix is at most `maxPrefix` bytes (what the page format records).
size_t choosePrefixLength(std::span<const IndexEntry> entries, size_t maxPrefix = SIZE_MAX);

// Bytes of entry data the entries take on a page (with prefix compression).
size_t encodedEntrySize(std::span<const IndexEntry> entries, bool node, size_t maxPrefix = SIZE_MAX);

// Encodes a page; more entry data than the page holds (3616 bytes, Jet 3
// 1800) → InvalidArgument.
Result<PageBuffer> encodeIndexPage(const IndexPage& page, const JetFormat& format = JetFormat::jet4());

// As encodeIndexPage with a given prefix length (to reproduce a page exactly
// as another writer chose it). A prefix the entries do not share → InvalidArgument.
Result<PageBuffer> encodeIndexPageWithPrefix(const IndexPage& page, size_t prefixLength,
                                             const JetFormat& format = JetFormat::jet4());

// As encodeIndexPage when `prefixLength` is what choosePrefixLength(page.entries,
// format.maxIndexPrefix()) gave for these entries, which is not checked again.
Result<PageBuffer> encodeIndexPageWithChosenPrefix(const IndexPage& page, size_t prefixLength, const JetFormat& format);

}  // namespace varnika::jet
