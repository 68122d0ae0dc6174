// The access layer on the real platform: a session over a profile with one
// fresh embedded store, walked the way the copy engine and the dialog do.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <mapix.h>

#include "MapiWrapper.h"
#include "fake_raised.h"
#include "fakes.h"
#include "providers/providers.h"
#include "runtime/mapi_ptr.h"
#include "runtime/profile.h"

namespace {

namespace fs = std::filesystem;

class EmbeddedStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quirnel-wrapper-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        const std::string storePath = (dir / "source.db").string();
        std::string error;
        ASSERT_EQ(mapi::EmbeddedStoreProvider()->CreateStore(storePath, "Source", &error), S_OK)
            << error;
        mapi::Profile profile;
        profile.Add("Source", "embedded", storePath);
        const std::string profilePath = (dir / "profile.ini").string();
        ASSERT_EQ(profile.Save(profilePath, &error), S_OK) << error;
        setenv("MAPI_PROFILE", profilePath.c_str(), 1);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        session.Logon();
    }
    void TearDown() override {
        unsetenv("MAPI_PROFILE");
        fs::remove_all(dir);
    }

    IMsgStorePtr OpenSourceStore() {
        CMapiRowSet rows = QueryAllRows(session.GetStoresTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
        EXPECT_EQ(rows.Count(), 1u);
        EXPECT_EQ(rows.Cell(0, 0).ToString(), "Source");
        CMapiBinary eid;
        eid = rows.Cell(0, 1);
        CInterfaceRef<IUnknown> opened = session.OpenEntry(eid);
        return IMsgStorePtr(static_cast<LPMDB>(opened.get()));
    }

    fs::path dir;
    CMapiSession session;
};

TEST_F(EmbeddedStoreTest, WalksStoreFoldersAndProperties) {
    IMsgStorePtr store = OpenSourceStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(session.GetStoresTable(), session.GetStoresTable());

    IMAPIFolderPtr root = store._getIPMRoot();
    IMAPIFolderPtr projects(
        root.CreateFolder(FOLDER_GENERIC, "Projects", "", OPEN_IF_EXISTS).get());
    IMAPIFolderPtr again(root.CreateFolder(FOLDER_GENERIC, "projects", "", OPEN_IF_EXISTS).get());
    EXPECT_TRUE(projects.GetBinaryProp(PR_ENTRYID) == again.GetBinaryProp(PR_ENTRYID));
    const CMAPIException clash =
        fake::Raised([&] { root.CreateFolder(FOLDER_GENERIC, "Projects", "", 0); });
    EXPECT_EQ(clash.m_hr, MAPI_E_COLLISION);
    EXPECT_EQ(clash.m_strContext, "IMAPIFolderPtr::CreateFolder");

    CMapiRowSet children = QueryAllRows(root._rawHierrarchyTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
    bool listed = false;
    for (ULONG i = 0; i < children.Count(); ++i) {
        if (children.Cell(i, 0).ToString() != "Projects") continue;
        listed = true;
        CMapiBinary eid;
        eid = children.Cell(i, 1);
        EXPECT_TRUE(root.OpenEntryv(eid).GetBinaryProp(PR_ENTRYID) == eid);
    }
    EXPECT_TRUE(listed);

    projects.SetStringProp(PR_CONTAINER_CLASS, "IPF.Note");
    EXPECT_EQ(projects.GetStringProp(PR_CONTAINER_CLASS), "IPF.Note");
    EXPECT_EQ(projects.GetLongProp(PR_FOLDER_TYPE), static_cast<LONG>(FOLDER_GENERIC));
    EXPECT_EQ(QueryAllRows(projects._rawContentsTable(), {PR_SUBJECT}).Count(), 0u);

    const CMAPIException missing = fake::Raised([&] { projects.GetLongProp(PR_MESSAGE_SIZE); });
    EXPECT_EQ(missing.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(missing.m_strContext, "CGenMapiPropPtr::GetLongProp");
    EXPECT_EQ(projects.GetStringPropOrEmpty(PR_SUBJECT), "");

    IMAPIFolderPtr inbox = store.GetReceiveFolder("");
    EXPECT_FALSE(inbox.GetBinaryProp(PR_ENTRYID).Empty());
    EXPECT_FALSE(inbox.GetBinaryProp(PR_ENTRYID) == root.GetBinaryProp(PR_ENTRYID));
}

TEST_F(EmbeddedStoreTest, NamedPropertiesStartAt0x8000) {
    IMsgStorePtr store = OpenSourceStore();
    IMAPIFolderPtr root = store._getIPMRoot();
    EXPECT_EQ(root.GetIDFromName(PS_PUBLIC_STRINGS, u"Keywords", PT_MV_STRING8, MAPI_CREATE),
              0x8000101Eu);
    EXPECT_EQ(
        GetIDFromName(root._rawInterface(), PS_PUBLIC_STRINGS, u"Custom", PT_LONG, MAPI_CREATE),
        0x80010003u);
    EXPECT_EQ(root.GetIDFromName(PSETID_Common, LONG{0x8580}, 0, MAPI_CREATE), 0x80020000u);
    // Asking again gives the same identifier.
    EXPECT_EQ(root.GetIDFromName(PS_PUBLIC_STRINGS, u"Keywords", 0, MAPI_CREATE), 0x80000000u);
}

// A name the store has no id for comes back as a PT_ERROR tag with a
// warning. Adding the caller's type to that made a tag such as 0x00000028,
// which a query then compared as if it were a property.
TEST_F(EmbeddedStoreTest, GetIDFromNameReportsNamesTheStoreCannotMap) {
    IMsgStorePtr store = OpenSourceStore();
    IMAPIFolderPtr root = store._getIPMRoot();
    CMAPIException e =
        fake::Raised([&] { root.GetIDFromName(PS_PUBLIC_STRINGS, u"Unheard", PT_STRING8, 0); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "CGenMapiPropPtr::GetIDFromName");
    e = fake::Raised([&] { root.GetIDFromName(PSETID_Common, LONG{0x8599}, PT_LONG, 0); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    // Once created, the same name maps without MAPI_CREATE.
    const ULONG made = root.GetIDFromName(PS_PUBLIC_STRINGS, u"Unheard", PT_STRING8, MAPI_CREATE);
    EXPECT_EQ(root.GetIDFromName(PS_PUBLIC_STRINGS, u"Unheard", PT_STRING8, 0), made);

    // A personal folder file is read-only: MAPI_CREATE cannot add the name.
    mapi::StoreProvider* pst = mapi::FindProvider("pst");
    ASSERT_NE(pst, nullptr);
    mapi::ProfileEntry entry{"", "Sample", "pst",
                             std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/outlook.pst"};
    mapi::ComRef<IMsgStore> raw;
    std::string error;
    ASSERT_EQ(pst->OpenStore(entry, raw.Out(), &error), S_OK) << error;
    IMsgStorePtr file(raw.get());
    IMAPIFolderPtr fileRoot = file._getIPMRoot();
    e = fake::Raised([&] {
        GetIDFromName(fileRoot._rawInterface(), PS_PUBLIC_STRINGS, u"NoSuchUserField", PT_STRING8,
                      MAPI_CREATE);
    });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "CGenMapiPropPtr::GetIDFromName");
    // A name the file does map still gives its tag with the caller's type.
    const ULONG known = fileRoot.GetIDFromName(PSETID_Common, LONG{0x8580}, PT_STRING8, 0);
    EXPECT_GE(PROP_ID(known), 0x8000u);
    EXPECT_EQ(PROP_TYPE(known), static_cast<ULONG>(PT_STRING8));
}

}  // namespace
