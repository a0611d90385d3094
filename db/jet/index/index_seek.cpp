#include "db/jet/index/index_seek.h"

#include "db/jet/index/index_tree.h"
#include "db/jet/index/key_codec.h"
#include "db/text.h"

#include <algorithm>
#include <map>
#include <set>

namespace varnika::jet {

namespace {

// The primary bytes of a key (textSortKey without the flag byte): the bytes
// before the 0x01 that ends them.
std::optional<std::vector<uint8_t>> primaryBytes(std::u16string_view text, TextCollation collation)
{
    auto key = textSortKey(text, collation);
    if (!key.isOk()) return std::nullopt;
    auto end = std::find(key->begin(), key->end(), uint8_t(0x01));
    if (end == key->end()) return std::nullopt;
    return std::vector<uint8_t>(key->begin(), end);
}

}  // namespace

std::optional<std::vector<std::vector<uint8_t>>> textSeekPrefixes(std::u16string_view text, TextCollation collation)
{
    // The orders whose keys begin with one run of primary bytes, a
    // character's own, in the order of the characters.
    if (collation != TextCollation::GeneralLegacy && collation != TextCollation::General &&
        collation != TextCollation::Turkish)
        return std::nullopt;
    // Under the Turkish order the keys of ğ, İ and the ĳ ligature were
    // measured on another engine, never on a file Access made: a text
    // holding one is not sought, lest a key made otherwise be missed.
    if (collation == TextCollation::Turkish &&
        text.find_first_of(u"\u011E\u011F\u0130\u0132\u0133") != std::u16string_view::npos)
        return std::nullopt;
    // A character's primary bytes, told apart from those of an "a" after it
    // (a text's trailing blanks have none).
    const auto a = primaryBytes(u"a", collation);
    if (!a) return std::nullopt;
    auto primaryOf = [&](char16_t c) -> std::optional<std::vector<uint8_t>> {
        const char16_t pair[] = {c, u'a'};
        auto both = primaryBytes(std::u16string_view(pair, 2), collation);
        if (!both || both->size() < a->size() || !std::equal(a->begin(), a->end(), both->end() - long(a->size())))
            return std::nullopt;
        both->resize(both->size() - a->size());
        return both;
    };
    // The characters that a condition takes for each of the text's (its
    // other cases), and their primary bytes.
    std::map<char16_t, std::set<std::vector<uint8_t>>> byUpper;
    std::map<char16_t, std::vector<uint8_t>> byChar;
    for (char16_t c : text) byUpper.emplace(toUpperChar(c), std::set<std::vector<uint8_t>>());
    for (auto& [upper, primaries] : byUpper)
        for (char16_t c : charsWithUpper(upper)) {
            auto p = primaryOf(c);
            if (!p) return std::nullopt;
            primaries.insert(*p);
            byChar.emplace(c, std::move(*p));
        }
    // The key uses the first 255 characters, less trailing blanks.
    std::u16string_view keyed = text.substr(0, std::min<size_t>(text.size(), 255));
    while (!keyed.empty() && keyed.back() == u' ') keyed.remove_suffix(1);
    // Every way of spelling the text's primary bytes, a few at most.
    std::vector<std::vector<uint8_t>> primaries{{}};
    std::vector<uint8_t> own;
    for (char16_t c : keyed) {
        const std::set<std::vector<uint8_t>>& options = byUpper.at(toUpperChar(c));
        if (primaries.size() * options.size() > kMaxTextSeeks) return std::nullopt;
        std::vector<std::vector<uint8_t>> longer;
        for (const auto& p : primaries)
            for (const auto& o : options) {
                longer.push_back(p);
                longer.back().insert(longer.back().end(), o.begin(), o.end());
            }
        primaries = std::move(longer);
        const std::vector<uint8_t>& mine = byChar.at(c);  // c is among the characters of its capital
        own.insert(own.end(), mine.begin(), mine.end());
    }
    // The text's own key must begin as its characters make it.
    if (primaryBytes(text, collation) != std::optional<std::vector<uint8_t>>(own)) return std::nullopt;
    std::vector<std::vector<uint8_t>> prefixes;
    for (const auto& p : primaries) {
        std::vector<uint8_t> prefix{kAscendingKeyFlag};
        prefix.insert(prefix.end(), p.begin(), p.end());
        prefix.push_back(0x01);
        prefixes.push_back(std::move(prefix));
    }
    return prefixes;
}

Result<std::optional<std::vector<RowPointer>>> seekEqualRows(Table& table, int column, const Variant& value)
{
    const TableDef& def = table.def();
    std::optional<std::vector<RowPointer>> none;
    if (column < 0 || size_t(column) >= def.columns().size() || value.isNull()) return none;
    const ColumnDef& c = def.columns()[size_t(column)];
    switch (c.type()) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::DateTime: break;
    case ColumnType::Text: {
        // Under the column's own order, named in its descriptor.
        if (value.type() != VariantType::Text || c.sortLcid() == 0 || def.format().version != JetVersion::Jet4) return none;
        break;
    }
    default: return none;
    }
    const bool indexed = std::any_of(def.realIndexes().begin(), def.realIndexes().end(), [&](const RealIndexDef& ix) {
        return !ix.columns.empty() && ix.columns[0].columnNumber == c.number;
    });
    if (!indexed) return none;
    std::optional<std::vector<std::vector<uint8_t>>> textPrefixes;
    if (c.type() == ColumnType::Text) {
        auto collation = collationFor(c.sortLcid(), c.sortVersion(), def.format());
        if (!collation.isOk()) return none;
        textPrefixes = textSeekPrefixes(value.asText(), *collation);
        if (!textPrefixes) return none;
    }
    for (const RealIndexDef& ix : def.realIndexes()) {
        if (ix.columns.empty() || ix.columns[0].columnNumber != c.number) continue;
        std::vector<std::vector<uint8_t>> prefixes;
        if (textPrefixes) {
            if (!ix.columns[0].ascending) continue;
            prefixes = *textPrefixes;
        } else {
            prefixes.emplace_back();
            if (!appendColumnKey(prefixes.back(), value, c.type(), ix.columns[0].ascending, TextCollation::GeneralLegacy).isOk())
                return none;
        }
        std::vector<RowPointer> rows;
        VK_RETURN_IF_ERROR(table.pager().saveHeldBack());
        IndexTree tree(table.pager(), def.firstPage(), ix.rootPage);
        for (const std::vector<uint8_t>& prefix : prefixes)
            VK_RETURN_IF_ERROR(tree.forEachWithKeyPrefix(prefix, [&](const IndexEntry& e) {
                RowId id = e.rowId();
                rows.push_back(RowPointer{id.page, id.row});
                return Status::ok();
            }));
        // A scan visits the pages in ascending order and each page's rows in
        // slot order: so does this list, sorted.
        std::sort(rows.begin(), rows.end());
        return std::optional<std::vector<RowPointer>>(std::move(rows));
    }
    return none;
}

}  // namespace varnika::jet
