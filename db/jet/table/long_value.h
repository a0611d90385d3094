#pragma once
// Memo and OLE data: inline in the row, in one LVAL row, or in a chain of
// LVAL rows, each starting with the pointer to the next.

#include "db/jet/file/pager.h"
#include "db/jet/page/data_page.h"
#include "db/jet/table/row_codec.h"
#include "db/status.h"

#include <cstdint>
#include <span>
#include <vector>

namespace varnika::jet {

struct LongValueHeader {
    uint32_t length = 0;
    uint32_t kind = 0;  // longvalue::kKindInline / kKindSingleRow / kKindChain
    RowPointer first;
    static Result<LongValueHeader> parse(std::span<const uint8_t> field);
};

class LongValueReader : public LongValueSource {
public:
    explicit LongValueReader(Pager& pager) : m_pager(pager) {}
    // The data of a Memo/OLE field. A pointer to a missing page or row, a
    // page that is not an LVAL page, a chain that loops or ends early is a
    // Corruption.
    Result<std::vector<uint8_t>> readLongValue(std::span<const uint8_t> field) override;

private:
    Pager& m_pager;
    SlotTableMemo m_slotTables;
};

}  // namespace varnika::jet
