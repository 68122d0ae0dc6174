// quirnel-copy from the outside, on what makes a run trustworthy: targets it
// must not write (read-only, one store under two names, a full disk), items
// changed since the last run, store texts that would break log lines, and
// the personal folder file samples, verified item by item.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "copy_e2e_support.h"

namespace {

using namespace copy_e2e;

// The samples beside the repository; QUIRNEL_SHARED_DIR in the environment
// points elsewhere (a checkout that is not beside them).
const std::string kPstDir = std::string(getenv("QUIRNEL_SHARED_DIR") != nullptr
                                            ? getenv("QUIRNEL_SHARED_DIR")
                                            : QUIRNEL_SHARED_DIR) +
                            "/fixtures/pst/";

// A FILETIME a day after ft.
FILETIME DayLater(const FILETIME& ft) {
    uint64_t v = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    v += 24ULL * 3600 * 10000000;
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

class QuirnelCopyTrustTest : public QuirnelCopyTest {
protected:
    // Logged on to the test's profile in this process, for changing stores.
    CMapiSession& Session() {
        if (!m_session) {
            setenv("MAPI_PROFILE", (s_dir / "profile.ini").c_str(), 1);
            EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
            m_session = std::make_unique<CMapiSession>();
            m_session->Logon();
        }
        return *m_session;
    }
    void TearDown() override { m_session.reset(); }

    // Adds a store file to the profile under name.
    static void Add(const std::string& name, const fs::path& path) {
        ToolRun added = Tool(MAPIPROFILE_BIN, {"add", name, path.string()});
        ASSERT_EQ(added.status, 0) << added.err;
    }

    std::unique_ptr<CMapiSession> m_session;
};

TEST_F(QuirnelCopyTrustTest, ReadOnlyTargetsAndOneStoreUnderTwoNamesAreRefusedUnwritten) {
    const std::string targetFile = (s_dir / (m_target + ".qdb")).string();
    const std::string sourceBytes = Slurp(s_dir / "source.qdb");

    // A personal folder file is only ever read.
    const std::string pst = Slurp(kPstDir + "outlook.pst");
    Add(m_target + "Pst", kPstDir + "outlook.pst");
    ToolRun intoPst = Copy({"--source", "Source", "--target", m_target + "Pst"});
    EXPECT_EQ(intoPst.status, 1) << intoPst.out;
    EXPECT_NE(intoPst.err.find("Target: Cannot copy into \"" + m_target + "Pst\": it can only be read"),
              std::string::npos)
        << intoPst.err;
    EXPECT_EQ(Slurp(kPstDir + "outlook.pst"), pst);
    EXPECT_EQ(SplitLines(intoPst.out).size(), 1u) << intoPst.out;  // the summary alone

    // An embedded store file without write permission opens read-only, even
    // for root.
    const std::string before = Slurp(targetFile);
    ASSERT_EQ(chmod(targetFile.c_str(), 0444), 0);
    ToolRun intoReadOnly = Copy({"--source", "Source", "--target", m_target});
    EXPECT_EQ(intoReadOnly.status, 1);
    EXPECT_NE(intoReadOnly.err.find("it can only be read"), std::string::npos) << intoReadOnly.err;
    // Only reading: a dry run into it is fine.
    ToolRun dry = Copy({"--source", "Source", "--target", m_target, "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    ASSERT_EQ(chmod(targetFile.c_str(), 0644), 0);
    EXPECT_EQ(Slurp(targetFile), before);

    // The source's file under a second name is the source.
    Add(m_target + "Twice", s_dir / "source.qdb");
    ToolRun intoItself = Copy({"--source", "Source", "--target", m_target + "Twice"});
    EXPECT_EQ(intoItself.status, 1);
    EXPECT_NE(intoItself.err.find("are one store"), std::string::npos) << intoItself.err;
    EXPECT_EQ(Slurp(s_dir / "source.qdb"), sourceBytes);
}

TEST_F(QuirnelCopyTrustTest, AFullDiskEndsTheRunAndASecondRunCompletesIt) {
    // A small file system of its own, in a mount namespace of its own.
    if (std::system("unshare -rm true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no user and mount namespaces here for a small file system";
    const fs::path small = s_dir / (m_target + "_small");
    const fs::path kept = s_dir / (m_target + "_kept");
    fs::create_directories(small);
    fs::create_directories(kept);
    // A store of its own (a copied file would share its identity with the
    // original), moved onto the small file system once that is mounted.
    ToolRun made = Tool(MAPIPROFILE_BIN, {"create", m_target + "Small", (small / "small.qdb").string()});
    ASSERT_EQ(made.status, 0) << made.err;
    const fs::path seed = s_dir / (m_target + "_seed.qdb");
    fs::copy_file(small / "small.qdb", seed);
    const std::string script =
        "mount -t tmpfs -o size=400k tmpfs " + Quoted(small.string()) + " && cp " +
        Quoted(seed.string()) + " " + Quoted((small / "small.qdb").string()) + " && " +
        Environment() + Quoted(QUIRNEL_COPY_BIN) + " --source Source --target " +
        Quoted(m_target + "Small") + " >" + Quoted((s_dir / "out").string()) + " 2>" +
        Quoted((s_dir / "err").string()) + "; status=$?; cp " + Quoted(small.string()) + "/* " +
        Quoted(kept.string()) + "; exit $status";
    int raw = std::system(("unshare -rm sh -c " + Quoted(script)).c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    const std::string out = Slurp(s_dir / "out");
    const std::string err = Slurp(s_dir / "err");
    EXPECT_EQ(WEXITSTATUS(raw), 1) << out << err;
    // One message, not a line for every item that would have failed.
    EXPECT_NE(err.find("Target full: The disk of the target store is full"), std::string::npos)
        << err;
    size_t errors = 0;
    for (const std::string& line : SplitLines(out))
        if (line.rfind("Error ", 0) == 0) ++errors;
    EXPECT_EQ(errors, 1u) << out;
    Summary full = SummaryOf(out);
    EXPECT_TRUE(full.Balanced()) << out;
    EXPECT_GT(full.copied, 0);
    EXPECT_EQ(full.failed, 1);

    // What was copied before the disk filled up is all there, whole.
    ToolRun removed = Tool(MAPIPROFILE_BIN, {"remove", m_target + "Small"});
    ASSERT_EQ(removed.status, 0) << removed.err;
    Add(m_target + "Kept", kept / "small.qdb");
    std::multiset<std::string> source = ItemSet(Dump("Source", true));
    std::multiset<std::string> copied = ItemSet(Dump(m_target + "Kept", true));
    EXPECT_EQ(static_cast<long>(copied.size()), full.copied);
    for (const std::string& item : copied) EXPECT_EQ(source.count(item), 1u) << item;

    // With room again, the run is started once more and completes.
    ToolRun rest = Copy({"--source", "Source", "--target", m_target + "Kept"});
    EXPECT_EQ(rest.status, 0) << rest.err;
    EXPECT_EQ(SummaryOf(rest.out).there, full.copied);
    EXPECT_EQ(ItemSet(Dump(m_target + "Kept", true)), source);
}

TEST_F(QuirnelCopyTrustTest, AChangedItemIsCopiedAgainAndStoreTextsStayOnTheirLine) {
    const std::string name = m_target + "Src";
    ToolRun sample = Tool(MAPIPROFILE_BIN, {"sample", name, (s_dir / (name + ".qdb")).string(),
                                            "--items", "40", "--seed", "7"});
    ASSERT_EQ(sample.status, 0) << sample.err;
    const std::string folderName = "Line\nbreak \x1B[31mred";
    const std::string subject = "Hi\r\nthere \x1B]0;title\x07";
    {
        IMsgStorePtr store = OpenStoreNamed(Session(), name);
        ASSERT_TRUE(store);
        IMAPIFolderPtr folder(
            store._getIPMRoot().CreateFolder(FOLDER_GENERIC, folderName.c_str(), "", 0).get());
        LPMESSAGE raw = nullptr;
        ASSERT_EQ(folder._rawInterface()->CreateMessage(nullptr, 0, &raw), S_OK);
        CInterfaceRef<IMessage> message(raw);
        raw->Release();
        // As a checking reader marks an item it could only partly read.
        MAPINAMEID name{const_cast<LPGUID>(&mapi::PS_QUIRNEL), MNID_STRING, {}};
        name.Kind.lpwstrName = const_cast<LPWSTR>(mapi::kDamageReportName);
        LPMAPINAMEID names[] = {&name};
        LPSPropTagArray tags = nullptr;
        ASSERT_EQ(message->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
        MapiBufferPtr<SPropTagArray> hold(tags);
        const std::string report = "Parts were lost:\nthe HTML body: block CRC\nrecipient 2\x1B[2J";
        SPropValue values[2];
        values[0].ulPropTag = PR_SUBJECT_A;
        values[0].Value.lpszA = const_cast<char*>(subject.c_str());
        values[1].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_STRING8);
        values[1].Value.lpszA = const_cast<char*>(report.c_str());
        ASSERT_EQ(message->SetProps(2, values, nullptr), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    ToolRun first = Copy({"--source", name, "--target", m_target});
    // The salvaged item is damage the copy could not repair.
    EXPECT_EQ(first.status, 3) << first.err;
    EXPECT_NE(first.out.find("Damage: salvaged 1, structures lost 0, items known lost 0\nSummary:"),
              std::string::npos)
        << first.out;
    // Escaped on standard output and in the log alike; no control character
    // but the line ends reaches either.
    const std::string shown = "Line\\x0Abreak \\x1B[31mred";
    EXPECT_NE(first.out.find("Copy folder \\" + shown + " to " + shown + "\n"), std::string::npos)
        << first.out;
    for (const std::string& text : {first.out, Slurp(s_dir / "quirnel.log")})
        for (char c : text)
            EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
    const long items = SummaryOf(first.out).copied;
    EXPECT_EQ(items, 41);
    // The salvaged item names what it lost, each part on a line of its own.
    EXPECT_NE(first.out.find("Salvaged message Hi\\x0D\\x0Athere"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("\n  the HTML body: block CRC\n  recipient 2\\x1B[2J\n"), std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("Salvaged: 1 of the copied items"), std::string::npos) << first.out;

    // One item of the source changes (a client sets its modification time).
    std::string changedSubject;
    {
        IMsgStorePtr store = OpenStoreNamed(Session(), name);
        IMAPIFolderPtr inbox = store.GetReceiveFolder("");
        CMapiRowSet rows = QueryAllRows(inbox._rawContentsTable(),
                                        {PR_ENTRYID, PR_SUBJECT_A, PR_LAST_MODIFICATION_TIME});
        ASSERT_GT(rows.Count(), 0u);
        CMapiBinary eid;
        eid = rows.Cell(0, 0);
        changedSubject = "Changed: " + rows.Cell(0, 1).ToString();
        ASSERT_EQ(rows.Cell(0, 2).Type(), static_cast<ULONG>(PT_SYSTIME));
        IMAPIPropPtr message = inbox.OpenEntryv(eid);
        SPropValue values[2];
        values[0].ulPropTag = PR_SUBJECT_A;
        values[0].Value.lpszA = changedSubject.data();
        values[1].ulPropTag = PR_LAST_MODIFICATION_TIME;
        values[1].Value.ft = DayLater(rows.Cell(0, 2).get()->Value.ft);
        ASSERT_EQ(message._rawInterface()->SetProps(2, values, nullptr), S_OK);
        ASSERT_EQ(message._rawInterface()->SaveChanges(0), S_OK);
    }
    m_session.reset();

    ToolRun second = Copy({"--source", name, "--target", m_target, "--verify"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("copy message " + changedSubject + " (changed since the last run)\n"),
              std::string::npos)
        << second.out;
    EXPECT_NE(second.out.find("Verify: 1 item(s) compared (every property), 0 differ\n"),
              std::string::npos)
        << second.out;
    Summary counts = SummaryOf(second.out);
    EXPECT_EQ(counts.copied, 1);
    EXPECT_EQ(counts.there, items - 1);
    // The old copy stays; the new one is beside it.
    const std::string target = Dump(m_target, true);
    EXPECT_EQ(ItemBlocks(target).size(), static_cast<size_t>(items + 1));
    EXPECT_NE(target.find("0x0037001E=" + std::string("\"") + changedSubject), std::string::npos);

    // Nothing changed since: nothing is copied, and --again copies all.
    ToolRun third = Copy({"--source", name, "--target", m_target});
    EXPECT_EQ(SummaryOf(third.out).copied, 0);
    EXPECT_EQ(SummaryOf(third.out).there, items);
    ToolRun again = Copy({"--source", name, "--target", m_target, "--again"});
    EXPECT_EQ(again.status, 3);
    EXPECT_EQ(SummaryOf(again.out).copied, items);
    EXPECT_EQ(ItemBlocks(Dump(m_target, true)).size(), static_cast<size_t>(2 * items + 1));
}

TEST_F(QuirnelCopyTrustTest, EveryPersonalFolderSampleCopiesAndVerifiesClean) {
    for (const char* file : {"outlook.pst", "32-bit.pst", "support.pst", "passworded.pst"}) {
        SCOPED_TRACE(file);
        const std::string source = m_target + "_" + file;
        const std::string target = source + "_copy";
        Add(source, kPstDir + file);
        ToolRun made =
            Tool(MAPIPROFILE_BIN, {"create", target, (s_dir / (target + ".qdb")).string()});
        ASSERT_EQ(made.status, 0) << made.err;
        ToolRun run = Copy({"--source", source, "--target", target, "--verify"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        Summary counts = SummaryOf(run.out);
        EXPECT_NE(run.out.find("Verify: " + std::to_string(counts.copied) +
                               " item(s) compared (every property), 0 differ\n"),
                  std::string::npos)
            << run.out;
        EXPECT_TRUE(counts.Balanced()) << run.out;
        EXPECT_EQ(counts.failed, 0);
        EXPECT_EQ(static_cast<long>(ItemBlocks(Dump(target, true)).size()), counts.copied);
        EXPECT_EQ(ItemSet(Dump(target, true)), ItemSet(Dump(source, true)));
    }
}

TEST_F(QuirnelCopyTrustTest, ADamagedPersonalFolderFileStillBalancesItsLedger) {
    // Zeroed pages in the middle of a real file: some items or folders can
    // no longer be read, and every one of them is accounted for.
    std::string bytes = Slurp(kPstDir + "support.pst");
    ASSERT_GT(bytes.size(), 600000u);
    for (size_t at : {200000u, 420000u, 560000u}) std::fill_n(bytes.begin() + at, 16384, '\0');
    const fs::path damaged = s_dir / (m_target + "_damaged.pst");
    std::ofstream(damaged, std::ios::binary) << bytes;
    Add(m_target + "Damaged", damaged);

    ToolRun run = Copy({"--source", m_target + "Damaged", "--target", m_target});
    ASSERT_GE(run.status, 0) << "ended by a signal";
    EXPECT_TRUE(run.status == 0 || run.status == 3) << run.status << run.err;
    Summary counts = SummaryOf(run.out);
    EXPECT_TRUE(counts.Balanced()) << run.out;
    const bool damage = run.out.find("\nDamage: ") != std::string::npos;
    EXPECT_EQ(run.status == 3, counts.failed > 0 || counts.foldersSkipped > 0 || damage) << run.out;
    EXPECT_EQ(static_cast<long>(ItemBlocks(Dump(m_target, true)).size()), counts.copied);
}

}  // namespace
