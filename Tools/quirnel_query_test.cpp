// End-to-end tests of quirnel-query: the printed lines and exit statuses,
// run as a user would run the program.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <runtime/profile.h>
#include <runtime/provider.h>

namespace {

struct Result {
    std::string out;
    int status = -1;
};

// Runs quirnel-query with args (already quoted for the shell), by default
// without a profile, so named fields resolve against a fresh temporary store.
Result RunQuery(const std::string& args,
                const std::string& profile = "/nonexistent/quirnel-test/profile.ini") {
    const std::string command = "MAPI_PROFILE=" + profile + " " +
                                std::string(QUIRNEL_QUERY_BINARY) + " " + args + " 2>/dev/null";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(QuirnelQuery, PrintsWhatTheCompilerProduced) {
    struct Case {
        const char* args;
        const char* out;
        int status;
    };
    const Case cases[] = {
        {"'Subject = \"abc\" and MessageSize > 1000'",
         "restriction: and(property(GT, 0x0E080003, 0x0E080003=1000), "
         "property(EQ, 0x0037001E, 0x0037001E=\"abc\"))\n",
         0},
        {"'LastModificationTime > Date(1,2,2006)'",
         "restriction: property(GT, 0x30080040, 0x30080040=2006-02-01T00:00:00)\n", 0},
        {"'Categories = \"x\" or Email1Address = \"a@b\"'",
         "restriction: or(property(EQ, 0x8001001E, 0x8001001E=\"a@b\"), "
         "property(EQ, 0x8000101E, 0x8000001E=\"x\"))\n",
         0},
        {"'select Subject where MessageSize > 1 order by descending MessageSize, combine Subject'",
         "restriction: property(GT, 0x0E080003, 0x0E080003=1)\n"
         "columns: 0x0037001E, 0x0E080003\n"
         "sort: 0x0E080003 DESC, 0x0037001E COMBINE; categories 1\n",
         0},
        {"''", "restriction: none\n", 0},
        {"'Foo = \"abc\"'", "error: \" Neither Foo nor abc is a keyword\"\n", 1},
        {"'(Subject = \"a\"'", "error: \" Syntax error expeced ')'\\x0A\"\n", 1},
        {"", "", 64},
        {"a b", "", 64},
        // What the language does not read is shown, the rest stays as it was.
        {"'Subject contains \"invoice\"'",
         "restriction: none\nunread: \"contains \\\"invoice\\\"\"\n", 0},
        {"'Subject = \"a\" foo '",
         "restriction: property(EQ, 0x0037001E, 0x0037001E=\"a\")\nunread: \"foo\"\n", 0},
        {"'MessageSize > abc'",
         "error: \" Not a number: \\\"abc\\\" (a numeric field compares with numbers only)\"\n", 1},
        {"'MessageSize > 12'", "restriction: property(GT, 0x0E080003, 0x0E080003=12)\n", 0},
        {"--", "", 64},
        {"--bogus 'Subject = \"a\"'", "", 64},
        {"-- --help", "restriction: none\nunread: \"--help\"\n", 0},
    };
    for (const Case& c : cases) {
        Result r = RunQuery(c.args);
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(r.status, c.status) << c.args;
    }
}

TEST(QuirnelQuery, HelpAndVersionAreNotCompiledAsQueries) {
    Result help = RunQuery("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: quirnel-query", 0), 0u) << help.out;
    Result version = RunQuery("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quirnel-query ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.find("restriction"), std::string::npos);
}

TEST(QuirnelQuery, AnUnknownStoreIsReportedWithoutOutput) {
    Result r = RunQuery("--store Nowhere 'Subject = \"a\"'");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 2);
}

TEST(QuirnelQuery, NamedFieldsResolveInTheStoreNamed) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("quirnel_query_store_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string storePath = (dir / "mail.store").string();
    std::string error;
    ASSERT_EQ(mapi::FindProvider("embedded")->CreateStore(storePath, "Mail", &error), S_OK)
        << error;
    mapi::Profile profile;
    profile.Add("Mail", "embedded", storePath);
    const std::string profilePath = (dir / "profile.ini").string();
    ASSERT_EQ(profile.Save(profilePath, &error), S_OK) << error;

    // The store keeps its names: a second run finds Categories at 0x8000 again
    // and gives Email1Address the next identifier.
    Result first = RunQuery("--store Mail 'Categories = \"x\"'", profilePath);
    EXPECT_EQ(first.out, "restriction: property(EQ, 0x8000101E, 0x8000001E=\"x\")\n");
    Result second =
        RunQuery("--store mail 'Email1Address = \"a\" or Categories = \"y\"'", profilePath);
    EXPECT_EQ(second.out,
              "restriction: or(property(EQ, 0x8000101E, 0x8000001E=\"y\"), "
              "property(EQ, 0x8001001E, 0x8001001E=\"a\"))\n");
    EXPECT_EQ(second.status, 0);
    fs::remove_all(dir);
}

}  // namespace
