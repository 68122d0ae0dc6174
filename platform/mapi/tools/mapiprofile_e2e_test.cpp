// mapiprofile from the outside: the binary run with its own profile in a
// temporary folder, through every command, with bad input of every kind
// giving a message and a failing status, never a crash.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "quirnel_version.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    bool exited = false;  // false when a signal ended it (a crash)
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class MapiprofileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("mapiprofile_e2e_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        profile_ = dir_ / "profile.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun Run(std::initializer_list<std::string> args) {
        std::string command =
            "MAPI_PROFILE=" + Quoted(profile_.string()) + " " + Quoted(MAPIPROFILE_BIN);
        for (const std::string& a : args) command += " " + Quoted(a);
        command += " >" + Quoted((dir_ / "out").string()) + " 2>" + Quoted((dir_ / "err").string());
        int raw = std::system(command.c_str());
        ToolRun run;
        // The shell reports a signal death as 128 + signal.
        run.exited = raw != -1 && WIFEXITED(raw) && WEXITSTATUS(raw) < 128;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = Slurp(dir_ / "out");
        run.err = Slurp(dir_ / "err");
        return run;
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
    fs::path profile_;
};

void ExpectFailure(const ToolRun& run, int status, const std::string& inMessage) {
    EXPECT_TRUE(run.exited) << "crashed: " << run.err;
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_NE(run.err.find(inMessage), std::string::npos) << run.err;
}

TEST_F(MapiprofileTest, WrongUsageExits64WithOneLineAndAPointerToHelp) {
    for (auto args : {std::initializer_list<std::string>{},
                      {"frobnicate"},
                      {"create", "only-name"},
                      {"remove"},
                      {"dump", "a", "b"},
                      {"sample", "n", "p", "--items"},
                      {"sample", "n", "p", "--items", "12x"},
                      {"sample", "n", "p", "--seed", "-1"},
                      {"list", "--props"},
                      {"dump", "n", "--items", "3"},
                      {"add", "", "x"}}) {
        ToolRun run = Run(args);
        ExpectFailure(run, 64, "Try 'mapiprofile --help'.");
        EXPECT_EQ(run.err.rfind("mapiprofile: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // Help and version win over anything else on the line, and write to
    // standard output.
    for (auto args : {std::initializer_list<std::string>{"--help"},
                      {"-h"},
                      {"help"},
                      {"dump", "--help"},
                      {"frobnicate", "--help"}}) {
        ToolRun help = Run(args);
        EXPECT_EQ(help.status, 0) << help.err;
        EXPECT_EQ(help.err, "");
        EXPECT_NE(help.out.find("usage: mapiprofile"), std::string::npos);
        EXPECT_NE(help.out.find("{GUID}:\"Name\":0xTYPE=PAYLOAD"), std::string::npos);
    }
    for (auto args : {std::initializer_list<std::string>{"--version"}, {"list", "--version"}}) {
        ToolRun version = Run(args);
        EXPECT_EQ(version.status, 0) << version.err;
        EXPECT_EQ(version.out, "mapiprofile (Quirnel) " QUIRNEL_VERSION "\n");
    }
    EXPECT_FALSE(fs::exists(profile_));
}

TEST_F(MapiprofileTest, ANameAlreadyInTheProfileIsRefused) {
    ASSERT_EQ(Run({"create", "Mail", Path("a.qdb")}).status, 0);
    const std::string before = Slurp(profile_);
    ExpectFailure(Run({"create", "Mail", Path("b.qdb")}), 1, "already has a store named 'Mail'");
    EXPECT_FALSE(fs::exists(Path("b.qdb")));
    ExpectFailure(Run({"add", "Mail", Path("a.qdb")}), 1, "already has a store named 'Mail'");
    std::string pst = std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/outlook.pst";
    ExpectFailure(Run({"add", "Mail", pst}), 1, "already has a store named 'Mail'");
    ExpectFailure(Run({"sample", "Mail", Path("c.qdb"), "--items", "5"}), 1,
                  "already has a store named 'Mail'");
    EXPECT_FALSE(fs::exists(Path("c.qdb")));
    EXPECT_EQ(Slurp(profile_), before);
    // Names differ by case and by spaces, and a removed name is free again.
    EXPECT_EQ(Run({"add", "mail", Path("a.qdb")}).status, 0);
    EXPECT_EQ(Run({"remove", "Mail"}).status, 0);
    EXPECT_EQ(Run({"add", "Mail", pst}).status, 0);
}

TEST_F(MapiprofileTest, CreateAddListRemove) {
    ToolRun empty = Run({"list"});
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(empty.out, "");

    ASSERT_EQ(Run({"create", "Rescued mail", Path("rescued.qdb")}).status, 0);
    ASSERT_EQ(Run({"add", "Second view", Path("rescued.qdb")}).status, 0);
    std::string pst = std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/outlook.pst";
    ToolRun addPst = Run({"add", "Old mail", pst});
    EXPECT_EQ(addPst.status, 0) << addPst.err;

    ToolRun list = Run({"list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "Rescued mail\tembedded\t" + Path("rescued.qdb") + "\n" +
                            "Second view\tembedded\t" + Path("rescued.qdb") + "\n" +
                            "Old mail\tpst-checked\t" + fs::path(pst).lexically_normal().string() + "\n");

    EXPECT_EQ(Run({"remove", "Second view"}).status, 0);
    ExpectFailure(Run({"remove", "Second view"}), 1, "no store named 'Second view'");
    list = Run({"list"});
    EXPECT_EQ(list.out.find("Second view"), std::string::npos);
    EXPECT_NE(list.out.find("Old mail\tpst"), std::string::npos);
}

TEST_F(MapiprofileTest, CreateRefusesExistingFilesAndMakesPersonalFolderFiles) {
    ASSERT_EQ(Run({"create", "A", Path("a.qdb")}).status, 0);
    ExpectFailure(Run({"create", "B", Path("a.qdb")}), 1, "already exists");
    // A .pst name gets a new personal folder file from our own writer.
    ToolRun pst = Run({"create", "C", Path("new.pst")});
    EXPECT_EQ(pst.status, 0) << pst.err;
    EXPECT_TRUE(fs::exists(Path("new.pst")));
    ExpectFailure(Run({"create", "E", Path("new.pst")}), 1, "already exists");
    ExpectFailure(Run({"create", "D", Path("no/such/folder/d.qdb")}), 1, "cannot create");
    ToolRun list = Run({"list"});
    EXPECT_EQ(list.out, "A\tembedded\t" + Path("a.qdb") + "\nC\tpst-writer\t" + Path("new.pst") + "\n");
}

TEST_F(MapiprofileTest, StoresAndTheProfileAreTheOwnersAloneAndNamesAreChecked) {
    const fs::perms file = fs::perms::owner_read | fs::perms::owner_write;
    ASSERT_EQ(Run({"create", "A", Path("a.qdb")}).status, 0);
    ASSERT_EQ(Run({"create", "P", Path("p.pst")}).status, 0);
    ASSERT_EQ(Run({"create", "M", Path("maildir"), "--kind", "maildir"}).status, 0);
    EXPECT_EQ(fs::status(Path("a.qdb")).permissions(), file);
    EXPECT_EQ(fs::status(Path("p.pst")).permissions(), file);
    EXPECT_EQ(fs::status(Path("maildir")).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(profile_).permissions(), file);

    // A refused name leaves no store behind.
    const std::string before = Slurp(profile_);
    ExpectFailure(Run({"create", "two\nlines", Path("b.qdb")}), 1, "line break");
    EXPECT_FALSE(fs::exists(Path("b.qdb")));
    EXPECT_EQ(Slurp(profile_), before);

    // A hand-edited profile: a name that would drive the terminal is
    // shown escaped; two entries of one name are an error naming the line.
    std::ofstream(profile_) << "[s1]\nname = Red\x1b[31m\tX\nprovider = embedded\npath = "
                            << Path("a.qdb") << "\n";
    EXPECT_EQ(Run({"list"}).out, "Red\\x1B[31m\\x09X\tembedded\t" + Path("a.qdb") + "\n");
    std::ofstream(profile_, std::ios::app)
        << "[s2]\nname = Red\x1b[31m\tX\nprovider = embedded\npath = /x.qdb\n";
    ExpectFailure(Run({"list"}), 1, ":6: the name");
}

TEST_F(MapiprofileTest, AddRefusesWhatIsNotAStoreAndLeavesItAlone) {
    std::ofstream(Path("notes.txt")) << "just some text, not a store\n";
    ExpectFailure(Run({"add", "Notes", Path("notes.txt")}), 1, "is not a message store");
    ExpectFailure(Run({"add", "Gone", Path("missing.qdb")}), 1, "is not a file");
    // A directory can be a store (Maildir, mbox, .eml folders); an empty one is none.
    fs::create_directories(Path("folder.qdb"));
    ExpectFailure(Run({"add", "Folder", Path("folder.qdb")}), 1, "is not a message store");

    // A store cut short: recognised or not, it must be refused cleanly.
    ASSERT_EQ(Run({"create", "Whole", Path("whole.qdb")}).status, 0);
    fs::copy_file(Path("whole.qdb"), Path("cut.qdb"));
    fs::resize_file(Path("cut.qdb"), fs::file_size(Path("cut.qdb")) / 2 + 1);
    std::string before = Slurp(Path("cut.qdb"));
    ToolRun cut = Run({"add", "Cut", Path("cut.qdb")});
    EXPECT_TRUE(cut.exited);
    EXPECT_EQ(cut.status, 1) << cut.out;
    EXPECT_FALSE(cut.err.empty());
    EXPECT_EQ(Slurp(Path("cut.qdb")), before);

    // A damaged personal folder file: its first page zeroed.
    std::string pst = Slurp(std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/outlook.pst");
    std::fill(pst.begin(), pst.begin() + 512, '\0');
    std::ofstream(Path("zeroed.pst"), std::ios::binary) << pst;
    ExpectFailure(Run({"add", "Zeroed", Path("zeroed.pst")}), 1, "zeroed.pst");
    EXPECT_EQ(Run({"list"}).out, "Whole\tembedded\t" + Path("whole.qdb") + "\n");
}

TEST_F(MapiprofileTest, MalformedProfileIsReportedNotOverwritten) {
    std::ofstream(profile_) << "[store1]\nname=A\nthis line is not a pair\n";
    std::string before = Slurp(profile_);
    ExpectFailure(Run({"list"}), 1, "cannot read the profile");
    ExpectFailure(Run({"create", "B", Path("b.qdb")}), 1, "cannot read the profile");
    ExpectFailure(Run({"remove", "A"}), 1, "cannot read the profile");
    ExpectFailure(Run({"dump", "A"}), 1, "cannot log on");
    EXPECT_EQ(Slurp(profile_), before);
    EXPECT_FALSE(fs::exists(Path("b.qdb")));
}

TEST_F(MapiprofileTest, SampleThenDump) {
    ToolRun sample =
        Run({"sample", "Sample mail", Path("sample.qdb"), "--items", "120", "--seed", "3"});
    ASSERT_EQ(sample.status, 0) << sample.err;
    EXPECT_NE(sample.out.find("sample Sample mail:"), std::string::npos);
    ExpectFailure(Run({"sample", "Again", Path("sample.qdb")}), 1, "already exists");

    ToolRun dump = Run({"dump", "Sample mail"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    std::istringstream lines(dump.out);
    std::string line;
    int folders = 0, items = 0, specials = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.rfind("folder \\", 0), 0u) << line;
        size_t at = line.find(" items=");
        ASSERT_NE(at, std::string::npos) << line;
        items += std::stoi(line.substr(at + 7));
        specials += line.find(" special=") != std::string::npos;
        ++folders;
    }
    EXPECT_EQ(items, 120);
    EXPECT_EQ(specials, 4);
    EXPECT_GE(folders, 20);
    EXPECT_NE(dump.out.find("folder \\Kunden\\M\xC3\xBCller GmbH items="), std::string::npos);

    ToolRun props = Run({"dump", "Sample mail", "--props"});
    ASSERT_EQ(props.status, 0) << props.err;
    EXPECT_EQ(Run({"dump", "Sample mail", "--props"}).out, props.out);
    EXPECT_NE(props.out.find("\n  item\n    0x"), std::string::npos);
    EXPECT_NE(props.out.find("    recipient\n      0x"), std::string::npos);

    ExpectFailure(Run({"dump", "No such store"}), 1, "no store named 'No such store'");
}

TEST_F(MapiprofileTest, DumpWithoutAProfileSaysWhy) {
    ExpectFailure(Run({"dump", "Anything"}), 1, "cannot log on");
}

TEST_F(MapiprofileTest, DumpOfAStoreThatIsGoneOrDamagedSaysWhy) {
    ASSERT_EQ(Run({"create", "Gone", Path("gone.qdb")}).status, 0);
    ASSERT_EQ(Run({"create", "Broken", Path("broken.qdb")}).status, 0);
    fs::remove(Path("gone.qdb"));
    std::ofstream(Path("broken.qdb"), std::ios::trunc) << "no longer a database";
    ExpectFailure(Run({"dump", "Gone"}), 1,
                  "the store 'Gone' (" + Path("gone.qdb") + ") cannot be opened: ");
    ExpectFailure(Run({"dump", "Broken", "--props"}), 1, "cannot be opened: ");
}

TEST_F(MapiprofileTest, DumpOfAPersonalFolderFile) {
    std::string pst = std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/outlook.pst";
    ASSERT_EQ(Run({"add", "Old mail", pst}).status, 0);
    ToolRun dump = Run({"dump", "Old mail", "--props"});
    EXPECT_TRUE(dump.exited) << dump.err;
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out.rfind("folder \\", 0), 0u) << dump.out.substr(0, 200);
}

// Peak resident memory (KiB) of `mapiprofile dump NAME --props`, its
// output thrown away; -1 when it could not be run or failed.
long PeakKibOfDump(const fs::path& profile, const std::string& name) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    setenv("MAPI_PROFILE", profile.c_str(), 1);
    std::string bin = MAPIPROFILE_BIN, dump = "dump", store = name, props = "--props";
    char* argv[] = {bin.data(), dump.data(), store.data(), props.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv("MAPI_PROFILE");
    if (spawned != 0) return -1;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// The dump reads a folder's items a batch at a time and sorts them through
// a temporary file: six times the items must not take more memory to speak
// of (holding a folder's text took about 2.5 MB per 1,000 items).
TEST_F(MapiprofileTest, DumpMemoryStaysFlatAsFoldersGrow) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory hides the dump's";
#endif
    ASSERT_EQ(Run({"sample", "Small", Path("small.qdb"), "--items", "2000"}).status, 0);
    ASSERT_EQ(Run({"sample", "Large", Path("large.qdb"), "--items", "12000"}).status, 0);
    const long small = PeakKibOfDump(profile_, "Small");
    const long large = PeakKibOfDump(profile_, "Large");
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    RecordProperty("peak_kib_2000_items", static_cast<int>(small));
    RecordProperty("peak_kib_12000_items", static_cast<int>(large));
    EXPECT_LT(large - small, 8 * 1024)
        << "2,000 items: " << small << " KiB, 12,000 items: " << large << " KiB";

    // Sorted through runs on disk, each folder's items still come out in
    // order of their text.
    ToolRun dump = Run({"dump", "Large", "--props"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    std::vector<std::string> blocks;
    int items = 0;
    std::istringstream lines(dump.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("folder ", 0) == 0) {
            EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end()));
            blocks.clear();
        } else if (line == "  item") {
            blocks.emplace_back();
            ++items;
        } else if (!blocks.empty()) {
            blocks.back() += line + "\n";
        }
    }
    EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end()));
    EXPECT_EQ(items, 12000);
}

}  // namespace
