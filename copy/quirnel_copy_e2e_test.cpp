// quirnel-copy from the outside, over embedded stores that mapiprofile
// makes: the copy's dump against the source's, special folders, the query,
// Ctrl-C, and the exit statuses.
#include "copy_e2e_support.h"

namespace {

using namespace copy_e2e;


TEST_F(QuirnelCopyTest, TheCopyHasTheSourcesFoldersItemsAndProperties) {
    fs::remove(s_dir / "quirnel.log");
    const std::string sourceFile = Slurp(s_dir / "source.qdb");
    ToolRun run = Copy({"--source", "Source", "--target", m_target, "--verify"});
    ASSERT_EQ(run.status, 0) << run.err;

    const std::string source = Dump("Source");
    EXPECT_EQ(Dump(m_target), source);
    const std::string copy = Dump(m_target, true);
    EXPECT_EQ(WithoutProvenance(copy), Dump("Source", true));
    // Every item carries where it came from.
    {
        setenv("MAPI_PROFILE", (s_dir / "profile.ini").c_str(), 1);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        CMapiSession session;
        session.Logon();
        Stamps stamps;
        CountStamps(OpenStoreNamed(session, m_target)._getIPMRoot(), stamps);
        EXPECT_EQ(stamps.items, ItemBlocks(copy).size());
        EXPECT_EQ(stamps.stamped, stamps.items);
    }

    // One "Copy folder" line per folder, in the dump's (depth-first) order,
    // on standard output and in the log file alike.
    std::vector<std::string> expected;
    for (const std::string& line : FolderLines(source)) {
        std::string path = PathOf(line);
        expected.push_back("Copy folder " + path + " to " + path.substr(path.rfind('\\') + 1));
    }
    const size_t items = ItemBlocks(copy).size();
    const std::string folders = std::to_string(FolderLines(source).size());
    expected.push_back("Verify: " + std::to_string(items) +
                       " item(s) compared (every property), 0 differ");
    expected.push_back("Summary: listed " + std::to_string(items) +
                       ", filtered 0, already there 0, copied " + std::to_string(items) +
                       ", failed 0; folders copied " + folders + ", skipped 0");
    EXPECT_EQ(SplitLines(run.out), expected);
    EXPECT_EQ(SplitLines(Slurp(s_dir / "quirnel.log")), expected);
    // The log names subjects and senders: for its owner alone, as are the
    // stores.
    EXPECT_EQ(fs::status(s_dir / "quirnel.log").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    // Run again: everything is there already, nothing is added; a dry run
    // says so and leaves the file as it was, byte for byte.
    ToolRun again = Copy({"--source", "Source", "--target", m_target, "--verify"});
    EXPECT_EQ(again.status, 0) << again.err;
    // Nothing copied is nothing compared, not "0 differ".
    EXPECT_NE(again.out.find("\nVerify: nothing was compared, no item was copied\n"),
              std::string::npos)
        << again.out;
    EXPECT_EQ(SplitLines(again.out).back(), "Summary: listed " + std::to_string(items) +
                                                ", filtered 0, already there " +
                                                std::to_string(items) +
                                                ", copied 0, failed 0; folders copied " + folders +
                                                ", skipped 0");
    EXPECT_EQ(Dump(m_target, true), copy);
    const std::string before = Slurp(s_dir / (m_target + ".qdb"));
    ToolRun dry = Copy({"--source", "Source", "--target", m_target, "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("Would copy \\Inbox: 0 of "), std::string::npos) << dry.out;
    EXPECT_EQ(Slurp(s_dir / (m_target + ".qdb")), before);
    // The source was only read.
    EXPECT_EQ(Slurp(s_dir / "source.qdb"), sourceFile);
}

TEST_F(QuirnelCopyTest, AVerifiedCopyIntoEveryKindOfTargetHasNoDifferences) {
    // Multipart mail (HTML beside plain text, attachments, forwarded
    // mail), contacts and appointments, into each kind of store that
    // keeps less than every property or sets some itself.
    ToolRun sample = Tool(MAPIPROFILE_BIN, {"sample", m_target + "Src",
                                            (s_dir / (m_target + "Src.qdb")).string(), "--items",
                                            "150", "--seed", "5"});
    ASSERT_EQ(sample.status, 0) << sample.err;
    const struct {
        std::string kind, file, scope;
    } kinds[] = {
        {"pst", "kind.pst", "every property but those the file sets itself"},
        {"maildir", "kind.maildir", "what an Internet message carries"},
        {"mbox", "kind.mbox", "what an Internet message carries"},
        {"eml", "kind.eml", "what an Internet message carries"},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.kind);
        const std::string target = m_target + "_" + k.kind;
        ToolRun made = Tool(MAPIPROFILE_BIN, {"create", target, (s_dir / (target + k.file)).string(),
                                              "--kind", k.kind});
        ASSERT_EQ(made.status, 0) << made.err;
        ToolRun run = Copy({"--source", m_target + "Src", "--target", target, "--verify"});
        Summary counts = SummaryOf(run.out);
        EXPECT_GT(counts.copied, 100);
        EXPECT_NE(run.out.find("\nVerify: " + std::to_string(counts.copied) + " item(s) compared (" +
                               k.scope + "), 0 differ\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(run.status, 0) << run.err;
    }
}

TEST_F(QuirnelCopyTest, SpecialFoldersMapOntoTheTargetsOwn) {
    // The target's deleted items and inbox have other names than the
    // source's: the deleted items still go into the target's own folder, and
    // the source's inbox becomes the target's receive folder.
    RenameTargetSpecial(PR_IPM_WASTEBASKET_ENTRYID, "Papierkorb");
    RenameTargetSpecial(0, "Posteingang");

    ToolRun run = Copy({"--source", "Source", "--target", m_target});
    ASSERT_EQ(run.status, 0) << run.err;

    std::map<std::string, std::string> source;  // path -> rest of the line
    for (const std::string& line : FolderLines(Dump("Source"))) source[PathOf(line)] = line;
    std::map<std::string, std::string> target;
    for (const std::string& line : FolderLines(Dump(m_target))) target[PathOf(line)] = line;

    ASSERT_TRUE(source.count("\\Deleted Items"));
    EXPECT_EQ(target.count("\\Deleted Items"), 0u);
    std::string trash = source["\\Deleted Items"];
    EXPECT_EQ(target["\\Papierkorb"], "folder \\Papierkorb" + trash.substr(trash.find(" items=")));
    EXPECT_EQ(target["\\Papierkorb\\Recovered"],
              "folder \\Papierkorb\\Recovered" +
                  source["\\Deleted Items\\Recovered"].substr(
                      source["\\Deleted Items\\Recovered"].find(" items=")));

    ASSERT_NE(source["\\Inbox"].find("special=inbox"), std::string::npos);
    EXPECT_EQ(target["\\Inbox"], source["\\Inbox"]);
    EXPECT_EQ(target["\\Posteingang"], "folder \\Posteingang items=0");
    for (const char* special : {"\\Outbox", "\\Sent Items"})
        EXPECT_EQ(target[special], source[special]);
}

// Counts, per folder path, the items of a `dump --props` whose property
// line is exactly propertyLine.
std::map<std::string, int> MatchingItems(const std::string& dump, const std::string& propertyLine) {
    std::map<std::string, int> counts;
    std::string folder;
    for (const std::string& line : SplitLines(dump)) {
        if (line.rfind("folder ", 0) == 0) {
            folder = PathOf(line);
            counts[folder];
        } else if (line == "    " + propertyLine) {
            ++counts[folder];
        }
    }
    return counts;
}

TEST_F(QuirnelCopyTest, AQueryCopiesExactlyTheItemsItSelects) {
    const std::string importanceHigh = "0x00170003=2";
    std::map<std::string, int> wanted = MatchingItems(Dump("Source", true), importanceHigh);
    int total = 0;
    for (const auto& [path, n] : wanted) total += n;
    ASSERT_GT(total, 0);

    ToolRun run = Copy({"--source", "Source", "--target", m_target, "--query", "Importance = 2"});
    ASSERT_EQ(run.status, 0) << run.err;
    Summary counts = SummaryOf(run.out);
    EXPECT_TRUE(counts.Balanced()) << run.out;
    EXPECT_EQ(counts.copied, total);
    EXPECT_EQ(counts.filtered, counts.listed - total);

    std::map<std::string, int> copied;
    for (const std::string& line : FolderLines(Dump(m_target))) {
        size_t at = line.find(" items=") + 7;
        copied[PathOf(line)] = std::stoi(line.substr(at));
    }
    EXPECT_EQ(copied, wanted);
    EXPECT_EQ(MatchingItems(Dump(m_target, true), importanceHigh), wanted);

    // A dry run with the same query into an empty store says, per folder,
    // how many items of how many it would copy.
    ToolRun fresh = Tool(MAPIPROFILE_BIN, {"create", m_target + "Dry",
                                           (s_dir / (m_target + "Dry.qdb")).string()});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    const std::string before = Slurp(s_dir / (m_target + "Dry.qdb"));
    ToolRun dry = Copy({"--source", "Source", "--target", m_target + "Dry", "--query",
                        "Importance = 2", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(Slurp(s_dir / (m_target + "Dry.qdb")), before);
    EXPECT_EQ(SummaryOf(dry.out).copied, total);
    std::map<std::string, int> listed;
    for (const std::string& line : FolderLines(Dump("Source"))) {
        size_t at = line.find(" items=") + 7;
        listed[PathOf(line)] = std::stoi(line.substr(at));
    }
    for (const auto& [path, n] : wanted)
        EXPECT_NE(dry.out.find("Would copy " + path + ": " + std::to_string(n) + " of " +
                               std::to_string(listed[path]) + "\n"),
                  std::string::npos)
            << path << "\n"
            << dry.out;
    // The folders it would make are not made.
    for (const std::string& line : FolderLines(Dump(m_target + "Dry")))
        EXPECT_NE(line.find(" items=0"), std::string::npos) << line;
}

TEST_F(QuirnelCopyTest, ASavedQueryCopiesExactlyWhatItSelects) {
    const std::string source = Dump("Source", true);
    // Items of low or high importance, per folder.
    std::map<std::string, int> wanted = MatchingItems(source, "0x00170003=2");
    const std::map<std::string, int> low = MatchingItems(source, "0x00170003=0");
    int total = 0;
    for (auto& [path, n] : wanted) {
        n += low.at(path);
        total += n;
    }
    ASSERT_GT(total, 0);

    // A line the file cannot use is named, and the rest of the file counts.
    fs::create_directories(s_dir / "quirnel");
    std::ofstream(s_dir / "quirnel" / "queries.ini") << "[Importance]\n"
                                                        "text = Subject = \"a\"\n"
                                                        "[Important]\n"
                                                        "parameter = level or\n"
                                                        "text = [Importance = $level]\n";
    ToolRun run = Copy({"--source", "Source", "--target", m_target, "--query", "Important(0; 2)"});
    fs::remove_all(s_dir / "quirnel");
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("Saved queries: " + (s_dir / "quirnel" / "queries.ini").string() +
                           ":1: the name Importance is a field of the query language\n"),
              std::string::npos)
        << run.out;
    Summary counts = SummaryOf(run.out);
    EXPECT_TRUE(counts.Balanced()) << run.out;
    EXPECT_EQ(counts.copied, total);
    const std::string copy = Dump(m_target, true);
    std::map<std::string, int> copied;
    for (const std::string& line : FolderLines(copy)) {
        const size_t at = line.find(" items=") + 7;
        copied[PathOf(line)] = std::stoi(line.substr(at));
    }
    EXPECT_EQ(copied, wanted);
    for (const auto& [path, n] : MatchingItems(copy, "0x00170003=1")) EXPECT_EQ(n, 0) << path;
}

TEST_F(QuirnelCopyTest, ExitStatusesAndMessages) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{}, 64, "--source and --target are required\nTry 'quirnel-copy --help'.\n"},
        {{"--source", "Source"}, 64, "--target"},
        {{"--source", "Source", "--target", "X", "--bogus"},
         64,
         "quirnel-copy: unknown argument \"--bogus\"\nTry 'quirnel-copy --help'.\n"},
        {{"--source", "Source", "--target"}, 64, "needs a value"},
        {{"--source", "Source", "--target", "X", "--dry-run", "--verify"}, 64, "--verify"},
        {{"--help"}, 0, ""},
        {{"--version"}, 0, ""},
        {{"--source", "Nowhere", "--target", "Source"},
         1,
         "quirnel-copy: Please select source and target: no store is named \"Nowhere\"\n"},
        {{"--source", "Source", "--target", "Source"},
         1,
         "quirnel-copy: Please select source and target\n"},
        {{"--source", "Source", "--target", "X", "--query", "Subject = "}, 2, "Query: "},
        // Queries that do not say what was typed copy nothing.
        {{"--source", "Source", "--target", "X", "--query", "Subject contains \"invoice\""},
         2,
         "Query: This part of the query is not understood: \"contains \\\"invoice\\\"\"."},
        {{"--source", "Source", "--target", "X", "--query", "Subject = \"a\" foo"},
         2,
         "Query: This part of the query is not understood: \"foo\"."},
        {{"--source", "Source", "--target", "X", "--query", "MessageSize > abc"},
         2,
         "Not a number: \"abc\""},
        // Compiled, but no store can evaluate them: refused before the
        // first folder is made.
        {{"--source", "Source", "--target", "X", "--query", "MessageSize > 0x7fffffffffffffff"},
         2,
         "Query: The query cannot be evaluated (MAPI_E_TOO_COMPLEX)"},
        {{"--source", "Source", "--target", "X", "--query",
          "Subject = prefix loose ignorespace substring ignorecase \"x\""},
         2,
         "Query: The query cannot be evaluated (MAPI_E_TOO_COMPLEX)"},
    };
    const std::vector<std::string> foldersBefore = FolderLines(Dump(m_target));
    for (const Case& c : cases) {
        std::string command = Environment() + Quoted(QUIRNEL_COPY_BIN);
        for (const std::string& a : c.args) command += " " + Quoted(a == "X" ? m_target : a);
        SCOPED_TRACE(command);
        command +=
            " >" + Quoted((s_dir / "out").string()) + " 2>" + Quoted((s_dir / "err").string());
        int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), c.status);
        std::string err = Slurp(s_dir / "err");
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
        // A run that began ends with its ledger, and nothing was listed.
        std::string out = Slurp(s_dir / "out");
        if (c.status == 1 || c.status == 2) {
            EXPECT_EQ(SummaryOf(out).listed, 0) << out;
        }
    }
    ToolRun help = Copy({"--help"});
    EXPECT_EQ(help.out.rfind("usage: quirnel-copy", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--dry-run"), std::string::npos);
    ToolRun version = Copy({"--version"});
    EXPECT_EQ(version.out.rfind("quirnel-copy ", 0), 0u) << version.out;
    // Nothing of the refused runs reached the target, not even a folder.
    EXPECT_EQ(FolderLines(Dump(m_target)), foldersBefore);

    ToolRun noProfile = Tool("env", {"MAPI_PROFILE=" + (s_dir / "missing.ini").string(),
                                     QUIRNEL_COPY_BIN, "--source", "Source", "--target", "T"});
    EXPECT_EQ(noProfile.status, 1);
    EXPECT_NE(noProfile.err.find("quirnel-copy: cannot log on to the profile: "), std::string::npos)
        << noProfile.err;
}

TEST_F(QuirnelCopyTest, CtrlCStopsAfterTheItemInProgress) {
    // Started with a pipe on standard output: Ctrl-C once the first folder
    // line has arrived.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    setenv("MAPI_PROFILE", (s_dir / "profile.ini").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", s_dir.c_str(), 1);
    std::string target = m_target;
    std::vector<char*> argv = {const_cast<char*>(QUIRNEL_COPY_BIN),
                               const_cast<char*>("--source"),
                               const_cast<char*>("Source"),
                               const_cast<char*>("--target"),
                               target.data(),
                               nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, QUIRNEL_COPY_BIN, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    std::string out;
    char c;
    while (out.find('\n') == std::string::npos && read(pipeFds[0], &c, 1) == 1) out += c;
    kill(pid, SIGINT);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 4);

    // Fewer folders than the source's were started, and every item that
    // arrived is whole: each copied item's dump is one of the source's.
    size_t started = SplitLines(out).size() - 1;  // the last line is the summary
    EXPECT_LT(started, FolderLines(Dump("Source")).size());
    Summary first = SummaryOf(out);
    EXPECT_TRUE(first.Balanced()) << out;
    std::multiset<std::string> sourceItems = ItemSet(Dump("Source", true));
    std::multiset<std::string> copied = ItemSet(Dump(m_target, true));
    EXPECT_LT(copied.size(), sourceItems.size());
    EXPECT_EQ(static_cast<long>(copied.size()), first.copied);
    for (const std::string& item : copied) EXPECT_EQ(sourceItems.count(item), 1u) << item;

    // Started again, the run completes what the first began: each item of
    // the source is in the target exactly once.
    ToolRun second = Copy({"--source", "Source", "--target", m_target});
    EXPECT_EQ(second.status, 0) << second.err;
    Summary rest = SummaryOf(second.out);
    EXPECT_TRUE(rest.Balanced()) << second.out;
    EXPECT_EQ(rest.there, first.copied);
    EXPECT_EQ(rest.there + rest.copied, static_cast<long>(sourceItems.size()));
    EXPECT_EQ(ItemSet(Dump(m_target, true)), sourceItems);
}

TEST_F(QuirnelCopyTest, ACtrlCBeforeTheRunStartsStopsItAtOnce) {
    // The child is started with a Ctrl-C pending under a blocked SIGINT, so
    // that it arrives as soon as quirnel-copy takes interrupts, before its
    // run begins.
    setenv("MAPI_PROFILE", (s_dir / "profile.ini").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", s_dir.c_str(), 1);
    std::string target = m_target;
    std::vector<char*> argv = {const_cast<char*>(QUIRNEL_COPY_BIN),
                               const_cast<char*>("--source"),
                               const_cast<char*>("Source"),
                               const_cast<char*>("--target"),
                               target.data(),
                               nullptr};
    const std::string outPath = (s_dir / "out").string();
    int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(outFd, 0);
    int nullFd = open("/dev/null", O_WRONLY);
    ASSERT_GE(nullFd, 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        sigprocmask(SIG_BLOCK, &interrupt, nullptr);
        kill(getpid(), SIGINT);
        dup2(outFd, STDOUT_FILENO);
        dup2(nullFd, STDERR_FILENO);
        execve(QUIRNEL_COPY_BIN, argv.data(), environ);
        _exit(127);
    }
    close(outFd);
    close(nullFd);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 4);

    // Not one folder was started, not one item arrived: the summary alone.
    EXPECT_EQ(Slurp(outPath),
              "Summary: listed 0, filtered 0, already there 0, copied 0, failed 0; folders copied "
              "0, skipped 0\n");
    EXPECT_TRUE(ItemBlocks(Dump(m_target, true)).empty());
}

}  // namespace
