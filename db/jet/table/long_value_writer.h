#pragma once
// Writing Memo and OLE values. A value is stored in the row after its
// 12-byte header when it is short (at most 64 bytes) and the row has room,
// otherwise in one row of a long-value page (up to 4076 bytes), otherwise in
// a chain of such rows (4072 data bytes each after a 4-byte pointer to the
// next piece). Long-value pages are data pages owned by "LVAL" and recorded
// in the column's usage maps; a column without maps has its pages recorded
// in the global map only.
//
// A writer lives for one engine operation: it remembers the page it last
// added for a column without maps, which a rollback() makes meaningless.

#include "db/jet/page/page_allocator.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnika::jet {

// Memo text as stored: the compressed form (FF FE, one byte a character)
// when the column allows it and the text has 3 to 1024 characters, all in
// U+0001..U+00FF; plain UTF-16LE otherwise.
std::vector<uint8_t> encodeMemoText(const std::u16string& text, bool compressionAllowed);

class LongValueWriter {
public:
    explicit LongValueWriter(PageAllocator& allocator) : m_allocator(allocator) {}

    // Stores `data` and returns the bytes of the row's column: the 12-byte
    // header, followed by the data itself when stored inline. `inlineRoom`
    // is how many data bytes the row can still take after the header.
    // Values of 2^30 bytes or more are InvalidArgument. On failure some
    // pages may be dirty; the caller rolls the Pager back.
    Result<std::vector<uint8_t>> write(std::span<const uint8_t> data, const PageOwners& columnMaps, size_t inlineRoom);

    // Gives back the long-value rows of the value whose column bytes are
    // `columnBytes` (marks their slots deleted and compacts their pages,
    // which become candidates for new values again). An inline value has
    // nothing to free. A header that does not lead to long-value rows of the
    // stated length is a Corruption, and nothing is changed.
    Status release(std::span<const uint8_t> columnBytes, const PageOwners& columnMaps);

private:
    Result<RowPointer> addRow(std::span<const uint8_t> row, const PageOwners& columnMaps);
    // The rows a stored value occupies, in chain order.
    Result<std::vector<RowPointer>> rowsOf(std::span<const uint8_t> columnBytes);

    PageAllocator& m_allocator;
    std::optional<uint32_t> m_unownedPage;
};

}  // namespace varnika::jet
