// One copy run: opens the log file and both stores, notes the source's
// special folders and hands the two IPM roots to the folder tree copy.
#include <algorithm>
#include <cstdarg>

#include <runtime/provenance.h>

#include "copy_engine.h"
#include "item_count.h"
#include "log_location.h"

namespace quirnel {

namespace {

constexpr char kSelectStores[] = "Please select source and target";

}  // namespace

IMAPIFolderPtr AsFolder(const IMAPIPropPtr& object) {
    LPMAPIPROP raw = object._rawInterface();
    if (raw == nullptr) return IMAPIFolderPtr();
    CInterfaceRef<IMAPIFolder> folder;
    if (FAILED(raw->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.Receive()))))
        return IMAPIFolderPtr();
    return IMAPIFolderPtr(folder.get());
}

namespace {

// The folder of an entry identifier of store; an object that is not a folder
// is refused like a bad identifier.
IMAPIFolderPtr OpenFolder(const IMsgStorePtr& store, const CMapiBinary& eid) {
    IMAPIFolderPtr folder = AsFolder(store.OpenEntry(eid));
    if (!folder) throw CMAPIException(MAPI_E_INTERFACE_NOT_SUPPORTED, nullptr);
    return folder;
}

}  // namespace

CCopyEngine::CCopyEngine(CCopyHost& host, CMapiSession& session)
    : m_host(host), m_session(session), m_log(host) {}

unsigned CCopyEngine::CopyThreadProc(void* param) {
    auto* engine = static_cast<CCopyEngine*>(param);
    engine->m_host.SetStartEnabled(false);
    engine->RunCopy();
    engine->m_host.SetStartEnabled(true);
    return 0;
}

void CCopyEngine::LogLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_log.LogLineV(format, args);
    va_end(args);
}

void CCopyEngine::RunCopy() {
    m_host.StopFlag().store(false);
    // Asked only after the clearing: a request that comes later sets the
    // flag itself, one that came earlier is seen here.
    if (m_host.StopRequestedBeforeRun()) m_host.StopFlag().store(true);
    m_outcome = RunOutcome::Completed;
    m_ledger = CopyLedger();
    m_differences = 0;
    m_compared = 0;
    m_targetKind = TargetKind::Complete;
    m_progress = RunProgress();
    m_ended = false;
    m_firstDamage.clear();
    m_anyCopied = false;
    m_failureSeries = 0;
    m_failureSeriesCode = S_OK;
    m_usedTargets.clear();
    m_walkedSources.clear();
    try {
        m_log.Open(LogFilePath());
    } catch (...) {
        // Without a file the lines still reach the activity list.
    }
    m_host.SetStartEnabled(false);

    try {
        Walk();
    } catch (const CMAPIException& e) {
        m_outcome = RunOutcome::Failed;
        e.ReportError("Start");
    } catch (const StoreNotFound& e) {
        m_outcome = RunOutcome::Failed;
        // A name typed on a command line can be wrong; one chosen from the
        // dialog's lists is never missing, only not chosen.
        m_host.ShowMessageBox(std::string(),
                              e.name.empty() ? std::string(kSelectStores)
                                             : std::string(kSelectStores) +
                                                   ": no store is named \"" +
                                                   CActivityLog::Escaped(e.name) + "\"");
    } catch (...) {
        m_outcome = RunOutcome::Failed;
        m_host.ShowMessageBox(std::string(), kSelectStores);
    }

    if (m_outcome == RunOutcome::Completed) {
        if (m_host.StopFlag().load())
            m_outcome = RunOutcome::Stopped;
        else if (m_ledger.items.failed > 0 || m_ledger.foldersSkipped > 0)
            m_outcome = RunOutcome::CompletedWithFailures;
    }
    EndAfterDamage();
    if (m_options.dryRun) LogLine("%s", "Dry run: nothing was written to the target");
    if (m_ledger.items.salvaged > 0)
        LogLine("Salvaged: %llu of the copied items lost parts in the source; each is named above",
                static_cast<unsigned long long>(m_ledger.items.salvaged));
    if (m_options.verify && !m_options.dryRun) {
        if (m_compared == 0)
            LogLine("%s", "Verify: nothing was compared, no item was copied");
        else
            LogLine("Verify: %llu item(s) compared (%s), %llu differ",
                    static_cast<unsigned long long>(m_compared), ScopeText(m_targetKind),
                    static_cast<unsigned long long>(m_differences));
    }
    m_progress.subject.clear();
    ReportProgress(true);
    if (m_ledger.Damaged()) LogLine("%s", m_ledger.DamageLine().c_str());
    // The last line of every run, whatever ended it.
    LogLine("%s", m_ledger.SummaryLine().c_str());
    m_host.OnRunFinished(m_ledger, m_outcome);
    m_log.Close();
    m_targetLock.Release();
    m_host.SetStartEnabled(true);
}

void CCopyEngine::Walk() {
    std::string sourceName = m_host.SourceStoreName();
    std::string targetName = m_host.TargetStoreName();
    CMapiBinary sourceId, targetId;
    m_storeSource = OpenStoreByName(sourceName, sourceId);
    m_storeTarget = OpenStoreByName(targetName, targetId);
    // Both names find the first store of that name: copying a store into
    // itself would only double every item.
    if (sourceName == targetName) throw StoreNotFound{};
    if (!CheckNotOneStore(sourceId, targetId)) return;
    m_targetKind = TargetKindOf(m_storeTarget._rawInterface());

    CMapiBinary sourceRootId = m_storeSource.GetBinaryProp(PR_IPM_SUBTREE_ENTRYID);
    CMapiBinary targetRootId = m_storeTarget.GetBinaryProp(PR_IPM_SUBTREE_ENTRYID);
    IMAPIFolderPtr sourceRoot = OpenFolder(m_storeSource, sourceRootId);
    IMAPIFolderPtr targetRoot = OpenFolder(m_storeTarget, targetRootId);
    if (!CheckQuery(sourceRoot)) return;
    if (!m_options.dryRun && !CheckTargetWritable()) return;
    // The probe writes, so only the run that holds the target may make it.
    if (!m_options.dryRun && (!LockTarget(targetId) || !ProbeTargetWrite(targetRoot))) return;
    AccountSourceDamage();

    // A special folder that cannot be read is simply not mapped; its
    // identifier keeps the value of an earlier run.
    try {
        m_eidSourceOutbox = m_storeSource.GetBinaryProp(PR_IPM_OUTBOX_ENTRYID);
    } catch (const CMAPIException&) {
    }
    try {
        m_eidSourceWastebasket = m_storeSource.GetBinaryProp(PR_IPM_WASTEBASKET_ENTRYID);
    } catch (const CMAPIException&) {
    }
    try {
        m_eidSourceSentMail = m_storeSource.GetBinaryProp(PR_IPM_SENTMAIL_ENTRYID);
    } catch (const CMAPIException&) {
    }
    try {
        m_eidSourceInbox = m_storeSource.GetReceiveFolder("").GetBinaryProp(PR_ENTRYID);
    } catch (const CMAPIException&) {
    }

    // One more pass over the source's folders, reading no item, so that the
    // progress bar knows its end before the first copy.
    m_progress.total = CountItemsBelow(sourceRoot, m_host.StopFlag());
    ReportProgress(true);

    m_walkedSources.insert(
        std::string(reinterpret_cast<const char*>(sourceRootId.Bytes()), sourceRootId.Size()));
    CopyFolderTree(std::string(), sourceRoot, targetRoot, 0);
}

void CCopyEngine::EndRun(const std::string& caption, const std::string& text) {
    if (m_ended) return;
    m_ended = true;
    m_outcome = RunOutcome::Failed;
    m_host.ShowMessageBox(caption, text);
}

void CCopyEngine::ReportProgress(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastProgress < kProgressInterval) return;
    m_lastProgress = now;
    m_progress.total = std::max(m_progress.total, m_progress.done);
    m_host.OnItemProgress(m_progress);
}

uint64_t CCopyEngine::CountCopiesInTarget(const std::string& sourceName,
                                          const std::string& targetName) {
    try {
        CMapiBinary sourceId, targetId;
        IMsgStorePtr source = OpenStoreByName(sourceName, sourceId);
        IMsgStorePtr target = OpenStoreByName(targetName, targetId);
        if (sourceName == targetName) return 0;
        // The identity that every copy records is the one inside the entry
        // ids of the source's items, which its folders share.
        CMapiBinary sourceRootId = source.GetBinaryProp(PR_IPM_SUBTREE_ENTRYID);
        const std::string identity =
            mapi::StoreIdentityOf(sourceRootId.Bytes(), sourceRootId.Size());
        IMAPIFolderPtr targetRoot =
            OpenFolder(target, target.GetBinaryProp(PR_IPM_SUBTREE_ENTRYID));
        return CountCopiesFrom(targetRoot, identity);
    } catch (...) {
        return 0;
    }
}

IMsgStorePtr CCopyEngine::OpenStoreByName(const std::string& name, CMapiBinary& storeId) {
    LPMAPITABLE table = m_session.GetStoresTable();
    if (table == nullptr) throw CMAPIException(MAPI_E_CALL_FAILED, "CMapiSession::GetStoresTable");
    CMapiRowSet rows = QueryAllRows(table, {PR_DISPLAY_NAME, PR_ENTRYID});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        LPCSTR rowName = rows.Cell(i, 0).String8();
        if (name != (rowName != nullptr ? rowName : "")) continue;
        CMapiBinary eid;
        eid = rows.Cell(i, 1);
        storeId = eid;
        CInterfaceRef<IUnknown> object = m_session.OpenEntry(eid);
        if (!object) throw CMAPIException(MAPI_E_NOT_FOUND, nullptr);
        CInterfaceRef<IMsgStore> store;
        HRESULT hr =
            object->QueryInterface(IID_IMsgStore, reinterpret_cast<void**>(store.Receive()));
        if (FAILED(hr)) throw CMAPIException(hr, nullptr);
        return IMsgStorePtr(store.get());
    }
    throw StoreNotFound{name};
}

}  // namespace quirnel
