// The copy engine: one copy run copies the whole IPM subtree of the source
// store into the target store, folder by folder and item by item, with the
// special folders mapped and every failure logged while the rest goes on.
//
// Ownership: the host (main dialog or quirnel-copy) owns the engine and the
// session and must keep both alive until the worker has returned from
// CopyThreadProc. The engine owns the two stores, the four special-folder
// identifiers of the source and the log file; stores and identifiers stay
// after a run, the log file is open only during one. Every folder, table and
// row set of the walk is released as the walk returns.
//
// Threads: RunCopy and CopyThreadProc run on the worker thread (or any one
// thread); the engine reaches its host only through CCopyHost, whose thread
// contract applies. At most one run may be active per engine; the host makes
// sure of that (the Start button is disabled while a run is active). Stop
// from any thread by setting the host's StopFlag().
#pragma once

#include <atomic>
#include <set>
#include <string>

#include <MapiWrapper.h>
#include <restriction_compiler.h>

#include "activity_log.h"
#include "copy_host.h"

namespace quirnel {

// How the last run ended, for front ends that report it (exit status).
enum class CopyOutcome {
    NotRun,       // no run yet
    Completed,    // the walk finished (failures of single items are logged)
    Stopped,      // the stop flag ended the walk
    QueryFailed,  // the query did not compile: one box, then ended like a stop
    Failed,       // a run-ending failure was reported in a box
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

    CopyOutcome LastOutcome() const { return m_outcome; }

private:
    struct StoreNotFound {};

    // The store whose display name is name (first exact, case-sensitive match
    // in the session's store table). Throws StoreNotFound when there is none,
    // CMAPIException when MAPI fails.
    IMsgStorePtr OpenStoreByName(const std::string& name);
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
    // filtered by the host's query. Lets no exception out.
    void CopyFolderContents(IMAPIFolderPtr source, IMAPIFolderPtr target, bool associated);
    // The rows to copy, restricted by the query; false when the query did
    // not compile (the box is shown and the stop flag set).
    bool ReadItemRows(RestrictionCompiler& compiler, const IMAPIFolderPtr& source, bool associated,
                      CMapiRowSet& rows);
    void CopyItems(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target,
                   const CMapiRowSet& rows);

    void LogLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool StopRequested() const { return m_host.StopFlag().load(); }

    CCopyHost& m_host;
    CMapiSession& m_session;
    CActivityLog m_log;
    CMapiBinary m_eidSourceOutbox;
    CMapiBinary m_eidSourceWastebasket;
    CMapiBinary m_eidSourceSentMail;
    CMapiBinary m_eidSourceInbox;
    IMsgStorePtr m_storeSource;
    IMsgStorePtr m_storeTarget;
    // Entry identifiers (as bytes) of the target folders this run has given
    // to a source folder, so two source folders never share one.
    std::set<std::string> m_usedTargets;
    // Entry identifiers (as bytes) of the source folders this run has walked
    // into, the IPM root among them: a damaged store may list a folder below
    // itself or twice, and walking it again would never end or copy its
    // items twice.
    std::set<std::string> m_walkedSources;
    CopyOutcome m_outcome = CopyOutcome::NotRun;
};

// The folder behind an opened object, or an empty wrapper when the object is
// not a folder.
IMAPIFolderPtr AsFolder(const IMAPIPropPtr& object);

}  // namespace quirnel
