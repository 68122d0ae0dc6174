// Store files of the first format (one props row per value) opened by this
// version: upgraded in place when writable, in a private copy when not, and
// in both cases showing exactly what the first version showed. The file and
// its dump were made by the version that wrote that format.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "dump.h"
#include "embedded_test_util.h"
#include "entry_id.h"
#include "message_recipients.h"
#include "packed_props.h"
#include "store_schema.h"

namespace mapi::embedded::test {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// An older-format file rebuilt from its SQL text in testdata.
void MakeFileFrom(const char* sqlFile, const std::string& path) {
    std::string sql = ReadText(std::string(EMBEDDED_TESTDATA "/") + sqlFile);
    ASSERT_FALSE(sql.empty());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

void MakeFirstFormatFile(const std::string& path) {
    MakeFileFrom("store_v1.sql", path);
}

int64_t FileVersion(const std::string& path) {
    sqlite3* db = nullptr;
    int64_t version = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &q, nullptr);
        if (sqlite3_step(q) == SQLITE_ROW) version = sqlite3_column_int64(q, 0);
        sqlite3_finalize(q);
    }
    sqlite3_close(db);
    return version;
}

std::string Dump(IMsgStore* store) {
    std::ostringstream out;
    tools::DumpResult result;
    std::string error;
    EXPECT_EQ(tools::DumpStore(store, tools::DumpOptions{true}, out, &result, &error), S_OK)
        << error;
    EXPECT_EQ(result.unreadable, 0u);
    return out.str();
}

TEST(EmbeddedUpgrade, WritableFileIsUpgradedOnceAndReadsAsBefore) {
    TempDir dir;
    const std::string path = dir.File("old.qst");
    MakeFirstFormatFile(path);
    ASSERT_EQ(FileVersion(path), 1);
    const std::string expected = ReadText(EMBEDDED_TESTDATA "/store_v1.dump");
    {
        HRESULT hr = S_OK;
        std::string error;
        ComRef<IMsgStore> store = OpenStore(path, "Old", &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        EXPECT_EQ(Dump(store.get()), expected);
    }
    EXPECT_EQ(FileVersion(path), kSchemaVersion);
    {
        // Opened again, now as a current file; and it takes new items.
        ComRef<IMsgStore> store = OpenStore(path, "Old");
        ASSERT_TRUE(store);
        EXPECT_EQ(Dump(store.get()), expected);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        IMessage* raw = nullptr;
        ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
        ComRef<IMessage> message(raw);
        ASSERT_EQ(SetString(message.get(), PR_SUBJECT, "after the upgrade"), S_OK);
        EXPECT_EQ(message->SaveChanges(0), S_OK);
    }
    // Every value moved out of the props table is in its object's directory:
    // nothing small is left behind, and the sizes add up to the values.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM props WHERE lazy=0", -1, &q, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int64(q, 0), 0);
    sqlite3_finalize(q);
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT packed, value_bytes, recipients, recipient_bytes "
                                 "FROM objects",
                                 -1, &q, nullptr),
              SQLITE_OK);
    int objects = 0;
    auto column = [&](int i) {
        return std::string_view(static_cast<const char*>(sqlite3_column_blob(q, i)),
                                static_cast<size_t>(sqlite3_column_bytes(q, i)));
    };
    while (sqlite3_step(q) == SQLITE_ROW) {
        PackedDir packed;
        ASSERT_EQ(Unpack(column(0), &packed), S_OK);
        EXPECT_EQ(static_cast<int64_t>(ValueBytes(packed)), sqlite3_column_int64(q, 1));
        std::vector<RecipientRow> recipients;
        ASSERT_EQ(UnpackRecipients(column(2), &recipients), S_OK);
        uint64_t bytes = 0;
        for (const RecipientRow& r : recipients)
            for (const auto& [pid, v] : r.props) bytes += v.bytes.size();
        EXPECT_EQ(static_cast<int64_t>(bytes), sqlite3_column_int64(q, 3));
        objects += 1 + static_cast<int>(recipients.size());
    }
    EXPECT_GT(objects, 50);
    sqlite3_finalize(q);
    sqlite3_close(db);
}

// The first format folded folder names with tables that left, among
// others, Glagolitic as it was; the upgrade folds every name anew, so the
// folder is found under either case afterwards instead of gaining a twin.
TEST(EmbeddedUpgrade, FolderNamesAreFoldedAnew) {
    TempDir dir;
    const std::string path = dir.File("old.qst");
    MakeFirstFormatFile(path);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    // Inbox renamed to U+2C00 (capital), keyed as the first format did.
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE props SET type=31, value=x'002C' WHERE pid=12289 AND obj="
                           "(SELECT id FROM objects WHERE kind=2 AND name_key='inbox'); "
                           "UPDATE objects SET name_key=char(11264) WHERE kind=2 AND "
                           "name_key='inbox';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);

    ComRef<IMsgStore> store = OpenStore(path);
    ASSERT_TRUE(store);
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    const ULONG before = AllRows(Hierarchy(ipm.get()).get(), {PR_ENTRYID})->cRows;
    HRESULT hr = S_OK;
    Subfolder(ipm.get(), "\xE2\xB0\xB0", 0, &hr);  // U+2C30, the small letter
    EXPECT_EQ(hr, MAPI_E_COLLISION);
    ComRef<IMAPIFolder> inbox = Subfolder(ipm.get(), "\xE2\xB0\xB0", OPEN_IF_EXISTS, &hr);
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(inbox);
    EXPECT_EQ(GetString(inbox.get(), PR_DISPLAY_NAME), "\xE2\xB0\x80");
    EXPECT_EQ(AllRows(Hierarchy(ipm.get()).get(), {PR_ENTRYID})->cRows, before);
}

TEST(EmbeddedUpgrade, ReadOnlyFileIsReadThroughAPrivateCopyAndLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("old.qst");
    MakeFirstFormatFile(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    {
        HRESULT hr = S_OK;
        std::string error;
        ComRef<IMsgStore> store = OpenStore(path, "Old", &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        EXPECT_EQ(Dump(store.get()), ReadText(EMBEDDED_TESTDATA "/store_v1.dump"));
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        IMessage* raw = nullptr;
        EXPECT_EQ(ipm->CreateMessage(nullptr, 0, &raw), MAPI_E_NO_ACCESS);
        if (raw != nullptr) raw->Release();
    }
    EXPECT_EQ(FileVersion(path), 1);
}

// The one number a query on the file at path answers; -1 when it cannot.
int64_t QueryInt(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    int64_t value = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) == SQLITE_OK &&
            sqlite3_step(q) == SQLITE_ROW)
            value = sqlite3_column_int64(q, 0);
        sqlite3_finalize(q);
    }
    sqlite3_close(db);
    return value;
}

// A second-format file (large values found through an index on object and
// property) made by the version that wrote that format: its large values
// are keyed by object and property afterwards, it shows what that version
// showed, and bodies written, replaced and deleted after the upgrade land
// under the new keys and leave nothing behind.
TEST(EmbeddedUpgrade, SecondFormatLargeValuesAreRekeyedAndReadAsBefore) {
    TempDir dir;
    const std::string path = dir.File("v2.qst");
    MakeFileFrom("store_v2.sql", path);
    ASSERT_EQ(FileVersion(path), 2);
    const int64_t largeValues = QueryInt(path, "SELECT count(*) FROM props");
    ASSERT_GT(largeValues, 5);
    const std::string expected = ReadText(EMBEDDED_TESTDATA "/store_v2.dump");
    std::string eid;
    {
        HRESULT hr = S_OK;
        std::string error;
        ComRef<IMsgStore> store = OpenStore(path, "Old", &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        EXPECT_EQ(Dump(store.get()), expected);
    }
    EXPECT_EQ(FileVersion(path), kSchemaVersion);
    EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM props"), largeValues);
    EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM props WHERE id != obj * 65536 + pid"), 0);
    EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM sqlite_master WHERE name='props_by_object'"), 0);
    {
        ComRef<IMsgStore> store = OpenStore(path, "Old");
        ASSERT_TRUE(store);
        EXPECT_EQ(Dump(store.get()), expected);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        const std::string body(5000, 'b');
        eid = AddMessage(ipm.get(), "large body");
        ComRef<IMessage> message = OpenById<IMessage>(store.get(), eid);
        ASSERT_TRUE(message);
        ASSERT_EQ(SetString(message.get(), PR_BODY_A, body.c_str()), S_OK);
        ASSERT_EQ(SetString(message.get(), PR_COMMENT_A, std::string(3000, 'c').c_str()), S_OK);
        ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM props"), largeValues + 2);
        // Replaced by a small value: the large one goes.
        ASSERT_EQ(SetString(message.get(), PR_COMMENT_A, "short"), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM props"), largeValues + 1);
        message.Reset();
        ComRef<IMessage> again = OpenById<IMessage>(store.get(), eid);
        ASSERT_TRUE(again);
        EXPECT_EQ(GetString(again.get(), PR_BODY_A), body);
        EXPECT_EQ(GetString(again.get(), PR_COMMENT_A), "short");
        again.Reset();
        SBinary id = BinaryOf(eid);
        ENTRYLIST list{1, &id};
        ASSERT_EQ(ipm->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    }
    EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM props"), largeValues);
}

// Runs sql on the file at path; false when it fails.
bool Exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// A third-format file (each recipient an object row below its message) made
// by the version that wrote that format: every message's recipients move
// into its own row, in table order with their row ids, counted in the
// message's size as before, and nothing of the old rows is left. A
// recipient's value kept apart for its size comes along; a recipient that
// cannot be read fails its message's table instead of vanishing from it.
TEST(EmbeddedUpgrade, ThirdFormatRecipientsMoveIntoTheirMessages) {
    TempDir dir;
    const std::string path = dir.File("v3.qst");
    MakeFileFrom("store_v3.sql", path);
    ASSERT_EQ(FileVersion(path), 3);
    const int64_t recipients = QueryInt(path, "SELECT count(*) FROM objects WHERE kind=5");
    ASSERT_GT(recipients, 30);
    const int64_t recipientBytes =
        QueryInt(path, "SELECT sum(value_bytes) FROM objects WHERE kind=5");
    const int64_t messageSizes = QueryInt(path, "SELECT sum(size) FROM objects WHERE kind=3");
    {
        HRESULT hr = S_OK;
        std::string error;
        ComRef<IMsgStore> store = OpenStore(path, "Old", &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        EXPECT_EQ(Dump(store.get()), ReadText(EMBEDDED_TESTDATA "/store_v3.dump"));
    }
    EXPECT_EQ(FileVersion(path), kSchemaVersion);
    EXPECT_EQ(QueryInt(path, "SELECT count(*) FROM objects WHERE kind=5"), 0);
    EXPECT_EQ(QueryInt(path, "SELECT sum(recipient_bytes) FROM objects"), recipientBytes);
    EXPECT_EQ(QueryInt(path, "SELECT sum(size) FROM objects WHERE kind=3"), messageSizes);

    // Damage and a large value, made the way the third format kept them.
    const std::string damaged = dir.File("v3-damaged.qst");
    MakeFileFrom("store_v3.sql", damaged);
    const int64_t large = QueryInt(damaged,
                                   "SELECT min(r.id) FROM objects r JOIN objects m ON "
                                   "m.id = r.parent WHERE r.kind=5 AND m.kind=3 AND m.num=0");
    const int64_t broken = QueryInt(damaged,
                                    "SELECT max(r.id) FROM objects r JOIN objects m ON "
                                    "m.id = r.parent WHERE r.kind=5 AND m.kind=3 AND m.num=0");
    const int64_t largeMessage =
        QueryInt(damaged, ("SELECT parent FROM objects WHERE id=" + std::to_string(large)).c_str());
    const int64_t brokenMessage = QueryInt(
        damaged, ("SELECT parent FROM objects WHERE id=" + std::to_string(broken)).c_str());
    ASSERT_NE(largeMessage, brokenMessage);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(damaged.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "SELECT packed FROM objects WHERE id=?1", -1, &q, nullptr);
        sqlite3_bind_int64(q, 1, large);
        ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
        PackedDir packed;
        ASSERT_EQ(Unpack(std::string_view(static_cast<const char*>(sqlite3_column_blob(q, 0)),
                                          static_cast<size_t>(sqlite3_column_bytes(q, 0))),
                         &packed),
                  S_OK);
        sqlite3_finalize(q);
        packed[0x3A20] = PackedValue{PT_BINARY, true, 3000, {}};
        std::string blob = Pack(packed);
        sqlite3_prepare_v2(db, "UPDATE objects SET packed=?2 WHERE id=?1", -1, &q, nullptr);
        sqlite3_bind_int64(q, 1, large);
        sqlite3_bind_blob(q, 2, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(q), SQLITE_DONE);
        sqlite3_finalize(q);
        sqlite3_close(db);
    }
    ASSERT_TRUE(
        Exec(damaged, "INSERT INTO props(id, obj, pid, type, lazy, value) VALUES(" +
                          std::to_string(LargeValueKey(large, 0x3A20)) + ", " +
                          std::to_string(large) + ", 14880, 258, 1, zeroblob(3000)); " +
                          "UPDATE objects SET packed=x'01FF' WHERE id=" + std::to_string(broken)));
    MAPIUID uid{};
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(damaged.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE key='uid'", -1, &q, nullptr);
        ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
        ASSERT_EQ(sqlite3_column_bytes(q, 0), 16);
        std::memcpy(uid.ab, sqlite3_column_blob(q, 0), 16);
        sqlite3_finalize(q);
        sqlite3_close(db);
    }
    ComRef<IMsgStore> store = OpenStore(damaged);
    ASSERT_TRUE(store);
    ComRef<IMessage> withLarge =
        OpenById<IMessage>(store.get(), MakeEntryId(uid, ObjectKind::kMessage, largeMessage));
    ASSERT_TRUE(withLarge);
    IMAPITable* raw = nullptr;
    ASSERT_EQ(withLarge->GetRecipientTable(0, &raw), S_OK);
    ComRef<IMAPITable> table(raw);
    RowSetPtr rows = AllRows(table.get(), {PROP_TAG(PT_BINARY, 0x3A20)});
    ASSERT_TRUE(rows);
    ASSERT_GE(rows->cRows, 1u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PROP_TAG(PT_BINARY, 0x3A20));
    EXPECT_EQ(rows->aRow[0].lpProps[0].Value.bin.cb, 3000u);
    ComRef<IMessage> withBroken =
        OpenById<IMessage>(store.get(), MakeEntryId(uid, ObjectKind::kMessage, brokenMessage));
    ASSERT_TRUE(withBroken);
    raw = nullptr;
    EXPECT_EQ(withBroken->GetRecipientTable(0, &raw), MAPI_E_CORRUPT_DATA);
    if (raw != nullptr) raw->Release();
    EXPECT_EQ(
        QueryInt(damaged, "SELECT count(*) FROM props WHERE obj NOT IN (SELECT id FROM objects)"),
        0);
}

// Directories that do not parse are refused whole instead of read in part.
TEST(PackedProps, MalformedDirectoriesAreDamage) {
    PackedDir dir;
    PutValue(dir, 0x0037, EncodedProp{PT_STRING8, "subject"});
    PutValue(dir, 0x1000, EncodedProp{PT_STRING8, std::string(2000, 'b')});  // kept outside
    PutValue(dir, 0x0E07, EncodedProp{PT_LONG, std::string("\x01\x00\x00\x00", 4)});
    std::string blob = Pack(dir);
    PackedDir back;
    ASSERT_EQ(Unpack(blob, &back), S_OK);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0x0037].bytes, "subject");
    EXPECT_TRUE(back[0x1000].outside);
    EXPECT_TRUE(back[0x1000].bytes.empty());
    EXPECT_EQ(ValueBytes(back), 7u + 2000u + 4u);

    // A cut between entries leaves a shorter, valid directory; any other
    // cut is damage.
    const size_t entryEnds[] = {1, 1 + 13 + 7, 1 + 13 + 7 + 13 + 4};  // ids in ascending order
    // The summary an opened message reads from makes the same checks.
    std::map<ULONG, EncodedProp> small;
    std::map<ULONG, ULONG> types;
    bool outside = false;
    ASSERT_EQ(UnpackSummary(blob, &small, &types, &outside), S_OK);
    EXPECT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0x1000], static_cast<ULONG>(PT_STRING8));
    EXPECT_EQ(small.size(), 2u);
    EXPECT_EQ(small[0x0037].bytes, "subject");
    EXPECT_EQ(small.count(0x1000), 0u);
    EXPECT_TRUE(outside);
    for (size_t cut = 1; cut < blob.size(); ++cut) {
        bool boundary =
            std::find(std::begin(entryEnds), std::end(entryEnds), cut) != std::end(entryEnds);
        EXPECT_EQ(Unpack(blob.substr(0, cut), &back), boundary ? S_OK : MAPI_E_CORRUPT_DATA) << cut;
        EXPECT_EQ(UnpackSummary(blob.substr(0, cut), &small, &types),
                  boundary ? S_OK : MAPI_E_CORRUPT_DATA)
            << cut;
        if (!boundary) {
            EXPECT_TRUE(small.empty() && types.empty()) << cut;
        }
    }
    std::string format = blob;
    format[0] = 2;
    EXPECT_EQ(Unpack(format, &back), MAPI_E_CORRUPT_DATA);
    std::string flags = blob;
    flags[9] = 4;  // first entry's flag byte
    EXPECT_EQ(Unpack(flags, &back), MAPI_E_CORRUPT_DATA);
    // The same id twice: neither copy may silently win.
    std::string twice = blob + blob.substr(1);
    EXPECT_EQ(Unpack(twice, &back), MAPI_E_CORRUPT_DATA);
}

}  // namespace
}  // namespace mapi::embedded::test
