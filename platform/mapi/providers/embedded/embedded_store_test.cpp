// The store's skeleton, special folders, receive folders, folder name
// collisions and named-property identifiers.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstring>
#include <thread>

#include "embedded_test_util.h"

namespace mapi::embedded::test {
namespace {

std::vector<std::string> FolderNames(IMAPIFolder* folder) {
    ComRef<IMAPITable> table = Hierarchy(folder);
    RowSetPtr rows = AllRows(table.get(), {PR_DISPLAY_NAME_A});
    std::vector<std::string> names;
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
        names.push_back(rows->aRow[i].lpProps[0].Value.lpszA);
    return names;
}

TEST(EmbeddedStore, NewStoreHasThePersonalFolderSkeleton) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"), "Archive");
    ASSERT_TRUE(store);

    EXPECT_EQ(GetString(store.get(), PR_DISPLAY_NAME), "Archive");
    EXPECT_EQ(GetLong(store.get(), PR_OBJECT_TYPE), static_cast<LONG>(MAPI_STORE));
    LONG mask = GetLong(store.get(), PR_VALID_FOLDER_MASK);
    for (ULONG bit : {FOLDER_IPM_SUBTREE_VALID, FOLDER_IPM_INBOX_VALID, FOLDER_IPM_OUTBOX_VALID,
                      FOLDER_IPM_WASTEBASKET_VALID, FOLDER_IPM_SENTMAIL_VALID})
        EXPECT_NE(mask & bit, 0u) << bit;
    EXPECT_NE(GetLong(store.get(), PR_STORE_SUPPORT_MASK) & STORE_MODIFY_OK, 0);
    EXPECT_EQ(GetBinary(store.get(), PR_MDB_PROVIDER).size(), 16u);

    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ASSERT_TRUE(ipm);
    EXPECT_EQ(GetString(ipm.get(), PR_DISPLAY_NAME), "Top of Personal Folders");
    EXPECT_EQ(FolderNames(ipm.get()),
              (std::vector<std::string>{"Inbox", "Outbox", "Deleted Items", "Sent Items"}));

    // The special folders are the ones the store names.
    struct {
        ULONG tag;
        const char* name;
    } const special[] = {{PR_IPM_OUTBOX_ENTRYID, "Outbox"},
                         {PR_IPM_WASTEBASKET_ENTRYID, "Deleted Items"},
                         {PR_IPM_SENTMAIL_ENTRYID, "Sent Items"}};
    for (const auto& s : special) {
        ComRef<IMAPIFolder> f = OpenById<IMAPIFolder>(store.get(), GetBinary(store.get(), s.tag));
        ASSERT_TRUE(f) << s.name;
        EXPECT_EQ(GetString(f.get(), PR_DISPLAY_NAME), s.name);
        EXPECT_EQ(GetLong(f.get(), PR_FOLDER_TYPE), static_cast<LONG>(FOLDER_GENERIC));
        EXPECT_EQ(GetBinary(f.get(), PR_PARENT_ENTRYID), GetBinary(ipm.get(), PR_ENTRYID));
    }

    // The search root sits beside the IPM subtree, below the root.
    IUnknown* unk = nullptr;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, &unk), S_OK);
    ComRef<IMAPIFolder> root(static_cast<IMAPIFolder*>(static_cast<IMAPIProp*>(unk)));
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_FOLDER));
    EXPECT_EQ(FolderNames(root.get()),
              (std::vector<std::string>{"Top of Personal Folders", "Search Root"}));
    EXPECT_EQ(GetBinary(store.get(), PR_FINDER_ENTRYID).size(), 29u);
}

TEST(EmbeddedStore, EntryIdsCarryTheStoreUidAndSurviveReopening) {
    TempDir dir;
    std::string inbox, uid, otherUid;
    {
        ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
        ComRef<IMsgStore> other = CreateAndOpen(dir.File("b.qst"));
        uid = GetBinary(store.get(), PR_RECORD_KEY);
        otherUid = GetBinary(other.get(), PR_RECORD_KEY);
        ULONG cb = 0;
        LPENTRYID eid = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr), S_OK);
        inbox.assign(reinterpret_cast<const char*>(eid), cb);
        MAPIFreeBuffer(eid);
    }
    ASSERT_EQ(uid.size(), 16u);
    EXPECT_NE(uid, otherUid);
    ASSERT_GE(inbox.size(), 20u);
    EXPECT_EQ(inbox.substr(0, 4), std::string(4, '\0'));
    EXPECT_EQ(inbox.substr(4, 16), uid);

    ComRef<IMsgStore> reopened = OpenStore(dir.File("a.qst"));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(GetBinary(reopened.get(), PR_RECORD_KEY), uid);
    ComRef<IMAPIFolder> folder = OpenById<IMAPIFolder>(reopened.get(), inbox);
    ASSERT_TRUE(folder);
    EXPECT_EQ(GetString(folder.get(), PR_DISPLAY_NAME), "Inbox");

    // An identifier of another store is refused, not misread.
    ComRef<IMsgStore> other = OpenStore(dir.File("b.qst"));
    HRESULT hr = S_OK;
    EXPECT_FALSE(OpenById<IMAPIFolder>(other.get(), inbox, &hr));
    EXPECT_EQ(hr, MAPI_E_INVALID_ENTRYID);
    ULONG same = 0;
    std::string copy = inbox;
    ASSERT_EQ(reopened->CompareEntryIDs(static_cast<ULONG>(inbox.size()),
                                        reinterpret_cast<LPENTRYID>(inbox.data()),
                                        static_cast<ULONG>(copy.size()),
                                        reinterpret_cast<LPENTRYID>(copy.data()), 0, &same),
              S_OK);
    EXPECT_TRUE(same);
}

TEST(EmbeddedStore, ReceiveFolderFollowsTheLongestClassPrefix) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMAPIFolder> reports = Subfolder(ipm.get(), "Reports");
    std::string reportsId = GetBinary(reports.get(), PR_ENTRYID);
    ASSERT_EQ(store->SetReceiveFolder(const_cast<char*>("IPM.Note.Report"), 0,
                                      static_cast<ULONG>(reportsId.size()),
                                      reinterpret_cast<LPENTRYID>(reportsId.data())),
              S_OK);

    struct {
        const char* cls;
        const char* folder;
        const char* explicitClass;
    } const cases[] = {
        {"", "Inbox", ""},
        {"IPM.Note", "Inbox", "IPM"},
        {"IPM.Note.Report.Delivered", "Reports", "IPM.Note.Report"},
        {"ipm.note.report", "Reports", "IPM.Note.Report"},
        {"Other.Class", "Inbox", ""},
    };
    for (const auto& c : cases) {
        ULONG cb = 0;
        LPENTRYID eid = nullptr;
        LPTSTR matched = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(const_cast<char*>(c.cls), 0, &cb, &eid, &matched), S_OK)
            << c.cls;
        MapiBuffer<ENTRYID> holdId(eid);
        MapiBuffer<char> holdClass(matched);
        ComRef<IMAPIFolder> folder =
            OpenById<IMAPIFolder>(store.get(), std::string(reinterpret_cast<char*>(eid), cb));
        ASSERT_TRUE(folder);
        EXPECT_EQ(GetString(folder.get(), PR_DISPLAY_NAME), c.folder) << c.cls;
        EXPECT_STREQ(matched, c.explicitClass) << c.cls;
    }

    // Making another folder the default receive folder, as a copy does for
    // the source's inbox, is what the table then shows.
    ASSERT_EQ(store->SetReceiveFolder(nullptr, 0, static_cast<ULONG>(reportsId.size()),
                                      reinterpret_cast<LPENTRYID>(reportsId.data())),
              S_OK);
    IMAPITable* raw = nullptr;
    ASSERT_EQ(store->GetReceiveFolderTable(0, &raw), S_OK);
    ComRef<IMAPITable> table(raw);
    RowSetPtr rows = AllRows(table.get(), {PR_MESSAGE_CLASS_A, PR_ENTRYID});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->cRows, 3u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "");
    EXPECT_EQ(Binary(rows->aRow[0].lpProps[1]), reportsId);
}

TEST(EmbeddedStore, FolderNamesCollideWithoutRegardToCase) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMAPIFolder> first = Subfolder(ipm.get(), "Ärger");
    ASSERT_TRUE(first);

    struct {
        const char* name;
        ULONG flags;
        HRESULT expected;
        bool sameFolder;
    } const cases[] = {
        {"Ärger", 0, MAPI_E_COLLISION, false}, {"äRGER", 0, MAPI_E_COLLISION, false},
        {"äRGER", OPEN_IF_EXISTS, S_OK, true}, {"INBOX", 0, MAPI_E_COLLISION, false},
        {"Ärger 2", 0, S_OK, false},           {"Ärger 3", OPEN_IF_EXISTS, S_OK, false},
    };
    for (const auto& c : cases) {
        HRESULT hr = S_OK;
        ComRef<IMAPIFolder> folder = Subfolder(ipm.get(), c.name, c.flags, &hr);
        EXPECT_EQ(hr, c.expected) << c.name;
        if (FAILED(hr)) continue;
        EXPECT_EQ(GetBinary(folder.get(), PR_ENTRYID) == GetBinary(first.get(), PR_ENTRYID),
                  c.sameFolder)
            << c.name;
    }
    // Same name under another parent is fine; renaming onto a sibling is not.
    ComRef<IMAPIFolder> nested = Subfolder(first.get(), "Inbox");
    EXPECT_TRUE(nested);
    ComRef<IMAPIFolder> second = Subfolder(ipm.get(), "Second");
    LPSPropProblemArray problems = nullptr;
    SPropValue rename{};
    rename.ulPropTag = PR_DISPLAY_NAME_A;
    rename.Value.lpszA = const_cast<char*>("OUTBOX");
    ASSERT_EQ(second->SetProps(1, &rename, &problems), S_OK);
    MapiBuffer<SPropProblemArray> hold(problems);
    ASSERT_NE(problems, nullptr);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COLLISION);
    EXPECT_EQ(FolderNames(ipm.get()).size(), 8u);
}

TEST(EmbeddedStore, DeletingFoldersAndMessagesHonoursTheFlags) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMAPIFolder> box = Subfolder(ipm.get(), "Box");
    ComRef<IMAPIFolder> inner = Subfolder(box.get(), "Inner");
    std::string a = AddMessage(box.get(), "a");
    AddMessage(box.get(), "b");
    AddMessage(box.get(), "hidden", MAPI_ASSOCIATED);
    EXPECT_EQ(GetLong(box.get(), PR_CONTENT_COUNT), 2);
    EXPECT_EQ(GetLong(box.get(), PR_ASSOC_CONTENT_COUNT), 1);
    EXPECT_EQ(GetLong(box.get(), PR_SUBFOLDERS), 1);

    SBinary one = BinaryOf(a);
    ENTRYLIST list{1, &one};
    ASSERT_EQ(box->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    EXPECT_EQ(GetLong(box.get(), PR_CONTENT_COUNT), 1);
    // Already gone: a one-entry list reports the failure.
    EXPECT_TRUE(FAILED(box->DeleteMessages(&list, 0, nullptr, 0)));

    std::string boxId = GetBinary(box.get(), PR_ENTRYID);
    auto del = [&](ULONG flags) {
        return ipm->DeleteFolder(static_cast<ULONG>(boxId.size()),
                                 reinterpret_cast<LPENTRYID>(boxId.data()), 0, nullptr, flags);
    };
    EXPECT_EQ(del(0), MAPI_E_HAS_FOLDERS);
    EXPECT_EQ(del(DEL_FOLDERS), MAPI_E_HAS_MESSAGES);
    ASSERT_EQ(box->EmptyFolder(0, nullptr, 0), S_OK);
    EXPECT_EQ(GetLong(box.get(), PR_CONTENT_COUNT), 0);
    EXPECT_EQ(GetLong(box.get(), PR_ASSOC_CONTENT_COUNT), 1);
    EXPECT_EQ(del(0), MAPI_E_HAS_MESSAGES);
    EXPECT_EQ(del(DEL_MESSAGES), S_OK);
    HRESULT hr = S_OK;
    EXPECT_FALSE(OpenById<IMAPIFolder>(store.get(), boxId, &hr));
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
}

MAPINAMEID StringName(const GUID* guid, const char16_t* name) {
    MAPINAMEID id{};
    id.lpguid = const_cast<GUID*>(guid);
    id.ulKind = MNID_STRING;
    id.Kind.lpwstrName = const_cast<WCHAR*>(name);
    return id;
}

MAPINAMEID NumberName(const GUID* guid, LONG lid) {
    MAPINAMEID id{};
    id.lpguid = const_cast<GUID*>(guid);
    id.ulKind = MNID_ID;
    id.Kind.lID = lid;
    return id;
}

ULONG IdOf(IMAPIProp* obj, MAPINAMEID name, ULONG flags, HRESULT* result = nullptr) {
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    HRESULT hr = obj->GetIDsFromNames(1, names, flags, &tags);
    if (result != nullptr) *result = hr;
    MapiBuffer<SPropTagArray> hold(tags);
    return tags != nullptr ? tags->aulPropTag[0] : 0;
}

TEST(EmbeddedStore, NamedPropertiesTakeTheLowestFreeIdFrom0x8000) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMsgStore> other = CreateAndOpen(dir.File("b.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());

    MAPINAMEID keywords = StringName(&PS_PUBLIC_STRINGS, u"Keywords");
    MAPINAMEID reminder = NumberName(&PSETID_Common, 0x8503);
    HRESULT hr = S_OK;
    EXPECT_EQ(IdOf(store.get(), keywords, 0, &hr), PROP_TAG(PT_ERROR, 0));
    EXPECT_EQ(hr, MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(IdOf(store.get(), keywords, MAPI_CREATE), PROP_TAG(PT_UNSPECIFIED, 0x8000));
    // Any object of the store shares the one map.
    EXPECT_EQ(IdOf(ipm.get(), reminder, MAPI_CREATE), PROP_TAG(PT_UNSPECIFIED, 0x8001));
    EXPECT_EQ(IdOf(store.get(), keywords, 0), PROP_TAG(PT_UNSPECIFIED, 0x8000));
    // The other store has its own map: there the second name comes first.
    EXPECT_EQ(IdOf(other.get(), reminder, MAPI_CREATE), PROP_TAG(PT_UNSPECIFIED, 0x8000));
    EXPECT_EQ(IdOf(other.get(), keywords, MAPI_CREATE), PROP_TAG(PT_UNSPECIFIED, 0x8001));

    // Names come back from ids, strings and numbers alike.
    SizedSPropTagArray(3, ask) = {
        3, {PROP_TAG(PT_STRING8, 0x8000), PROP_TAG(PT_LONG, 0x8001), PROP_TAG(PT_LONG, 0x8002)}};
    LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&ask);
    ULONG count = 0;
    LPMAPINAMEID* names = nullptr;
    ASSERT_EQ(store->GetNamesFromIDs(&tags, nullptr, 0, &count, &names), MAPI_W_ERRORS_RETURNED);
    MapiBuffer<LPMAPINAMEID> hold(names);
    ASSERT_EQ(count, 3u);
    ASSERT_NE(names[0], nullptr);
    EXPECT_EQ(*names[0]->lpguid, PS_PUBLIC_STRINGS);
    EXPECT_EQ(std::u16string(names[0]->Kind.lpwstrName), u"Keywords");
    ASSERT_NE(names[1], nullptr);
    EXPECT_EQ(names[1]->ulKind, static_cast<ULONG>(MNID_ID));
    EXPECT_EQ(names[1]->Kind.lID, 0x8503);
    EXPECT_EQ(names[2], nullptr);

    // The map persists.
    store.Reset();
    ComRef<IMsgStore> reopened = OpenStore(dir.File("a.qst"));
    EXPECT_EQ(IdOf(reopened.get(), reminder, 0), PROP_TAG(PT_UNSPECIFIED, 0x8001));
    EXPECT_EQ(IdOf(reopened.get(), NumberName(&PSETID_Address, 1), MAPI_CREATE),
              PROP_TAG(PT_UNSPECIFIED, 0x8002));
}

TEST(EmbeddedStore, NamedPropertyIdsFillGapsAndStopAt0xFFFE) {
    TempDir dir;
    std::string path = dir.File("a.qst");
    {
        std::string error;
        ASSERT_EQ(EmbeddedStoreProvider()->CreateStore(path, "S", &error), S_OK);
    }
    // Another program filled the map up to the last id, leaving 0x8005 free.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "WITH RECURSIVE n(i) AS (SELECT 32768 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 65534) INSERT INTO named_props(id, guid, kind, lid, name) "
                           "SELECT i, x'00', 0, i, '' FROM n WHERE i <> 32773",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    ComRef<IMsgStore> store = OpenStore(path);
    EXPECT_EQ(IdOf(store.get(), NumberName(&PSETID_Common, 1), MAPI_CREATE),
              PROP_TAG(PT_UNSPECIFIED, 0x8005));
    HRESULT hr = S_OK;
    EXPECT_EQ(IdOf(store.get(), NumberName(&PSETID_Common, 2), MAPI_CREATE, &hr),
              PROP_TAG(PT_ERROR, 0));
    EXPECT_EQ(hr, MAPI_W_ERRORS_RETURNED);
    // Known names still resolve when the map is full.
    EXPECT_EQ(IdOf(store.get(), NumberName(&PSETID_Common, 1), 0),
              PROP_TAG(PT_UNSPECIFIED, 0x8005));
}

TEST(EmbeddedStore, OneStoreServesTwoThreads) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMAPIFolder> left = Subfolder(ipm.get(), "Left");
    ComRef<IMAPIFolder> right = Subfolder(ipm.get(), "Right");
    constexpr int kEach = 150;
    auto fill = [&](IMAPIFolder* folder, const char* prefix) {
        for (int i = 0; i < kEach; ++i)
            AddMessage(folder, (std::string(prefix) + std::to_string(i)).c_str());
    };
    // Writers on both threads at once: the store serialises them.
    std::thread a(fill, left.get(), "left ");
    std::thread b(fill, right.get(), "right ");
    a.join();
    b.join();
    EXPECT_EQ(GetLong(left.get(), PR_CONTENT_COUNT), kEach);
    EXPECT_EQ(GetLong(right.get(), PR_CONTENT_COUNT), kEach);

    // A copy on one thread while the other reads a table of the same store.
    ComRef<IMAPIFolder> both = Subfolder(ipm.get(), "Both");
    ULONG readRows = 0;
    std::thread reader([&] {
        for (int round = 0; round < 5; ++round) {
            ComRef<IMAPITable> table = Contents(right.get());
            readRows += AllRows(table.get(), {PR_SUBJECT_A, PR_ENTRYID})->cRows;
        }
    });
    ComRef<IMAPITable> table = Contents(left.get());
    RowSetPtr rows = AllRows(table.get(), {PR_ENTRYID});
    for (ULONG i = 0; i < rows->cRows; ++i) {
        ENTRYLIST one{1, &rows->aRow[i].lpProps[0].Value.bin};
        EXPECT_EQ(left->CopyMessages(&one, nullptr, both.get(), 0, nullptr, 0), S_OK);
    }
    reader.join();
    EXPECT_EQ(readRows, 5u * kEach);
    EXPECT_EQ(GetLong(both.get(), PR_CONTENT_COUNT), kEach);
}

}  // namespace
}  // namespace mapi::embedded::test
