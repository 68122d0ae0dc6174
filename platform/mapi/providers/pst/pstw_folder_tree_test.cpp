// Subfolders of the writable personal folder file deleted, copied and
// moved: the codes each refusal gives, the counts and hierarchy rows of the
// folders touched, the nodes of a deleted tree gone from the file, and the
// tree that our reader, libpff and pffinfo find afterwards.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "providers/providers.h"
#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;
using Id = std::vector<BYTE>;

ComRef<IMAPIFolder> OpenFolder(IMsgStore* store, const Id& id) { return OpenById<IMAPIFolder>(store, id); }

uint32_t NidOf(const Id& id) {
    return fmt::Get32(id.data() + 20);
}

LPENTRYID Eid(const Id& id) {
    return reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data()));
}
ULONG Cb(const Id& id) {
    return static_cast<ULONG>(id.size());
}
LPTSTR Text(const char* s) {
    return reinterpret_cast<LPTSTR>(const_cast<char*>(s));
}

class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        path_ = dir_ + "/tree.pst";
        std::string error;
        ASSERT_EQ(PstWriterStoreProvider()->CreateStore(path_, "Tree", &error), S_OK) << error;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    ComRef<IMsgStore> Open(StoreProvider* provider) {
        ProfileEntry entry{"t", "Tree", provider->Name(), path_};
        ComRef<IMsgStore> store;
        std::string error;
        EXPECT_EQ(provider->OpenStore(entry, store.Out(), &error), S_OK) << error;
        return store;
    }

    // A subfolder of parent with count messages, the first read ones
    // read, and one associated message when assoc.
    Id Make(IMAPIFolder* parent, const char* name, int count, int read, bool assoc,
            std::vector<Id>* messages) {
        ComRef<IMAPIFolder> folder;
        EXPECT_EQ(
            parent->CreateFolder(FOLDER_GENERIC, Text(name), nullptr, nullptr, 0, folder.Out()),
            S_OK);
        for (int i = 0; i < count + (assoc ? 1 : 0); ++i) {
            ComRef<IMessage> m;
            EXPECT_EQ(folder->CreateMessage(nullptr, i == count ? MAPI_ASSOCIATED : 0, m.Out()),
                      S_OK);
            std::string subject = std::string(name) + " " + std::to_string(i);
            SPropValue v[3];
            v[0].ulPropTag = PR_SUBJECT;
            v[0].Value.lpszA = subject.data();
            v[1].ulPropTag = PR_MESSAGE_FLAGS;
            v[1].Value.l = i < read ? MSGFLAG_READ : 0;
            v[2].ulPropTag = PR_MESSAGE_CLASS;
            v[2].Value.lpszA = const_cast<char*>("IPM.Note");
            EXPECT_EQ(m->SetProps(3, v, nullptr), S_OK);
            EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
            messages->push_back(BinaryProp(m.get(), PR_ENTRYID));
        }
        return BinaryProp(folder.get(), PR_ENTRYID);
    }

    std::string dir_, path_;
};

TEST_F(FolderTreeTest, TreesDeleteCopyAndMoveAsBothReadersSee) {
    std::vector<Id> inA, inB;
    Id a, b, inbox;
    {
        ComRef<IMsgStore> store = Open(PstWriterStoreProvider());
        ASSERT_TRUE(store);
        Id ipmId = BinaryProp(store.get(), PR_IPM_SUBTREE_ENTRYID);
        ComRef<IMAPIFolder> ipm = OpenFolder(store.get(), ipmId);
        ULONG cb = 0;
        LPENTRYID raw = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &raw, nullptr), S_OK);
        MapiBuffer<ENTRYID> rawInbox(raw);
        inbox.assign(reinterpret_cast<BYTE*>(raw), reinterpret_cast<BYTE*>(raw) + cb);

        // A (3 messages, 1 read, 1 associated) / B (2) / C (empty).
        a = Make(ipm.get(), "A", 3, 1, true, &inA);
        ComRef<IMAPIFolder> folderA = OpenFolder(store.get(), a);
        b = Make(folderA.get(), "B", 2, 0, false, &inB);
        ComRef<IMAPIFolder> folderB = OpenFolder(store.get(), b);
        std::vector<Id> none;
        Id c = Make(folderB.get(), "C", 0, 0, false, &none);

        EXPECT_EQ(ipm->DeleteFolder(Cb(a), Eid(a), 0, nullptr, DEL_MESSAGES), MAPI_E_HAS_FOLDERS);
        EXPECT_EQ(ipm->DeleteFolder(Cb(c), Eid(c), 0, nullptr, 0), MAPI_E_NOT_FOUND)
            << "not a subfolder of ipm";
        EXPECT_EQ(folderB->DeleteFolder(Cb(c), Eid(c), 0, nullptr, 0), S_OK);
        EXPECT_EQ(folderA->DeleteFolder(Cb(b), Eid(b), 0, nullptr, DEL_FOLDERS),
                  MAPI_E_HAS_MESSAGES);
        EXPECT_EQ(LongProp(folderB.get(), PR_SUBFOLDERS), 0);
        EXPECT_EQ(ipm->DeleteFolder(Cb(inbox), Eid(inbox), 0, nullptr, DEL_FOLDERS | DEL_MESSAGES),
                  MAPI_E_NO_ACCESS);

        // A deep copy into the inbox under a new name, a shallow one beside A.
        ComRef<IMAPIFolder> inboxFolder = OpenFolder(store.get(), inbox);
        ASSERT_EQ(ipm->CopyFolder(Cb(a), Eid(a), nullptr, inboxFolder.get(), Text("A copy"), 0,
                                  nullptr, COPY_SUBFOLDERS),
                  S_OK);
        EXPECT_EQ(ipm->CopyFolder(Cb(a), Eid(a), nullptr, inboxFolder.get(), Text("a COPY"), 0,
                                  nullptr, 0),
                  MAPI_E_COLLISION);
        ASSERT_EQ(ipm->CopyFolder(Cb(a), Eid(a), nullptr, ipm.get(), Text("A flat"), 0, nullptr, 0),
                  S_OK);
        EXPECT_EQ(ipm->CopyFolder(Cb(a), Eid(a), nullptr, folderB.get(), nullptr, 0, nullptr,
                                  FOLDER_MOVE),
                  MAPI_E_FOLDER_CYCLE);
        // B moves up beside A; A is then left without subfolders.
        ASSERT_EQ(folderA->CopyFolder(Cb(b), Eid(b), nullptr, ipm.get(), nullptr, 0, nullptr,
                                      FOLDER_MOVE),
                  S_OK);
        EXPECT_EQ(LongProp(folderA.get(), PR_SUBFOLDERS), 0);
        EXPECT_EQ(BinaryProp(folderB.get(), PR_PARENT_ENTRYID), ipmId);

        // The inbox may move, but a tree holding it is not deleted.
        std::vector<std::string> failures;
        Id flat;
        for (const FolderSummary& f : WalkFolders(ipm.get(), &failures))
            if (f.path == "A flat") flat = f.entryId;
        ASSERT_FALSE(flat.empty());
        ComRef<IMAPIFolder> flatFolder = OpenFolder(store.get(), flat);
        EXPECT_EQ(LongProp(flatFolder.get(), PR_CONTENT_COUNT), 3);
        EXPECT_EQ(LongProp(flatFolder.get(), PR_CONTENT_UNREAD), 2);
        ASSERT_EQ(ipm->CopyFolder(Cb(inbox), Eid(inbox), nullptr, flatFolder.get(), nullptr, 0,
                                  nullptr, FOLDER_MOVE),
                  S_OK);
        EXPECT_EQ(ipm->DeleteFolder(Cb(flat), Eid(flat), 0, nullptr, DEL_FOLDERS | DEL_MESSAGES),
                  MAPI_E_NO_ACCESS);
        ASSERT_EQ(flatFolder->CopyFolder(Cb(inbox), Eid(inbox), nullptr, ipm.get(), nullptr, 0,
                                         nullptr, FOLDER_MOVE),
                  S_OK);

        ASSERT_EQ(ipm->DeleteFolder(Cb(a), Eid(a), 0, nullptr, DEL_FOLDERS | DEL_MESSAGES), S_OK);
        EXPECT_NE(ipm->DeleteFolder(Cb(a), Eid(a), 0, nullptr, DEL_FOLDERS | DEL_MESSAGES), S_OK);
        // The store keeps its deleted-items folder's entry where it was.
        EXPECT_EQ(
            LongProp(
                OpenFolder(store.get(), BinaryProp(store.get(), PR_IPM_WASTEBASKET_ENTRYID)).get(),
                PR_FOLDER_TYPE),
            static_cast<LONG>(FOLDER_GENERIC));
    }

    // A's nodes (its tables too) and its messages' left the file; the
    // copies' and B's are there, and the file is still compressible.
    {
        fmt::NodeSet nodes;
        fmt::Header header;
        std::string error;
        ASSERT_NE(fmt::NdbFile::Open(path_, &nodes, &header, &error), nullptr) << error;
        EXPECT_EQ(header.cryptMethod, fmt::kCryptPermute);
        for (uint32_t type : {fmt::kNidTypeNormalFolder, fmt::kNidTypeHierarchyTable,
                              fmt::kNidTypeContentsTable, fmt::kNidTypeAssocContentsTable})
            EXPECT_EQ(nodes.count(fmt::SiblingNid(NidOf(a), type)), 0u) << type;
        for (const Id& m : inA) EXPECT_EQ(nodes.count(NidOf(m)), 0u);
        for (const Id& m : inB) EXPECT_EQ(nodes.count(NidOf(m)), 1u);
        EXPECT_EQ(nodes.count(NidOf(b)), 1u);
        EXPECT_EQ(nodes.at(NidOf(b)).parent, fmt::kNidIpmSubtree);
    }

    // Both readers, after reopening, see the same tree and counts.
    const std::map<std::string, std::pair<ULONG, ULONG>> expected = {
        {"Top of Personal Folders/Inbox", {0, 0}},
        {"Top of Personal Folders/Inbox/A copy", {3, 1}},
        {"Top of Personal Folders/Inbox/A copy/B", {2, 0}},
        {"Top of Personal Folders/A flat", {3, 1}},
        {"Top of Personal Folders/B", {2, 0}},
        {"Top of Personal Folders/Outbox", {0, 0}},
        {"Top of Personal Folders/Sent Items", {0, 0}},
        {"Top of Personal Folders/Deleted Items", {0, 0}},
    };
    for (StoreProvider* provider : {PstWriterStoreProvider(), PstStoreProvider()}) {
        SCOPED_TRACE(provider->Name());
        ComRef<IMsgStore> store = Open(provider);
        ASSERT_TRUE(store);
        ComRef<IUnknown> root;
        ULONG type = 0;
        ASSERT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()), S_OK);
        std::vector<std::string> failures;
        std::map<std::string, std::pair<ULONG, ULONG>> seen;
        for (const FolderSummary& f :
             WalkFolders(reinterpret_cast<IMAPIFolder*>(root.get()), &failures))
            if (f.path.rfind("Top of Personal Folders/", 0) == 0)
                seen[f.path] = {f.items, f.associated};
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(seen, expected);
    }
    std::map<std::string, ULONG> counts;
    std::string exportRoot;
    ASSERT_TRUE(PffexportCounts(path_, dir_ + "/pff", &counts, &exportRoot));
    EXPECT_EQ(counts["Top of Personal Folders/Inbox/A copy"], 3u);
    EXPECT_EQ(counts["Top of Personal Folders/Inbox/A copy/B"], 2u);
    EXPECT_EQ(counts["Top of Personal Folders/B"], 2u);
    FILE* pipe = popen(("pffinfo '" + path_ + "' 2>&1 >/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string complaints;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) complaints.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(complaints, "");
}

}  // namespace
}  // namespace mapi::pst
