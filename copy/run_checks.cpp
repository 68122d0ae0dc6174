// The checks a run makes before it writes anything, and the failures that
// end a run: a target that is one store with the source, a read-only
// target or one that refuses a write it could undo, a query that does not
// say what was typed, a full disk, a target that refuses every item.
#include <cctype>
#include <random>

#include <restriction_text.h>
#include <runtime/restriction_eval.h>

#include "copy_engine.h"

namespace quirnel {

namespace {

// Codes that say an item of the source is damaged or gone: they tell
// nothing about the target.
bool SourceSideFailure(HRESULT hr) {
    return hr == MAPI_E_CORRUPT_DATA || hr == MAPI_E_NOT_FOUND || hr == MAPI_E_INVALID_ENTRYID ||
           hr == MAPI_E_UNKNOWN_ENTRYID || hr == MAPI_W_PARTIAL_COMPLETION;
}

bool Blank(const std::string& text) {
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

bool CCopyEngine::CheckNotOneStore(const CMapiBinary& sourceId, const CMapiBinary& targetId) {
    LPMAPISESSION session = m_session._rawInterface();
    if (session == nullptr || sourceId.Empty() || targetId.Empty()) return true;
    ULONG same = FALSE;
    HRESULT hr = session->CompareEntryIDs(sourceId.Size(), sourceId.AsEntryID(), targetId.Size(),
                                          targetId.AsEntryID(), 0, &same);
    if (FAILED(hr) || !same) return true;
    m_outcome = RunOutcome::Failed;
    m_host.ShowMessageBox(std::string(),
                          "Source \"" + CActivityLog::Escaped(m_host.SourceStoreName()) +
                              "\" and target \"" + CActivityLog::Escaped(m_host.TargetStoreName()) +
                              "\" are one store (the same file): a copy into itself would "
                              "double every item. Nothing was written.");
    return false;
}

bool CCopyEngine::CheckTargetWritable() {
    LONG mask = 0;
    try {
        mask = m_storeTarget.GetLongProp(PR_STORE_SUPPORT_MASK);
    } catch (const CMAPIException&) {
        // A store that does not tell is tried; its refusals are counted.
        return true;
    }
    std::string reason;
    if ((mask & STORE_READONLY) != 0)
        reason = "it can only be read (a .pst or .ost file, or a store whose files cannot be written)";
    else if ((mask & STORE_MODIFY_OK) == 0)
        reason = "the store does not allow changes";
    else
        return true;
    EndRun("Target", "Cannot copy into \"" + CActivityLog::Escaped(m_host.TargetStoreName()) +
                         "\": " + reason + ". Nothing was written.");
    return false;
}

bool CCopyEngine::ProbeTargetWrite(const IMAPIFolderPtr& targetRoot) {
    LPMAPIFOLDER root = targetRoot._rawInterface();
    if (root == nullptr) return true;
    // The probe is only made where it can be taken back: a store that
    // cannot remove a folder would keep it. Such a store answers for itself
    // through its support mask, and the run counts its refusals.
    if (root->DeleteFolder(0, nullptr, 0, nullptr, 0) == MAPI_E_NO_SUPPORT) return true;
    // A name no user folder has, so the probe never meets one.
    std::random_device random;
    const std::string name = ".quirnel-write-probe-" + std::to_string(random());
    HRESULT hr = S_OK;
    CMapiBinary probeId;
    try {
        IMAPIFolderPtr probe(targetRoot.CreateFolder(FOLDER_GENERIC, name.c_str(), "", 0).get());
        probeId = probe.GetBinaryProp(PR_ENTRYID);
    } catch (const CMAPIException& e) {
        hr = e.m_hr;
    }
    if (hr == MAPI_E_NO_SUPPORT) return true;
    if (FAILED(hr)) {
        EndRun("Target", "Cannot copy into \"" + CActivityLog::Escaped(m_host.TargetStoreName()) +
                             "\": it refuses to be written (" + GetErrorName(hr) +
                             "). Nothing was written.");
        return false;
    }
    hr = root->DeleteFolder(probeId.Size(), probeId.AsEntryID(), 0, nullptr,
                            DEL_FOLDERS | DEL_MESSAGES);
    // The target took a write, so the run goes on; the folder left behind
    // is named, so the user can remove it.
    if (FAILED(hr))
        m_log.LogLine("The target's write probe folder %s could not be removed: %s",
                      name.c_str(), GetErrorName(hr));
    return true;
}

bool CCopyEngine::CheckQuery(const IMAPIFolderPtr& sourceRoot) {
    std::string query = m_host.QueryText();
    // Read even for a blank query: an edit during the run may call them.
    SavedQueryList saved;
    if (!m_options.savedQueriesFile.empty()) saved = LoadSavedQueries(m_options.savedQueriesFile);
    FillStoredQueries(saved.queries, m_storedQueries);
    if (Blank(query)) return true;
    for (const std::string& problem : saved.problems)
        LogLine("Saved queries: %s", CActivityLog::Escaped(problem).c_str());
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(sourceRoot._rawInterface());
    compiler.SetStoredQueries(&m_storedQueries);
    compiler.Compile(query.c_str());
    return !RefuseQuery(compiler);
}

bool CCopyEngine::RefuseQuery(const RestrictionCompiler& compiler) {
    std::string text;
    if (compiler.HasError()) {
        text = compiler.ErrorText();
    } else if (!compiler.UnreadText().empty()) {
        // The language stops at the end of its first condition; copying by
        // that condition alone would not be what the user typed.
        text = "This part of the query is not understood: " +
               QuotedText(compiler.UnreadText()) + ". Nothing is copied by a query that does "
               "not use its whole text.";
    } else if (compiler.Restriction() == nullptr) {
        text = "The query names no condition to select items by. Nothing is copied by it; "
               "leave the query empty to copy every item.";
    } else if (const HRESULT hr = mapi::ValidateRestriction(compiler.Restriction()); hr != S_OK) {
        // Every store's tables make this check when the restriction is set:
        // a query that fails it would fail in every folder, each made in the
        // target first.
        text = std::string("The query cannot be evaluated (") + GetErrorName(hr) +
               "): it compares a property with a value of another kind or out of its range, "
               "or asks for a search mode no store offers. Nothing is copied by it.";
    } else {
        return false;
    }
    m_host.StopFlag().store(true);
    m_ended = true;
    m_outcome = RunOutcome::QueryError;
    m_host.ShowMessageBox("Query", text);
    return true;
}

void CCopyEngine::NoteCopyResult(HRESULT hr) {
    if (hr == S_OK) {
        m_anyCopied = true;
        m_failureSeries = 0;
        return;
    }
    if (hr == MAPI_E_NOT_ENOUGH_DISK) {
        EndRun("Target full",
               "The disk of the target store is full, the run ended. Every item copied so far "
               "is kept; make room and start the run again to copy the rest.");
        return;
    }
    if (m_anyCopied) return;
    if (SourceSideFailure(hr)) {
        m_failureSeries = 0;
        return;
    }
    if (m_failureSeries == 0 || hr != m_failureSeriesCode) {
        m_failureSeriesCode = hr;
        m_failureSeries = 0;
    }
    if (++m_failureSeries >= kRefusingTargetFailures)
        EndRun("Target", std::string("The target store refused each of the first ") +
                             std::to_string(kRefusingTargetFailures) + " items with " +
                             GetErrorName(hr) + ", the run ended. Nothing was copied.");
}

}  // namespace quirnel
