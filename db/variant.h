#pragma once
// Variant: one field value as the engine hands it out and takes it in.
// It holds Null or exactly one typed value; conversions between types live in
// db/convert.h, not here.

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace varnika {

enum class VariantType : uint8_t {
    Null,
    Boolean,
    Byte,
    Integer,   // 16-bit signed
    Long,      // 32-bit signed
    Currency,  // 64-bit count of ten-thousandths
    Single,
    Double,
    Date,      // days since 1899-12-30, fraction = time of day
    Text,      // UTF-16, as Jet stores it
    Binary,
    Decimal,   // up to 28 digits with a scale
    Guid,
};

const char* variantTypeName(VariantType type);

struct Currency {
    int64_t ticks = 0;  // value × 10 000
    friend bool operator==(const Currency&, const Currency&) = default;
};

struct Date {
    double serial = 0;  // OLE automation date
    friend bool operator==(const Date&, const Date&) = default;
};

struct Decimal {
    bool negative = false;
    unsigned __int128 magnitude = 0;  // unscaled
    uint8_t scale = 0;                // digits after the point
    uint8_t precision = 18;
    friend bool operator==(const Decimal&, const Decimal&) = default;
};

using Guid = std::array<uint8_t, 16>;  // bytes as stored (first three groups little-endian)

class Variant {
public:
    Variant() = default;  // Null
    static Variant null() { return Variant(); }
    static Variant boolean(bool v) { return Variant(Storage(std::in_place_index<1>, v)); }
    static Variant byte(uint8_t v) { return Variant(Storage(std::in_place_index<2>, v)); }
    static Variant integer(int16_t v) { return Variant(Storage(std::in_place_index<3>, v)); }
    static Variant longValue(int32_t v) { return Variant(Storage(std::in_place_index<4>, v)); }
    static Variant currency(Currency v) { return Variant(Storage(std::in_place_index<5>, v)); }
    static Variant single(float v) { return Variant(Storage(std::in_place_index<6>, v)); }
    static Variant doubleValue(double v) { return Variant(Storage(std::in_place_index<7>, v)); }
    static Variant date(Date v) { return Variant(Storage(std::in_place_index<8>, v)); }
    static Variant date(double serial) { return date(Date{serial}); }
    static Variant text(std::u16string v) { return Variant(Storage(std::in_place_index<9>, std::move(v))); }
    static Variant binary(std::vector<uint8_t> v) { return Variant(Storage(std::in_place_index<10>, std::move(v))); }
    static Variant decimal(Decimal v) { return Variant(Storage(std::in_place_index<11>, v)); }
    static Variant guid(Guid v) { return Variant(Storage(std::in_place_index<12>, v)); }

    VariantType type() const { return static_cast<VariantType>(m_value.index()); }
    bool isNull() const { return m_value.index() == 0; }
    bool isNumeric() const;  // Boolean, Byte .. Double, Decimal

    // Typed access; the caller must have checked type().
    bool asBoolean() const { return std::get<1>(m_value); }
    uint8_t asByte() const { return std::get<2>(m_value); }
    int16_t asInteger() const { return std::get<3>(m_value); }
    int32_t asLong() const { return std::get<4>(m_value); }
    Currency asCurrency() const { return std::get<5>(m_value); }
    float asSingle() const { return std::get<6>(m_value); }
    double asDouble() const { return std::get<7>(m_value); }
    Date asDate() const { return std::get<8>(m_value); }
    const std::u16string& asText() const { return std::get<9>(m_value); }
    // Makes this a Text value and hands out its characters to fill in
    // place: a value set again and again keeps the storage it had.
    std::u16string& setText()
    {
        if (m_value.index() != 9) m_value.emplace<9>();
        return std::get<9>(m_value);
    }
    const std::vector<uint8_t>& asBinary() const { return std::get<10>(m_value); }
    const Decimal& asDecimal() const { return std::get<11>(m_value); }
    const Guid& asGuid() const { return std::get<12>(m_value); }

    // Exact equality of type and value (not Jet's comparison rules).
    friend bool operator==(const Variant&, const Variant&) = default;

    // A short description for messages and test output, e.g. Long(5), Text("abc").
    std::string debugString() const;

private:
    using Storage = std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, Currency, float,
                                 double, Date, std::u16string, std::vector<uint8_t>, Decimal, Guid>;
    explicit Variant(Storage s) : m_value(std::move(s)) {}
    Storage m_value;
};

}  // namespace varnika
