// Tests of `from` table paths over a real session: a profile with embedded
// stores, paths by display names and by entry identifier, and their messages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <runtime/profile.h>
#include <runtime/provider.h>

#include "MapiWrapper.h"
#include "fakes.h"
#include "restriction_compiler.h"
#include "restriction_text.h"

namespace {

namespace fs = std::filesystem;

class TablePaths : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quirnel_table_path_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        mapi::Profile profile;
        for (const char* name : {"Mail", "Archive"}) {
            const std::string path = (dir / (std::string(name) + ".store")).string();
            std::string error;
            mapi::StoreProvider* provider = mapi::FindProvider("embedded");
            ASSERT_NE(provider, nullptr);
            ASSERT_EQ(provider->CreateStore(path, name, &error), S_OK) << error;
            profile.Add(name, "embedded", path);
        }
        std::string error;
        const std::string profilePath = (dir / "profile.ini").string();
        ASSERT_EQ(profile.Save(profilePath, &error), S_OK) << error;
        setenv("MAPI_PROFILE", profilePath.c_str(), 1);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        session.Logon();

        // Mail: \Projects\Sub below the IPM subtree root.
        IMAPIFolderPtr root = MailStore()._getIPMRoot();
        CInterfaceRef<IMAPIFolder> projects = root.CreateFolder(FOLDER_GENERIC, "Projects", "", 0);
        IMAPIFolderPtr projectsFolder(projects.get());
        projectsFolder.CreateFolder(FOLDER_GENERIC, "Sub", "", 0);
        projectsId = projectsFolder.GetBinaryProp(PR_ENTRYID);
    }

    void TearDown() override {
        unsetenv("MAPI_PROFILE");
        fs::remove_all(dir);
    }

    IMsgStorePtr MailStore() {
        CMapiRowSet stores;
        stores.QueryAllRows(session.GetStoresTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
        for (ULONG row = 0; row < stores.Count(); ++row) {
            if (std::string(stores.Cell(row, 0).String8()) != "Mail") continue;
            CMapiBinary id;
            id = stores.Cell(row, 1);
            CInterfaceRef<IUnknown> opened = session.OpenEntry(id);
            return IMsgStorePtr(static_cast<LPMDB>(opened.get()));
        }
        ADD_FAILURE() << "no store Mail";
        return IMsgStorePtr();
    }

    // Compiles with the session set; the display name of the property object
    // afterwards, or the error text.
    std::string FolderAfter(const std::string& query) {
        fake::Folder start;
        RestrictionCompiler compiler;
        compiler.SetPropertyObject(&start);
        compiler.SetSession(session._rawInterface());
        compiler.Compile(query.c_str());
        if (compiler.HasError()) return "error:" + compiler.ErrorText();
        if (compiler.PropertyObject() == &start) return "unchanged";
        IMAPIContainerPtr folder(compiler.PropertyObject());
        return folder.GetStringProp(PR_DISPLAY_NAME);
    }

    fs::path dir;
    CMapiSession session;
    CMapiBinary projectsId;
};

TEST_F(TablePaths, ByDisplayNames) {
    EXPECT_EQ(FolderAfter("select Subject from \"Mail\\Projects\" where Subject = \"a\""),
              "Projects");
    EXPECT_EQ(FolderAfter("select Subject from \"mail\\projects\\SUB\" where Subject = \"a\""),
              "Sub");
    EXPECT_EQ(FolderAfter("select Subject from \"\\Mail\\\\Projects\\\" where"), "Projects");
    // A store alone names the root of its IPM subtree.
    const std::string archiveRoot = FolderAfter("select Subject from \"Archive\\\" where");
    EXPECT_NE(archiveRoot, "unchanged");
    EXPECT_EQ(archiveRoot.rfind("error:", 0), std::string::npos) << archiveRoot;
}

TEST_F(TablePaths, MessagesOfPathsThatNameNothing) {
    EXPECT_EQ(FolderAfter("select Subject from \"Nope\\Projects\" where"),
              "error: MsgStore Nope not found");
    EXPECT_EQ(FolderAfter("select Subject from \"Mail\\Nope\" where"),
              "error: Folder Nope not found");
    EXPECT_EQ(FolderAfter("select Subject from where"), "error: Expected a table path");
}

TEST_F(TablePaths, ByEntryIdentifier) {
    const std::string hex = BinaryToHex(projectsId);
    EXPECT_EQ(FolderAfter("select Subject from \"" + hex + "\" where"), "Projects");
    // No store has the identifier's provider bytes: nothing changes, nothing is said.
    EXPECT_EQ(
        FolderAfter("select Subject from \"00000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\" where"),
        "unchanged");
}

TEST_F(TablePaths, NamedFieldsResolveInTheFolderOfThePath) {
    RestrictionCompiler compiler;
    compiler.SetSession(session._rawInterface());
    compiler.Compile("select Categories from \"Mail\\Projects\" where Categories = \"x\"");
    ASSERT_FALSE(compiler.HasError()) << compiler.ErrorText();
    EXPECT_EQ(RestrictionText(compiler.Restriction()),
              "property(EQ, 0x8000101E, 0x8000001E=\"x\")");
    EXPECT_EQ(ColumnsText(*compiler.Columns()), "0x8000101E");
}

}  // namespace
