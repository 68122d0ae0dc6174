// Tests of the copy engine over fake stores that fail chosen calls. Every run
// goes through CopyThreadProc on a worker thread, as the application runs it.
#include "copy_engine.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <runtime/provenance.h>

#include "fakes.h"
#include "progress_text.h"

namespace {

using quirnel::CCopyEngine;
using quirnel::RunOutcome;

class RecordingHost : public quirnel::CCopyHost {
public:
    std::string source = "Source";
    std::string target = "Target";
    std::string query;
    std::atomic<bool> stop{false};
    std::atomic<bool> stopBeforeRun{false};

    std::vector<std::string> progress;
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, std::string>> boxes;
    std::vector<bool> startEnabled;

    void Reset() {
        query.clear();
        source = "Source";
        target = "Target";
        stop = false;
        stopBeforeRun = false;
        progress.clear();
        itemProgress.clear();
        lines.clear();
        boxes.clear();
        startEnabled.clear();
    }

    void SetStartEnabled(bool enabled) override { startEnabled.push_back(enabled); }
    std::string SourceStoreName() override { return source; }
    std::string TargetStoreName() override { return target; }
    std::string QueryText() override { return query; }
    std::atomic<bool>& StopFlag() override { return stop; }
    bool StopRequestedBeforeRun() override { return stopBeforeRun.load(); }
    void SetProgressText(const std::string& text) override { progress.push_back(text); }
    void AppendActivityLine(const std::string& line) override { lines.push_back(line); }
    void ShowMessageBox(const std::string& caption, const std::string& text) override {
        boxes.emplace_back(caption, text);
    }
    void OnRunFinished(const quirnel::CopyLedger& finished, RunOutcome outcome) override {
        ledger = finished;
        outcomes.push_back(outcome);
    }

    void OnItemProgress(const quirnel::RunProgress& progress) override {
        itemProgress.push_back(progress);
    }

    quirnel::CopyLedger ledger;
    std::vector<RunOutcome> outcomes;
    std::vector<quirnel::RunProgress> itemProgress;
};

using Lines = std::vector<std::string>;

ULONG QuirnelTag(IMAPIProp* object, const char16_t* text, ULONG type) {
    MAPINAMEID name{const_cast<LPGUID>(&mapi::PS_QUIRNEL), MNID_STRING, {}};
    name.Kind.lpwstrName = const_cast<LPWSTR>(text);
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    EXPECT_EQ(object->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
    ULONG tag = CHANGE_PROP_TYPE(tags->aulPropTag[0], type);
    MAPIFreeBuffer(tags);
    return tag;
}

// Gives item the place a store's locator column names it by.
fake::Message& Locate(fake::Message& item, const std::string& place) {
    item.Set(fake::Str(QuirnelTag(&item, mapi::kItemLocatorName, PT_STRING8), place));
    return item;
}

class CopyEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::path(QUIRNEL_BINARY_DIR) / "copy_engine_test" /
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        setenv("XDG_DOCUMENTS_DIR", m_dir.c_str(), 1);
        m_session = fake::Make<fake::Session>();
        m_source = fake::Make<fake::Store>("Source");
        m_target = fake::Make<fake::Store>("Target");
        m_session->AddStore(m_source.get());
        m_session->AddStore(m_target.get());
        SetMessageBoxHandler([this](const std::string& caption, const std::string& text) {
            host.boxes.emplace_back(caption, text);
        });
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }

    // One run on a worker thread, like the dialog's Start.
    RunOutcome Run() {
        if (!m_engine) {
            m_cmapiSession = std::make_unique<CMapiSession>(m_session.get());
            m_engine = std::make_unique<CCopyEngine>(host, *m_cmapiSession);
        }
        host.outcomes.clear();
        std::thread worker(&CCopyEngine::CopyThreadProc, m_engine.get());
        worker.join();
        // Every run ends with its ledger, balanced in total and per folder,
        // as its last line and in one OnRunFinished call with the outcome.
        EXPECT_EQ(host.outcomes, std::vector<RunOutcome>{m_engine->LastOutcome()});
        EXPECT_TRUE(host.ledger.items.Balanced()) << host.ledger.SummaryLine();
        for (const quirnel::FolderLedger& folder : host.ledger.folders)
            EXPECT_TRUE(folder.items.Balanced()) << folder.path;
        if (host.lines.empty() || host.lines.back() != host.ledger.SummaryLine()) {
            ADD_FAILURE() << "the last line is not the summary";
        } else {
            summary = host.lines.back();
            host.lines.pop_back();
        }
        return m_engine->LastOutcome();
    }

    std::string LogFile() const {
        std::ifstream in(m_dir / "quirnel.log", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fake::Folder* Src() { return m_source->Root(); }
    fake::Folder* Dst() { return m_target->Root(); }

    size_t ItemsBelow(const fake::Folder* folder) {
        size_t n = folder->messages.size();
        for (const auto& child : folder->children) n += ItemsBelow(child.get());
        return n;
    }

    RecordingHost host;
    std::string summary;  // the last run's Summary line, taken off host.lines
    std::filesystem::path m_dir;
    mapi::ComRef<fake::Session> m_session;
    mapi::ComRef<fake::Store> m_source;
    mapi::ComRef<fake::Store> m_target;
    std::unique_ptr<CMapiSession> m_cmapiSession;
    std::unique_ptr<CCopyEngine> m_engine;
};

TEST_F(CopyEngineTest, ItemsThatCannotBeCopiedAreLoggedAndTheRunGoesOn) {
    fake::Folder* inbox = Src()->AddChild("Inbox");
    inbox->AddItem("first");
    Locate(inbox->AddItem("damaged", MAPI_E_CORRUPT_DATA), "node 0x24");
    Locate(inbox->AddItem("", MAPI_E_NO_ACCESS), "node 0x44").Set(fake::Str(PR_DISPLAY_NAME_A, "by display name"));
    // Neither subject nor display name, nor a place of its own: the entry id names it.
    fake::Message& anonymous = inbox->AddItem("", MAPI_E_NOT_ENOUGH_MEMORY);
    Locate(inbox->AddItem("partly", MAPI_W_PARTIAL_COMPLETION), "node 0x84");
    inbox->AddItem("last");
    Src()->AddChild("Next")->AddItem("after");

    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    EXPECT_EQ(summary,
              "Summary: listed 7, filtered 0, already there 0, copied 3, failed 4; folders copied "
              "2, skipped 0");

    std::string entryId = "entry id ";
    for (BYTE b : anonymous.Eid()) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", b);
        entryId += hex;
    }
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Inbox to Inbox", "copy message \\Inbox: damaged (node 0x24)",
                                 "Error MAPI_E_CORRUPT_DATA",
                                 "copy message \\Inbox: by display name (node 0x44)", "Error E_ACCESSDENIED",
                                 "copy message \\Inbox: (no subject) (" + entryId + ")", "Error E_OUTOFMEMORY",
                                 "copy message \\Inbox: partly (node 0x84)", "Error MAPI_W_PARTIAL_COMPLETION",
                                 "Copy folder \\Next to Next"}));
    ASSERT_NE(Dst()->Child("Inbox"), nullptr);
    ASSERT_EQ(Dst()->Child("Inbox")->messages.size(), 2u);
    EXPECT_EQ(Dst()->Child("Inbox")->messages[0]->Text(PR_SUBJECT_A), "first");
    EXPECT_EQ(Dst()->Child("Inbox")->messages[1]->Text(PR_SUBJECT_A), "last");
    EXPECT_EQ(Dst()->Child("Next")->messages.size(), 1u);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.startEnabled, (std::vector<bool>{false, false, true, true}));
}

TEST_F(CopyEngineTest, AnUnreadableTableLogsTheBareErrorNameAndTheWalkGoesOn) {
    struct Case {
        const char* name;
        void (*breakIt)(fake::Folder*);
        const char* line;
    } cases[] = {
        {"table refused",
         [](fake::Folder* f) { f->Fail(fake::Call::GetContentsTable, MAPI_E_NO_ACCESS); },
         "E_ACCESSDENIED"},  // MAPI_E_NO_ACCESS shares its code
        {"rows unreadable",
         [](fake::Folder* f) { f->Fail(fake::Call::QueryRows, MAPI_E_CORRUPT_DATA); },
         "MAPI_E_CORRUPT_DATA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake::Folder* inbox = Src()->AddChild("Inbox");
        inbox->AddItem("lost");
        c.breakIt(inbox);
        inbox->AddChild("Sub")->AddItem("kept");

        // The folder whose items could not be listed counts as skipped.
        EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
        EXPECT_EQ(host.ledger.foldersSkipped, 1u);
        EXPECT_EQ(host.lines, (Lines{"Copy folder \\Inbox to Inbox", c.line,
                                     "Copy folder \\Inbox\\Sub to Sub"}));
        EXPECT_EQ(ItemsBelow(Dst()), 1u);
        host.Reset();
        m_engine.reset();
    }
}

TEST_F(CopyEngineTest, ACollisionGetsNumberedNamesFromZero) {
    struct Case {
        int refused;  // plain name and the first refused-1 numbered names
        const char* line;
    } cases[] = {
        {1, "Copy folder \\Inbox to Inbox0"},
        {3, "Copy folder \\Inbox to Inbox2"},
        {100, "Copy folder \\Inbox to Inbox99"},
        {101, "Skip folder \\Inbox: MAPI_E_COLLISION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused);
        SetUp();
        fake::Folder* inbox = Src()->AddChild("Inbox");
        inbox->AddItem("mail");
        inbox->AddChild("Sub")->AddItem("below");
        Dst()->failCreate["Inbox"] = MAPI_E_COLLISION;
        for (int n = 0; n + 1 < c.refused; ++n)
            Dst()->failCreate["Inbox" + std::to_string(n)] = MAPI_E_COLLISION;

        Run();
        ASSERT_FALSE(host.lines.empty());
        EXPECT_EQ(host.lines[0], c.line);
        if (c.refused <= 100) {
            std::string name = "Inbox" + std::to_string(c.refused - 1);
            ASSERT_NE(Dst()->Child(name), nullptr);
            EXPECT_EQ(Dst()->Child(name)->messages.size(), 1u);
            EXPECT_EQ(ItemsBelow(Dst()), 2u);
        } else {
            // Neither the folder nor anything below it lands anywhere else.
            EXPECT_EQ(host.lines.size(), 1u);
            EXPECT_EQ(ItemsBelow(Dst()), 0u);
        }
        host.Reset();
        m_engine.reset();
    }
}

TEST_F(CopyEngineTest, AFolderThatCannotBeMadeIsSkippedWithItsSubtree) {
    fake::Folder* broken = Src()->AddChild("Broken");
    broken->AddItem("a");
    broken->AddChild("Below")->AddItem("b");
    Src()->AddChild("Fine")->AddItem("c");
    Dst()->failCreate["Broken"] = MAPI_E_NO_ACCESS;

    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    EXPECT_EQ(host.ledger.foldersSkipped, 1u);
    EXPECT_EQ(host.lines,
              (Lines{"Skip folder \\Broken: E_ACCESSDENIED", "Copy folder \\Fine to Fine"}));
    EXPECT_EQ(Dst()->children.size(), 1u);
    EXPECT_EQ(ItemsBelow(Dst()), 1u);
    EXPECT_EQ(Dst()->Child("Fine")->messages.size(), 1u);
}

// Before the first copy the target takes a write it can undo (a folder made
// and removed again); a target that refuses it ends the run unwritten.
TEST_F(CopyEngineTest, ATargetThatRefusesTheWriteProbeIsRefusedBeforeAnyFolder) {
    Src()->AddChild("Inbox")->AddItem("a");
    Dst()->canDeleteFolders = true;
    EXPECT_EQ(Run(), RunOutcome::Completed);
    ASSERT_EQ(Dst()->deletedFolders.size(), 1u);
    EXPECT_EQ(Dst()->deletedFolders[0].rfind(".quirnel-write-probe-", 0), 0u);
    ASSERT_EQ(Dst()->children.size(), 1u);
    EXPECT_EQ(Dst()->children[0]->Name(), "Inbox");

    host.Reset();
    Src()->AddChild("Later")->AddItem("b");
    Dst()->Fail(fake::Call::CreateFolder, MAPI_E_NO_ACCESS);
    EXPECT_EQ(Run(), RunOutcome::Failed);
    EXPECT_EQ(host.boxes, (std::vector<std::pair<std::string, std::string>>{
                              {"Target", "Cannot copy into \"Target\": it refuses to be written "
                                         "(E_ACCESSDENIED). Nothing was written."}}));
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(Dst()->children.size(), 1u);
    EXPECT_EQ(ItemsBelow(Dst()), 1u);
}

TEST_F(CopyEngineTest, AFolderWithoutAReadableNameIsCopiedUnderAFallbackName) {
    Src()->AddChild("Unnamed folder")->AddItem("named so");
    fake::Folder* empty = Src()->AddChild("");
    empty->AddItem("a");
    empty->AddChild("Sub")->AddItem("b");
    for (SCODE why : {MAPI_E_CORRUPT_DATA, MAPI_E_NOT_FOUND}) {
        fake::Folder* unreadable = Src()->AddChild("");
        unreadable->Set(fake::Err(PR_DISPLAY_NAME, why));
        unreadable->AddItem("c");
    }

    EXPECT_EQ(Run(), RunOutcome::Completed);
    EXPECT_EQ(host.lines,
              (Lines{"Copy folder \\Unnamed folder to Unnamed folder",
                     "Copy folder \\ to Unnamed folder0", "Copy folder \\\\Sub to Sub",
                     "Copy folder \\ to Unnamed folder1", "Copy folder \\ to Unnamed folder2"}));
    ASSERT_NE(Dst()->Child("Unnamed folder0"), nullptr);
    EXPECT_EQ(Dst()->Child("Unnamed folder0")->messages.size(), 1u);
    ASSERT_NE(Dst()->Child("Unnamed folder0")->Child("Sub"), nullptr);
    EXPECT_EQ(Dst()->Child("Unnamed folder0")->Child("Sub")->messages.size(), 1u);
    EXPECT_EQ(Dst()->Child("Unnamed folder1")->messages.size(), 1u);
    EXPECT_EQ(Dst()->Child("Unnamed folder2")->messages.size(), 1u);
    EXPECT_EQ(ItemsBelow(Dst()), 5u);
}

TEST_F(CopyEngineTest, FoldersThatCannotBeOpenedOrListedAreLogged) {
    fake::Folder* closed = Src()->AddChild("Closed");
    closed->AddItem("x");
    m_source->entries->failOpen[closed->Eid()] = MAPI_E_CORRUPT_DATA;
    fake::Folder* parent = Src()->AddChild("Parent");
    parent->AddItem("y");
    parent->AddChild("Hidden");
    parent->Fail(fake::Call::GetHierarchyTable, MAPI_E_NO_ACCESS);
    Src()->AddChild("After")->AddItem("z");

    Run();
    EXPECT_EQ(
        host.lines,
        (Lines{"Skip folder \\Closed: MAPI_E_CORRUPT_DATA", "Copy folder \\Parent to Parent",
               "Skip subfolders of \\Parent: E_ACCESSDENIED", "Copy folder \\After to After"}));
    EXPECT_EQ(ItemsBelow(Dst()), 2u);
}

TEST_F(CopyEngineTest, AFolderListedAgainIsSkippedSoADamagedTreeCannotLoop) {
    // Damage: B lists its parent A and the IPM root below itself, the root
    // lists C a second time.
    fake::Folder* a = Src()->AddChild("A");
    a->AddItem("a");
    fake::Folder* b = a->AddChild("B");
    b->AddItem("b");
    fake::Folder* c = Src()->AddChild("C");
    c->AddItem("c");
    b->alsoListed = {a, Src()};
    Src()->alsoListed = {c};

    const Lines once{"Copy folder \\A to A",
                     "Copy folder \\A\\B to B",
                     "Skip folder \\A\\B\\A: already copied",
                     "Skip folder \\A\\B\\Top of Personal Folders: already copied",
                     "Copy folder \\C to C",
                     "Skip folder \\C: already copied"};
    EXPECT_EQ(Run(), RunOutcome::Completed);
    EXPECT_EQ(host.lines, once);
    ASSERT_EQ(Dst()->children.size(), 2u);
    ASSERT_NE(Dst()->Child("A"), nullptr);
    ASSERT_NE(Dst()->Child("A")->Child("B"), nullptr);
    EXPECT_TRUE(Dst()->Child("A")->Child("B")->children.empty());
    EXPECT_EQ(ItemsBelow(Dst()), 3u);

    // What one run walked does not keep the next run from copying it.
    host.lines.clear();
    EXPECT_EQ(Run(), RunOutcome::Completed);
    EXPECT_EQ(host.lines, once);
    EXPECT_EQ(Dst()->children.size(), 2u);
    EXPECT_EQ(ItemsBelow(Dst()), 6u);
}

TEST_F(CopyEngineTest, FoldersMoreThan256LevelsDeepAreSkipped) {
    fake::Folder* folder = Src();
    std::string path;
    for (int level = 1; level <= 258; ++level) {
        folder = folder->AddChild("f");
        folder->AddItem("at " + std::to_string(level));
        path += "\\f";
    }
    Src()->AddChild("After")->AddItem("after");

    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    ASSERT_EQ(host.lines.size(), 258u);
    // Long paths are shortened so that what follows them stays whole.
    EXPECT_EQ(host.lines[255],
              quirnel::CActivityLog::Fit("Copy folder ", path.substr(0, 256 * 2), " to f"));
    EXPECT_EQ(host.lines[256], quirnel::CActivityLog::Fit("Skip folder ", path.substr(0, 257 * 2),
                                                          ": more than 256 levels deep"));
    EXPECT_EQ(host.lines[256].size(), 511u);
    EXPECT_EQ(host.lines[257], "Copy folder \\After to After");
    EXPECT_EQ(ItemsBelow(Dst()), 257u);
}

TEST_F(CopyEngineTest, SearchFoldersAreSkippedWithTheirSubtree) {
    fake::Folder* search = Src()->AddChild("Unread", FOLDER_SEARCH);
    search->AddItem("a view of another item");
    search->AddChild("Below")->AddItem("b");
    fake::Folder* real = Src()->AddChild("Real");
    real->AddItem("c");
    real->AddChild("Nested search", FOLDER_SEARCH)->AddItem("d");

    Run();
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Real to Real"}));
    ASSERT_EQ(Dst()->children.size(), 1u);
    EXPECT_TRUE(Dst()->Child("Real")->children.empty());
    EXPECT_EQ(ItemsBelow(Dst()), 1u);
}

TEST_F(CopyEngineTest, StopEndsTheRunBetweenItems) {
    fake::Folder* inbox = Src()->AddChild("Inbox");
    for (int i = 0; i < 5; ++i) inbox->AddItem("item " + std::to_string(i));
    inbox->AddChild("Sub")->AddItem("never");
    Src()->AddChild("Later")->AddItem("never either");

    // After the second copy the worker waits until the user interface
    // thread (here: the test) has pressed Stop.
    std::promise<void> secondCopied;
    std::promise<void> stopPressed;
    std::shared_future<void> pressed = stopPressed.get_future().share();
    int copies = 0;
    inbox->afterCopy = [&] {
        if (++copies == 2) {
            secondCopied.set_value();
            pressed.wait();
        }
    };
    host.stop = true;  // pressed while idle: the run clears it first
    m_cmapiSession = std::make_unique<CMapiSession>(m_session.get());
    m_engine = std::make_unique<CCopyEngine>(host, *m_cmapiSession);
    std::thread worker(&CCopyEngine::CopyThreadProc, m_engine.get());
    secondCopied.get_future().wait();
    host.StopFlag().store(true);
    stopPressed.set_value();
    worker.join();

    EXPECT_EQ(m_engine->LastOutcome(), RunOutcome::Stopped);
    EXPECT_EQ(Dst()->Child("Inbox")->messages.size(), 2u);
    EXPECT_EQ(Dst()->Child("Inbox")->Child("Sub"), nullptr);
    EXPECT_EQ(Dst()->Child("Later"), nullptr);
    // The items a stop kept the run from are not listed.
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Inbox to Inbox",
                                 "Summary: listed 2, filtered 0, already there 0, copied 2, "
                                 "failed 0; folders copied 1, skipped 0"}));
    EXPECT_EQ(host.progress.back(), "Folder creation");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.startEnabled.back(), true);
}

TEST_F(CopyEngineTest, AStopRequestedBeforeTheRunEndsItBeforeTheFirstFolder) {
    fake::Folder* inbox = Src()->AddChild("Inbox");
    inbox->AddItem("never");
    inbox->AddChild("Sub")->AddItem("never either");
    host.stop = true;
    host.stopBeforeRun = true;

    EXPECT_EQ(Run(), RunOutcome::Stopped);
    EXPECT_TRUE(host.lines.empty());
    EXPECT_TRUE(Dst()->children.empty());
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(host.stop.load());
    EXPECT_EQ(host.startEnabled.back(), true);
}

TEST_F(CopyEngineTest, AQueryThatDoesNotCompileShowsOneBoxAndEndsTheRun) {
    Src()->AddChild("A")->AddItem("a");
    Src()->AddChild("B")->AddItem("b");
    host.query = "subject = ";
    RestrictionCompiler reference;
    reference.Compile(host.query.c_str());
    ASSERT_TRUE(reference.HasError());

    EXPECT_EQ(Run(), RunOutcome::QueryError);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].first, "Query");
    EXPECT_EQ(host.boxes[0].second, reference.ErrorText());
    // Refused before the first folder is made.
    EXPECT_TRUE(host.lines.empty());
    EXPECT_TRUE(Dst()->children.empty());
    EXPECT_EQ(ItemsBelow(Dst()), 0u);
    EXPECT_TRUE(host.stop.load());
}

TEST_F(CopyEngineTest, AQueryRestrictsEveryFolderAndARefusedRestrictionCopiesNothing) {
    fake::Folder* a = Src()->AddChild("A");
    a->AddItem("a");
    fake::Folder* b = Src()->AddChild("B");
    b->AddItem("b");
    b->Fail(fake::Call::Restrict, MAPI_E_TOO_COMPLEX);
    host.query = "Subject = \"a\"";

    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    EXPECT_EQ(a->restrictCalls, 1);
    EXPECT_EQ(b->restrictCalls, 1);
    EXPECT_EQ(host.lines,
              (Lines{"Copy folder \\A to A", "Copy folder \\B to B", "MAPI_E_TOO_COMPLEX"}));
    EXPECT_EQ(Dst()->Child("B")->messages.size(), 0u);
}

TEST_F(CopyEngineTest, AStoreNameThatIsNotInTheSessionEndsTheRunWithABox) {
    struct Case {
        std::string source, target;
        std::vector<std::string> opened;
        std::string missing;  // the name the box names
    } cases[] = {
        {"Missing", "Target", {}, "Missing"},  // the target is not even looked up
        {"", "Target", {}, ""},
        {"Source", "target", {"store:Source"}, "target"},  // names compare case-sensitively
        {"Source", "Source", {"store:Source", "store:Source"}, ""},  // a store into itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.target);
        SetUp();
        Src()->AddChild("Inbox")->AddItem("x");
        host.source = c.source;
        host.target = c.target;

        EXPECT_EQ(Run(), RunOutcome::Failed);
        const std::string text =
            c.missing.empty() ? "Please select source and target"
                              : "Please select source and target: no store is named \"" +
                                    c.missing + "\"";
        EXPECT_EQ(host.boxes, (std::vector<std::pair<std::string, std::string>>{{"", text}}));
        EXPECT_EQ(m_session->opened, c.opened);
        EXPECT_TRUE(host.lines.empty());
        EXPECT_EQ(ItemsBelow(Dst()), 0u);
        EXPECT_EQ(host.startEnabled.back(), true);
        host.Reset();
        m_engine.reset();
    }
}

TEST_F(CopyEngineTest, AFailureBeforeTheWalkIsReportedWithTheTitleStart) {
    m_source->props.erase(PROP_ID(PR_IPM_SUBTREE_ENTRYID));
    Src()->AddChild("Inbox")->AddItem("x");

    EXPECT_EQ(Run(), RunOutcome::Failed);
    EXPECT_EQ(host.boxes,
              (std::vector<std::pair<std::string, std::string>>{{"Start", "MAPI_E_NOT_FOUND"}}));
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(host.startEnabled, (std::vector<bool>{false, false, true, true}));
}

TEST_F(CopyEngineTest, MissingSpecialFoldersAndAnUnopenableLogFileDoNotStopTheRun) {
    fake::Folder* sent = Src()->AddChild("Sent Items");
    sent->AddItem("sent");
    m_source->SetSpecial(PR_IPM_SENTMAIL_ENTRYID, sent);
    m_source->failGet[PROP_ID(PR_IPM_SENTMAIL_ENTRYID)] = MAPI_E_CORRUPT_DATA;
    m_source->failGet[PROP_ID(PR_IPM_OUTBOX_ENTRYID)] = MAPI_E_NOT_FOUND;
    setenv("XDG_DOCUMENTS_DIR", (m_dir / "no such folder").c_str(), 1);

    EXPECT_EQ(Run(), RunOutcome::Completed);
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Sent Items to Sent Items"}));
    EXPECT_EQ(Dst()->Child("Sent Items")->messages.size(), 1u);
    // Not recognised as the sent items folder, so not made the target's.
    EXPECT_EQ(m_target->props.count(PROP_ID(PR_IPM_SENTMAIL_ENTRYID)), 0u);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "no such folder"));
}

// The source store's account of its damage above the items is logged as
// the run begins, counted in the ledger and ends the run with failures; a
// damaged source that lists nothing ends it as failed, with the reason.
TEST_F(CopyEngineTest, TheSourcesDamageAccountIsLoggedCountedAndEndsTheRun) {
    std::string first = "Folder \\Sent (folder 0x8062): its contents table cannot be read; 1 of its 3 items are in it";
    std::string second = "Read errors\x01 at offset 73,728";
    std::vector<LPSTR> texts{first.data(), second.data()};
    std::vector<LONG> lost{2, 0};
    SPropValue account{};
    account.ulPropTag = QuirnelTag(m_source.get(), mapi::kDamageAccountName, PT_MV_STRING8);
    account.Value.MVszA = {2, texts.data()};
    m_source->Set(fake::Value(account));
    SPropValue counts{};
    counts.ulPropTag = QuirnelTag(m_source.get(), mapi::kDamageItemsLostName, PT_MV_LONG);
    counts.Value.MVl = {2, lost.data()};
    m_source->Set(fake::Value(counts));
    Src()->AddChild("Sent")->AddItem("kept");

    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    const Lines damage{"Damaged source: " + first, "Damaged source: Read errors\\x01 at offset 73,728"};
    EXPECT_EQ(host.lines, (Lines{damage[0], damage[1], "Copy folder \\Sent to Sent",
                                 "Damage: salvaged 0, structures lost 2, items known lost 2"}));
    EXPECT_EQ(host.ledger.structuresLost, 2u);
    EXPECT_EQ(host.ledger.itemsKnownLost, 2u);
    EXPECT_TRUE(host.boxes.empty());

    Src()->children.clear();
    host.Reset();
    EXPECT_EQ(Run(), RunOutcome::Failed);
    EXPECT_EQ(host.lines, (Lines{damage[0], damage[1], "Nothing could be listed from the damaged source",
                                 "Damage: salvaged 0, structures lost 2, items known lost 2"}));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_NE(host.boxes[0].second.find(first), std::string::npos) << host.boxes[0].second;
}

TEST_F(CopyEngineTest, ASecondRunAppendsToTheSameLogFile) {
    {
        std::ofstream earlier(m_dir / "quirnel.log");
        earlier << "from an earlier day\n";
    }
    fake::Folder* inbox = Src()->AddChild("Inbox");
    Locate(inbox->AddItem("bad", MAPI_E_CORRUPT_DATA), "node 0x24");

    Run();
    Run();
    const Lines once{"Copy folder \\Inbox to Inbox", "copy message \\Inbox: bad (node 0x24)",
                     "Error MAPI_E_CORRUPT_DATA"};
    Lines twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(host.lines, twice);
    EXPECT_EQ(LogFile(),
              "from an earlier day\n"
              "Copy folder \\Inbox to Inbox\ncopy message \\Inbox: bad (node 0x24)\nError MAPI_E_CORRUPT_DATA\n" +
                  summary + "\n" +
                  "Copy folder \\Inbox to Inbox\ncopy message \\Inbox: bad (node 0x24)\nError MAPI_E_CORRUPT_DATA\n" +
                  summary + "\n");
    // The second run reused the folder of the first.
    EXPECT_EQ(Dst()->children.size(), 1u);
}

TEST_F(CopyEngineTest, PercentSignsInNamesAndSubjectsAreLoggedUnchanged) {
    fake::Folder* folder = Src()->AddChild("100% %s %n done");
    Locate(folder->AddItem("50% off %d %s", MAPI_E_CORRUPT_DATA), "node %x");

    Run();
    const Lines expected{"Copy folder \\100% %s %n done to 100% %s %n done",
                         "copy message \\100% %s %n done: 50% off %d %s (node %x)", "Error MAPI_E_CORRUPT_DATA"};
    EXPECT_EQ(host.lines, expected);
    EXPECT_EQ(LogFile(), expected[0] + "\n" + expected[1] + "\n" + expected[2] + "\n" + summary +
                             "\n");
}

TEST_F(CopyEngineTest, ALongFolderPathIsCutAt511Characters) {
    fake::Folder* folder = Src();
    std::string path;
    for (int level = 0; level < 6; ++level) {
        std::string name(99, static_cast<char>('a' + level));
        folder = folder->AddChild(name);
        path += "\\" + name;
    }
    ASSERT_EQ(path.size(), 600u);
    const std::string full = "Copy folder " + path + " to " + std::string(99, 'f');

    Run();
    ASSERT_EQ(host.lines.size(), 6u);
    // The path is shortened, the target name after it stays whole.
    const std::string cut = quirnel::CActivityLog::Fit("Copy folder ", path, " to " + std::string(99, 'f'));
    EXPECT_EQ(cut.size(), 511u);
    EXPECT_EQ(cut.substr(0, 400), full.substr(0, 400));
    EXPECT_EQ(cut.substr(cut.size() - 106), "... to " + std::string(99, 'f'));
    EXPECT_EQ(host.lines[5], cut);
    std::string file = LogFile();
    EXPECT_NE(file.find("\n" + cut + "\n"), std::string::npos);
    EXPECT_EQ(Dst()->children.size(), 1u);
}

TEST_F(CopyEngineTest, SpecialFoldersBecomeTheTargetsSpecialFolders) {
    fake::Folder* inbox = Src()->AddChild("Inbox");
    fake::Folder* outbox = Src()->AddChild("Outbox");
    fake::Folder* trash = Src()->AddChild("Deleted Items");
    fake::Folder* sent = Src()->AddChild("Sent Items");
    m_source->SetInbox(inbox);
    m_source->SetSpecial(PR_IPM_OUTBOX_ENTRYID, outbox);
    m_source->SetSpecial(PR_IPM_WASTEBASKET_ENTRYID, trash);
    m_source->SetSpecial(PR_IPM_SENTMAIL_ENTRYID, sent);
    trash->AddItem("thrown away");
    trash->Set(fake::Str(PR_CONTAINER_CLASS, "IPF.Note"));
    fake::Folder* targetTrash = Dst()->AddChild("Gelöschte Elemente");
    targetTrash->AddItem("already there");
    m_target->SetSpecial(PR_IPM_WASTEBASKET_ENTRYID, targetTrash);

    Run();
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Inbox to Inbox", "Copy folder \\Outbox to Outbox",
                                 "Copy folder \\Deleted Items to Deleted Items",
                                 "Copy folder \\Sent Items to Sent Items"}));
    EXPECT_EQ(Dst()->Child("Deleted Items"), nullptr);
    EXPECT_EQ(targetTrash->messages.size(), 2u);
    EXPECT_EQ(targetTrash->Text(PR_CONTAINER_CLASS), "IPF.Note");
    EXPECT_EQ(m_target->receiveFolders[""], Dst()->Child("Inbox")->Eid());
    EXPECT_EQ(m_target->receiveFolders["IPM"], Dst()->Child("Inbox")->Eid());
    EXPECT_EQ(m_target->Binary(PR_IPM_OUTBOX_ENTRYID), Dst()->Child("Outbox")->Eid());
    EXPECT_EQ(m_target->Binary(PR_IPM_SENTMAIL_ENTRYID), Dst()->Child("Sent Items")->Eid());
    EXPECT_EQ(m_target->Binary(PR_IPM_WASTEBASKET_ENTRYID), targetTrash->Eid());
}

TEST_F(CopyEngineTest, DeletedItemsGoToANewFolderWhenTheTargetHasNone) {
    fake::Folder* trash = Src()->AddChild("Trash");
    m_source->SetSpecial(PR_IPM_WASTEBASKET_ENTRYID, trash);
    trash->AddItem("thrown away");

    Run();
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Trash to Trash"}));
    ASSERT_NE(Dst()->Child("Trash"), nullptr);
    EXPECT_EQ(Dst()->Child("Trash")->messages.size(), 1u);
    EXPECT_EQ(m_target->Binary(PR_IPM_WASTEBASKET_ENTRYID), Dst()->Child("Trash")->Eid());
}

TEST_F(CopyEngineTest, EachSourceFolderGetsATargetFolderOfItsOwn) {
    // An existing target folder is reused once; a second source folder whose
    // name differs only in case gets a numbered one.
    Dst()->AddChild("Mail")->AddItem("kept");
    Src()->AddChild("Mail")->AddItem("upper");
    Src()->AddChild("mail")->AddItem("lower");

    Run();
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Mail to Mail", "Copy folder \\mail to mail0"}));
    EXPECT_EQ(Dst()->Child("Mail")->messages.size(), 2u);
    ASSERT_NE(Dst()->Child("mail0"), nullptr);
    ASSERT_EQ(Dst()->Child("mail0")->messages.size(), 1u);
    EXPECT_EQ(Dst()->Child("mail0")->messages[0]->Text(PR_SUBJECT_A), "lower");
}

TEST_F(CopyEngineTest, ProgressCountsEvery32Items) {
    fake::Folder* inbox = Src()->AddChild("Inbox");
    for (int i = 0; i < 33; ++i) inbox->AddItem("m");
    Src()->AddChild("Empty");

    Run();
    EXPECT_EQ(host.progress,
              (Lines{"Folder creation", quirnel::ProgressText(0, 33), quirnel::ProgressText(32, 33),
                     "Folder creation", "Folder creation"}));
    EXPECT_EQ(Dst()->Child("Inbox")->messages.size(), 33u);

    host.Reset();
    m_engine.reset();
    SetUp();
    Run();  // nothing below the IPM root
    EXPECT_EQ(host.progress, (Lines{"Folder creation"}));
    EXPECT_TRUE(host.lines.empty());
}

}  // namespace

namespace {

TEST_F(CopyEngineTest, AFullDiskOrATargetThatRefusesEveryItemEndsTheRunWithOneBox) {
    // A full disk ends the run at the item that met it; what came before stays.
    fake::Folder* inbox = Src()->AddChild("Inbox");
    inbox->AddItem("kept");
    inbox->AddItem("no room", MAPI_E_NOT_ENOUGH_DISK);
    inbox->AddItem("never tried");
    Src()->AddChild("Later")->AddItem("never either");

    EXPECT_EQ(Run(), RunOutcome::Failed);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].first, "Target full");
    EXPECT_EQ(ItemsBelow(Dst()), 1u);
    EXPECT_EQ(Dst()->Child("Later"), nullptr);
    EXPECT_EQ(summary,
              "Summary: listed 2, filtered 0, already there 0, copied 1, failed 1; folders copied "
              "1, skipped 0");

    // A target that refuses the first items all with one code ends the run
    // after a fixed number of them, not after a line for every item.
    host.Reset();
    m_engine.reset();
    SetUp();
    fake::Folder* big = Src()->AddChild("Big");
    for (int i = 0; i < 50; ++i) big->AddItem("refused", MAPI_E_NO_ACCESS);
    EXPECT_EQ(Run(), RunOutcome::Failed);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].first, "Target");
    EXPECT_NE(host.boxes[0].second.find("E_ACCESSDENIED"), std::string::npos);
    EXPECT_EQ(host.ledger.items.failed,
              static_cast<uint64_t>(CCopyEngine::kRefusingTargetFailures));

    // Damaged source items say nothing about the target: they never end it.
    host.Reset();
    m_engine.reset();
    SetUp();
    fake::Folder* damaged = Src()->AddChild("Damaged");
    for (int i = 0; i < 30; ++i) damaged->AddItem("broken", MAPI_E_CORRUPT_DATA);
    damaged->AddItem("fine");
    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(ItemsBelow(Dst()), 1u);
}

TEST_F(CopyEngineTest, AQueryThatDoesNotSayWhatWasTypedIsRefusedBeforeAnyFolder) {
    Src()->AddChild("A")->AddItem("a");
    struct Case {
        const char* query;
        const char* quoted;  // a part of the box's text
    } cases[] = {
        {"Subject contains \"invoice\"", "\"contains \\\"invoice\\\"\""},
        {"Subject = \"a\" foo", "\"foo\""},
        {"order by Subject", "no condition"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        host.Reset();
        host.query = c.query;
        EXPECT_EQ(Run(), RunOutcome::QueryError);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].first, "Query");
        EXPECT_NE(host.boxes[0].second.find(c.quoted), std::string::npos) << host.boxes[0].second;
        EXPECT_TRUE(host.lines.empty());
        EXPECT_TRUE(Dst()->children.empty());
    }
    // Blanks alone are no query: everything is copied.
    host.Reset();
    host.query = "  \t";
    EXPECT_EQ(Run(), RunOutcome::Completed);
    EXPECT_EQ(ItemsBelow(Dst()), 1u);
}

}  // namespace

namespace {

// The overall progress knows its end before the first copy, counts every
// item however it ended, never runs backwards, and ends where the ledger
// does; search folders and folders listed again count for nothing, as they
// copy nothing.
TEST_F(CopyEngineTest, OverallProgressIsCountedBeforeTheWalkAndEndsWithTheLedger) {
    fake::Folder* inbox = Src()->AddChild("Inbox");
    inbox->AddItem("mail 0");
    inbox->AddItem("tab\there");
    for (int i = 2; i < 5; ++i) inbox->AddItem("mail " + std::to_string(i));
    inbox->AddItem("broken", MAPI_E_CORRUPT_DATA);
    // A slow first copy lets the next item's report through.
    bool slept = false;
    inbox->afterCopy = [&] {
        if (!slept) std::this_thread::sleep_for(CCopyEngine::kProgressInterval * 3 / 2);
        slept = true;
    };
    fake::Folder* sub = inbox->AddChild("Sub");
    sub->AddItem("nested");
    Src()->AddChild("Unread", FOLDER_SEARCH)->AddItem("a view");
    Src()->AddItem("in the root, not copied");
    // Damage that the walk copies once: Sub lists its parents, the root
    // lists Sub as well.
    sub->alsoListed = {inbox, Src()};
    Src()->alsoListed = {sub};

    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    const auto& seen = host.itemProgress;
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front().total, 7u);
    EXPECT_EQ(seen.front().done, 0u);
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].done, seen[i - 1].done) << i;
        EXPECT_LE(seen[i].total, seen[i - 1].total) << i;
        EXPECT_LE(seen[i].done, seen[i].total) << i;
    }
    const quirnel::ItemCounts& items = host.ledger.items;
    EXPECT_EQ(seen.back().done, items.copied + items.alreadyThere + items.failed);
    EXPECT_EQ(seen.back().total, seen.back().done);
    EXPECT_EQ(items.failed, 1u);
    EXPECT_TRUE(seen.back().subject.empty());
    // The item in hand is named as the log names it.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const quirnel::RunProgress& p) {
        return p.folder == "\\Inbox" && p.subject == "tab\\x09here";
    }));
    // Each folder is named as the walk enters it, before its first item.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const quirnel::RunProgress& p) {
        return p.folder == "\\Inbox\\Sub" && p.subject.empty();
    }));

    // A stopped run leaves the bar short of its end.
    host.Reset();
    int copies = 0;
    inbox->afterCopy = [&] {
        if (++copies == 2) host.stop = true;
    };
    EXPECT_EQ(Run(), RunOutcome::Stopped);
    ASSERT_FALSE(host.itemProgress.empty());
    EXPECT_EQ(host.itemProgress.back().done, 2u);
    EXPECT_EQ(host.itemProgress.back().total, 7u);
}

}  // namespace

namespace {

// A contents table that a damaged store stops answering part way through.
class TableFailingAfter : public fake::Table {
public:
    explicit TableFailingAfter(int goodReads)
        : fake::Table({PR_ENTRYID, PR_SUBJECT_A}), goodReads_(goodReads) {}
    HRESULT QueryRows(LONG count, ULONG flags, LPSRowSet* out) override {
        if (goodReads_-- <= 0) {
            *out = nullptr;
            return MAPI_E_CORRUPT_DATA;
        }
        return fake::Table::QueryRows(count, flags, out);
    }

private:
    int goodReads_;
};

TEST_F(CopyEngineTest, AFolderIsListedWholeBeforeItsFirstCopyAndATableFailingPartWayCopiesNone) {
    constexpr int kBatch = quirnel::CRowBatches::kDefaultBatch;
    constexpr int kItems = kBatch + 44;
    auto fill = [this] {
        fake::Folder* inbox = Src()->AddChild("Inbox");
        for (int i = 0; i < kItems; ++i) inbox->AddItem("m" + std::to_string(i));
        inbox->AddChild("Sub")->AddItem("kept");
        return inbox;
    };
    auto restart = [this](std::size_t listingMemory) {
        host.Reset();
        m_engine.reset();
        SetUp();
        m_cmapiSession = std::make_unique<CMapiSession>(m_session.get());
        m_engine = std::make_unique<CCopyEngine>(host, *m_cmapiSession);
        quirnel::RunOptions options;
        options.listingMemory = listingMemory;
        m_engine->SetOptions(options);
    };
    const char* tmpdir = getenv("TMPDIR");
    const std::string savedTmpdir = tmpdir != nullptr ? tmpdir : "";
    const Lines folders{"Copy folder \\Inbox to Inbox", "Copy folder \\Inbox\\Sub to Sub"};
    Lines progress{"Folder creation"};
    for (int i = 0; i < kItems; i += 32) progress.push_back(quirnel::ProgressText(i, kItems));
    progress.insert(progress.end(),
                    {"Folder creation", quirnel::ProgressText(0, 1), "Folder creation"});
    // Every item once and in the table's order, across the table's batches,
    // whether the listing stays in memory or (a budget of a few items) goes
    // through the temporary file; the progress text counts on over the
    // batch boundary.
    for (std::size_t memory : {quirnel::CListingSpool::kDefaultMemory, std::size_t{100}}) {
        restart(memory);
        setenv("TMPDIR", m_dir.c_str(), 1);
        fill();
        EXPECT_EQ(Run(), RunOutcome::Completed) << memory;
        const fake::Folder* copied = Dst()->Child("Inbox");
        ASSERT_NE(copied, nullptr);
        ASSERT_EQ(copied->messages.size(), static_cast<size_t>(kItems));
        for (int i = 0; i < kItems; ++i)
            EXPECT_EQ(copied->messages[i]->Text(PR_SUBJECT_A), "m" + std::to_string(i)) << i;
        EXPECT_EQ(host.progress, progress);
        EXPECT_EQ(host.lines, folders);
        // The file has no name: nothing is left where it was made.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir),
                                std::filesystem::directory_iterator()),
                  1)  // the log file
            << memory;
    }
    // The same budgets where no temporary file can be made: the listing
    // that fits in memory needs none; the one that does not fails its
    // folder with a line that says why, before any item is copied.
    for (std::size_t memory : {quirnel::CListingSpool::kDefaultMemory, std::size_t{100}}) {
        restart(memory);
        setenv("TMPDIR", (m_dir / "missing").c_str(), 1);
        fill();
        const bool spills = memory < quirnel::CListingSpool::kDefaultMemory;
        EXPECT_EQ(Run(), spills ? RunOutcome::CompletedWithFailures : RunOutcome::Completed);
        EXPECT_EQ(Dst()->Child("Inbox")->messages.size(), spills ? 0u : kItems + 0u);
        if (spills) {
            ASSERT_EQ(host.lines.size(), 3u);
            EXPECT_EQ(host.lines[1].rfind("Skip the items of \\Inbox: cannot make a temporary "
                                          "file for the folder's listing in ",
                                          0),
                      0u)
                << host.lines[1];
            EXPECT_NE(host.lines[1].find("No such file or directory"), std::string::npos);
            EXPECT_EQ(summary,
                      "Summary: listed 1, filtered 0, already there 0, copied 1, failed 0; "
                      "folders copied 1, skipped 1");
        }
    }
    if (tmpdir != nullptr)
        setenv("TMPDIR", savedTmpdir.c_str(), 1);
    else
        unsetenv("TMPDIR");

    // The second batch fails: the folder's listing is not whole, so none of
    // it is copied; the line names the error, the folder counts as skipped
    // and the walk goes on.
    host.Reset();
    m_engine.reset();
    SetUp();
    fake::Folder* inbox = fill();
    auto table = fake::Make<TableFailingAfter>(1);
    for (const auto& m : inbox->messages) {
        SPropValue eid{};
        table->AddRow(m->Row(&eid));
    }
    inbox->contents = table.get();
    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Inbox to Inbox", "MAPI_E_CORRUPT_DATA",
                                 "Copy folder \\Inbox\\Sub to Sub"}));
    EXPECT_EQ(Dst()->Child("Inbox")->messages.size(), 0u);
    EXPECT_EQ(summary,
              "Summary: listed 1, filtered 0, already there 0, copied 1, failed 0; folders copied "
              "1, skipped 1");
    EXPECT_EQ(host.itemProgress.back().done, 1u);

    // Anything else that ends the folder within an item: the items before
    // it stay counted, the one in hand has no outcome and is not listed.
    host.Reset();
    m_engine.reset();
    SetUp();
    inbox = fill();
    int copies = 0;
    inbox->afterCopy = [&copies] {
        if (++copies == 3) throw std::runtime_error("store gone");
    };
    EXPECT_EQ(Run(), RunOutcome::CompletedWithFailures);
    EXPECT_EQ(host.lines, (Lines{"Copy folder \\Inbox to Inbox", "store gone",
                                 "Copy folder \\Inbox\\Sub to Sub"}));
    EXPECT_EQ(summary,
              "Summary: listed 3, filtered 0, already there 0, copied 3, failed 0; folders copied "
              "1, skipped 1");
}

}  // namespace
