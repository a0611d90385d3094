// Access 97 (Jet 3) indexes: text keys under Access 97's General order and
// the part of its Turkish order the files show, every index of the
// Access-made fixtures holding exactly the keys this engine makes for its
// rows, and every index page decoded and encoded again as it was.

#include "db/jet/database.h"
#include "db/jet/index/index_page.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/index/key_codec.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace varnika::jet {
namespace {

std::vector<uint8_t> hex(const std::string& s)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < s.size(); i += 3) out.push_back(uint8_t(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint8_t> keyOf(const std::u16string& text, TextCollation collation, bool ascending = true)
{
    std::vector<uint8_t> key;
    Status s = appendColumnKey(key, Variant::text(text), ColumnType::Text, ascending, collation);
    EXPECT_TRUE(s.isOk()) << s.toString();
    return key;
}

TEST(Access97Keys, GeneralOrderOfAccess97)
{
    struct Case {
        std::u16string text;
        std::string key;  // after the flag byte
    };
    const std::vector<Case> cases = {
        {u"a", "60 00"},
        {u"ABC", "60 61 62 00"},
        {u"abcdefg", "60 61 62 64 66 67 68 00"},
        {u"hijklmnop", "69 6a 6b 6c 6d 6f 70 72 73 00"},  // as the fixtures hold it
        {u"\u00e9", "66 04 00"},                           // an accent: its nibble between two 0 nibbles
        {u"e\u00e9", "66 66 02 40"},                       // a 2 for the plain letter before it
        {u"M\u00fcller", "6f 78 6d 6d 66 75 06 00"},
        {u"na\u00efve caf\u00e9", "70 60 6a 7a 66 11 62 60 67 66 02 26 22 24 00"},
        {u"\u00c4", "60 06 00"},
        {u"1-2", "57 1e 58 00"},                           // the hyphen counts in Access 97
        {u"xxx\u00c0  ", "7c 7c 7c 60 03 00"},               // trailing spaces do not
        {u"\u20ac", "10 00"},                               // above U+00FF: as its code page 1252 byte
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> expected = {0x7F};
        for (uint8_t b : hex(c.key)) expected.push_back(b);
        EXPECT_EQ(keyOf(c.text, TextCollation::General97), expected) << toUtf8(c.text);
        // Descending: every byte inverted, and nothing after it.
        std::vector<uint8_t> descending = {0x80};
        for (uint8_t b : hex(c.key)) descending.push_back(uint8_t(~b));
        EXPECT_EQ(keyOf(c.text, TextCollation::General97, false), descending) << toUtf8(c.text);
    }
    std::vector<uint8_t> key;
    EXPECT_EQ(appendColumnKey(key, Variant::text(u"\u0131"), ColumnType::Text, true, TextCollation::General97).code(),
              ErrorCode::NotSupported);
}

TEST(Access97Keys, TurkishOrderOfAccess97KnowsTheCharactersTheFilesShow)
{
    EXPECT_EQ(keyOf(u"Kisi", TextCollation::Turkish97), hex("7f 86 84 97 84 00 "));
    EXPECT_EQ(keyOf(u"SummaryInfo", TextCollation::Turkish97), hex("7f 97 9c 88 88 78 96 a1 83 89 7f 8a 00 "));
    // A letter seen in one case only takes the code of its other case, by
    // the Turkish rules: I goes with ı, and i with İ.
    EXPECT_EQ(keyOf(u"Yeni", TextCollation::Turkish97), hex("7f a1 7e 89 84 00 "));
    EXPECT_EQ(keyOf(u"YEN\u0130", TextCollation::Turkish97), keyOf(u"yeni", TextCollation::Turkish97));
    EXPECT_EQ(keyOf(u"\u0131rmak", TextCollation::Turkish97), keyOf(u"IRMAK", TextCollation::Turkish97));
    EXPECT_EQ(keyOf(u"\u0131", TextCollation::Turkish97), hex("7f 83 00 "));
    EXPECT_EQ(keyOf(u"GHJLNVqk", TextCollation::Turkish97), keyOf(u"ghjlnvQK", TextCollation::Turkish97));
    EXPECT_NE(keyOf(u"I", TextCollation::Turkish97), keyOf(u"i", TextCollation::Turkish97));
    for (std::u16string refused : {u"\u015eube", u"\u015fube", u"w", u"W", u"\u00c7", u"z"}) {
        std::vector<uint8_t> key;
        Status s = appendColumnKey(key, Variant::text(refused), ColumnType::Text, true, TextCollation::Turkish97);
        EXPECT_EQ(s.code(), ErrorCode::NotSupported) << toUtf8(refused);
        EXPECT_NE(s.message().find("Access 97"), std::string::npos) << s.message();
    }
}

TEST(Access97Keys, SortOrdersOfAccess97Files)
{
    JetFormat western = JetFormat::jet3(), turkish = JetFormat::jet3();
    turkish.codePage = 1254;
    EXPECT_EQ(*collationFor(0x0409, 0, western), TextCollation::General97);
    EXPECT_EQ(*collationFor(0x041F, 0, turkish), TextCollation::Turkish97);
    EXPECT_EQ(collationFor(0x0409, 0, turkish).status().code(), ErrorCode::NotSupported);
    EXPECT_EQ(collationFor(0x041F, 0, western).status().code(), ErrorCode::NotSupported);
    EXPECT_EQ(collationFor(0x0407, 0, western).status().code(), ErrorCode::NotSupported);
    // Jet 4 files keep their orders.
    EXPECT_EQ(*collationFor(0x0409, 0), TextCollation::GeneralLegacy);
}

std::vector<std::filesystem::path> access97Files(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> files = test::mdbFilesIn(dir / "jet3");
    for (const auto& f : test::mdbFilesIn(dir / "jet3-turkish")) files.push_back(f);
    return files;
}

TEST(Access97Indexes, EveryIndexOfTheFixturesHoldsTheKeysWeMake)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t indexes = 0, textIndexes = 0;
    for (const auto& file : access97Files(dir)) {
        auto db = Database::open(file.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(db.isOk()) << file.filename() << ": " << db.status().toString();
        // The catalog's own indexes too: their keys name the tables.
        std::vector<std::shared_ptr<Table>> tables;
        auto catalog = Table::open((*db)->pager(), 2, u"MSysObjects");
        ASSERT_TRUE(catalog.isOk());
        tables.push_back(*catalog);
        for (const CatalogEntry& e : (*db)->catalog().tables()) {
            auto t = (*db)->table(e.name);
            ASSERT_TRUE(t.isOk()) << file.filename() << " " << toUtf8(e.name);
            tables.push_back(*t);
        }
        for (const auto& table : tables) {
            std::vector<size_t> all;
            for (size_t i = 0; i < table->def().realIndexes().size(); ++i) {
                all.push_back(i);
                for (const RealIndexColumn& kc : table->def().realIndexes()[i].columns) {
                    int c = table->def().findColumnByNumber(kc.columnNumber);
                    textIndexes += c >= 0 && table->def().columns()[size_t(c)].type() == ColumnType::Text;
                }
            }
            std::set<uint32_t> verified;
            Status s = verifyIndexes(*table, all, (*db)->header().sortLcid, (*db)->header().sortVersion, verified);
            EXPECT_TRUE(s.isOk()) << file.filename() << " " << toUtf8(table->name()) << ": " << s.toString();
            indexes += verified.size();
        }
    }
    EXPECT_GT(indexes, 90u);
    EXPECT_GT(textIndexes, 40u);
}

TEST(Access97Indexes, EveryIndexPageIsEncodedAgainAsItWas)
{
    VK_REQUIRE_FIXTURES(dir);
    const JetFormat& f = JetFormat::jet3();
    size_t pages = 0, nodes = 0, prefixed = 0;
    for (const auto& file : access97Files(dir)) {
        auto opened = openPosixFile(file.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(opened.isOk());
        Pager pager(std::move(*opened));
        for (uint32_t p = 1; p < pager.pageCount(); ++p) {
            auto page = pager.read(p);
            ASSERT_TRUE(page.isOk());
            const uint8_t type = (**page)[0];
            if (type != 0x03 && type != 0x04) continue;
            auto decoded = decodeIndexPage(**page, f);
            if (!decoded.isOk()) continue;  // a page given back, with stale bytes
            auto encoded = encodeIndexPageWithPrefix(*decoded, decoded->prefixLength, f);
            ASSERT_TRUE(encoded.isOk()) << file.filename() << " page " << p << ": " << encoded.status().toString();
            // The header and bitmap whole, and the entries up to their end;
            // Access leaves stale bytes after them.
            const size_t used = f.index.maxEntryData - decoded->freeSpace;
            const size_t end = f.index.entryData + used;
            auto diff = std::mismatch(encoded->begin(), encoded->begin() + long(end), (*page)->begin());
            EXPECT_EQ(diff.first, encoded->begin() + long(end))
                << file.filename() << " page " << p << " differs at byte " << (diff.first - encoded->begin());
            ++pages;
            nodes += decoded->isNode();
            prefixed += decoded->prefixLength > 0;
        }
    }
    EXPECT_GT(pages, 100u);
    EXPECT_GT(nodes, 5u);
    EXPECT_GT(prefixed, 0u);
}

}  // namespace
}  // namespace varnika::jet
