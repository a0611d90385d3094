// The pager's dealings with the file system around a database, played with
// a file system in memory: the read-only file and folder (for an ordinary
// user and for the superuser), Access's lock file, a second writer, and the
// journals made beside the file and removed after it.

#include "db/jet/file/file_system.h"
#include "db/jet/file/journal.h"
#include "db/jet/file/memory_file_system.h"
#include "db/jet/file/pager.h"
#include "db/jet/file/safe_point_journal.h"
#include "db/jet/file/write_back.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace varnika::jet {
namespace {

const std::string kFolder = "/veri";
const std::string kPath = "/veri/Stok.mdb";

PageBuffer filled(uint8_t v)
{
    PageBuffer b;
    b.fill(v);
    return b;
}

std::vector<uint8_t> image(std::initializer_list<uint8_t> pages)
{
    std::vector<uint8_t> v;
    for (uint8_t p : pages) v.insert(v.end(), kPageSize, p);
    return v;
}

struct Files {
    explicit Files(bool superuser = false)
    {
        fs->setSuperuser(superuser);
        fs->addFile(kPath, image({0xA0, 0xA1, 0xA2}));
    }
    Result<std::unique_ptr<Pager>> open(OpenMode mode = OpenMode::ReadWrite) { return Pager::open(fs, kPath, mode); }
    std::shared_ptr<MemoryFileSystem> fs = std::make_shared<MemoryFileSystem>();
};

// Two pages changed: a commit that goes through the rollback journal.
Status changeTwoPages(Pager& p)
{
    VK_RETURN_IF_ERROR(p.write(1, filled(0xB1)));
    VK_RETURN_IF_ERROR(p.write(2, filled(0xB2)));
    return p.commit();
}

TEST(FileSystemDouble, AReadOnlyFileOpensForReadingForAnyUser)
{
    for (bool superuser : {false, true}) {
        SCOPED_TRACE(superuser ? "superuser" : "ordinary user");
        Files f(superuser);
        f.fs->setMode(kPath, 0444);
        auto pager = f.open();
        ASSERT_TRUE(pager.isOk()) << pager.status().toString();
        EXPECT_FALSE((*pager)->isWritable());
        EXPECT_EQ((*pager)->readOnlyReason(), "the file " + kPath + " is read-only");
        Status refused = (*pager)->write(1, filled(1));
        EXPECT_EQ(refused.code(), ErrorCode::ReadOnly);
        EXPECT_EQ(refused.message(), "cannot change the database: the file " + kPath + " is read-only");
        EXPECT_EQ((*pager)->checkWritable().message(), refused.message());
        EXPECT_EQ(*(*pager)->read(1).value(), filled(0xA1));
        pager->reset();
        EXPECT_EQ(*f.fs->bytes(kPath), image({0xA0, 0xA1, 0xA2}));
        EXPECT_FALSE(f.fs->exists(journalPathFor(kPath)));
        EXPECT_FALSE(f.fs->exists(safePointPathFor(kPath)));
    }
}

TEST(FileSystemDouble, AFileNobodyMayReadCannotBeOpenedButByTheSuperuser)
{
    Files user;
    user.fs->setMode(kPath, 0);
    EXPECT_EQ(user.open(OpenMode::ReadOnly).status().code(), ErrorCode::IOError);
    EXPECT_EQ(user.open(OpenMode::ReadWrite).status().code(), ErrorCode::IOError);
    Files root(true);
    root.fs->setMode(kPath, 0);
    auto pager = root.open();
    ASSERT_TRUE(pager.isOk()) << pager.status().toString();
    EXPECT_FALSE((*pager)->isWritable());  // its bits allow nobody to write it
}

TEST(FileSystemDouble, AFolderThatCannotBeWrittenLeavesNoRoomForTheJournal)
{
    Files user;
    user.fs->setFolderWritable(kFolder, false);
    auto pager = user.open();
    ASSERT_TRUE(pager.isOk()) << pager.status().toString();
    EXPECT_FALSE((*pager)->isWritable());
    EXPECT_NE((*pager)->readOnlyReason().find("folder cannot be written"), std::string::npos);
    EXPECT_EQ(changeTwoPages(**pager).code(), ErrorCode::ReadOnly);
    pager->reset();
    EXPECT_EQ(*user.fs->bytes(kPath), image({0xA0, 0xA1, 0xA2}));

    // The system lets the superuser make files there.
    Files root(true);
    root.fs->setFolderWritable(kFolder, false);
    auto rootPager = root.open();
    ASSERT_TRUE(rootPager.isOk());
    EXPECT_TRUE((*rootPager)->isWritable());
    EXPECT_TRUE(changeTwoPages(**rootPager).isOk());
}

TEST(FileSystemDouble, OneWriterAtATime)
{
    Files f;
    auto first = f.open();
    ASSERT_TRUE(first.isOk());
    auto second = f.open();
    EXPECT_EQ(second.status().code(), ErrorCode::Locked);
    EXPECT_NE(second.status().message().find("another program"), std::string::npos);
    auto reader = f.open(OpenMode::ReadOnly);
    ASSERT_TRUE(reader.isOk());
    EXPECT_FALSE((*reader)->isWritable());
    first->reset();
    EXPECT_TRUE(f.open().isOk());
}

TEST(FileSystemDouble, AccessLockFileInUseRefusesWritingAndAStaleOneDoesNot)
{
    Files f;
    const std::string ldb = kFolder + "/STOK.LDB";
    f.fs->addFile(ldb, std::vector<uint8_t>(64, ' '));
    f.fs->addFile(kFolder + "/Diger.ldb", {});
    f.fs->setLockedByAnother(kFolder + "/Diger.ldb", true);  // another database's
    EXPECT_TRUE(f.open().isOk());

    f.fs->setLockedByAnother(ldb, true);
    auto refused = f.open();
    EXPECT_EQ(refused.status().code(), ErrorCode::Locked);
    EXPECT_EQ(refused.status().message(),
              "the database " + kPath + " is open in Microsoft Access (its lock file STOK.LDB is in use)");
    EXPECT_TRUE(f.open(OpenMode::ReadOnly).isOk());
}

TEST(FileSystemDouble, JournalsAreMadeBesideTheFileAndRemovedWithThePager)
{
    Files f;
    const std::string journal = journalPathFor(kPath), safePoint = safePointPathFor(kPath);
    auto pager = f.open();
    ASSERT_TRUE(pager.isOk());
    EXPECT_FALSE(f.fs->exists(journal));
    EXPECT_FALSE(f.fs->exists(safePoint));
    // One page changed: the safe point's journal only.
    ASSERT_TRUE((*pager)->write(1, filled(0xC1)).isOk());
    ASSERT_TRUE((*pager)->commit().isOk());
    EXPECT_FALSE(f.fs->exists(journal));
    EXPECT_TRUE(f.fs->exists(safePoint));
    ASSERT_TRUE(changeTwoPages(**pager).isOk());
    EXPECT_TRUE(f.fs->exists(journal));
    pager->reset();
    EXPECT_FALSE(f.fs->exists(journal));
    EXPECT_FALSE(f.fs->exists(safePoint));
    EXPECT_EQ(*f.fs->bytes(kPath), image({0xA0, 0xB1, 0xB2}));

    // A journal that cannot be made fails the commit and changes nothing.
    Files full;
    auto p = full.open();
    ASSERT_TRUE(p.isOk());
    full.fs->setFolderWritable(kFolder, false);
    Status s = changeTwoPages(**p);
    EXPECT_EQ(s.code(), ErrorCode::IOError);
    EXPECT_FALSE((*p)->hasPendingWrites());
    EXPECT_EQ(*full.fs->bytes(kPath), image({0xA0, 0xA1, 0xA2}));
}

// A commit cut short: its journal holds the original pages and is armed.
void leaveInterruptedCommit(MemoryFileSystem& fs, bool firstPageToo = true)
{
    auto file = fs.openOrCreate(journalPathFor(kPath));
    ASSERT_TRUE(file.isOk());
    Journal journal(std::move(file).value());
    if (firstPageToo) ASSERT_TRUE(journal.begin(3, {{1, filled(0xA1)}, {2, filled(0xA2)}}, true).isOk());
    else ASSERT_TRUE(journal.begin(3, {{2, filled(0xA2)}}, true).isOk());
    fs.addFile(kPath, image({0xA0, firstPageToo ? uint8_t(0xB1) : uint8_t(0xA1), 0xB2, 0xB3}));
}

TEST(FileSystemDouble, AnInterruptedCommitIsRolledBackOrHiddenWhenTheFileIsReadOnly)
{
    Files writable;
    leaveInterruptedCommit(*writable.fs);
    {
        auto pager = writable.open();
        ASSERT_TRUE(pager.isOk()) << pager.status().toString();
        EXPECT_EQ((*pager)->pageCount(), 3u);
    }
    EXPECT_EQ(*writable.fs->bytes(kPath), image({0xA0, 0xA1, 0xA2}));
    EXPECT_FALSE(writable.fs->exists(journalPathFor(kPath)));

    Files readOnly;
    leaveInterruptedCommit(*readOnly.fs);
    readOnly.fs->setMode(kPath, 0444);
    auto pager = readOnly.open();
    ASSERT_TRUE(pager.isOk()) << pager.status().toString();
    EXPECT_EQ((*pager)->pageCount(), 3u);
    EXPECT_EQ(*(*pager)->read(2).value(), filled(0xA2));
    EXPECT_EQ(*readOnly.fs->bytes(kPath), image({0xA0, 0xB1, 0xB2, 0xB3}));  // left as it is
    EXPECT_TRUE(readOnly.fs->exists(journalPathFor(kPath)));

    // Pages read in order, which the pager reads ahead, show the originals too.
    Files inOrder;
    leaveInterruptedCommit(*inOrder.fs, false);
    inOrder.fs->setMode(kPath, 0444);
    auto reader = inOrder.open();
    ASSERT_TRUE(reader.isOk()) << reader.status().toString();
    for (uint32_t page = 0; page < 3; ++page) EXPECT_EQ(*(*reader)->read(page).value(), filled(uint8_t(0xA0 + page)));
}

TEST(FileSystemDouble, AfterAPowerCutTheFileGoesBackToItsLastSafePoint)
{
    Files before;
    std::optional<std::vector<uint8_t>> db, safePoints;
    {
        auto pager = before.open();
        ASSERT_TRUE(pager.isOk());
        ASSERT_TRUE(changeTwoPages(**pager).isOk());
        // What the disk holds when the power fails now, the pager still open.
        db = before.fs->bytes(kPath);
        safePoints = before.fs->bytes(safePointPathFor(kPath));
        ASSERT_TRUE(safePoints.has_value());
    }
    for (const char* boot : {"boot-1", "boot-2"}) {
        Files after;
        after.fs->addFile(kPath, *db);
        after.fs->addFile(safePointPathFor(kPath), *safePoints);
        after.fs->setBootId(boot);
        ASSERT_TRUE(after.open().isOk());
        // The same boot is a killed process: the changes stay.
        const bool restarted = std::string(boot) != "boot-1";
        EXPECT_EQ(*after.fs->bytes(kPath), restarted ? image({0xA0, 0xA1, 0xA2}) : image({0xA0, 0xB1, 0xB2})) << boot;
    }
}

// The system's file system answers the same questions about real files.
TEST(PosixFileSystem, AnswersAboutRealFiles)
{
    test::TempDir dir;
    auto files = posixFileSystem();
    const std::string path = dir.file("a.mdb").string();
    ASSERT_TRUE(files->createNew(path).isOk());
    EXPECT_EQ(files->createNew(path).status().code(), ErrorCode::InvalidArgument);
    EXPECT_TRUE(files->exists(path));
    EXPECT_TRUE(files->permitsWriting(path));
    EXPECT_EQ(files->list(dir.path().string()), std::vector<std::string>{"a.mdb"});
    EXPECT_FALSE(files->isLockedByAnother(path));
    ::chmod(path.c_str(), 0444);
    EXPECT_FALSE(files->permitsWriting(path));
    auto journal = files->openOrCreate(dir.file("a.mdb-journal").string());
    ASSERT_TRUE(journal.isOk());
    EXPECT_TRUE((*journal)->isWritable());
    EXPECT_TRUE(files->remove(path).isOk());
    EXPECT_TRUE(files->remove(path).isOk());  // already gone
    EXPECT_FALSE(files->exists(path));
    EXPECT_EQ(files->open(path, OpenMode::ReadOnly).status().code(), ErrorCode::NotFound);
    EXPECT_EQ(files->open(dir.path().string(), OpenMode::ReadOnly).status().code(), ErrorCode::IOError);
}


// Writes hinted on their way to the disk (the pager does so every few
// megabytes of a run) land as written, through a cut of the file and a
// hint in flight as the file is closed.
TEST(PosixFileSystem, WritesSentOnTheirWayToTheDiskReadBackAsWritten)
{
    // The write-back waits for a process with threads of its own.
    std::thread([] {}).join();
    ASSERT_TRUE(BackgroundWriteBack::threadsRunAlready());
    test::TempDir dir;
    const std::string path = dir.file("b.mdb").string();
    ASSERT_TRUE(posixFileSystem()->createNew(path).isOk());
    std::vector<uint8_t> expected;
    for (int round = 0; round < 3; ++round) {
        auto file = openPosixFile(path, OpenMode::ReadWrite);
        ASSERT_TRUE(file.isOk());
        bool cut = false;
        for (uint32_t page = 0; page < 40; ++page) {
            const PageBuffer b = filled(uint8_t(round * 40 + page));
            ASSERT_TRUE((*file)->write(uint64_t(page) * kPageSize, b.data(), kPageSize).isOk());
            if (expected.size() < (page + 1) * kPageSize) expected.resize((page + 1) * kPageSize);
            std::copy(b.begin(), b.end(), expected.begin() + long(page) * long(kPageSize));
            (*file)->startWriteBack(expected.size());
            if (page == 30 && !cut) {
                cut = true;
                ASSERT_TRUE((*file)->truncate(20 * kPageSize).isOk());
                expected.resize(20 * kPageSize);
                page = 19;  // pages 20 on are written again
                (*file)->startWriteBack(expected.size());
            }
        }
        if (round == 2) {
            ASSERT_TRUE((*file)->sync().isOk());
        }
        (*file)->startWriteBack(expected.size());  // closed with the hint in hand
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(written == expected);
}

}  // namespace
}  // namespace varnika::jet
