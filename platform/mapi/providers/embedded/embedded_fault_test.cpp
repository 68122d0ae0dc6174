// Bad files, read-only and locked stores, a damaged page under one message,
// and a copy killed half way: the store answers with a clear code, never
// changes a file it cannot use, and never holds half a message.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "embedded_test_util.h"

namespace mapi::embedded::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs SQL on a store file outside the provider, as another program would.
void Sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

void MakeStore(const std::string& path) {
    std::string error;
    ASSERT_EQ(EmbeddedStoreProvider()->CreateStore(path, "S", &error), S_OK) << error;
}

TEST(EmbeddedFault, FilesThatAreNotUsableStoresAreRefusedUnchanged) {
    TempDir dir;
    WriteFile(dir.File("text.qst"), "Dear diary, this is not a message store.\n");
    WriteFile(dir.File("empty.qst"), "");
    Sql(dir.File("other.db"), "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('x');");
    MakeStore(dir.File("newer.qst"));
    Sql(dir.File("newer.qst"), "PRAGMA user_version=99");
    MakeStore(dir.File("gutted.qst"));
    Sql(dir.File("gutted.qst"), "DROP TABLE named_props");
    std::string bigGarbage(8192, '\x5A');
    std::memcpy(&bigGarbage[0], "SQLite format 3", 16);
    WriteFile(dir.File("garbage.qst"), bigGarbage);
    ::mkdir(dir.File("folder.qst").c_str(), 0755);

    struct {
        const char* file;
        HRESULT expected;
        const char* says;
    } const cases[] = {
        {"text.qst", MAPI_E_CORRUPT_STORE, "not a message store"},
        {"empty.qst", MAPI_E_CORRUPT_STORE, "not a message store"},
        {"other.db", MAPI_E_CORRUPT_STORE, "not a message store"},
        {"newer.qst", MAPI_E_VERSION, "newer version"},
        {"gutted.qst", MAPI_E_CORRUPT_STORE, "damaged"},
        {"garbage.qst", MAPI_E_CORRUPT_STORE, "not a message store"},
        {"folder.qst", MAPI_E_CORRUPT_STORE, "not a store file"},
        {"missing.qst", MAPI_E_NOT_FOUND, "does not exist"},
    };
    for (const auto& c : cases) {
        std::string path = dir.File(c.file);
        std::string before = ReadFile(path);
        HRESULT hr = S_OK;
        std::string error;
        ComRef<IMsgStore> store = OpenStore(path, "S", &hr, &error);
        EXPECT_FALSE(store) << c.file;
        EXPECT_EQ(hr, c.expected) << c.file << ": " << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_EQ(ReadFile(path), before) << c.file;
    }
    EXPECT_FALSE(EmbeddedStoreProvider()->Recognizes(dir.File("text.qst")));
    EXPECT_FALSE(EmbeddedStoreProvider()->Recognizes(dir.File("other.db")));
    EXPECT_TRUE(EmbeddedStoreProvider()->Recognizes(dir.File("newer.qst")));

    // Creating never overwrites, and fails cleanly where it cannot write.
    std::string error;
    std::string before = ReadFile(dir.File("text.qst"));
    EXPECT_EQ(EmbeddedStoreProvider()->CreateStore(dir.File("text.qst"), "S", &error),
              MAPI_E_COLLISION);
    EXPECT_EQ(ReadFile(dir.File("text.qst")), before);
    EXPECT_EQ(EmbeddedStoreProvider()->CreateStore(dir.File("no/such/dir.qst"), "S", &error),
              MAPI_E_NO_ACCESS);
    EXPECT_FALSE(error.empty());
}

TEST(EmbeddedFault, ReadOnlyFileOpensForReadingAndRefusesWrites) {
    TempDir dir;
    std::string path = dir.File("ro.qst");
    std::string eid;
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        eid = AddMessage(IpmSubtree(store.get()).get(), "kept");
    }
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    std::string before = ReadFile(path);
    HRESULT hr = S_OK;
    std::string error;
    ComRef<IMsgStore> store = OpenStore(path, "S", &hr, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_NE(GetLong(store.get(), PR_STORE_SUPPORT_MASK) & STORE_READONLY, 0);
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMessage> message = OpenById<IMessage>(store.get(), eid);
    ASSERT_TRUE(message);
    EXPECT_EQ(GetString(message.get(), PR_SUBJECT), "kept");

    IMessage* created = nullptr;
    EXPECT_EQ(ipm->CreateMessage(nullptr, 0, &created), MAPI_E_NO_ACCESS);
    EXPECT_EQ(SetString(ipm.get(), PR_COMMENT, "x"), MAPI_E_NO_ACCESS);
    EXPECT_EQ(SetString(message.get(), PR_SUBJECT, "changed"), MAPI_E_NO_ACCESS);
    EXPECT_EQ(SetString(store.get(), PR_COMMENT, "x"), MAPI_E_NO_ACCESS);
    hr = S_OK;
    EXPECT_FALSE(Subfolder(ipm.get(), "New", 0, &hr));
    EXPECT_EQ(hr, MAPI_E_NO_ACCESS);
    IUnknown* unk = nullptr;
    ULONG type = 0;
    std::string outbox = GetBinary(store.get(), PR_IPM_OUTBOX_ENTRYID);
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(outbox.size()),
                               reinterpret_cast<LPENTRYID>(outbox.data()), nullptr, MAPI_MODIFY,
                               &type, &unk),
              MAPI_E_NO_ACCESS);
    SBinary one = BinaryOf(eid);
    ENTRYLIST list{1, &one};
    EXPECT_EQ(ipm->DeleteMessages(&list, 0, nullptr, 0), MAPI_E_NO_ACCESS);
    store.Reset();
    ipm.Reset();
    message.Reset();
    EXPECT_EQ(ReadFile(path), before);
}

TEST(EmbeddedFault, LockedFileIsReportedAsBusy) {
    TempDir dir;
    std::string path = dir.File("locked.qst");
    MakeStore(path);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    HRESULT hr = S_OK;
    std::string error;
    ComRef<IMsgStore> store = OpenStore(path, "S", &hr, &error);
    EXPECT_FALSE(store);
    EXPECT_EQ(hr, MAPI_E_BUSY);
    EXPECT_NE(error.find("locked"), std::string::npos) << error;
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    store = OpenStore(path, "S", &hr, &error);
    EXPECT_TRUE(store) << error;
}

// A message whose body is one letter repeated, so its pages can be found.
std::string AddBodyMessage(IMAPIFolder* folder, const std::string& subject, char letter) {
    IMessage* raw = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> m(raw);
    SetString(m.get(), PR_SUBJECT, subject.c_str());
    std::string body(40000, letter);
    IUnknown* unk = nullptr;
    EXPECT_EQ(m->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk), S_OK);
    ComRef<IStream> stream(static_cast<IStream*>(unk));
    stream->Write(body.data(), static_cast<ULONG>(body.size()), nullptr);
    stream->Commit(0);
    stream.Reset();
    EXPECT_EQ(m->SaveChanges(0), S_OK);
    return GetBinary(m.get(), PR_ENTRYID);
}

TEST(EmbeddedFault, DamagedPagesFailOneMessageAndLeaveTheOthersReadable) {
    TempDir dir;
    std::string path = dir.File("source.qst");
    std::vector<std::string> ids;
    const char letters[] = {'a', 'b', 'c', 'd', 'e'};
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        for (char letter : letters)
            ids.push_back(AddBodyMessage(ipm.get(), std::string("message ") + letter, letter));
    }
    // Overwrite every page that holds mostly the third body with garbage.
    std::string bytes = ReadFile(path);
    const size_t page = 4096;
    int damaged = 0;
    for (size_t at = 0; at + page <= bytes.size(); at += page) {
        size_t hits = std::count(bytes.begin() + at, bytes.begin() + at + page, 'c');
        if (hits > page * 9 / 10) {
            std::fill(bytes.begin() + at, bytes.begin() + at + page, '\xA7');
            ++damaged;
        }
    }
    ASSERT_GT(damaged, 3);
    std::string broken = dir.File("broken.qst");
    WriteFile(broken, bytes);

    ComRef<IMsgStore> store = OpenStore(broken);
    ASSERT_TRUE(store);
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    // The table lists all five: it never reads bodies for a subject column.
    ComRef<IMAPITable> table = Contents(ipm.get());
    EXPECT_EQ(AllRows(table.get(), {PR_SUBJECT_A, PR_MESSAGE_SIZE})->cRows, 5u);

    ComRef<IMsgStore> target = CreateAndOpen(dir.File("target.qst"));
    ComRef<IMAPIFolder> into = IpmSubtree(target.get());
    for (size_t i = 0; i < ids.size(); ++i) {
        SBinary one = BinaryOf(ids[i]);
        ENTRYLIST list{1, &one};
        HRESULT hr = ipm->CopyMessages(&list, nullptr, into.get(), 0, nullptr, 0);
        if (letters[i] == 'c') {
            EXPECT_EQ(hr, MAPI_E_CORRUPT_DATA);
            ComRef<IMessage> m = OpenById<IMessage>(store.get(), ids[i]);
            ULONG count = 0;
            LPSPropValue values = nullptr;
            if (m) {
                EXPECT_EQ(m->GetProps(nullptr, 0, &count, &values), MAPI_E_CORRUPT_DATA);
                MAPIFreeBuffer(values);
            }
            continue;
        }
        EXPECT_EQ(hr, S_OK) << letters[i];
    }
    // The copies are whole; the damaged message left nothing behind.
    ComRef<IMAPITable> copied = Contents(into.get());
    RowSetPtr rows = AllRows(copied.get(), {PR_SUBJECT_A, PR_ENTRYID});
    ASSERT_EQ(rows->cRows, 4u);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        ComRef<IMessage> m = OpenById<IMessage>(target.get(), Binary(rows->aRow[r].lpProps[1]));
        IUnknown* unk = nullptr;
        ASSERT_EQ(m->OpenProperty(PR_BODY_A, &IID_IStream, 0, 0, &unk), S_OK);
        ComRef<IStream> stream(static_cast<IStream*>(unk));
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        EXPECT_EQ(stat.cbSize.QuadPart, 40000u);
    }
}

// A listing the database refuses must fail the table, never pass for an
// empty folder: the copy would skip every item without a word.
TEST(EmbeddedFault, UnreadableListingsFailTheTableInsteadOfLookingEmpty) {
    TempDir dir;
    std::string path = dir.File("source.qst");
    ComRef<IMsgStore> store = CreateAndOpen(path);
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    Subfolder(ipm.get(), "Sub");
    AddMessage(ipm.get(), "one");
    AddMessage(ipm.get(), "two");
    Sql(path, "ALTER TABLE objects RENAME TO objects_elsewhere");

    for (bool hierarchy : {false, true}) {
        IMAPITable* raw = nullptr;
        HRESULT hr = hierarchy ? ipm->GetHierarchyTable(0, &raw) : ipm->GetContentsTable(0, &raw);
        ComRef<IMAPITable> table(raw);
        if (FAILED(hr)) continue;
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        hr = HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                            nullptr, 0, &rows);
        RowSetPtr hold(rows);
        EXPECT_TRUE(FAILED(hr)) << (hierarchy ? "hierarchy" : "contents") << " reads "
                                << (rows ? rows->cRows : 0) << " rows";
    }
}

// Child side of the kill test: copies message after message and reports each
// index whose CopyMessages returned S_OK. Never returns.
[[noreturn]] void CopyUntilKilled(const std::string& from, const std::string& to, int fd) {
    ComRef<IMsgStore> source = OpenStore(from);
    ComRef<IMsgStore> target = OpenStore(to);
    if (!source || !target) _exit(2);
    ComRef<IMAPIFolder> src = IpmSubtree(source.get());
    ComRef<IMAPIFolder> dst = IpmSubtree(target.get());
    ComRef<IMAPITable> table = Contents(src.get());
    RowSetPtr rows = AllRows(table.get(), {PR_ENTRYID});
    for (ULONG i = 0; i < rows->cRows; ++i) {
        ENTRYLIST list{1, &rows->aRow[i].lpProps[0].Value.bin};
        if (src->CopyMessages(&list, nullptr, dst.get(), 0, nullptr, 0) != S_OK) _exit(3);
        uint32_t done = i;
        if (write(fd, &done, sizeof done) != sizeof done) _exit(4);
    }
    _exit(0);
}

TEST(EmbeddedFault, KilledCopyLeavesOnlyWholeMessages) {
    TempDir dir;
    std::string from = dir.File("from.qst");
    std::string to = dir.File("to.qst");
    constexpr int kMessages = 400;
    {
        ComRef<IMsgStore> store = CreateAndOpen(from);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        for (int i = 0; i < kMessages; ++i) {
            IMessage* raw = nullptr;
            ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
            ComRef<IMessage> m(raw);
            SetString(m.get(), PR_SUBJECT, ("item " + std::to_string(i)).c_str());
            SetString(m.get(), PR_BODY, std::string(3000, 'x').c_str());
            for (int a = 0; a < 3; ++a) {
                IAttach* at = nullptr;
                ASSERT_EQ(m->CreateAttach(nullptr, 0, nullptr, &at), S_OK);
                ComRef<IAttach> attach(at);
                SetString(attach.get(), PR_ATTACH_FILENAME, "part.bin");
                ASSERT_EQ(attach->SaveChanges(0), S_OK);
            }
            ASSERT_EQ(m->SaveChanges(0), S_OK);
        }
    }
    MakeStore(to);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        CopyUntilKilled(from, to, fds[1]);
    }
    close(fds[1]);
    std::set<uint32_t> reported;
    uint32_t index = 0;
    while (reported.size() < 60 && read(fds[0], &index, sizeof index) == sizeof index)
        reported.insert(index);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    while (read(fds[0], &index, sizeof index) == sizeof index) reported.insert(index);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished before it was killed";
    ASSERT_EQ(reported.size(), static_cast<size_t>(*reported.rbegin() + 1));

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(to.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);

    ComRef<IMsgStore> target = OpenStore(to);
    ASSERT_TRUE(target);
    ComRef<IMAPITable> table = Contents(IpmSubtree(target.get()).get());
    RowSetPtr rows = AllRows(table.get(), {PR_SUBJECT_A, PR_ENTRYID});
    std::set<uint32_t> present;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        present.insert(static_cast<uint32_t>(std::stoul(rows->aRow[r].lpProps[0].Value.lpszA + 5)));
        ComRef<IMessage> m = OpenById<IMessage>(target.get(), Binary(rows->aRow[r].lpProps[1]));
        IMAPITable* t = nullptr;
        ASSERT_EQ(m->GetAttachmentTable(0, &t), S_OK);
        ComRef<IMAPITable> attachments(t);
        EXPECT_EQ(AllRows(attachments.get(), {PR_ATTACH_NUM})->cRows, 3u);
        EXPECT_EQ(GetString(m.get(), PR_BODY).size(), 3000u);
    }
    // Every returned copy is there; at most the one in flight besides.
    for (uint32_t i : reported) EXPECT_EQ(present.count(i), 1u) << i;
    EXPECT_LE(present.size(), reported.size() + 1);
    for (uint32_t i : present) EXPECT_LE(i, *reported.rbegin() + 1);
}

}  // namespace
}  // namespace mapi::embedded::test
