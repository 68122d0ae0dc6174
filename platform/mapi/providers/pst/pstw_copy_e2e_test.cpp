// End to end: each sample file and a generated store are copied with
// quirnel-copy into a new .pst made by our writer; the new file must open in
// pffinfo without a warning, export with pffexport and readpst with the
// target's folders and item counts, and read back through libpff (the "pst"
// provider) with every item of the source unchanged, but for the values the
// writer recomputes (named in the comparison).
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "providers/pst/pst_test_support.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

const std::string kMapiprofile = std::string(QUIRNEL_BINARY_DIR) + "/platform/mapi/tools/mapiprofile";
const std::string kQuirnelCopy = std::string(QUIRNEL_BINARY_DIR) + "/copy/quirnel-copy";

// The shared folder sits beside the source tree; a checkout elsewhere names
// it in QUIRNEL_SHARED_DIR.
std::string Sample(const std::string& name) {
    const char* env = std::getenv("QUIRNEL_SHARED_DIR");
    std::string shared = env != nullptr && *env != 0 ? env : QUIRNEL_SHARED_DIR;
    return shared + "/fixtures/pst/" + name;
}

// Exit status and standard output (standard error into *err when given).
int RunCommand(const std::string& command, std::string* out, std::string* err = nullptr) {
    std::string errFile = std::filesystem::temp_directory_path() / ("pstw-e2e-err-" + std::to_string(getpid()));
    out->clear();
    FILE* pipe = popen((command + " 2>'" + errFile + "'").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
    int status = pclose(pipe);
    if (err != nullptr) {
        std::ifstream in(errFile);
        std::stringstream text;
        text << in.rdbuf();
        *err = text.str();
    }
    std::filesystem::remove(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Folder {
    unsigned items = 0;
    std::multiset<std::string> blocks;
};

// Lines the writer recomputes or the file format adds, left out of both
// dumps: PR_ATTACH_SIZE is the attachment's size as this file stores it;
// PidTagLtpRowId/PidTagLtpRowVer are the recipient table's own row columns,
// which libpff reports as recipient properties (so recipients from a store
// that has no such table gain them).
bool Recomputed(const std::string& line, const std::string& section) {
    if (section == "attachment" && line.find("0x0E200003=") != std::string::npos) return true;
    if (section == "recipient" &&
        (line.find("0x67F20003=") != std::string::npos || line.find("0x67F30003=") != std::string::npos))
        return true;
    return false;
}

std::map<std::string, Folder> ParseDump(const std::string& text) {
    std::map<std::string, Folder> folders;
    std::istringstream in(text);
    std::string line, current, block, section;
    bool inItem = false;
    auto flush = [&] {
        if (inItem) folders[current].blocks.insert(block);
        inItem = false;
        block.clear();
    };
    const std::regex folderLine("folder (.*) items=([0-9]+).*");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, folderLine)) {
            flush();
            current = m[1];
            folders[current].items = static_cast<unsigned>(std::stoul(m[2]));
        } else if (line == "  item") {
            flush();
            inItem = true;
            section = "item";
        } else if (inItem) {
            std::string trimmed = line.substr(line.find_first_not_of(' '));
            if (trimmed == "recipient" || trimmed == "attachment") section = trimmed;
            if (!Recomputed(line, section)) block += line + "\n";
        }
    }
    flush();
    return folders;
}

class PstWriterEndToEnd : public ::testing::TestWithParam<std::string> {
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

// Copies the store named Source into a new .pst and checks it with every
// reader.
void CheckCopyIntoNewPst(const std::string& dir) {
    std::string out, err;
    const std::string target = dir + "/target.pst";
    ASSERT_EQ(RunCommand(kMapiprofile + " create Target '" + target + "'", &out), 0);
    ASSERT_EQ(RunCommand(kQuirnelCopy + " --source Source --target Target", &out), 0) << out;
    ASSERT_EQ(RunCommand(kMapiprofile + " add Check '" + target + "'", &out), 0);
    {
        // .pst files go to our own checking reader by default; this check
        // wants libpff, the independent reader.
        std::string profilePath = dir + "/profile.ini";
        std::ifstream in(profilePath);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        size_t at = text.rfind("provider = pst-checked");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, std::string("provider = pst-checked").size(), "provider = pst");
        std::ofstream(profilePath, std::ios::trunc) << text;
    }
    std::string sourceDump, targetDump, writerDump;
    ASSERT_EQ(RunCommand(kMapiprofile + " dump --props Source", &sourceDump), 0);
    ASSERT_EQ(RunCommand(kMapiprofile + " dump --props Check", &targetDump, &err), 0) << err;
    EXPECT_EQ(err, "") << "libpff reading our file";
    ASSERT_EQ(RunCommand(kMapiprofile + " dump --props Target", &writerDump), 0);
    auto source = ParseDump(sourceDump);
    auto check = ParseDump(targetDump);
    auto writer = ParseDump(writerDump);

    // Every source item arrives unchanged as libpff reads it; our own reader
    // agrees with libpff item for item.
    unsigned total = 0;
    for (const auto& [path, folder] : source) {
        auto found = check.find(path);
        ASSERT_NE(found, check.end()) << path << " is missing in the new file";
        for (const std::string& block : folder.blocks)
            EXPECT_EQ(found->second.blocks.count(block), folder.blocks.count(block))
                << "item of " << path << " differs in the new file:\n"
                << block;
    }
    for (const auto& [path, folder] : check) {
        total += folder.items;
        ASSERT_TRUE(writer.count(path)) << path;
        EXPECT_EQ(writer[path].blocks, folder.blocks) << path;
    }

    // pffinfo opens it without a word of complaint.
    ASSERT_EQ(RunCommand("pffinfo '" + target + "'", &out, &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("Encryption type:\tcompressible"), std::string::npos) << out;

    // pffexport gives each folder its items.
    std::map<std::string, ULONG> counts;
    std::string root;
    ASSERT_TRUE(PffexportCounts(target, dir + "/pff", &counts, &root));
    for (const auto& [path, folder] : check) {
        std::string relative = "Top of Personal Folders" + path;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        EXPECT_GE(counts[relative], folder.items) << relative;
    }

    // readpst walks every folder and item without a warning.
    std::filesystem::create_directories(dir + "/readpst");
    // -D: readpst leaves the deleted items folder out unless asked.
    ASSERT_EQ(RunCommand("readpst -D -o '" + dir + "/readpst' '" + target + "'", &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    unsigned done = 0;
    const std::regex summary("\"[^\"]*\" - ([0-9]+) items done, ([0-9]+) items skipped\\.");
    for (std::sregex_iterator it(out.begin(), out.end(), summary), end; it != end; ++it)
        done += static_cast<unsigned>(std::stoul((*it)[1]) + std::stoul((*it)[2]));
    EXPECT_GE(done, total) << out;
}

TEST_P(PstWriterEndToEnd, TheNewFileHoldsTheSourceForEveryReader) {
    std::string out;
    if (GetParam() == "generated")
        ASSERT_EQ(RunCommand(kMapiprofile + " sample Source '" + dir_ + "/source.qdb' --items 300", &out), 0);
    else
        ASSERT_EQ(RunCommand(kMapiprofile + " add Source '" + Sample(GetParam()) + "'", &out), 0);
    CheckCopyIntoNewPst(dir_);
}

// The 3,000-item store takes a minute or more: run it with
// QUIRNEL_LARGE_TESTS=1.
TEST_F(PstWriterEndToEnd, AThreeThousandItemStore) {
    const char* large = std::getenv("QUIRNEL_LARGE_TESTS");
    if (large == nullptr || std::string(large) != "1") GTEST_SKIP() << "set QUIRNEL_LARGE_TESTS=1 to run";
    std::string out;
    ASSERT_EQ(RunCommand(kMapiprofile + " sample Source '" + dir_ + "/source.qdb' --items 3000", &out), 0);
    CheckCopyIntoNewPst(dir_);
}

std::vector<std::string> Sources() {
    std::vector<std::string> names = SampleNames();
    names.push_back("generated");
    return names;
}

INSTANTIATE_TEST_SUITE_P(Sources, PstWriterEndToEnd, ::testing::ValuesIn(Sources()), [](const auto& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

}  // namespace
}  // namespace mapi::pst
