// The copy engine: one copy run copies the whole IPM subtree of the source
// store into the target store, folder by folder and item by item, with the
// special folders mapped and every failure logged while the rest goes on.
// Items the target received from the source in an earlier run (the
// provenance the platform's copy stamps) are left out, so a run can always be
// started again. Before anything is written the run refuses a query that does
// not say what was typed, a target that is the source, and a read-only
// target or one that refuses a write it could undo; a full disk or a target
// that refuses every item ends it. A run that writes holds its target's
// writer lock (target_lock.h) from then to its end: a second run into the
// same store waits for it, or with RunOptions::noWait ends naming it. Every
// run ends with its ledger: a Summary line, then CCopyHost::OnRunFinished.
//
// Ownership: the host (main dialog or quirnel-copy) owns the engine and the
// session and must keep both alive until the worker has returned from
// CopyThreadProc. The engine owns the two stores, the four special-folder
// identifiers of the source and the log file; stores and identifiers stay
// after a run, the log file is open only during one. Every folder, table and
// row set of the walk is released as the walk returns.
//
// Memory: a folder's listing is read whole before its first copy, but kept
// packed (what the copy uses of each row) in memory up to
// RunOptions::listingMemory and in an unnamed temporary file past it; a run
// holds per item only the digests of the folder in hand (the target's
// copies for resuming, 24 bytes each, and the items met so far, to copy an
// item a damaged table lists twice once) and, with verify, the items copied.
//
// Threads: RunCopy and CopyThreadProc run on the worker thread (or any one
// thread); the engine reaches its host only through CCopyHost, whose thread
// contract applies. At most one run may be active per engine; the host makes
// sure of that (the Start button is disabled while a run is active). Stop
// from any thread by setting the host's StopFlag().
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include <MapiWrapper.h>
#include <restriction_compiler.h>
#include <saved_queries.h>
#include <stored_query.h>

#include "activity_log.h"
#include "copy_host.h"
#include "copy_ledger.h"
#include "listing_spool.h"
#include "row_batches.h"
#include "target_index.h"
#include "verify_scope.h"
#include "target_lock.h"

namespace quirnel {

// What a run does besides copying; set by the host before the run starts.
struct RunOptions {
    // Walk and count as a run would, print what would be copied, and write
    // nothing to the target (not even folders).
    bool dryRun = false;
    // Copy items that the target received in an earlier run all the same.
    bool again = false;
    // Compare every item this run copied with its source and log each
    // difference.
    bool verify = false;
    // Bytes of a folder's listing kept in memory; the rest goes to a
    // temporary file in $TMPDIR (or /tmp).
    std::size_t listingMemory = CListingSpool::kDefaultMemory;
    // The saved queries that the query may call (saved_queries.h), read as
    // the run begins; empty for none.
    std::string savedQueriesFile = SavedQueriesPath();
    // When another run holds the target: end at once naming it, instead of
    // waiting for it to finish.
    bool noWait = false;
};

class CCopyEngine {
public:
    CCopyEngine(CCopyHost& host, CMapiSession& session);
    CCopyEngine(const CCopyEngine&) = delete;
    CCopyEngine& operator=(const CCopyEngine&) = delete;

    // Thread procedure: param is the CCopyEngine. Disables Start, runs
    // RunCopy, enables Start; returns 0.
    static unsigned CopyThreadProc(void* param);

    // One copy run. Lets no exception out.
    void RunCopy();

    // Options of the runs that follow; not to be changed during a run.
    void SetOptions(const RunOptions& options) { m_options = options; }

    // How the last run ended and what it counted (as handed to
    // CCopyHost::OnRunFinished).
    RunOutcome LastOutcome() const { return m_outcome; }
    const CopyLedger& LastLedger() const { return m_ledger; }
    // Items the last run's verification found different from their source,
    // and the items it compared.
    uint64_t LastDifferences() const { return m_differences; }
    uint64_t LastCompared() const { return m_compared; }

    // How many items the target store named targetName already received
    // from the store named sourceName (by the provenance of each copy), so
    // that Start can offer to resume. 0 when either store is not found or
    // cannot be read: the run itself then says what is wrong, and a run
    // without again never copies an item twice anyway. Not during a run.
    uint64_t CountCopiesInTarget(const std::string& sourceName, const std::string& targetName);

    // Consecutive failures with one code, before any item was copied, after
    // which the target is taken to refuse every item and the run ends.
    static constexpr int kRefusingTargetFailures = 20;

    // The least time between two reports of the run's progress to the host
    // (each is a blocking call to the window's thread).
    static constexpr std::chrono::milliseconds kProgressInterval{100};

private:
    // name is the display name no store of the session has; empty when no
    // store can serve (none chosen, or source and target chosen alike).
    struct StoreNotFound {
        std::string name;
    };

    // The run between opening the log and the summary: stores, checks, walk.
    // Throws StoreNotFound and CMAPIException.
    void Walk();

    // The store whose display name is name (first exact, case-sensitive match
    // in the session's store table). Throws StoreNotFound when there is none,
    // CMAPIException when MAPI fails. storeId gets its entry id from the table.
    IMsgStorePtr OpenStoreByName(const std::string& name, CMapiBinary& storeId);
    // Rebuilds the folders below source under target, depth first, and has
    // each folder's items copied. path is source's path ("" for the root),
    // depth its number of levels below the root (0 for the root).
    void CopyFolderTree(const std::string& path, IMAPIFolderPtr source, IMAPIFolderPtr target,
                        int depth);
    // One child of CopyFolderTree: finds or makes its target folder, logs
    // it, copies its items and descends. Lets no exception out.
    void CopyChildFolder(const std::string& path, int depth, const CMapiPropValue& nameCell,
                         const CMapiPropValue& eidCell, const IMAPIFolderPtr& source,
                         const IMAPIFolderPtr& target);
    // The checks before anything is written. Each reports what is wrong in
    // one box, sets the outcome and returns false.
    bool CheckNotOneStore(const CMapiBinary& sourceId, const CMapiBinary& targetId);
    bool CheckTargetWritable();
    // Asks the target for a write it can undo (a hidden folder below
    // targetRoot, made and removed again) where the store can remove a
    // folder; a refusal ends the run before anything is copied.
    bool ProbeTargetWrite(const IMAPIFolderPtr& targetRoot);
    // Reads the saved queries too, and logs what is wrong with their file
    // when there is a query to call them.
    bool CheckQuery(const IMAPIFolderPtr& sourceRoot);
    // Takes the target's writer lock (waiting for another run that holds
    // it, unless noWait); false when the run is to end (another holds it
    // and noWait, or a stop came while waiting).
    bool LockTarget(const CMapiBinary& targetId);
    // Shows the "Query" box and ends the run when the compile failed, left
    // text unread, made no condition or made one no store can evaluate;
    // false when the query is usable.
    bool RefuseQuery(const RestrictionCompiler& compiler);
    // Logs and counts the source store's account of its damage (the
    // records its reader could not repair); run_damage.cpp.
    void AccountSourceDamage();
    // After the walk: a damaged source that listed nothing ends the run as
    // failed; damage that was not repaired makes it one with failures.
    void EndAfterDamage();
    // Ends the run after a failure that every later item would meet too.
    void EndRun(const std::string& caption, const std::string& text);
    // Notes the outcome of one item's copy; ends the run on a full disk or
    // a target that refuses every item.
    void NoteCopyResult(HRESULT hr);
    // The target folder of this source child without making or changing
    // anything (dry run); an empty wrapper when the target has none yet.
    IMAPIFolderPtr FindTargetFolder(const CMapiBinary& eid, const std::string& name,
                                    const IMAPIFolderPtr& target);
    // Finds or makes the target folder of the source child eid named name
    // below target; the name it was made under goes to targetName. An empty
    // wrapper when none could be obtained (error gets the reason).
    IMAPIFolderPtr MakeTargetFolder(const CMapiBinary& eid, const std::string& name,
                                    const IMAPIFolderPtr& target, std::string& targetName,
                                    HRESULT& error);
    // The target's deleted items folder when it is free for this run, else
    // an empty wrapper.
    IMAPIFolderPtr TargetWastebasket();
    // Claims folder for one source folder of this run; false when another
    // source folder has it already.
    bool ClaimTarget(const IMAPIFolderPtr& folder);
    // Makes targetChild the target store's special folder of the kind that
    // sourceChild is in the source store, if any. Identifier reads may throw.
    void MapSpecialFolders(const IMAPIFolderPtr& sourceChild, const IMAPIFolderPtr& targetChild);
    // Copies the items of source into target, one CopyMessages call each,
    // filtered by the host's query, and adds the folder to the ledger (or
    // counts it skipped). target is empty in a dry run for a folder the
    // target does not have yet. Lets no exception out.
    void CopyFolderContents(const std::string& path, IMAPIFolderPtr source, IMAPIFolderPtr target,
                            bool associated);
    // Reads every row of the items to copy, restricted by the query, into
    // listing and rewinds it; unrestricted gets the table's number of rows
    // without the restriction. false when the query did not compile or was
    // refused (the box is shown and the run ends). Throws CMAPIException
    // when the table fails, ListingSpoolError when the listing cannot be
    // kept.
    bool ReadListing(RestrictionCompiler& compiler, const IMAPIFolderPtr& source, bool associated,
                     CListingSpool& listing, ULONG& unrestricted);
    // The tag (as PT_STRING8) under which source's store keeps the report of
    // a salvaged item, or PR_NULL when it has never kept one.
    static ULONG DamageReportTag(const IMAPIFolderPtr& source);
    // The tag of name in Quirnel's property set in source's store, with
    // type; PR_NULL when the store has never known the name.
    static ULONG QuirnelTag(const IMAPIFolderPtr& source, const char16_t* name, ULONG type);
    // The "copy message" line of an item that failed, which names it: its
    // folder's path, its subject (escaped) and where it lives in the store
    // (the store's locator, else its entry id).
    void LogFailedItem(const std::string& subject, const ListedItem& item);
    // Logs what a salvaged item lost, from its report; false when the item
    // was whole (it has none).
    bool LogSalvage(const std::string& subject, const std::optional<std::string>& report);
    // An item this run copied, for the verification.
    struct CopiedItem {
        std::string key;      // CTargetIndex::KeyOf its source entry id
        std::string subject;  // escaped, for messages
    };
    // Copies (or in a dry run counts) the items of listing not yet in
    // index, in the table's order. Counts into counts, listed as the items
    // that got an outcome; reached becomes true with the first item.
    void CopyItems(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target,
                   CListingSpool& listing, CTargetIndex& index, ItemCounts& counts,
                   std::vector<CopiedItem>& copied, bool& reached);
    // One item of CopyItems; seen holds the items met before in this folder.
    void CopyRow(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target, ListedItem& item,
                 CTargetIndex& index, std::unordered_set<KeyDigest, KeyDigestHash>& seen,
                 ItemCounts& counts, std::vector<CopiedItem>& copied);
    // After the folder's items failed (the line is logged): a folder none of
    // whose items was reached (its listing could not be read or kept) is
    // skipped; one that an exception ended within an item keeps what it
    // counted and is skipped for the rest.
    void EndFolderEarly(const FolderLedger& folder, const IMAPIFolderPtr& source,
                        const IMAPIFolderPtr& target, const std::vector<CopiedItem>& copied,
                        bool reached);
    // Compares the copies of copied in target with their source and logs
    // each difference. Lets no exception out.
    void VerifyCopies(const std::string& path, const IMAPIFolderPtr& source,
                      const IMAPIFolderPtr& target, const std::vector<CopiedItem>& copied);
    // Logs head + middle + tail, cut so that the tail (the reason) stays
    // whole; middle is a path or subject already escaped.
    void LogFitted(const std::string& head, const std::string& middle, const std::string& tail) {
        m_log.LogFitted(head, middle, tail);
    }

    // Hands the host the run's progress: always when force, else at most
    // every kProgressInterval.
    void ReportProgress(bool force);

    void LogLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool StopRequested() const { return m_ended || m_host.StopFlag().load(); }

    CCopyHost& m_host;
    CMapiSession& m_session;
    CActivityLog m_log;
    CMapiBinary m_eidSourceOutbox;
    CMapiBinary m_eidSourceWastebasket;
    CMapiBinary m_eidSourceSentMail;
    CMapiBinary m_eidSourceInbox;
    IMsgStorePtr m_storeSource;
    IMsgStorePtr m_storeTarget;
    // Held from the checks to the end of the run (one writer per target).
    CTargetLock m_targetLock;
    // Entry identifiers (as bytes) of the target folders this run has given
    // to a source folder, so two source folders never share one.
    std::set<std::string> m_usedTargets;
    // Entry identifiers (as bytes) of the source folders this run has walked
    // into, the IPM root among them: a damaged store may list a folder below
    // itself or twice, and walking it again would never end or copy its
    // items twice.
    std::set<std::string> m_walkedSources;
    RunOptions m_options;
    // The saved queries of this run, set on every compiler of the query.
    StoredQueryCollection m_storedQueries;
    RunOutcome m_outcome = RunOutcome::Completed;
    CopyLedger m_ledger;
    uint64_t m_differences = 0;
    // Items the verification compared, and what it compared of each.
    uint64_t m_compared = 0;
    TargetKind m_targetKind = TargetKind::Complete;
    RunProgress m_progress;
    std::chrono::steady_clock::time_point m_lastProgress;
    // A run-ending failure was reported: the walk winds down like a stop.
    bool m_ended = false;
    // The source's first damage record (escaped), for the reason of a run
    // that could list nothing.
    std::string m_firstDamage;
    // Whether any item was copied in this run, and the current series of
    // failures with one code (a target that refuses every item).
    bool m_anyCopied = false;
    int m_failureSeries = 0;
    HRESULT m_failureSeriesCode = S_OK;
};

// The folder behind an opened object, or an empty wrapper when the object is
// not a folder.
IMAPIFolderPtr AsFolder(const IMAPIPropPtr& object);

}  // namespace quirnel
