// Re-encoding the keys Access stored, from the rows' own values.
#include "db/jet/index_key.h"

#include <gtest/gtest.h>

using namespace varnika;
using namespace varnika::jet;

TEST(IndexStoredKeys, VerifyNamesTheDifference)
{
    const IndexKeyColumn cols[] = {{ColumnType::Text, true, kTurkishSortOrder}};
    const Variant vals[] = {Variant::text(u"Koş")};
    const uint8_t access[] = {0x7f, 0x5c, 0x64, 0x6c, 0x07, 0x01, 0x00};
    EXPECT_TRUE(verifyStoredIndexKey(cols, vals, access).isOk());
    const IndexKeyColumn legacy[] = {{ColumnType::Text, true, kGeneralLegacySortOrder}};
    const Status s = verifyStoredIndexKey(legacy, vals, access);
    EXPECT_EQ(s.code(), ErrorCode::NotSupported);
    EXPECT_NE(s.message().find("byte 3"), std::string::npos) << s.message();
}

// Hook for the table reader: once rows and index descriptors can be read,
// this test walks every real index of every table in $VARNIKA_FIXTURES/jet4
// and /turkish and, for each leaf entry, reads the row it points at, builds
// the IndexKeyColumn list from the index descriptor (column types, order
// bytes, text sort order from descriptor +11..+14, numeric scale) and calls
// verifyStoredIndexKey(). Expected: every key of every file reproduced,
// including MSysObjects' name indexes (Turkish files: the dotless I rule).
// Until then the text encoder is checked against leaf entries paired with
// mdb-export rows in index_text_fixture_test.cpp.
TEST(IndexStoredKeys, EveryFixtureKeyFromItsRow)
{
    GTEST_SKIP() << "needs the table reader (rows and index descriptors); see the comment above this test";
}
