// The writable personal folder file store through MAPI: the skeleton of a
// new file, folders, messages with everything a copy writes, reopening from
// disk (our own reader) and from libpff, and a commit that fails.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "providers/providers.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

// PS_QUIRNEL, the property set the copy engine records provenance in.
const GUID kPsQuirnel = {0xf3c4d0d7, 0xb05b, 0x4214, {0xa8, 0x17, 0xa8, 0x19, 0x21, 0x2e, 0xa8, 0x42}};

class WritableStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        path_ = dir_ + "/new.pst";
        std::string error;
        ASSERT_EQ(PstWriterStoreProvider()->CreateStore(path_, "Rescue", &error), S_OK) << error;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    ComRef<IMsgStore> Open(StoreProvider* provider = PstWriterStoreProvider()) {
        ProfileEntry entry{"t", "Rescue", provider->Name(), path_};
        ComRef<IMsgStore> store;
        std::string error;
        EXPECT_EQ(provider->OpenStore(entry, store.Out(), &error), S_OK) << error;
        return store;
    }

    std::string dir_, path_;
};

std::vector<std::string> ColumnStrings(IMAPITable* table, ULONG tag) {
    SizedSPropTagArray(1, columns) = {1, {tag}};
    LPSRowSet raw = nullptr;
    EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw), S_OK);
    RowSetPtr rows(raw);
    std::vector<std::string> out;
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
        out.push_back(PROP_TYPE(rows->aRow[i].lpProps[0].ulPropTag) == PT_ERROR ? "<error>"
                                                                                  : rows->aRow[i].lpProps[0].Value.lpszA);
    return out;
}

std::vector<BYTE> ReadStream(IMAPIProp* object, ULONG tag) {
    ComRef<IUnknown> unknown;
    if (object->OpenProperty(tag, &IID_IStream, 0, 0, unknown.Out()) != S_OK) return {};
    auto* stream = reinterpret_cast<IStream*>(unknown.get());
    std::vector<BYTE> out;
    BYTE buffer[4096];
    ULONG n = 0;
    while (stream->Read(buffer, sizeof buffer, &n) == S_OK && n > 0) out.insert(out.end(), buffer, buffer + n);
    return out;
}

void WriteStream(IMAPIProp* object, ULONG tag, const std::vector<BYTE>& bytes) {
    ComRef<IUnknown> unknown;
    ASSERT_EQ(object->OpenProperty(tag, &IID_IStream, STGM_WRITE, MAPI_CREATE | MAPI_MODIFY, unknown.Out()), S_OK);
    auto* stream = reinterpret_cast<IStream*>(unknown.get());
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    ASSERT_EQ(stream->Commit(0), S_OK);
}

ULONG NamedTag(IMAPIProp* object, const wchar_t* name, ULONG type, ULONG flags = MAPI_CREATE) {
    std::u16string text(name, name + std::wcslen(name));
    MAPINAMEID id{const_cast<GUID*>(&kPsQuirnel), MNID_STRING, {}};
    id.Kind.lpwstrName = text.data();
    LPMAPINAMEID ids[] = {&id};
    LPSPropTagArray raw = nullptr;
    HRESULT hr = object->GetIDsFromNames(1, ids, flags, &raw);
    MapiBuffer<SPropTagArray> tags(raw);
    if (FAILED(hr) || !tags || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) return 0;
    return CHANGE_PROP_TYPE(tags->aulPropTag[0], type);
}

TEST_F(WritableStoreTest, ANewFileHasTheSkeletonBothReadersSee) {
    ComRef<IMsgStore> store = Open();
    ASSERT_TRUE(store);
    LONG mask = LongProp(store.get(), PR_STORE_SUPPORT_MASK);
    EXPECT_NE(mask & STORE_MODIFY_OK, 0);
    EXPECT_NE(mask & STORE_CREATE_OK, 0);
    const std::pair<ULONG, const char*> specials[] = {{PR_IPM_SUBTREE_ENTRYID, "Top of Personal Folders"},
                                                      {PR_IPM_OUTBOX_ENTRYID, "Outbox"},
                                                      {PR_IPM_WASTEBASKET_ENTRYID, "Deleted Items"},
                                                      {PR_IPM_SENTMAIL_ENTRYID, "Sent Items"}};
    for (const auto& [tag, name] : specials) {
        ComRef<IMAPIFolder> folder = OpenById<IMAPIFolder>(store.get(), BinaryProp(store.get(), tag));
        ASSERT_TRUE(folder) << name;
        EXPECT_EQ(StringProp(folder.get(), PR_DISPLAY_NAME), name);
    }
    ULONG cb = 0;
    LPENTRYID raw = nullptr;
    ASSERT_EQ(store->GetReceiveFolder(const_cast<char*>("IPM.Note"), 0, &cb, &raw, nullptr), S_OK);
    MapiBuffer<ENTRYID> inboxId(raw);
    ComRef<IMAPIFolder> inbox = OpenById<IMAPIFolder>(store.get(), std::vector<BYTE>(reinterpret_cast<BYTE*>(raw), reinterpret_cast<BYTE*>(raw) + cb));
    EXPECT_EQ(StringProp(inbox.get(), PR_DISPLAY_NAME), "Inbox");

    // libpff reads the same folders from the file.
    ComRef<IMsgStore> pff = Open(PstStoreProvider());
    ASSERT_TRUE(pff);
    ComRef<IUnknown> root;
    ULONG type = 0;
    ASSERT_EQ(pff->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()), S_OK);
    std::vector<std::string> failures;
    std::vector<FolderSummary> folders = WalkFolders(reinterpret_cast<IMAPIFolder*>(root.get()), &failures);
    EXPECT_TRUE(failures.empty());
    std::vector<std::string> paths;
    for (const FolderSummary& f : folders) paths.push_back(f.path);
    for (const char* expected : {"Top of Personal Folders/Inbox", "Top of Personal Folders/Outbox",
                                 "Top of Personal Folders/Deleted Items", "Top of Personal Folders/Sent Items"})
        EXPECT_NE(std::find(paths.begin(), paths.end(), expected), paths.end()) << expected;
}

TEST_F(WritableStoreTest, FoldersCollideWithoutRegardToCaseAndPersist) {
    std::vector<BYTE> projectsId;
    {
        ComRef<IMsgStore> store = Open();
        ComRef<IMAPIFolder> subtree = OpenById<IMAPIFolder>(store.get(), BinaryProp(store.get(), PR_IPM_SUBTREE_ENTRYID));
        ComRef<IMAPIFolder> projects, again;
        ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Projects"), const_cast<char*>("work"), nullptr, 0,
                                        projects.Out()),
                  S_OK);
        projectsId = BinaryProp(projects.get(), PR_ENTRYID);
        EXPECT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<char*>("PROJECTS"), nullptr, nullptr, 0, again.Out()),
                  MAPI_E_COLLISION);
        ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<char*>("projects"), nullptr, nullptr, OPEN_IF_EXISTS,
                                        again.Out()),
                  S_OK);
        EXPECT_EQ(BinaryProp(again.get(), PR_ENTRYID), projectsId);
        EXPECT_NE(subtree->CreateFolder(FOLDER_GENERIC, const_cast<char*>(""), nullptr, nullptr, 0, again.Out()), S_OK);
        EXPECT_EQ(LongProp(projects.get(), PR_FOLDER_TYPE), static_cast<LONG>(FOLDER_GENERIC));
        EXPECT_EQ(BinaryProp(projects.get(), PR_PARENT_ENTRYID), BinaryProp(subtree.get(), PR_ENTRYID));
    }
    // Another process opening the file sees the folder, its comment and its
    // place in the hierarchy table.
    ComRef<IMsgStore> store = Open();
    ComRef<IMAPIFolder> projects = OpenById<IMAPIFolder>(store.get(), projectsId);
    ASSERT_TRUE(projects);
    EXPECT_EQ(StringProp(projects.get(), PR_COMMENT), "work");
    ComRef<IMAPIFolder> subtree = OpenById<IMAPIFolder>(store.get(), BinaryProp(store.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPITable> hierarchy;
    ASSERT_EQ(subtree->GetHierarchyTable(0, hierarchy.Out()), S_OK);
    std::vector<std::string> names = ColumnStrings(hierarchy.get(), PR_DISPLAY_NAME);
    EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Outbox", "Deleted Items", "Sent Items", "Projects"}));
    EXPECT_NE(LongProp(subtree.get(), PR_SUBFOLDERS), 0);
}

TEST_F(WritableStoreTest, AMessageKeepsEverythingACopyWritesAcrossReopening) {
    std::vector<BYTE> body(200000), data(100000);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<BYTE>('a' + i % 26);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 31);
    std::vector<BYTE> inboxId;
    ULONG sourceEntryTag = 0;
    {
        ComRef<IMsgStore> store = Open();
        ULONG cb = 0;
        LPENTRYID raw = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &raw, nullptr), S_OK);
        MapiBuffer<ENTRYID> id(raw);
        inboxId.assign(reinterpret_cast<BYTE*>(raw), reinterpret_cast<BYTE*>(raw) + cb);
        ComRef<IMAPIFolder> inbox = OpenById<IMAPIFolder>(store.get(), inboxId);
        ComRef<IMessage> message;
        ASSERT_EQ(inbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
        sourceEntryTag = NamedTag(message.get(), L"SourceEntryId", PT_BINARY);
        ULONG freshTag = NamedTag(message.get(), L"Something new", PT_LONG);
        ASSERT_NE(sourceEntryTag, 0u);
        ASSERT_NE(freshTag, 0u);
        BYTE origin[] = {1, 2, 3};
        SPropValue values[4];
        values[0].ulPropTag = PR_SUBJECT;
        values[0].Value.lpszA = const_cast<char*>("Quarterly report \xE2\x80\x93 Gr\xC3\xBC\xC3\x9F""e");
        values[1].ulPropTag = PR_MESSAGE_CLASS;
        values[1].Value.lpszA = const_cast<char*>("IPM.Note");
        values[2].ulPropTag = sourceEntryTag;
        values[2].Value.bin = SBinary{3, origin};
        values[3].ulPropTag = freshTag;
        values[3].Value.l = 77;
        ASSERT_EQ(message->SetProps(4, values, nullptr), S_OK);
        WriteStream(message.get(), PR_BODY, body);

        SPropValue ann[2], bob[2];
        ann[0].ulPropTag = PR_DISPLAY_NAME;
        ann[0].Value.lpszA = const_cast<char*>("Ann");
        ann[1].ulPropTag = PR_RECIPIENT_TYPE;
        ann[1].Value.l = MAPI_TO;
        bob[0].ulPropTag = PR_DISPLAY_NAME;
        bob[0].Value.lpszA = const_cast<char*>("Bob");
        bob[1].ulPropTag = PR_RECIPIENT_TYPE;
        bob[1].Value.l = MAPI_CC;
        auto list = AllocateMapi<ADRLIST>(static_cast<ULONG>(CbNewADRLIST(2)));
        list->cEntries = 2;
        list->aEntries[0] = ADRENTRY{0, 2, ann};
        list->aEntries[1] = ADRENTRY{0, 2, bob};
        ASSERT_EQ(message->ModifyRecipients(MODRECIP_ADD, list.get()), S_OK);

        ComRef<IAttach> file, embedded;
        ULONG number = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, file.Out()), S_OK);
        SPropValue method{};
        method.ulPropTag = PR_ATTACH_METHOD;
        method.Value.l = ATTACH_BY_VALUE;
        ASSERT_EQ(file->SetProps(1, &method, nullptr), S_OK);
        WriteStream(file.get(), PR_ATTACH_DATA_BIN, data);
        ASSERT_EQ(file->SaveChanges(0), S_OK);
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, embedded.Out()), S_OK);
        ComRef<IUnknown> inner;
        ASSERT_EQ(embedded->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY, inner.Out()), S_OK);
        auto* innerMessage = reinterpret_cast<IMessage*>(inner.get());
        SPropValue innerSubject{};
        innerSubject.ulPropTag = PR_SUBJECT;
        innerSubject.Value.lpszA = const_cast<char*>("Forwarded");
        ASSERT_EQ(innerMessage->SetProps(1, &innerSubject, nullptr), S_OK);
        ASSERT_EQ(innerMessage->SaveChanges(0), S_OK);
        ASSERT_EQ(embedded->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        // The first name asked for gets the first id after the names every
        // new file starts with.
        EXPECT_EQ(PROP_ID(freshTag), 0x8003u);
    }

    ComRef<IMsgStore> store = Open();
    ComRef<IMAPIFolder> inbox = OpenById<IMAPIFolder>(store.get(), inboxId);
    EXPECT_EQ(LongProp(inbox.get(), PR_CONTENT_COUNT), 1);
    // The copy engine reads its provenance from the contents table.
    ComRef<IMAPITable> contents;
    ASSERT_EQ(inbox->GetContentsTable(0, contents.Out()), S_OK);
    ULONG tag = NamedTag(inbox.get(), L"SourceEntryId", PT_BINARY, 0);
    ASSERT_EQ(tag, sourceEntryTag);
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, tag, PR_SUBJECT}};
    LPSRowSet raw = nullptr;
    ASSERT_EQ(HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw), S_OK);
    RowSetPtr rows(raw);
    ASSERT_EQ(rows->cRows, 1u);
    ASSERT_EQ(rows->aRow[0].lpProps[1].ulPropTag, tag);
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.bin.cb, 3u);
    EXPECT_STREQ(rows->aRow[0].lpProps[2].Value.lpszA, "Quarterly report \xE2\x80\x93 Gr\xC3\xBC\xC3\x9F""e");

    const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
    ComRef<IMessage> message = OpenById<IMessage>(store.get(), std::vector<BYTE>(eid.lpb, eid.lpb + eid.cb));
    ASSERT_TRUE(message);
    EXPECT_EQ(ReadStream(message.get(), PR_BODY), body);
    LPSPropValue bodyValue = nullptr;
    EXPECT_EQ(HrGetOneProp(message.get(), PR_BODY, &bodyValue), MAPI_E_NOT_ENOUGH_MEMORY) << "too large for GetProps";
    MAPIFreeBuffer(bodyValue);
    EXPECT_NE(LongProp(message.get(), PR_MESSAGE_SIZE), kNoLong);
    EXPECT_NE(LongProp(message.get(), PR_HASATTACH), 0);
    ComRef<IMAPITable> recipients;
    ASSERT_EQ(message->GetRecipientTable(0, recipients.Out()), S_OK);
    EXPECT_EQ(ColumnStrings(recipients.get(), PR_DISPLAY_NAME), (std::vector<std::string>{"Ann", "Bob"}));
    ComRef<IAttach> file, embedded;
    ASSERT_EQ(message->OpenAttach(0, nullptr, 0, file.Out()), S_OK);
    EXPECT_EQ(ReadStream(file.get(), PR_ATTACH_DATA_BIN), data);
    EXPECT_EQ(LongProp(file.get(), PR_RENDERING_POSITION), -1);
    ASSERT_EQ(message->OpenAttach(1, nullptr, 0, embedded.Out()), S_OK);
    EXPECT_EQ(LongProp(embedded.get(), PR_ATTACH_METHOD), static_cast<LONG>(ATTACH_EMBEDDED_MSG));
    ComRef<IUnknown> inner;
    ASSERT_EQ(embedded->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, inner.Out()), S_OK);
    EXPECT_EQ(StringProp(reinterpret_cast<IMessage*>(inner.get()), PR_SUBJECT), "Forwarded");

    // libpff reads the 8-bit subject beyond ASCII as the text it was.
    {
        ComRef<IMsgStore> pff = Open(PstStoreProvider());
        ComRef<IUnknown> root;
        ULONG type = 0;
        ASSERT_EQ(pff->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()), S_OK);
        std::vector<std::string> failures;
        bool seen = false;
        for (const FolderSummary& f : WalkFolders(reinterpret_cast<IMAPIFolder*>(root.get()), &failures)) {
            if (f.path != "Top of Personal Folders/Inbox") continue;
            ComRef<IMAPIFolder> pffInbox = OpenById<IMAPIFolder>(pff.get(), f.entryId);
            ComRef<IMAPITable> table;
            ASSERT_EQ(pffInbox->GetContentsTable(0, table.Out()), S_OK);
            EXPECT_EQ(ColumnStrings(table.get(), PR_SUBJECT),
                      (std::vector<std::string>{"Quarterly report \xE2\x80\x93 Gr\xC3\xBC\xC3\x9F""e"}));
            seen = true;
        }
        EXPECT_TRUE(seen);
    }

    // A deleted property stays deleted once saved.
    SizedSPropTagArray(1, drop) = {1, {PR_SUBJECT}};
    ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&drop), nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    ComRef<IMsgStore> reopened = Open();
    ComRef<IMessage> again = OpenById<IMessage>(reopened.get(), std::vector<BYTE>(eid.lpb, eid.lpb + eid.cb));
    EXPECT_EQ(StringProp(again.get(), PR_SUBJECT), "<missing>");
    EXPECT_EQ(ReadStream(again.get(), PR_BODY), body);

    // And libpff reads the message with its body.
    ComRef<IMsgStore> pff = Open(PstStoreProvider());
    std::map<std::string, std::string> prints = FingerprintStore(pff.get());
    ASSERT_EQ(prints.size(), 1u);
    EXPECT_NE(prints.begin()->second, "fail");

}

// Messages read, unread and deleted through the folder: the flags, the
// folder's counts and its contents table agree, in this store and in libpff.
TEST_F(WritableStoreTest, ReadFlagsAndDeletionsReachTheCountsTheRowsAndLibpff) {
    std::vector<BYTE> inboxId;
    std::map<std::string, std::vector<BYTE>> ids;
    {
        ComRef<IMsgStore> store = Open();
        ULONG cb = 0;
        LPENTRYID raw = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &raw, nullptr), S_OK);
        MapiBuffer<ENTRYID> id(raw);
        inboxId.assign(reinterpret_cast<BYTE*>(raw), reinterpret_cast<BYTE*>(raw) + cb);
        ComRef<IMAPIFolder> inbox = OpenById<IMAPIFolder>(store.get(), inboxId);
        for (const char* subject : {"a", "b", "c", "d"}) {
            ComRef<IMessage> m;
            ASSERT_EQ(inbox->CreateMessage(nullptr, 0, m.Out()), S_OK);
            SPropValue v[2];
            v[0].ulPropTag = PR_SUBJECT;
            v[0].Value.lpszA = const_cast<char*>(subject);
            v[1].ulPropTag = PR_MESSAGE_FLAGS;
            v[1].Value.l = MSGFLAG_RN_PENDING;
            ASSERT_EQ(m->SetProps(2, v, nullptr), S_OK);
            ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
            ids[subject] = BinaryProp(m.get(), PR_ENTRYID);
        }
        auto list = [&](std::vector<const char*> subjects, std::vector<SBinary>* bins) {
            bins->clear();
            for (const char* s : subjects) bins->push_back(SBinary{static_cast<ULONG>(ids[s].size()), ids[s].data()});
            return ENTRYLIST{static_cast<ULONG>(bins->size()), bins->data()};
        };
        std::vector<SBinary> bins;
        EXPECT_EQ(LongProp(inbox.get(), PR_CONTENT_UNREAD), 4);
        ENTRYLIST ab = list({"a", "b"}, &bins);
        ASSERT_EQ(inbox->SetReadFlags(&ab, 0, nullptr, CLEAR_RN_PENDING), S_OK);
        EXPECT_EQ(LongProp(inbox.get(), PR_CONTENT_UNREAD), 2);
        ENTRYLIST b = list({"b"}, &bins);
        ASSERT_EQ(inbox->SetReadFlags(&b, 0, nullptr, CLEAR_READ_FLAG), S_OK);
        ENTRYLIST d = list({"d"}, &bins);
        ASSERT_EQ(inbox->SetReadFlags(&d, 0, nullptr, 0), S_OK);
        ComRef<IMessage> a = OpenById<IMessage>(store.get(), ids["a"]);
        EXPECT_EQ(LongProp(a.get(), PR_MESSAGE_FLAGS) & (MSGFLAG_READ | MSGFLAG_RN_PENDING), MSGFLAG_READ);

        ENTRYLIST ac = list({"a", "c"}, &bins);
        ASSERT_EQ(inbox->DeleteMessages(&ac, 0, nullptr, 0), S_OK);
        ENTRYLIST again = list({"a"}, &bins);
        EXPECT_EQ(inbox->DeleteMessages(&again, 0, nullptr, 0), MAPI_E_NOT_FOUND);
        ENTRYLIST mixed = list({"c", "d"}, &bins);
        EXPECT_EQ(inbox->SetReadFlags(&mixed, 0, nullptr, 0), MAPI_W_PARTIAL_COMPLETION);
        // A deleted message cannot be opened any more.
        ComRef<IUnknown> gone;
        ULONG type = 0;
        EXPECT_NE(store->OpenEntry(static_cast<ULONG>(ids["a"].size()), reinterpret_cast<LPENTRYID>(ids["a"].data()),
                                   nullptr, 0, &type, gone.Out()),
                  S_OK);
    }
    // The deleted messages' nodes left the file, not only its tables.
    {
        fmt::NodeSet nodes;
        fmt::Header header;
        std::string error;
        ASSERT_NE(fmt::NdbFile::Open(path_, &nodes, &header, &error), nullptr) << error;
        for (const char* subject : {"a", "b", "c", "d"})
            EXPECT_EQ(nodes.count(fmt::Get32(ids[subject].data() + 20)), *subject == 'b' || *subject == 'd' ? 1u : 0u)
                << subject;
    }
    // Left: b unread, d read; both readers agree on it after reopening.
    for (StoreProvider* provider : {PstWriterStoreProvider(), PstStoreProvider()}) {
        SCOPED_TRACE(provider->Name());
        ComRef<IMsgStore> store = Open(provider);
        ASSERT_TRUE(store);
        ComRef<IMAPIFolder> inbox;
        if (provider == PstWriterStoreProvider()) {
            inbox = OpenById<IMAPIFolder>(store.get(), inboxId);
        } else {
            ComRef<IUnknown> root;
            ULONG type = 0;
            ASSERT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()), S_OK);
            std::vector<std::string> failures;
            for (const FolderSummary& f : WalkFolders(reinterpret_cast<IMAPIFolder*>(root.get()), &failures))
                if (f.path == "Top of Personal Folders/Inbox") inbox = OpenById<IMAPIFolder>(store.get(), f.entryId);
        }
        ASSERT_TRUE(inbox);
        EXPECT_EQ(LongProp(inbox.get(), PR_CONTENT_COUNT), 2);
        EXPECT_EQ(LongProp(inbox.get(), PR_CONTENT_UNREAD), 1);
        ComRef<IMAPITable> table;
        ASSERT_EQ(inbox->GetContentsTable(0, table.Out()), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_SUBJECT, PR_MESSAGE_FLAGS}};
        LPSRowSet raw = nullptr;
        ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw), S_OK);
        RowSetPtr rows(raw);
        std::map<std::string, LONG> flags;
        for (ULONG i = 0; i < rows->cRows; ++i)
            flags[rows->aRow[i].lpProps[0].Value.lpszA] = rows->aRow[i].lpProps[1].Value.l;
        ASSERT_EQ(flags.size(), 2u);
        EXPECT_EQ(flags["b"] & (MSGFLAG_READ | MSGFLAG_RN_PENDING), 0);
        EXPECT_EQ(flags["d"] & (MSGFLAG_READ | MSGFLAG_RN_PENDING), MSGFLAG_READ | MSGFLAG_RN_PENDING);
    }
    // pffinfo finds nothing to warn of in the file the deletions left.
    FILE* pipe = popen(("pffinfo '" + path_ + "' 2>&1 >/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string complaints;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) complaints.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(complaints, "");
}

TEST_F(WritableStoreTest, AFailedCommitLeavesTheFileAndTheStoreAtTheLastCommit) {
    ComRef<IMsgStore> store = Open();
    ComRef<IMAPIFolder> subtree = OpenById<IMAPIFolder>(store.get(), BinaryProp(store.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMessage> kept, lost;
    ASSERT_EQ(subtree->CreateMessage(nullptr, 0, kept.Out()), S_OK);
    ASSERT_EQ(kept->SaveChanges(0), S_OK);
    // The file may not grow: a message too large for its free space fails
    // to commit, as on a full disk.
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit capped = saved;
    capped.rlim_cur = std::filesystem::file_size(path_);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    ASSERT_EQ(subtree->CreateMessage(nullptr, 0, lost.Out()), S_OK);
    WriteStream(lost.get(), PR_BODY, std::vector<BYTE>(600000, 'z'));
    EXPECT_EQ(lost->SaveChanges(0), MAPI_E_DISK_ERROR);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(LongProp(subtree.get(), PR_CONTENT_COUNT), 1) << "the failed message must not linger in memory";
    // The store goes on working from the last commit.
    ComRef<IMAPIFolder> folder;
    ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<char*>("Later"), nullptr, nullptr, 0, folder.Out()), S_OK);
    ComRef<IMsgStore> reopened = Open();
    ComRef<IMAPIFolder> again = OpenById<IMAPIFolder>(reopened.get(), BinaryProp(reopened.get(), PR_IPM_SUBTREE_ENTRYID));
    EXPECT_EQ(LongProp(again.get(), PR_CONTENT_COUNT), 1);
    EXPECT_NE(LongProp(again.get(), PR_SUBFOLDERS), 0);
}

TEST_F(WritableStoreTest, TwoWritersOfOneFileNeverUndoEachOther) {
    ComRef<IMsgStore> first = Open(), second = Open();
    ComRef<IMAPIFolder> a = OpenById<IMAPIFolder>(first.get(), BinaryProp(first.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPIFolder> b = OpenById<IMAPIFolder>(second.get(), BinaryProp(second.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPIFolder> made;
    ASSERT_EQ(a->CreateFolder(FOLDER_GENERIC, const_cast<char*>("From first"), nullptr, nullptr, 0, made.Out()), S_OK);
    // The second writer's view is stale: its commit is refused, not
    // written over the first's; it reads the file again and goes on.
    EXPECT_EQ(b->CreateFolder(FOLDER_GENERIC, const_cast<char*>("From second"), nullptr, nullptr, 0, made.Out()),
              MAPI_E_DISK_ERROR);
    ASSERT_EQ(b->CreateFolder(FOLDER_GENERIC, const_cast<char*>("From second"), nullptr, nullptr, 0, made.Out()), S_OK);
    ComRef<IMsgStore> third = Open();
    ComRef<IMAPIFolder> c = OpenById<IMAPIFolder>(third.get(), BinaryProp(third.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPITable> hierarchy;
    ASSERT_EQ(c->GetHierarchyTable(0, hierarchy.Out()), S_OK);
    std::vector<std::string> names = ColumnStrings(hierarchy.get(), PR_DISPLAY_NAME);
    EXPECT_NE(std::find(names.begin(), names.end(), "From first"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "From second"), names.end());
}

// A writer killed after growing the file but before writing the header that
// covers the new end leaves an unreferenced tail; the next writer must open
// the file and cut the tail off, and a file shorter than its header is damage.
TEST_F(WritableStoreTest, ATailOfAnInterruptedCommitIsDroppedAndAShortFileRefused) {
    const auto size = std::filesystem::file_size(path_);
    {
        std::ofstream tail(path_, std::ios::binary | std::ios::app);
        tail << std::string(70000, '\x5A');
    }
    ComRef<IMsgStore> store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(std::filesystem::file_size(path_), size);
    store.Reset();

    std::filesystem::resize_file(path_, size - 512);
    ProfileEntry entry{"t", "Rescue", PstWriterStoreProvider()->Name(), path_};
    ComRef<IMsgStore> shortened;
    std::string error;
    EXPECT_NE(PstWriterStoreProvider()->OpenStore(entry, shortened.Out(), &error), S_OK);
    EXPECT_NE(error.find("shorter than its header"), std::string::npos) << error;
}

}  // namespace
}  // namespace mapi::pst
