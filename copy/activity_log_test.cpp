// Tests of the activity log's line cut and of where the log file is found.
#include "activity_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "copy_host.h"
#include "log_location.h"
#include "progress_text.h"

namespace {

TEST(ActivityLogCut, CutsAfter511BytesWithoutSplittingACharacter) {
    struct Case {
        std::string line;
        size_t kept;
    } cases[] = {
        {std::string(511, 'x'), 511},
        {std::string(512, 'x'), 511},
        {std::string(510, 'x') + "\xC3\xA4", 510},        // a two-byte letter across the cut
        {std::string(509, 'x') + "\xC3\xA4" + "y", 511},  // ends exactly at the cut
        {std::string(509, 'x') + "\xE2\x82\xAC", 509},    // a three-byte sign across it
        {std::string(600, '\x80'), 508},                  // not UTF-8: at most three bytes go
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.size());
        std::string cut = quirnel::CActivityLog::Cut(c.line);
        EXPECT_EQ(cut, c.line.substr(0, c.kept));
    }
}

// Sets or removes an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(LogLocation, FollowsTheXdgUserDirectories) {
    namespace fs = std::filesystem;
    const fs::path home = fs::path(QUIRNEL_BINARY_DIR) / "log_location_test" / "home";
    fs::remove_all(home.parent_path());
    fs::create_directories(home / ".config");
    const std::string dirs = (home / ".config" / "user-dirs.dirs").string();

    struct Case {
        const char* name;
        std::optional<std::string> xdgDocuments;
        std::optional<std::string> userDirs;  // contents of user-dirs.dirs
        std::string expected;
    } cases[] = {
        {"environment first", "/data/docs/", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
         "/data/docs"},
        {"user-dirs relative to home", std::nullopt,
         "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
         home.string() + "/Dokumente"},
        {"user-dirs absolute", "", "XDG_DOCUMENTS_DIR=\"/srv/papers\"\n", "/srv/papers"},
        {"user-dirs unusable", std::nullopt, "XDG_DOCUMENTS_DIR=Documents\n", home.string()},
        {"no user-dirs", std::nullopt, std::nullopt, home.string()},
    };
    ScopedEnv homeEnv("HOME", home.string());
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dirs);
        if (c.userDirs) std::ofstream(dirs) << *c.userDirs;
        ScopedEnv docs("XDG_DOCUMENTS_DIR", c.xdgDocuments);
        EXPECT_EQ(quirnel::DocumentsFolder(), c.expected);
        EXPECT_EQ(quirnel::LogFilePath(), c.expected + "/quirnel.log");
    }
}

class ListHost : public quirnel::CCopyHost {
public:
    std::vector<std::string> lines;
    std::atomic<bool> stop{false};
    void SetStartEnabled(bool) override {}
    std::string SourceStoreName() override { return {}; }
    std::string TargetStoreName() override { return {}; }
    std::string QueryText() override { return {}; }
    std::atomic<bool>& StopFlag() override { return stop; }
    void SetProgressText(const std::string&) override {}
    void AppendActivityLine(const std::string& line) override { lines.push_back(line); }
    void ShowMessageBox(const std::string&, const std::string&) override {}
};

TEST(ActivityLog, AFileThatCannotBeOpenedLeavesTheLinesToTheList) {
    ListHost host;
    quirnel::CActivityLog log(host);
    EXPECT_FALSE(log.Open("/nonexistent-folder/quirnel.log"));
    log.LogLine("Copy folder %s to %s", "\\A", "A");
    EXPECT_EQ(host.lines, std::vector<std::string>{"Copy folder \\A to A"});
}

TEST(ActivityLogStoreText, ControlCharactersAreEscapedAndTheReasonSurvivesTheCut) {
    using quirnel::CActivityLog;
    // A line break would make two log entries of one; ESC would drive a
    // terminal. Everything else, UTF-8 and backslashes, stays.
    EXPECT_EQ(CActivityLog::Escaped("Ne\nws\x1B[2J\x7F\t\\Ä"), "Ne\\x0Aws\\x1B[2J\\x7F\\x09\\Ä");
    EXPECT_EQ(CActivityLog::Escaped(std::string("a\0b", 3)), "a\\x00b");

    const std::string reason = ": MAPI_E_NO_ACCESS";
    EXPECT_EQ(CActivityLog::Fit("Skip folder ", "\\A", reason), "Skip folder \\A" + reason);
    // A path of two-byte letters: shortened at a character boundary, marked,
    // and the reason kept whole within the 511 bytes.
    std::string path;
    for (int i = 0; i < 400; ++i) path += "\xC3\xA4";
    std::string line = CActivityLog::Fit("Skip folder ", path, reason);
    EXPECT_LE(line.size(), CActivityLog::kMaxLine);
    EXPECT_GE(line.size(), CActivityLog::kMaxLine - 1);
    EXPECT_EQ(line.substr(line.size() - reason.size() - 3), "..." + reason);
    EXPECT_EQ(line.rfind("Skip folder \xC3\xA4", 0), 0u);
    size_t letters = line.size() - reason.size() - 3 - 12;
    EXPECT_EQ(letters % 2, 0u);
    // A head and tail too long by themselves fall back to the plain cut.
    std::string head(600, 'h');
    EXPECT_EQ(CActivityLog::Fit(head, "m", "t"), CActivityLog::Cut(head + "mt"));
}

TEST(ProgressText, EnglishUnlessTheMessagesLocaleIsGerman) {
    EXPECT_EQ(quirnel::ProgressText(32, 250, false), "32 of 250");
    EXPECT_EQ(quirnel::ProgressText(32, 250, true), "32 vom 250");
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        bool german;
    } cases[] = {
        {nullptr, nullptr, nullptr, false},     {nullptr, nullptr, "de_DE.UTF-8", true},
        {nullptr, nullptr, "en_US.UTF-8", false}, {"C", nullptr, "de_DE.UTF-8", false},
        {"", "de_AT", "en_GB", true},           {nullptr, nullptr, "de", true},
        {nullptr, nullptr, "dev", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quirnel::GermanMessages(c.all, c.messages, c.lang), c.german)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
            << (c.lang ? c.lang : "-");
}

}  // namespace
