// Access 97 (Jet 3) pages: the header's fields, every data page of the
// Access-made fixtures through the checker and the editor, the global map
// page a new file gets, and the code pages Jet 3 text is stored in.

#include "db/jet/file/bytes.h"
#include "db/jet/new_database.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/page/database_header.h"
#include "db/jet/page/text_codec.h"
#include "db/jet/page/usage_map.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace varnika::jet {
namespace {

std::vector<std::filesystem::path> access97Files(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> files = test::mdbFilesIn(dir / "jet3");
    for (const auto& f : test::mdbFilesIn(dir / "jet3-turkish")) files.push_back(f);
    return files;
}

TEST(Access97Pages, TheHeaderNamesSortOrderAndCodePage)
{
    VK_REQUIRE_FIXTURES(dir);
    const auto files = access97Files(dir);
    ASSERT_EQ(files.size(), 10u);
    for (const auto& file : files) {
        auto f = openPosixFile(file.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(f.isOk());
        auto h = DatabaseHeader::read(**f);
        ASSERT_TRUE(h.isOk()) << file.filename() << ": " << h.status().toString();
        EXPECT_EQ(h->version, JetVersion::Jet3);
        const bool turkish = file.filename() == "turkish-codepage.mdb";
        EXPECT_EQ(h->sortLcid, turkish ? 0x041F : 0x0409) << file.filename();
        EXPECT_EQ(h->codePage, turkish ? 1254 : 1252) << file.filename();
        EXPECT_EQ(h->sortVersion, 0);
        EXPECT_EQ(Pager(std::move(*f)).pageSize(), 2048u);
    }
}

TEST(Access97Pages, EveryFixtureDataPagePassesAndRoundTrips)
{
    VK_REQUIRE_FIXTURES(dir);
    int pages = 0;
    for (const auto& file : access97Files(dir)) {
        auto f = openPosixFile(file.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(f.isOk());
        Pager pager(std::move(*f));
        const JetFormat& format = pager.format();
        for (uint32_t p = 1; p < pager.pageCount(); ++p) {
            auto page = pager.read(p);
            ASSERT_TRUE(page.isOk());
            if ((**page)[page::kType] != uint8_t(PageType::Data)) continue;
            if (!DataPageView::parse(*page, p, format).isOk()) continue;
            ++pages;
            Status s = checkDataPage(**page, p, format);
            EXPECT_TRUE(s.isOk()) << file.filename() << ": " << s.toString();
            auto e = DataPageEditor::open(**page, p, format);
            ASSERT_EQ(e.isOk(), s.isOk());
            if (!e) continue;
            auto view = DataPageView::parse(*page, p, format);
            EXPECT_EQ(view->computedFreeSpace(), view->freeSpace()) << file.filename() << " page " << p;
            e->compact();
            ASSERT_TRUE(checkDataPage(e->page(), p, format).isOk());
            for (int i = 0; i < view->slotCount(); ++i) {
                uint16_t fl = view->slot(i).flags;
                if (fl == 0 || fl == datapage::kSlotNotBaseRow) {
                    auto was = view->rowBytes(i), is = e->rowBytes(i);
                    EXPECT_TRUE(std::equal(was.begin(), was.end(), is.begin(), is.end()));
                }
                EXPECT_EQ(e->slotFlags(i), fl);
            }
            // A row added to a 2 KB page goes below the others.
            const std::vector<uint8_t> row(10, 0x5A);
            if (e->canAddRow(row.size())) {
                const size_t before = e->freeSpace();
                auto slot = e->addRow(row);
                ASSERT_TRUE(slot.isOk());
                ASSERT_TRUE(checkDataPage(e->page(), p, format).isOk());
                EXPECT_EQ(e->freeSpace() + row.size() + datapage::kSlotSize, before);
            }
        }
    }
    EXPECT_GT(pages, 200);
    // A Jet 3 page read with the Jet 4 layout is refused, not misread.
    const PageBuffer fresh = makeDataPage(7, JetFormat::jet3());
    EXPECT_EQ(ByteReader(fresh.data(), fresh.size()).u16(datapage::kFreeSpace), 2038);
    EXPECT_TRUE(checkDataPage(fresh, 9, JetFormat::jet3()).isOk());
    EXPECT_FALSE(checkDataPage(fresh, 9, JetFormat::jet4()).isOk());
}

TEST(Access97Pages, ANewFilesGlobalMapIsLaidOutAsAccess97LaysItsOut)
{
    VK_REQUIRE_FIXTURES(dir);
    auto f = openPosixFile((dir / "jet3" / "delTestV1997.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(f.isOk());
    Pager pager(std::move(*f));
    auto theirs = pager.read(1);
    ASSERT_TRUE(theirs.isOk());
    const PageBuffer ours = buildGlobalMapPage(20, JetFormat::jet3());
    // The header, the two slots of 133 bytes and the free space agree.
    EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 14, (*theirs)->begin()));
    auto view = DataPageView::parse(std::make_shared<PageBuffer>(ours), 1, JetFormat::jet3());
    ASSERT_TRUE(view.isOk());
    EXPECT_EQ(view->slot(0).length, 133);
    EXPECT_EQ(view->slot(1).length, 133);
}

TEST(Access97Pages, TextGoesThroughTheCodePage)
{
    for (uint16_t cp : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        ASSERT_TRUE(isSupportedCodePage(cp)) << cp;
        std::vector<uint8_t> all(255);
        for (size_t i = 0; i < all.size(); ++i) all[i] = uint8_t(i + 1);
        const std::u16string text = decodeCodePageText(all, cp);
        ASSERT_EQ(text.size(), all.size());
        auto back = encodeCodePageText(text, cp);
        ASSERT_TRUE(back.isOk()) << cp << ": " << back.status().toString();
        EXPECT_EQ(*back, all) << "code page " << cp << " does not round-trip";
    }
    EXPECT_FALSE(isSupportedCodePage(932));
    EXPECT_FALSE(isSupportedCodePage(0));

    // Turkish letters in 1254, the euro sign in 1252, undefined bytes as
    // the code point of their number.
    EXPECT_EQ(decodeCodePageText(std::vector<uint8_t>{0xDD, 0xDE, 0xD0, 0xFD, 0xFE, 0xF0}, 1254), u"\u0130\u015e\u011e\u0131\u015f\u011f");
    EXPECT_EQ(decodeCodePageText(std::vector<uint8_t>{0x80, 0x81, 'a'}, 1252), u"\u20ac\u0081a");
    EXPECT_EQ(*encodeCodePageText(u"\u015e\u00fc", 1254), (std::vector<uint8_t>{0xDE, 0xFC}));
    EXPECT_TRUE(fitsCodePage(u"Gr\u00fc\u00dfe \u20ac", 1252));
    EXPECT_FALSE(fitsCodePage(u"I\u015f\u0131k", 1252));

    auto refused = encodeCodePageText(u"I\u015f\u0131k", 1252);
    ASSERT_FALSE(refused.isOk());
    EXPECT_EQ(refused.status().code(), ErrorCode::InvalidArgument);
    EXPECT_NE(refused.status().message().find("U+015F"), std::string::npos) << refused.status().message();
    EXPECT_NE(refused.status().message().find("code page 1252"), std::string::npos);

    // The format decides: Jet 4 stores UTF-16, Jet 3 the code page.
    JetFormat turkish = JetFormat::jet3();
    turkish.codePage = 1254;
    EXPECT_EQ(*encodeStoredText(u"\u0130", false, turkish), std::vector<uint8_t>{0xDD});
    EXPECT_EQ(*encodeStoredText(u"\u0130", false, JetFormat::jet4()), (std::vector<uint8_t>{0x30, 0x01}));
    EXPECT_EQ(decodeStoredText(std::vector<uint8_t>{0xDD}, turkish), u"\u0130");
}

}  // namespace
}  // namespace varnika::jet
