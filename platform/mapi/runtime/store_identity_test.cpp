// Stores that share a file or a MAPIUID, on the real providers: a profile
// with an embedded store, a cp backup of it and a link to it, and a .pst
// file added twice and copied under another name. Each entry must reach its
// own file, and everything a routed store hands out must carry its routing
// MAPIUID, or the session sends it to the other store.
#include "store_identity.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapiutil.h>
#include <mapix.h>

#include "mapi_ptr.h"
#include "profile.h"
#include "providers/providers.h"

namespace mapi {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

Bytes UidOf(const Bytes& id) {
    return id.size() >= 20 ? Bytes(id.begin() + 4, id.begin() + 20) : Bytes();
}

Bytes Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Binary(IMAPIProp* object, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(object, tag, &raw) != S_OK) return {};
    MapiBuffer<SPropValue> v(raw);
    return Bytes(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
}

std::string Text(IMAPIProp* object, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(object, tag, &raw) != S_OK) return "";
    MapiBuffer<SPropValue> v(raw);
    return v->Value.lpszA;
}

class StoreIdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quirnel_identity_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::string error;
        ASSERT_EQ(EmbeddedStoreProvider()->CreateStore(Path("orig.qdb"), "Original", &error), S_OK)
            << error;
        fs::copy_file(Path("orig.qdb"), Path("backup.qdb"));
        fs::create_symlink(Path("orig.qdb"), Path("link.qdb"));
        const fs::path pst = fs::path(QUIRNEL_SHARED_DIR) / "fixtures/pst/outlook.pst";
        fs::copy_file(pst, Path("a.pst"));
        fs::copy_file(pst, Path("b.pst"));
        Profile profile;
        profile.Add("Original", "embedded", Path("orig.qdb"));
        profile.Add("Backup", "embedded", Path("backup.qdb"));
        profile.Add("Link", "embedded", Path("link.qdb"));
        profile.Add("PstA", "pst", Path("a.pst"));
        profile.Add("PstA again", "pst", dir_.string() + "/./a.pst");
        profile.Add("PstB", "pst", Path("b.pst"));
        ASSERT_EQ(profile.Save(Path("profile.ini"), &error), S_OK) << error;
        if (const char* old = std::getenv("MAPI_PROFILE")) saved_ = old;
        setenv("MAPI_PROFILE", Path("profile.ini").c_str(), 1);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        originalBytes_ = Slurp(Path("orig.qdb"));
        pstBytes_ = Slurp(Path("a.pst"));
        Logon();
    }
    void TearDown() override {
        Logoff();
        MAPIUninitialize();
        if (saved_.empty())
            unsetenv("MAPI_PROFILE");
        else
            setenv("MAPI_PROFILE", saved_.c_str(), 1);
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void Logon() {
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, session_.Out()), S_OK);
        ComRef<IMAPITable> table;
        ASSERT_EQ(session_->GetMsgStoresTable(0, table.Out()), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME, PR_ENTRYID}};
        LPSRowSet raw = nullptr;
        ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                 nullptr, 0, &raw),
                  S_OK);
        RowSetPtr rows(raw);
        ids_.clear();
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const SPropValue* v = rows->aRow[r].lpProps;
            ids_[v[0].Value.lpszA] =
                Bytes(v[1].Value.bin.lpb, v[1].Value.bin.lpb + v[1].Value.bin.cb);
        }
        ASSERT_EQ(ids_.size(), 6u);
    }
    void Logoff() {
        if (session_) session_->Logoff(0, 0, 0);
        session_.Reset();
    }

    bool Same(const std::string& a, const std::string& b) {
        ULONG result = 2;
        Bytes x = ids_[a], y = ids_[b];
        EXPECT_EQ(session_->CompareEntryIDs(static_cast<ULONG>(x.size()),
                                            reinterpret_cast<LPENTRYID>(x.data()),
                                            static_cast<ULONG>(y.size()),
                                            reinterpret_cast<LPENTRYID>(y.data()), 0, &result),
                  S_OK);
        return result == TRUE;
    }

    ComRef<IMsgStore> Store(const std::string& name) {
        Bytes id = ids_[name];
        ComRef<IMsgStore> store;
        EXPECT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(id.size()),
                                         reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                                         MAPI_BEST_ACCESS, store.Out()),
                  S_OK);
        return store;
    }

    // Opens id through the session, as the copy engine does.
    template <class I>
    ComRef<I> Open(const Bytes& id, ULONG flags = MAPI_BEST_ACCESS) {
        ComRef<I> object;
        ULONG type = 0;
        Bytes copy = id;
        EXPECT_EQ(session_->OpenEntry(static_cast<ULONG>(copy.size()),
                                      reinterpret_cast<LPENTRYID>(copy.data()), nullptr, flags,
                                      &type, object.template OutAs<IUnknown>()),
                  S_OK);
        return object;
    }

    // Entry ids of this store kept among object's values (a folder naming
    // the calendar or the contacts folder) carry uid, not the file's own.
    void ExpectOwnIdsCarry(IMAPIProp* object, const Bytes& uid) {
        ULONG count = 0;
        LPSPropValue raw = nullptr;
        ASSERT_TRUE(SUCCEEDED(object->GetProps(nullptr, 0, &count, &raw)));
        MapiBuffer<SPropValue> values(raw);
        auto check = [&](const SBinary& b) {
            if (b.cb < 20 || std::memcmp(b.lpb, "\0\0\0\0", 4) != 0) return;
            const Bytes inner(b.lpb + 4, b.lpb + 20);
            if (inner == uid) ++own_;
            EXPECT_TRUE(inner == uid ||
                        (inner != UidOf(ids_["Original"]) && inner != UidOf(ids_["PstA"])));
        };
        for (ULONG i = 0; i < count; ++i) {
            const SPropValue& v = values.get()[i];
            if (PROP_TYPE(v.ulPropTag) == PT_BINARY) check(v.Value.bin);
            if (PROP_TYPE(v.ulPropTag) == PT_MV_BINARY)
                for (ULONG k = 0; k < v.Value.MVbin.cValues; ++k) check(v.Value.MVbin.lpbin[k]);
        }
    }

    // Every identifier store hands out carries uid, and each one the session
    // opens lands in store.
    void ExpectEverythingCarries(const std::string& name, const Bytes& uid) {
        SCOPED_TRACE(name);
        ComRef<IMsgStore> store = Store(name);
        ASSERT_TRUE(store);
        const Bytes storeId = Binary(store.get(), PR_STORE_ENTRYID);
        EXPECT_EQ(UidOf(storeId), uid);
        EXPECT_EQ(UidOf(Binary(store.get(), PR_ENTRYID)), uid);
        EXPECT_EQ(Binary(store.get(), PR_RECORD_KEY), uid);
        EXPECT_EQ(Binary(store.get(), PR_STORE_RECORD_KEY), uid);

        std::vector<Bytes> folders;
        for (ULONG tag : {PR_IPM_SUBTREE_ENTRYID, PR_IPM_OUTBOX_ENTRYID, PR_IPM_WASTEBASKET_ENTRYID,
                          PR_IPM_SENTMAIL_ENTRYID}) {
            Bytes id = Binary(store.get(), tag);
            if (!id.empty()) folders.push_back(id);
        }
        EXPECT_GE(folders.size(), 1u);
        ULONG cb = 0;
        LPENTRYID rawInbox = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &rawInbox, nullptr), S_OK);
        MapiBuffer<ENTRYID> inbox(rawInbox);
        folders.emplace_back(reinterpret_cast<BYTE*>(rawInbox),
                             reinterpret_cast<BYTE*>(rawInbox) + cb);

        ComRef<IMAPITable> receive;
        ASSERT_EQ(store->GetReceiveFolderTable(0, receive.Out()), S_OK);
        SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
        LPSRowSet raw = nullptr;
        ASSERT_EQ(HrQueryAllRows(receive.get(), reinterpret_cast<LPSPropTagArray>(&idColumn),
                                 nullptr, nullptr, 0, &raw),
                  S_OK);
        RowSetPtr rows(raw);
        EXPECT_GE(rows->cRows, 1u);
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const SBinary& b = rows->aRow[r].lpProps[0].Value.bin;
            folders.emplace_back(b.lpb, b.lpb + b.cb);
        }

        for (const Bytes& id : folders) {
            EXPECT_EQ(UidOf(id), uid);
            ExpectOwnIdsCarry(Open<IMAPIFolder>(id).get(), uid);
            ComRef<IMAPIFolder> folder = Open<IMAPIFolder>(id);
            ASSERT_TRUE(folder);
            EXPECT_EQ(Binary(folder.get(), PR_STORE_ENTRYID), storeId);
            EXPECT_EQ(Binary(folder.get(), PR_STORE_RECORD_KEY), uid);
            EXPECT_EQ(Binary(folder.get(), PR_ENTRYID), id);
            // A folder opened by id alone may not know its parent.
            const Bytes parent = Binary(folder.get(), PR_PARENT_ENTRYID);
            if (!parent.empty()) {
                EXPECT_EQ(UidOf(parent), uid);
            }
        }
    }

    fs::path dir_;
    std::string saved_;
    ComRef<IMAPISession> session_;
    std::map<std::string, Bytes> ids_;
    int own_ = 0;
    Bytes originalBytes_, pstBytes_;
};

TEST_F(StoreIdentityTest, EntriesThatLeadToOneFileAreOneStore) {
    EXPECT_TRUE(Same("Original", "Link"));
    EXPECT_TRUE(Same("PstA", "PstA again"));
    EXPECT_FALSE(Same("Original", "Backup"));
    EXPECT_FALSE(Same("PstA", "PstB"));
    EXPECT_FALSE(Same("Backup", "Link"));
    // One object: a second opening would be a second writer on the file.
    EXPECT_EQ(Store("Original").get(), Store("Link").get());
    EXPECT_EQ(Store("PstA").get(), Store("PstA again").get());
    EXPECT_NE(Store("Original").get(), Store("Backup").get());
    EXPECT_NE(Store("PstA").get(), Store("PstB").get());
}

TEST_F(StoreIdentityTest, ACopiedFileReadsAsItselfUnderARoutingIdentity) {
    // The first of two files with one MAPIUID keeps it; the second is routed.
    const Bytes own = UidOf(ids_["Original"]);
    EXPECT_EQ(own, Binary(Store("Original").get(), PR_RECORD_KEY));
    const Bytes backup = UidOf(ids_["Backup"]);
    EXPECT_NE(backup, own);
    ExpectEverythingCarries("Original", own);
    ExpectEverythingCarries("Backup", backup);
    const Bytes pstOwn = UidOf(ids_["PstA"]);
    const Bytes pstCopy = UidOf(ids_["PstB"]);
    EXPECT_NE(pstCopy, pstOwn);
    ExpectEverythingCarries("PstA", pstOwn);
    ExpectEverythingCarries("PstB", pstCopy);
    RecordProperty("own_ids_in_folder_values", own_);

    // A folder made through the backup's identifiers lands in the backup.
    ComRef<IMsgStore> store = Store("Backup");
    ComRef<IMAPIFolder> root = Open<IMAPIFolder>(Binary(store.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPIFolder> made;
    ASSERT_EQ(root->CreateFolder(FOLDER_GENERIC, const_cast<LPTSTR>("Only in the backup"), nullptr,
                                 nullptr, 0, made.Out()),
              S_OK);
    const Bytes madeId = Binary(made.get(), PR_ENTRYID);
    EXPECT_EQ(UidOf(madeId), backup);
    EXPECT_EQ(Text(Open<IMAPIFolder>(madeId).get(), PR_DISPLAY_NAME), "Only in the backup");
    ComRef<IMAPIFolder> originalRoot =
        Open<IMAPIFolder>(Binary(Store("Original").get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPITable> children;
    ASSERT_EQ(originalRoot->GetHierarchyTable(0, children.Out()), S_OK);
    SizedSPropTagArray(1, nameColumn) = {1, {PR_DISPLAY_NAME}};
    LPSRowSet raw = nullptr;
    ASSERT_EQ(HrQueryAllRows(children.get(), reinterpret_cast<LPSPropTagArray>(&nameColumn),
                             nullptr, nullptr, 0, &raw),
              S_OK);
    RowSetPtr rows(raw);
    for (ULONG r = 0; r < rows->cRows; ++r)
        EXPECT_STRNE(rows->aRow[r].lpProps[0].Value.lpszA, "Only in the backup");
    children.Reset();
    made.Reset();
    root.Reset();
    originalRoot.Reset();
    store.Reset();

    // Neither the original file nor a .pst was written.
    Logoff();
    EXPECT_EQ(Slurp(Path("orig.qdb")), originalBytes_);
    EXPECT_EQ(Slurp(Path("a.pst")), pstBytes_);
}

TEST_F(StoreIdentityTest, RoutingIdentitiesStayTheSameAcrossSessions) {
    const std::map<std::string, Bytes> first = ids_;
    Bytes deleted = Binary(Store("PstB").get(), PR_IPM_WASTEBASKET_ENTRYID);
    Logoff();
    Logon();
    EXPECT_EQ(ids_, first);
    // An identifier kept from the first session still opens the same folder.
    ComRef<IMAPIFolder> again = Open<IMAPIFolder>(deleted);
    ASSERT_TRUE(again);
    EXPECT_EQ(Binary(again.get(), PR_ENTRYID), deleted);
    EXPECT_EQ(Binary(again.get(), PR_STORE_ENTRYID), ids_["PstB"]);
}

TEST(DeriveRoutingUid, DependsOnIdentityPlaceAndAttemptOnly) {
    MAPIUID own{};
    for (int i = 0; i < 16; ++i) own.ab[i] = static_cast<BYTE>(i);
    const MAPIUID a = DeriveRoutingUid(own, "/mail/a.qdb", 0);
    const MAPIUID again = DeriveRoutingUid(own, "/mail/a.qdb", 0);
    EXPECT_EQ(std::memcmp(a.ab, again.ab, 16), 0);
    for (const MAPIUID& other :
         {DeriveRoutingUid(own, "/mail/b.qdb", 0), DeriveRoutingUid(own, "/mail/a.qdb", 1), own}) {
        EXPECT_NE(std::memcmp(a.ab, other.ab, 16), 0);
    }
    MAPIUID changed = own;
    changed.ab[15] ^= 1;
    const MAPIUID b = DeriveRoutingUid(changed, "/mail/a.qdb", 0);
    EXPECT_NE(std::memcmp(a.ab, b.ab, 16), 0);
}

}  // namespace
}  // namespace mapi
