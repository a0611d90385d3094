#include "db/jet/file/bytes.h"
#include "db/jet/new_database.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/page/rc4.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace varnika::jet {
namespace {

PageBuffer readPage0(const std::filesystem::path& file)
{
    PageBuffer p{};
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(p.data()), p.size());
    return p;
}

void unmask(PageBuffer& p) { rc4Apply(header::kRc4Key, p.data() + header::kMaskedRegion, header::kMaskedLengthJet4); }

TEST(NewDatabase, HeaderMatchesWhatAccessWritesForTheSameSettings)
{
    VK_REQUIRE_FIXTURES(fixtures);
    for (const char* name : {"blank/blank-access2000.mdb", "turkish/user-query.mdb"}) {
        PageBuffer access = readPage0(fixtures / name);
        unmask(access);
        ByteReader r(access.data(), access.size());
        NewDatabaseOptions o;
        o.codePage = r.u16(header::kCodePage);
        o.sortOrderLcid = r.u16(header::kSortOrderLcid);
        o.sortOrderVersion = r.u8(header::kSortOrderVersion);
        o.creationDate = r.f64(header::kCreationDate);
        PageBuffer ours = buildHeaderPage(o);
        unmask(ours);
        for (size_t i = 0; i < 0x100; ++i) {
            if (i >= 0x6A && i < 0x6E) continue;  // varies from file to file; meaning unknown
            EXPECT_EQ(ours[i], access[i]) << name << " byte 0x" << std::hex << i;
        }
    }
}

TEST(NewDatabase, GlobalMapMarksExactlyTheUsedPages)
{
    PageBuffer p = buildGlobalMapPage(24);
    ByteReader r(p.data(), p.size());
    EXPECT_EQ(r.u8(page::kType), uint8_t(PageType::Data));
    EXPECT_EQ(r.u16(datapage::kSlotCount), 2);
    size_t row0 = r.u16(datapage::kSlotTable);
    EXPECT_EQ(row0, kPageSize - 69);
    EXPECT_EQ(r.u16(datapage::kFreeSpace), kPageSize - 14 - 4 - 2 * 69);
    for (uint32_t page = 0; page < 512; ++page) {
        bool free = r.u8(row0 + usagemap::kInlineBitmap + page / 8) & (1 << (page % 8));
        EXPECT_EQ(free, page >= 24) << page;
    }
}

}  // namespace
}  // namespace varnika::jet
