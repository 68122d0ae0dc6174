// What the end-to-end tests of quirnel-copy share: running the tools with
// the test's own profile, reading their output and dumps, and the fixture
// with a sample source store made once per test process.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <MapiWrapper.h>
#include <runtime/provenance.h>

extern char** environ;

namespace copy_e2e {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;  // -1 when a signal ended it (a crash)
    std::string out;
    std::string err;
};

inline std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The folder lines of a dump ("folder PATH items=N ...").
inline std::vector<std::string> FolderLines(const std::string& dump) {
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(dump))
        if (line.rfind("folder ", 0) == 0) lines.push_back(line);
    return lines;
}

// The folder path of a dump's folder line.
inline std::string PathOf(const std::string& folderLine) {
    size_t end = folderLine.find(" items=");
    return folderLine.substr(7, end - 7);
}

// The item blocks of a `dump --props`: "  item" and the lines below it.
inline std::vector<std::string> ItemBlocks(const std::string& dump) {
    std::vector<std::string> blocks;
    bool inItem = false;
    for (const std::string& line : SplitLines(dump)) {
        if (line == "  item") {
            blocks.emplace_back();
            inItem = true;
        } else if (line.rfind("folder ", 0) == 0) {
            inItem = false;
        } else if (inItem) {
            blocks.back() += line + "\n";
        }
    }
    return blocks;
}

// The dump without the provenance the copy carries (the source has none).
inline std::string WithoutProvenance(const std::string& dump) {
    std::string out;
    for (const std::string& line : SplitLines(dump))
        if (line.find("{F3C4D0D7-B05B-4214-A817-A819212EA842}:") == std::string::npos)
            out += line + "\n";
    return out;
}

// The numbers of a run's Summary line, which must be its last line.
struct Summary {
    long listed = -1, filtered = -1, there = -1, copied = -1, failed = -1;
    long foldersCopied = -1, foldersSkipped = -1;
    bool Balanced() const { return listed >= 0 && listed == filtered + there + copied + failed; }
};

inline Summary SummaryOf(const std::string& out) {
    Summary n;
    std::vector<std::string> lines = SplitLines(out);
    if (lines.empty()) return n;
    std::sscanf(lines.back().c_str(),
                "Summary: listed %ld, filtered %ld, already there %ld, copied %ld, failed %ld; "
                "folders copied %ld, skipped %ld",
                &n.listed, &n.filtered, &n.there, &n.copied, &n.failed, &n.foldersCopied,
                &n.foldersSkipped);
    return n;
}

// The item blocks of a dump as a multiset, provenance left out.
inline std::multiset<std::string> ItemSet(const std::string& dump) {
    std::vector<std::string> blocks = ItemBlocks(WithoutProvenance(dump));
    return std::multiset<std::string>(blocks.begin(), blocks.end());
}

// The store named name of session (logged on to the test's profile), or an
// empty wrapper.
inline IMsgStorePtr OpenStoreNamed(CMapiSession& session, const std::string& name) {
    CMapiRowSet rows = QueryAllRows(session.GetStoresTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        if (rows.Cell(i, 0).ToString() != name) continue;
        CMapiBinary eid;
        eid = rows.Cell(i, 1);
        CInterfaceRef<IUnknown> object = session.OpenEntry(eid);
        return IMsgStorePtr(static_cast<LPMDB>(object.get()));
    }
    return IMsgStorePtr();
}

// Items below folder, and how many of them carry a provenance whose store
// identity is the one inside their recorded source entry id.
struct Stamps {
    size_t items = 0;
    size_t stamped = 0;
};
inline void CountStamps(const IMAPIFolderPtr& folder, Stamps& stamps) {
    mapi::ProvenanceTags tags;
    ASSERT_EQ(mapi::GetProvenanceTags(folder._rawInterface(), false, &tags), S_OK);
    CMapiRowSet rows;
    if (tags.Known()) {
        rows.QueryAllRows(folder._rawContentsTable().get(),
                          {tags.sourceStore, tags.sourceEntryId});
    } else {
        rows.QueryAllRows(folder._rawContentsTable().get(), {PR_ENTRYID});
    }
    for (ULONG i = 0; i < rows.Count(); ++i) {
        ++stamps.items;
        if (!tags.Known() || rows.Cell(i, 0).Type() != PT_BINARY ||
            rows.Cell(i, 1).Type() != PT_BINARY)
            continue;
        const SBinary& store = rows.Cell(i, 0).get()->Value.bin;
        const SBinary& eid = rows.Cell(i, 1).get()->Value.bin;
        if (mapi::StoreIdentityOf(eid.lpb, eid.cb) ==
            std::string(reinterpret_cast<const char*>(store.lpb), store.cb))
            ++stamps.stamped;
    }
    CMapiRowSet children = QueryAllRows(folder._rawHierrarchyTable(), {PR_ENTRYID});
    for (ULONG i = 0; i < children.Count(); ++i) {
        CMapiBinary eid;
        eid = children.Cell(i, 0);
        CountStamps(IMAPIFolderPtr(static_cast<LPMAPIFOLDER>(folder.OpenEntryv(eid)._rawInterface())),
                    stamps);
    }
}

class QuirnelCopyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // One folder per process: CTest may run the cases side by side.
        s_dir = fs::path(QUIRNEL_BINARY_DIR) / ("quirnel_copy_e2e_" + std::to_string(getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        ToolRun sample = Tool(MAPIPROFILE_BIN, {"sample", "Source", (s_dir / "source.qdb").string(),
                                                "--items", "600", "--seed", "11"});
        ASSERT_EQ(sample.status, 0) << sample.err;
    }

    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    void SetUp() override {
        m_target = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ToolRun made =
            Tool(MAPIPROFILE_BIN, {"create", m_target, (s_dir / (m_target + ".qdb")).string()});
        ASSERT_EQ(made.status, 0) << made.err;
    }

    static std::string Environment() {
        // The saved queries are the test's own too (s_dir/quirnel/queries.ini).
        return "MAPI_PROFILE=" + Quoted((s_dir / "profile.ini").string()) +
               " XDG_DOCUMENTS_DIR=" + Quoted(s_dir.string()) +
               " XDG_CONFIG_HOME=" + Quoted(s_dir.string()) + " ";
    }

    static ToolRun Tool(const std::string& binary, std::initializer_list<std::string> args) {
        std::string command = Environment() + Quoted(binary);
        for (const std::string& a : args) command += " " + Quoted(a);
        command +=
            " >" + Quoted((s_dir / "out").string()) + " 2>" + Quoted((s_dir / "err").string());
        int raw = std::system(command.c_str());
        ToolRun run;
        // The shell reports a signal death as 128 + signal.
        if (raw != -1 && WIFEXITED(raw) && WEXITSTATUS(raw) < 128) run.status = WEXITSTATUS(raw);
        run.out = Slurp(s_dir / "out");
        run.err = Slurp(s_dir / "err");
        return run;
    }

    static ToolRun Copy(std::initializer_list<std::string> args) {
        return Tool(QUIRNEL_COPY_BIN, args);
    }
    static std::string Dump(const std::string& store, bool props = false) {
        ToolRun run = props ? Tool(MAPIPROFILE_BIN, {"dump", store, "--props"})
                            : Tool(MAPIPROFILE_BIN, {"dump", store});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    // Renames the target's special folder named by tag, in this process.
    void RenameTargetSpecial(ULONG tag, const char* name) {
        setenv("MAPI_PROFILE", (s_dir / "profile.ini").c_str(), 1);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        CMapiSession session;
        session.Logon();
        CMapiRowSet rows = QueryAllRows(session.GetStoresTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
        for (ULONG i = 0; i < rows.Count(); ++i) {
            if (rows.Cell(i, 0).ToString() != m_target) continue;
            CMapiBinary eid;
            eid = rows.Cell(i, 1);
            CInterfaceRef<IUnknown> object = session.OpenEntry(eid);
            IMsgStorePtr store(static_cast<LPMDB>(object.get()));
            CMapiBinary folderId;
            if (tag == 0)
                folderId = store.GetReceiveFolder("").GetBinaryProp(PR_ENTRYID);
            else
                folderId = store.GetBinaryProp(tag);
            IMAPIPropPtr folder = store.OpenEntry(folderId);
            folder.SetStringProp(PR_DISPLAY_NAME, name);
            HRESULT hr = folder._rawInterface()->SaveChanges(0);
            ASSERT_TRUE(SUCCEEDED(hr) || hr == MAPI_E_NO_SUPPORT);
            return;
        }
        FAIL() << "no store " << m_target;
    }

    inline static fs::path s_dir;
    std::string m_target;
};


}  // namespace copy_e2e
