// Tests of logon and the session over a fake provider: profiles missing,
// empty, malformed and valid; the message store table; entry id routing.
#include "session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "fakes.h"

namespace mapi {
namespace {

using FakeStore = fake::Store;

constexpr MAPIUID kFakeProviderUid = {{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9,
                                       0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF}};

// Entry ids of a fake store: flags, a MAPIUID made of the letter, then a tail.
std::vector<BYTE> EntryId(char letter, std::vector<BYTE> tail) {
    std::vector<BYTE> id(4, 0);
    id.insert(id.end(), 16, static_cast<BYTE>(letter));
    id.insert(id.end(), tail.begin(), tail.end());
    return id;
}

// Opens stores whose path is one letter; "broken" fails like a damaged file.
class FakeProvider : public StoreProvider {
public:
    std::map<std::string, ComRef<FakeStore>> opened;

    const char* Name() const override { return "fake"; }
    const char* DisplayName() const override { return "Fake store"; }
    MAPIUID ProviderUid() const override { return kFakeProviderUid; }
    bool Recognizes(const std::string&) const override { return false; }
    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        if (entry.path == "broken") {
            *error = "damaged header";
            return MAPI_E_CORRUPT_STORE;
        }
        ComRef<FakeStore> s = fake::Make<FakeStore>(entry.path);
        s->Set(fake::Bin(PR_STORE_ENTRYID, EntryId(entry.path.at(0), {'S'})));
        // A folder the tests open through the session.
        s->entries->Add(EntryId(entry.path.at(0), {'F', '7'}), s->Root());
        opened[entry.path] = s;
        *store = s.Detach();
        return S_OK;
    }
    HRESULT CreateStore(const std::string&, const std::string&, std::string*) override {
        return MAPI_E_NO_SUPPORT;
    }
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("quirnel_session_" + std::to_string(getpid()) + ".ini");
        std::filesystem::remove(path_);
        if (const char* old = std::getenv("MAPI_PROFILE")) saved_ = old;
        setenv("MAPI_PROFILE", path_.c_str(), 1);
        SetProvidersForTesting({&provider_});
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        session_.Reset();
        MAPIUninitialize();
        ResetProvidersForTesting();
        std::filesystem::remove(path_);
        if (saved_.empty())
            unsetenv("MAPI_PROFILE");
        else
            setenv("MAPI_PROFILE", saved_.c_str(), 1);
    }

    void WriteProfile(const std::string& text) { std::ofstream(path_) << text; }
    HRESULT Logon() { return MAPILogonEx(0, nullptr, nullptr, 0, session_.Out()); }

    // Three stores: A and B open, "broken" and one of an unknown provider do not.
    void LogonToFour() {
        WriteProfile(
            "[1]\nname=Alpha\nprovider=fake\npath=A\n"
            "[2]\nname=Damaged\nprovider=fake\npath=broken\n"
            "[3]\nname=Beta\nprovider=fake\npath=B\n"
            "[4]\nname=Other\nprovider=imap\npath=/x\n");
        ASSERT_EQ(Logon(), S_OK) << LastLogonError();
    }

    std::filesystem::path path_;
    std::string saved_;
    FakeProvider provider_;
    ComRef<IMAPISession> session_;
};

TEST_F(SessionTest, LogonFailsWithoutUsableProfile) {
    EXPECT_EQ(Logon(), MAPI_E_LOGON_FAILED);
    EXPECT_FALSE(session_);
    EXPECT_NE(LastLogonError().find(path_.string()), std::string::npos) << LastLogonError();

    WriteProfile("[1]\nname=Alpha\nthis line is wrong\n");
    EXPECT_EQ(Logon(), MAPI_E_LOGON_FAILED);
    EXPECT_NE(LastLogonError().find(path_.string() + ":3:"), std::string::npos) << LastLogonError();

    std::filesystem::remove(path_);
    std::filesystem::create_directory(path_);
    EXPECT_EQ(Logon(), MAPI_E_LOGON_FAILED);
    std::filesystem::remove(path_);

    MAPIUninitialize();
    WriteProfile("");
    EXPECT_EQ(Logon(), MAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
}

TEST_F(SessionTest, EmptyProfileGivesEmptySession) {
    WriteProfile("# no stores yet\n");
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_TRUE(LastLogonError().empty());
    ComRef<IMAPITable> table;
    ASSERT_EQ(session_->GetMsgStoresTable(0, table.Out()), S_OK);
    ULONG count = 99;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(SessionTest, StoresThatFailAreLeftOutWithTheirReason) {
    LogonToFour();
    const std::vector<std::string>& warnings = LastLogonWarnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("\"Damaged\""), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("damaged header"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("unknown provider \"imap\""), std::string::npos) << warnings[1];

    ComRef<IMAPITable> table;
    ASSERT_EQ(session_->GetMsgStoresTable(MAPI_UNICODE, table.Out()), S_OK);
    LPSRowSet raw = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), nullptr, nullptr, nullptr, 0, &raw), S_OK);
    RowSetPtr rows(raw);
    ASSERT_EQ(rows->cRows, 2u);
    const std::vector<BYTE> alphaId = EntryId('A', {'S'});
    struct Expect {
        const char16_t* name;
        ULONG flags;
    } expected[] = {{u"Alpha", STATUS_DEFAULT_STORE}, {u"Beta", 0}};
    for (ULONG r = 0; r < 2; ++r) {
        const SRow& row = rows->aRow[r];
        auto find = [&](ULONG tag) { return PpropFindProp(row.lpProps, row.cValues, tag); };
        ASSERT_NE(find(PR_DISPLAY_NAME_W), nullptr);
        EXPECT_EQ(std::u16string(find(PR_DISPLAY_NAME_W)->Value.lpszW), expected[r].name);
        EXPECT_EQ(find(PR_RESOURCE_FLAGS)->Value.l, static_cast<LONG>(expected[r].flags));
        ASSERT_NE(find(PR_PROVIDER_DISPLAY_W), nullptr);
        EXPECT_EQ(std::u16string(find(PR_PROVIDER_DISPLAY_W)->Value.lpszW), u"Fake store");
        ASSERT_NE(find(PR_MDB_PROVIDER), nullptr);
        EXPECT_EQ(std::memcmp(find(PR_MDB_PROVIDER)->Value.bin.lpb, kFakeProviderUid.ab, 16), 0);
        EXPECT_EQ(find(PR_ROWID)->Value.l, static_cast<LONG>(r));
        EXPECT_NE(find(PR_INSTANCE_KEY), nullptr);
        EXPECT_EQ(find(PR_RECORD_KEY)->Value.bin.cb, 16u);
    }
    const SPropValue* id = PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_ENTRYID);
    ASSERT_EQ(id->Value.bin.cb, alphaId.size());
    EXPECT_EQ(std::memcmp(id->Value.bin.lpb, alphaId.data(), alphaId.size()), 0);
}

// "Ax" opens with the MAPIUID of "A", as a copied file would. The fake
// provider cannot hand out another, so the copy must stay out of the session
// rather than have its entry ids reach Alpha.
TEST_F(SessionTest, AStoreWithATakenIdentityThatCannotBeRoutedIsLeftOut) {
    WriteProfile(
        "[1]\nname=Alpha\nprovider=fake\npath=A\n"
        "[2]\nname=Copy of alpha\nprovider=fake\npath=Ax\n"
        "[3]\nname=Beta\nprovider=fake\npath=B\n");
    ASSERT_EQ(Logon(), S_OK) << LastLogonError();
    const std::vector<std::string>& warnings = LastLogonWarnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"Copy of alpha\" (Ax) left out"), std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[0].find("identity of store \"Alpha\" (A)"), std::string::npos)
        << warnings[0];
    ComRef<IMAPITable> table;
    ASSERT_EQ(session_->GetMsgStoresTable(0, table.Out()), S_OK);
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 2u);
}

TEST_F(SessionTest, OpenEntryRoutesByStoreUid) {
    LogonToFour();
    std::vector<BYTE> alpha = EntryId('A', {'S'});
    ULONG type = 0;
    ComRef<IUnknown> opened;
    ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(alpha.size()),
                                  reinterpret_cast<LPENTRYID>(alpha.data()), nullptr,
                                  MAPI_BEST_ACCESS, &type, opened.Out()),
              S_OK);
    EXPECT_EQ(type, MAPI_STORE);
    EXPECT_EQ(opened.get(),
              static_cast<IUnknown*>(static_cast<IMsgStore*>(provider_.opened["A"].get())));

    std::vector<BYTE> folderInB = EntryId('B', {'F', '7'});
    ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(folderInB.size()),
                                  reinterpret_cast<LPENTRYID>(folderInB.data()), nullptr,
                                  MAPI_BEST_ACCESS, &type, opened.Out()),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
    EXPECT_EQ(provider_.opened["B"]->entries->lastOpened, folderInB);
    EXPECT_TRUE(provider_.opened["A"]->entries->lastOpened.empty());

    std::vector<BYTE> unknown = EntryId('Z', {'F'});
    EXPECT_EQ(session_->OpenEntry(static_cast<ULONG>(unknown.size()),
                                  reinterpret_cast<LPENTRYID>(unknown.data()), nullptr, 0, &type,
                                  opened.Out()),
              MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(session_->OpenEntry(10, reinterpret_cast<LPENTRYID>(unknown.data()), nullptr, 0,
                                  &type, opened.Out()),
              MAPI_E_INVALID_ENTRYID);

    ComRef<IMsgStore> store;
    ASSERT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(alpha.size()),
                                     reinterpret_cast<LPENTRYID>(alpha.data()), nullptr,
                                     MAPI_BEST_ACCESS, store.Out()),
              S_OK);
    EXPECT_EQ(store.get(), provider_.opened["A"].get());

    ULONG same = 7;
    ASSERT_EQ(session_->CompareEntryIDs(static_cast<ULONG>(alpha.size()),
                                        reinterpret_cast<LPENTRYID>(alpha.data()),
                                        static_cast<ULONG>(folderInB.size()),
                                        reinterpret_cast<LPENTRYID>(folderInB.data()), 0, &same),
              S_OK);
    EXPECT_EQ(same, 0u);
    std::vector<BYTE> alphaCopy = alpha;
    ASSERT_EQ(session_->CompareEntryIDs(static_cast<ULONG>(alpha.size()),
                                        reinterpret_cast<LPENTRYID>(alpha.data()),
                                        static_cast<ULONG>(alphaCopy.size()),
                                        reinterpret_cast<LPENTRYID>(alphaCopy.data()), 0, &same),
              S_OK);
    EXPECT_EQ(same, 1u);

    ASSERT_EQ(session_->Logoff(0, 0, 0), S_OK);
    ComRef<IMAPITable> table;
    EXPECT_EQ(session_->GetMsgStoresTable(0, table.Out()), MAPI_E_END_OF_SESSION);
    EXPECT_EQ(session_->OpenEntry(static_cast<ULONG>(alpha.size()),
                                  reinterpret_cast<LPENTRYID>(alpha.data()), nullptr, 0, &type,
                                  opened.Out()),
              MAPI_E_END_OF_SESSION);
}

}  // namespace
}  // namespace mapi
