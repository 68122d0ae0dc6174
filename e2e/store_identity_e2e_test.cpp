// Stores with one identity, from the outside: a cp backup of an embedded
// store, a .pst added twice, and a damaged copy of that .pst (same record
// key, other content), all in one profile, seen through mapiprofile dump
// and quirnel-copy. Each must read as its own file, a copy must land in the
// file its name picks, and no source file may change by a byte.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;  // -1 when a signal ended it (a crash)
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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Folder path -> item count, from the folder lines of a dump.
std::map<std::string, int> ItemCounts(const std::string& dump) {
    std::map<std::string, int> counts;
    for (const std::string& line : Lines(dump)) {
        if (line.rfind("folder ", 0) != 0) continue;
        const size_t at = line.find(" items=");
        counts[line.substr(7, at - 7)] = std::stoi(line.substr(at + 7));
    }
    return counts;
}

// The readable item blocks of a `dump --props`, sorted: where they sit
// differs between a store and its copy (special folders keep the target's
// names), what they hold must not.
std::vector<std::string> ItemBlocks(const std::string& dump) {
    std::vector<std::string> blocks;
    bool inItem = false;
    for (const std::string& line : Lines(dump)) {
        if (line == "  item") {
            blocks.emplace_back();
            inItem = true;
        } else if (line.rfind("folder ", 0) == 0 || line.rfind("  item error=", 0) == 0) {
            inItem = false;
        } else if (inItem) {
            blocks.back() += line + "\n";
        }
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

class StoreIdentityE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(QUIRNEL_BINARY_DIR) /
               ("store_identity_e2e_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    ToolRun Tool(const std::string& binary, std::initializer_list<std::string> args) {
        std::string command = "MAPI_PROFILE=" + Quoted(Path("profile.ini")) +
                              " XDG_DOCUMENTS_DIR=" + Quoted(dir_.string()) + " " + Quoted(binary);
        for (const std::string& a : args) command += " " + Quoted(a);
        command += " >" + Quoted(Path("out")) + " 2>" + Quoted(Path("err"));
        const int raw = std::system(command.c_str());
        ToolRun run;
        if (raw != -1 && WIFEXITED(raw) && WEXITSTATUS(raw) < 128) run.status = WEXITSTATUS(raw);
        run.out = Slurp(Path("out"));
        run.err = Slurp(Path("err"));
        return run;
    }
    void Profile(std::initializer_list<std::string> args) {
        ToolRun run = Tool(MAPIPROFILE_BIN, args);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    ToolRun Dump(const std::string& store) {
        return Tool(MAPIPROFILE_BIN, {"dump", store, "--props"});
    }

    fs::path dir_;
};

TEST_F(StoreIdentityE2eTest, ACopyIntoABackupLandsInTheBackupAndNotInItsOriginal) {
    Profile({"sample", "Original", Path("orig.qdb"), "--items", "60", "--seed", "7"});
    ASSERT_FALSE(fs::exists(Path("orig.qdb-wal")));  // closed: the file is the whole store
    fs::copy_file(Path("orig.qdb"), Path("backup.qdb"));
    Profile({"add", "Backup", Path("backup.qdb")});
    Profile({"add", "Original again", Path("orig.qdb")});

    const ToolRun original = Dump("Original");
    ASSERT_EQ(original.status, 0) << original.err;
    const ToolRun backup = Dump("Backup");
    ASSERT_EQ(backup.status, 0) << backup.err;
    EXPECT_EQ(backup.out, original.out);
    EXPECT_EQ(Dump("Original again").out, original.out);
    const std::string before = Slurp(Path("orig.qdb"));

    ToolRun copy = Tool(QUIRNEL_COPY_BIN, {"--source", "Original", "--target", "Backup"});
    ASSERT_EQ(copy.status, 0) << copy.err;

    // The backup holds each item twice now; the original is as it was.
    EXPECT_EQ(Dump("Original").out, original.out);
    const ToolRun after = Dump("Backup");
    ASSERT_EQ(after.status, 0) << after.err;
    const std::map<std::string, int> was = ItemCounts(original.out);
    const std::map<std::string, int> now = ItemCounts(after.out);
    int total = 0;
    for (const auto& [path, count] : was) {
        EXPECT_EQ(now.at(path), 2 * count) << path;
        total += count;
    }
    EXPECT_EQ(total, 60);
    EXPECT_EQ(Slurp(Path("orig.qdb")), before);
    EXPECT_TRUE(!fs::exists(Path("orig.qdb-wal")) || fs::file_size(Path("orig.qdb-wal")) == 0);
}

TEST_F(StoreIdentityE2eTest, APstAddedTwiceAndADamagedCopyOfItEachReadAsThemselves) {
    const fs::path sample = fs::path(QUIRNEL_SHARED_DIR) / "fixtures/pst/support.pst";
    fs::copy_file(sample, Path("mail.pst"));
    fs::copy_file(sample, Path("damaged.pst"));
    fs::permissions(Path("damaged.pst"), fs::perms::owner_write, fs::perm_options::add);
    {
        // 8 KiB zeroed in the middle: one item becomes unreadable, the
        // store object with its record key stays.
        std::fstream f(Path("damaged.pst"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(200000);
        const std::string zeros(8192, '\0');
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    const std::string mailBytes = Slurp(Path("mail.pst"));
    const std::string damagedBytes = Slurp(Path("damaged.pst"));
    Profile({"add", "Mail", Path("mail.pst")});
    Profile({"add", "Mail again", Path("mail.pst")});
    Profile({"add", "Damaged", Path("damaged.pst")});
    Profile({"create", "Rescue", Path("rescue.qdb")});

    const ToolRun mail = Dump("Mail");
    ASSERT_EQ(mail.status, 0) << mail.err;
    EXPECT_EQ(Dump("Mail again").out, mail.out);
    // The damaged copy shows its own damage, not the intact file's items:
    // the checking reader salvages what is sound and marks what was lost.
    const ToolRun damaged = Dump("Damaged");
    EXPECT_NE(damaged.out, mail.out);
    EXPECT_EQ(ItemCounts(damaged.out), ItemCounts(mail.out));
    const std::vector<std::string> readable = ItemBlocks(damaged.out);
    EXPECT_NE(readable, ItemBlocks(mail.out));

    // Copied from the damaged file, the rescue holds what that file holds.
    ToolRun copy = Tool(QUIRNEL_COPY_BIN, {"--source", "Damaged", "--target", "Rescue"});
    EXPECT_NE(copy.status, -1) << copy.err;
    const ToolRun rescue = Dump("Rescue");
    ASSERT_EQ(rescue.status, 0) << rescue.err;
    EXPECT_EQ(ItemBlocks(rescue.out), readable);

    EXPECT_EQ(Slurp(Path("mail.pst")), mailBytes);
    EXPECT_EQ(Slurp(Path("damaged.pst")), damagedBytes);
}

}  // namespace
