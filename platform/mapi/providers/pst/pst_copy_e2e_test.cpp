// End to end: each sample personal folder file is added to a profile with
// mapiprofile, copied with quirnel-copy into a new embedded store, and the
// target's dump --props must show every item of the source unchanged, with
// the special folders mapped onto the target's.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "providers/pst/pst_test_support.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

const std::string kMapiprofile =
    std::string(QUIRNEL_BINARY_DIR) + "/platform/mapi/tools/mapiprofile";
const std::string kQuirnelCopy = std::string(QUIRNEL_BINARY_DIR) + "/copy/quirnel-copy";

// Runs command with the test's profile; returns its exit status and stdout.
int RunTool(const std::string& command, std::string* out) {
    out->clear();
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct DumpedFolder {
    std::string special;  // "" or inbox/outbox/wastebasket/sentmail
    ULONG items = 0;
    std::multiset<std::string> blocks;  // each item's property lines
};

// folder path -> contents, from the output of dump --props.
std::map<std::string, DumpedFolder> ParseDump(const std::string& text) {
    std::map<std::string, DumpedFolder> folders;
    std::istringstream in(text);
    std::string line, current, block;
    bool inItem = false;
    auto flush = [&] {
        if (inItem) folders[current].blocks.insert(block);
        inItem = false;
        block.clear();
    };
    while (std::getline(in, line)) {
        if (line.rfind("folder ", 0) == 0) {
            flush();
            size_t itemsAt = line.rfind(" items=");
            current = line.substr(7, itemsAt - 7);
            DumpedFolder& folder = folders[current];
            std::string rest = line.substr(itemsAt + 7);
            folder.items = static_cast<ULONG>(std::stoul(rest));
            size_t special = rest.find(" special=");
            if (special != std::string::npos) folder.special = rest.substr(special + 9);
        } else if (line == "  item") {
            flush();
            inItem = true;
        } else if (inItem) {
            block += line + "\n";
        }
    }
    flush();
    return folders;
}

std::string SpecialPath(const std::map<std::string, DumpedFolder>& folders,
                        const std::string& which) {
    for (const auto& [path, folder] : folders)
        if (folder.special == which) return path;
    return "";
}

class PstCopyEndToEnd : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kMapiprofile) || !std::filesystem::exists(kQuirnelCopy))
            GTEST_SKIP() << "mapiprofile and quirnel-copy are not built in " << QUIRNEL_BINARY_DIR;
        dir_ = MakeTempDir();
        ASSERT_FALSE(dir_.empty());
        setenv("MAPI_PROFILE", (dir_ + "/profile.ini").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    std::string dir_;
};

TEST_P(PstCopyEndToEnd, TargetDumpShowsEveryItemOfTheSource) {
    std::string out;
    ASSERT_EQ(RunTool(kMapiprofile + " add Source '" + SamplePath(GetParam()) + "'", &out), 0);
    ASSERT_EQ(RunTool(kMapiprofile + " create Target '" + dir_ + "/target.qdb'", &out), 0);
    std::string sourceDump, targetDump, log;
    ASSERT_EQ(RunTool(kMapiprofile + " dump --props Source", &sourceDump), 0);
    ASSERT_EQ(RunTool(kQuirnelCopy + " --source Source --target Target", &log), 0);
    ASSERT_EQ(RunTool(kMapiprofile + " dump --props Target", &targetDump), 0);
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;

    auto source = ParseDump(sourceDump);
    auto target = ParseDump(targetDump);
    ASSERT_FALSE(source.empty());

    // Special folders of the source become the target's special folders; the
    // deleted items go into the target's own deleted items folder.
    std::map<std::string, std::string> targetPathOf;
    for (const char* which : {"inbox", "outbox", "wastebasket", "sentmail"}) {
        std::string from = SpecialPath(source, which);
        if (from.empty()) continue;
        std::string to = SpecialPath(target, which);
        EXPECT_FALSE(to.empty()) << which << " of the source is not special in the target";
        if (std::string(which) == "wastebasket")
            targetPathOf[from] = to;
        else
            EXPECT_EQ(to, from) << which;
    }

    for (const auto& [path, folder] : source) {
        std::string targetPath = targetPathOf.count(path) ? targetPathOf[path] : path;
        auto found = target.find(targetPath);
        ASSERT_NE(found, target.end()) << path << " is missing in the target";
        // A source folder whose name the target's skeleton already has is
        // merged into it: the target holds at least the source's items.
        for (const std::string& block : folder.blocks)
            EXPECT_EQ(found->second.blocks.count(block), folder.blocks.count(block))
                << "item of " << path << " differs in the target:\n"
                << block;
    }
}

// A file cut short: the run logs what the cut lost as it begins, names every
// item that fails by its folder and node, says what damage it met before
// the summary, and ends with exit 3.
TEST_P(PstCopyEndToEnd, ACutFileIsCopiedWithItsDamageAccounted) {
    std::string cut = dir_ + "/cut.pst";
    std::filesystem::copy_file(SamplePath(GetParam()), cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) * 3 / 5 / 512 * 512);
    std::string out, log;
    ASSERT_EQ(RunTool(kMapiprofile + " add Source '" + cut + "'", &out), 0);
    ASSERT_EQ(RunTool(kMapiprofile + " create Target '" + dir_ + "/target.qdb'", &out), 0);
    EXPECT_EQ(RunTool(kQuirnelCopy + " --source Source --target Target", &log), 3) << log;
    EXPECT_NE(log.find("Damaged source: The file ends at "), std::string::npos) << log;
    std::istringstream lines(log);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.back().rfind("Summary: ", 0), 0u);
    EXPECT_EQ(all[all.size() - 2].rfind("Damage: salvaged ", 0), 0u) << all[all.size() - 2];
    for (size_t i = 1; i < all.size(); ++i) {
        if (all[i].rfind("Error ", 0) != 0) continue;
        EXPECT_TRUE(all[i - 1].rfind("copy message \\", 0) == 0 && all[i - 1].find(" (node 0x") != std::string::npos)
            << all[i - 1];
    }
}

// A file cut where nothing of its folders' contents is left: no "copied 0"
// as if the store were empty, but a run that failed, with its reason.
TEST_F(PstCopyEndToEnd, ADamagedFileThatListsNothingFailsTheRun) {
    std::string cut = dir_ + "/cut.pst";
    std::filesystem::copy_file(SamplePath("passworded.pst"), cut);
    std::filesystem::resize_file(cut, 44226);
    std::string out, log;
    ASSERT_EQ(RunTool(kMapiprofile + " add Source '" + cut + "'", &out), 0);
    ASSERT_EQ(RunTool(kMapiprofile + " create Target '" + dir_ + "/target.qdb'", &out), 0);
    EXPECT_EQ(RunTool(kQuirnelCopy + " --source Source --target Target", &log), 1) << log;
    EXPECT_NE(log.find("Damaged source: The file ends at 44,226 bytes"), std::string::npos) << log;
    EXPECT_NE(log.find("Nothing could be listed from the damaged source\nDamage: "), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Samples, PstCopyEndToEnd, ::testing::ValuesIn(SampleNames()),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace mapi::pst
