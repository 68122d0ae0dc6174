// How a store is opened: for reading first, for writing at the first write,
// and for good only for reading when its file or folder cannot be written.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <thread>

#include "embedded_test_util.h"

namespace mapi::embedded::test {
namespace {

std::set<std::string> FilesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

ULONG SupportMask(IMsgStore* store) {
    return static_cast<ULONG>(GetLong(store, PR_STORE_SUPPORT_MASK, 0));
}

// Reads everything a copy of the store's IPM subtree would read.
void ReadAll(IMsgStore* store) {
    ComRef<IMAPIFolder> ipm = IpmSubtree(store);
    ASSERT_TRUE(ipm);
    RowSetPtr folders = AllRows(Hierarchy(ipm.get()).get(), {PR_ENTRYID, PR_DISPLAY_NAME});
    EXPECT_GE(folders->cRows, 4u);
    RowSetPtr items = AllRows(Contents(ipm.get()).get(), {PR_ENTRYID, PR_SUBJECT});
    for (ULONG i = 0; i < items->cRows; ++i) {
        ComRef<IMessage> m = OpenById<IMessage>(store, Binary(items->aRow[i].lpProps[0]));
        ASSERT_TRUE(m);
        EXPECT_NE(GetString(m.get(), PR_SUBJECT), "<missing>");
    }
}

TEST(EmbeddedOpen, ReadingMakesNoFilesAndTheFirstWriteOpensForWriting) {
    TempDir dir;
    const std::string path = dir.File("s.qst");
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        AddMessage(IpmSubtree(store.get()).get(), "first");
    }
    // Left in rollback mode at rest: nothing beside the file.
    EXPECT_EQ(FilesIn(dir.File("")), std::set<std::string>{"s.qst"});

    ComRef<IMsgStore> store = OpenStore(path);
    ASSERT_TRUE(store);
    ReadAll(store.get());
    ULONG mask = SupportMask(store.get());
    EXPECT_TRUE(mask & STORE_MODIFY_OK);
    EXPECT_FALSE(mask & STORE_READONLY);
    EXPECT_EQ(FilesIn(dir.File("")), std::set<std::string>{"s.qst"});

    // A second reader of the same file sees what the first one writes.
    ComRef<IMsgStore> reader = OpenStore(path);
    ASSERT_TRUE(reader);
    ReadAll(reader.get());
    AddMessage(IpmSubtree(store.get()).get(), "second");
    RowSetPtr seen = AllRows(Contents(IpmSubtree(reader.get()).get()).get(), {PR_SUBJECT});
    EXPECT_EQ(seen->cRows, 2u);
    // and can write after it.
    AddMessage(IpmSubtree(reader.get()).get(), "third");
    EXPECT_EQ(AllRows(Contents(IpmSubtree(store.get()).get()).get(), {PR_SUBJECT})->cRows, 3u);

    reader.Reset();
    store.Reset();
    EXPECT_EQ(FilesIn(dir.File("")), std::set<std::string>{"s.qst"});
    ComRef<IMsgStore> again = OpenStore(path);
    EXPECT_EQ(AllRows(Contents(IpmSubtree(again.get()).get()).get(), {PR_SUBJECT})->cRows, 3u);
}

// The first write of a session can come in the middle of a copy that holds
// the store open for reading (a copy or move within one store): the copy
// lets go of its reading first and the store reopens for writing.
TEST(EmbeddedOpen, FirstWriteInsideACopyWithinTheStore) {
    TempDir dir;
    const std::string path = dir.File("s.qst");
    std::string first, second;
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        first = AddMessage(ipm.get(), "first");
        second = AddMessage(ipm.get(), "second");
        Subfolder(ipm.get(), "Target");
    }
    for (ULONG flags : {ULONG{0}, ULONG{MESSAGE_MOVE}}) {
        ComRef<IMsgStore> store = OpenStore(path);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        ComRef<IMAPIFolder> target = Subfolder(ipm.get(), "Target", OPEN_IF_EXISTS);
        SBinary ids[] = {BinaryOf(first), BinaryOf(second)};
        ENTRYLIST list{flags ? 1u : 2u, flags ? &ids[1] : ids};
        EXPECT_EQ(ipm->CopyMessages(&list, nullptr, target.get(), 0, nullptr, flags), S_OK);
    }
    ComRef<IMsgStore> store = OpenStore(path);
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    EXPECT_EQ(AllRows(Contents(ipm.get()).get(), {PR_SUBJECT})->cRows, 1u);
    EXPECT_EQ(
        AllRows(Contents(Subfolder(ipm.get(), "Target", OPEN_IF_EXISTS).get()).get(), {PR_SUBJECT})
            ->cRows,
        3u);
}

// The same file opened twice (two profile entries for one file): a copy
// from one view into the other must not wait on its own reading.
TEST(EmbeddedOpen, CopyBetweenTwoViewsOfOneFile) {
    TempDir dir;
    const std::string path = dir.File("s.qst");
    std::string eid;
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        eid = AddMessage(IpmSubtree(store.get()).get(), "only");
        Subfolder(IpmSubtree(store.get()).get(), "Copies");
    }
    // Neither view has written yet: the target's first write comes while
    // the source is reading.
    ComRef<IMsgStore> from = OpenStore(path, "A");
    ComRef<IMsgStore> to = OpenStore(path, "B");
    ComRef<IMAPIFolder> source = IpmSubtree(from.get());
    ComRef<IMAPIFolder> target = Subfolder(IpmSubtree(to.get()).get(), "Copies", OPEN_IF_EXISTS);
    ASSERT_TRUE(target);
    SBinary one = BinaryOf(eid);
    ENTRYLIST list{1, &one};
    EXPECT_EQ(source->CopyMessages(&list, nullptr, target.get(), 0, nullptr, 0), S_OK);
    EXPECT_EQ(source->CopyMessages(&list, nullptr, target.get(), 0, nullptr, 0), S_OK);
    EXPECT_EQ(AllRows(Contents(target.get()).get(), {PR_SUBJECT})->cRows, 2u);
}

// A copy going item by item keeps one read transaction on the source across
// its calls, but only for a moment: a source folder let go lets another
// program write at once, and a copy going on past the limit sees what was
// committed meanwhile.
TEST(EmbeddedOpen, ACopyHoldsTheSourceBrieflyAndSeesLaterCommits) {
    TempDir dir;
    const std::string path = dir.File("s.qst");
    std::string first;
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        first = AddMessage(IpmSubtree(store.get()).get(), "first");
    }
    ComRef<IMsgStore> to = CreateAndOpen(dir.File("t.qst"));
    ComRef<IMAPIFolder> target = IpmSubtree(to.get());
    SBinary one = BinaryOf(first);
    ENTRYLIST list{1, &one};

    // The source at rest, only read: a write elsewhere needs every reader
    // gone, and none may be left once the folder is.
    ComRef<IMsgStore> from = OpenStore(path, "A");
    ComRef<IMAPIFolder> source = IpmSubtree(from.get());
    ASSERT_EQ(source->CopyMessages(&list, nullptr, target.get(), 0, nullptr, 0), S_OK);
    source.Reset();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other,
                           "BEGIN IMMEDIATE; UPDATE meta SET value=value WHERE key='name'; COMMIT",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(other);
    sqlite3_close(other);

    // Written by this view as well, the file's log lets the other writer go
    // on beside the copy's reads; the copy's next call past the limit reads
    // the file as it now is.
    source = IpmSubtree(from.get());
    AddMessage(source.get(), "written here");
    ASSERT_EQ(source->CopyMessages(&list, nullptr, target.get(), 0, nullptr, 0), S_OK);
    std::string second;
    {
        ComRef<IMsgStore> writer = OpenStore(path, "W");
        second = AddMessage(IpmSubtree(writer.get()).get(), "second");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    SBinary two = BinaryOf(second);
    ENTRYLIST later{1, &two};
    EXPECT_EQ(source->CopyMessages(&later, nullptr, target.get(), 0, nullptr, 0), S_OK);
    EXPECT_EQ(AllRows(Contents(target.get()).get(), {PR_SUBJECT})->cRows, 3u);
}

// A store in a folder nobody may write, or a file nobody may write, opens
// for reading, says so in its support mask (the copy engine refuses such a
// target by it) and refuses writes; nothing appears beside it.
TEST(EmbeddedOpen, ReadOnlyFolderOrFileOpensForReadingOnly) {
    for (int readOnlyFolder = 0; readOnlyFolder < 2; ++readOnlyFolder) {
        SCOPED_TRACE(readOnlyFolder ? "read-only folder" : "read-only file");
        TempDir dir;
        const std::string folder = dir.File("store");
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string path = folder + "/s.qst";
        {
            ComRef<IMsgStore> store = CreateAndOpen(path);
            AddMessage(IpmSubtree(store.get()).get(), "kept");
        }
        ASSERT_EQ(::chmod(readOnlyFolder ? folder.c_str() : path.c_str(), 0555), 0);
        {
            HRESULT hr = S_OK;
            std::string error;
            ComRef<IMsgStore> store = OpenStore(path, "S", &hr, &error);
            ASSERT_EQ(hr, S_OK) << error;
            ReadAll(store.get());
            ULONG mask = SupportMask(store.get());
            EXPECT_TRUE(mask & STORE_READONLY);
            EXPECT_FALSE(mask & STORE_MODIFY_OK);
            ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
            IMessage* raw = nullptr;
            EXPECT_EQ(ipm->CreateMessage(nullptr, 0, &raw), MAPI_E_NO_ACCESS);
            if (raw != nullptr) raw->Release();
            EXPECT_EQ(SetString(ipm.get(), PR_COMMENT, "x"), MAPI_E_NO_ACCESS);
            EXPECT_EQ(FilesIn(folder), std::set<std::string>{"s.qst"});
        }
        ::chmod(folder.c_str(), 0755);
        ::chmod(path.c_str(), 0644);
    }
}

}  // namespace
}  // namespace mapi::embedded::test
