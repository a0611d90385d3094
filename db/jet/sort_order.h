#pragma once
// Text index sort orders: the code tables that turn a text value into the
// key bytes Jet stores in an index. A sort order is named by the language id
// and version found in a text column's descriptor (bytes +11..+14).
#include "db/status.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnika::jet {

struct SortOrderId {
    uint16_t lcid = 0;
    uint8_t version = 0;
    friend bool operator==(const SortOrderId&, const SortOrderId&) = default;
};

constexpr SortOrderId kGeneralLegacySortOrder{0x0409, 0};
constexpr SortOrderId kGeneralSortOrder{0x0409, 1};
constexpr SortOrderId kTurkishSortOrder{0x041F, 0};

// The sort order of a text column from descriptor bytes +11..+14
// (u16 language id, 0x00, u8 version). Fewer than 4 bytes → Corruption.
Result<SortOrderId> sortOrderFromDescriptor(std::span<const uint8_t> bytes11to14);

// "0x0409/0" style, for messages.
std::string sortOrderIdText(SortOrderId id);

class SortOrder {
public:
    // One unpacked code table entry.
    enum class CodeClass : uint8_t { Ignored, Simple, International, Unprintable, Modifier, Crazy };
    struct Code {
        CodeClass cls = CodeClass::Ignored;
        uint8_t inlineLength = 0;
        uint8_t fieldLength = 0;  // extra code (I, Z), code (U), modifier (P)
        uint8_t crazyFlag = 0;    // Z only: 2 or 3
        uint32_t offset = 0;      // into bytes(): inline bytes then field bytes
    };

    // The sort order for `id`, or NotSupported naming it. The returned
    // object is immutable and lives for the whole program (tables are
    // unpacked on first use).
    static Result<const SortOrder*> find(SortOrderId id);

    SortOrderId id() const { return m_id; }
    const std::string& name() const { return m_name; }

    // Appends the key bytes of `value` (flag byte 0x7F / 0x80 included; the
    // value is cut to 255 code units and trailing spaces dropped first).
    Status appendKey(std::u16string_view value, bool ascending, std::vector<uint8_t>& out) const;

    struct Tables;  // unpacked codes, shared between orders that differ only in a few letters
    SortOrder(SortOrderId id, std::string name, std::shared_ptr<const Tables> tables);

private:
    SortOrderId m_id;
    std::string m_name;
    std::shared_ptr<const Tables> m_tables;
};

}  // namespace varnika::jet
