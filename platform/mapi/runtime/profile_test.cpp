// Tests of the profile file: round trip, malformed files with their
// messages, and where the file lives.
#include "profile.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace mapi {
namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("quirnel_profile_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& text) {
        const std::string path = (dir_ / "profile.ini").string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::filesystem::path dir_;
};

TEST_F(ProfileTest, SaveAndLoadRoundTrip) {
    Profile p;
    EXPECT_EQ(p.Add("Personal Folders", "embedded", "/data/a.qdb").section, "store1");
    p.Add("Archive", "pst", "/data/archive = old.pst");
    p.Add("Personal Folders", "embedded", "/data/b.qdb");
    EXPECT_TRUE(p.Remove("Archive"));
    EXPECT_FALSE(p.Remove("Archive"));
    EXPECT_EQ(p.Add("Again", "pst", "/x.pst").section, "store2");

    const std::string path = (dir_ / "new" / "folder" / "profile.ini").string();
    std::string error;
    // Two stores of one name could not be told apart: not written.
    EXPECT_EQ(p.Save(path, &error), MAPI_E_INVALID_PARAMETER);
    EXPECT_NE(error.find("Personal Folders"), std::string::npos) << error;
    EXPECT_TRUE(p.Remove("Personal Folders"));
    EXPECT_TRUE(p.Remove("Personal Folders"));
    p.Add("Personal Folders", "embedded", "/data/a.qdb");
    ASSERT_EQ(p.Save(path, &error), S_OK) << error;
    // For its owner alone, and so are the folders it made.
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dir_ / "new").permissions(), fs::perms::owner_all);
    // Saved through a link, the link stays and its file changes.
    fs::create_symlink("new/folder/profile.ini", dir_ / "link.ini");
    Profile linked = p;
    linked.Add("Linked", "embedded", "/l.qdb");
    ASSERT_EQ(linked.Save((dir_ / "link.ini").string(), &error), S_OK) << error;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.ini"));
    Profile viaFile;
    ASSERT_EQ(Profile::Load(path, &viaFile, &error), S_OK) << error;
    EXPECT_NE(viaFile.Find("Linked"), nullptr);
    ASSERT_EQ(p.Save(path, &error), S_OK) << error;
    Profile loaded;
    ASSERT_EQ(Profile::Load(path, &loaded, &error), S_OK) << error;
    ASSERT_EQ(loaded.Entries().size(), 2u);
    EXPECT_EQ(loaded.Entries()[0].displayName, "Again");
    ASSERT_NE(loaded.Find("Personal Folders"), nullptr);
    EXPECT_EQ(loaded.Find("Personal Folders")->path, "/data/a.qdb");
    EXPECT_EQ(loaded.Find("nobody"), nullptr);

    Profile bad;
    bad.Add("two\nlines", "embedded", "/x");
    EXPECT_EQ(bad.Save(path, &error), MAPI_E_INVALID_PARAMETER);
    ASSERT_EQ(Profile::Load(path, &loaded, &error), S_OK) << "the old file stays whole";
    EXPECT_EQ(loaded.Entries().size(), 2u);
}

TEST_F(ProfileTest, ReadsCommentsBlankLinesAndUnknownKeys) {
    const std::string path = Write(
        "\xEF\xBB\xBF# made by hand\r\n\n[s]\r\n  name = My Store  \r\n; note\nprovider=pst\n"
        "path = /p/x.pst\ncolour = blue\n");
    Profile p;
    std::string error;
    ASSERT_EQ(Profile::Load(path, &p, &error), S_OK) << error;
    ASSERT_EQ(p.Entries().size(), 1u);
    EXPECT_EQ(p.Entries()[0].displayName, "My Store");
    EXPECT_EQ(p.Entries()[0].provider, "pst");
    EXPECT_EQ(p.Entries()[0].section, "s");

    Profile empty;
    ASSERT_EQ(Profile::Load(Write(""), &empty, &error), S_OK);
    EXPECT_TRUE(empty.Entries().empty());
}

TEST_F(ProfileTest, MalformedFilesNameFileAndLine) {
    struct Case {
        std::string text;
        const char* where;
        const char* what;
    };
    const Case cases[] = {
        {"[a]\nname = x\nprovider = p\n", ":1: ", "has no path"},
        {"[a]\nname = x\npath = p\n[b]\nname=y\nprovider=p\npath=q\n", ":1: ", "has no provider"},
        {"name = x\n", ":1: ", "outside"},
        {"[a]\nname=x\nprovider=p\npath=q\n[a]\n", ":5: ", "twice"},
        {"[a]\nname=x\nprovider=p\npath=q\n[b]\nprovider=p\nname = x\npath=r\n", ":7: ",
         "on line 2"},
        {"# ok\n[a\n", ":2: ", "[name]"},
        {"[a]\njust some words\n", ":2: ", "expected"},
        {"[]\n", ":1: ", "no name"},
        {std::string("[a]\nna\0me=1\n", 12), ":2: ", "binary"},
    };
    for (const Case& c : cases) {
        const std::string path = Write(c.text);
        Profile p;
        std::string error;
        EXPECT_EQ(Profile::Load(path, &p, &error), MAPI_E_CORRUPT_DATA) << c.text;
        EXPECT_NE(error.find(path + c.where), std::string::npos) << error;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
    }
}

TEST_F(ProfileTest, MissingAndUnreadableFiles) {
    Profile p;
    std::string error;
    EXPECT_EQ(Profile::Load((dir_ / "none.ini").string(), &p, &error), MAPI_E_NOT_FOUND);
    EXPECT_NE(error.find("none.ini"), std::string::npos);
    EXPECT_EQ(Profile::Load(dir_.string(), &p, &error), MAPI_E_NO_ACCESS);
    EXPECT_NE(error.find("directory"), std::string::npos);
}

TEST_F(ProfileTest, DefaultPathFollowsEnvironment) {
    const char* saved[] = {"MAPI_PROFILE", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::pair<std::string, std::string>> restore;
    for (const char* name : saved)
        if (const char* v = std::getenv(name)) restore.emplace_back(name, v);

    setenv("HOME", "/home/u", 1);
    unsetenv("MAPI_PROFILE");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Profile::DefaultPath(), "/home/u/.config/quirnel/profile.ini");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(Profile::DefaultPath(), "/home/u/.config/quirnel/profile.ini");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(Profile::DefaultPath(), "/cfg/quirnel/profile.ini");
    setenv("MAPI_PROFILE", "/tmp/p.ini", 1);
    EXPECT_EQ(Profile::DefaultPath(), "/tmp/p.ini");

    for (const char* name : saved) unsetenv(name);
    for (const auto& [name, value] : restore) setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace
}  // namespace mapi
