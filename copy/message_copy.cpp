// The message copy: copies the items of one folder, one CopyMessages call
// per item, so that an item that cannot be read fails alone and Stop takes
// effect between items. Items the target received in an earlier run are
// counted and left out. The folder's whole listing is read before the first
// copy, into a spool that keeps only what the copy uses and goes to a
// temporary file past a small budget, so a large folder costs little memory.
#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_set>
#include <utility>

#include <runtime/message_copy.h>
#include <runtime/provenance.h>

#include "copy_engine.h"
#include "item_compare.h"
#include "listing_spool.h"
#include "progress_text.h"
#include "row_batches.h"

namespace quirnel {

namespace {

// The progress text is refreshed only every this many items.
constexpr ULONG kProgressStep = 32;

// The root's own path is empty; messages about it name it "\".
std::string ShownPath(const std::string& path) {
    return path.empty() ? std::string("\\") : path;
}

CInterfaceRef<IMessage> OpenMessage(const IMAPIFolderPtr& folder, const std::string& eid) {
    CMapiBinary id(static_cast<ULONG>(eid.size()), reinterpret_cast<const BYTE*>(eid.data()));
    IMAPIPropPtr object = folder.OpenEntryv(id);
    CInterfaceRef<IMessage> message;
    LPMAPIPROP raw = object._rawInterface();
    if (raw == nullptr ||
        FAILED(raw->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.Receive()))))
        throw CMAPIException(MAPI_E_INTERFACE_NOT_SUPPORTED, nullptr);
    return message;
}

}  // namespace

void CCopyEngine::CopyFolderContents(const std::string& path, IMAPIFolderPtr source,
                                     IMAPIFolderPtr target, bool associated) {
    FolderLedger folder{ShownPath(path), {}};
    std::vector<CopiedItem> copied;
    // Items of this folder were looked at: a failure after that cannot take
    // them back.
    bool reached = false;
    try {
        RestrictionCompiler compiler;
        CListingSpool listing(m_options.listingMemory);
        ULONG unrestricted = 0;
        if (!ReadListing(compiler, source, associated, listing, unrestricted)) return;
        // Read before any item is copied: what this run adds is not "there".
        CTargetIndex index;
        if (target && !m_options.again) index.Read(target);
        folder.items.filtered = std::max<uint64_t>(unrestricted, listing.Count()) - listing.Count();
        folder.items.listed = folder.items.filtered;
        // The count before the walk knew nothing of the query.
        m_progress.total -= std::min(m_progress.total, folder.items.filtered);
        m_progress.folder = folder.path;
        m_progress.subject.clear();
        ReportProgress(true);
        CopyItems(source, target, listing, index, folder.items, copied, reached);
    } catch (const CMAPIException& e) {
        // The folder itself was logged just before; the bare error follows.
        LogLine("%s", GetErrorName(e.m_hr));
        EndFolderEarly(folder, source, target, copied, reached);
        return;
    } catch (const ListingSpoolError& e) {
        LogFitted("Skip the items of ", folder.path, std::string(": ") + e.what());
        EndFolderEarly(folder, source, target, copied, reached);
        return;
    } catch (const std::exception& e) {
        LogLine("%s", e.what());
        EndFolderEarly(folder, source, target, copied, reached);
        return;
    } catch (...) {
        LogLine("%s", "Unknown exception");
        EndFolderEarly(folder, source, target, copied, reached);
        return;
    }
    if (m_options.dryRun)
        LogFitted("Would copy ", folder.path,
                  ": " + std::to_string(folder.items.copied) + " of " +
                      std::to_string(folder.items.listed));
    m_ledger.AddFolder(folder);
    if (m_options.verify && !m_options.dryRun && !copied.empty())
        VerifyCopies(folder.path, source, target, copied);
}

void CCopyEngine::EndFolderEarly(const FolderLedger& folder, const IMAPIFolderPtr& source,
                                 const IMAPIFolderPtr& target,
                                 const std::vector<CopiedItem>& copied, bool reached) {
    if (!reached) {
        ++m_ledger.foldersSkipped;
        return;
    }
    // What was done stays counted; the rest of the folder, the item in hand
    // among it, is left out.
    FolderLedger part = folder;
    part.items.listed =
        part.items.filtered + part.items.alreadyThere + part.items.copied + part.items.failed;
    m_ledger.AddPartOfFolder(std::move(part));
    if (m_options.verify && !m_options.dryRun && !copied.empty())
        VerifyCopies(folder.path, source, target, copied);
}

bool CCopyEngine::ReadListing(RestrictionCompiler& compiler, const IMAPIFolderPtr& source,
                              bool associated, CListingSpool& listing, ULONG& unrestricted) {
    IMAPITablePtr table = associated ? source._rawAssociatedTable() : source._rawContentsTable();
    // Counted before the restriction, so that the ledger can tell what the
    // query left out.
    unrestricted = 0;
    CheckHr(table->GetRowCount(0, &unrestricted));
    // Read anew for every folder: an edit during the run applies from the
    // next folder on. Blanks alone are no query.
    std::string query = m_host.QueryText();
    if (query.find_first_not_of(" \t\r\n\f\v") != std::string::npos) {
        compiler.SetPropertyObject(source._rawInterface());
        compiler.SetStoredQueries(&m_storedQueries);
        compiler.Compile(query.c_str());
        if (RefuseQuery(compiler)) return false;
        // A refused restriction must not turn into copying every item of
        // the folder: it fails the folder like an unreadable table.
        CheckHr(table->Restrict(const_cast<LPSRestriction>(compiler.Restriction()), TBL_BATCH));
    }
    // A store that never salvaged anything does not know the name; the
    // column then reads as missing on every row.
    CRowBatches rows(table.get(), {PR_SUBJECT, PR_DISPLAY_NAME, PR_ENTRYID,
                                   PR_LAST_MODIFICATION_TIME, DamageReportTag(source),
                                   QuirnelTag(source, mapi::kItemLocatorName, PT_STRING8)});
    // Every row is read before the first copy, so a table that fails part
    // way leaves none of the folder's items copied.
    CMapiRowSet batch;
    while (rows.Next(batch))
        for (ULONG i = 0; i < batch.Count(); ++i) listing.Add(ListedItem::FromRow(batch, i));
    listing.Rewind();
    return true;
}

ULONG CCopyEngine::DamageReportTag(const IMAPIFolderPtr& source) {
    return QuirnelTag(source, mapi::kDamageReportName, PT_STRING8);
}

ULONG CCopyEngine::QuirnelTag(const IMAPIFolderPtr& source, const char16_t* nameText, ULONG type) {
    MAPINAMEID name{const_cast<LPGUID>(&mapi::PS_QUIRNEL), MNID_STRING, {}};
    name.Kind.lpwstrName = const_cast<LPWSTR>(nameText);
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray raw = nullptr;
    HRESULT hr = source._rawInterface()->GetIDsFromNames(1, names, 0, &raw);
    MapiBufferPtr<SPropTagArray> tags(raw);
    if (FAILED(hr) || !tags || tags->cValues != 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR)
        return PR_NULL;
    return CHANGE_PROP_TYPE(tags->aulPropTag[0], type);
}

void CCopyEngine::LogFailedItem(const std::string& subject, const ListedItem& item) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string place = item.locator.empty() ? std::string() : CActivityLog::Escaped(item.locator);
    if (place.empty() && !item.entryId.empty()) {
        place = "entry id ";
        for (unsigned char c : item.entryId) {
            place += kHex[c >> 4];
            place += kHex[c & 0xF];
        }
    }
    if (place.empty()) place = "no entry id";
    // The place is the tail, which a long subject never cuts.
    LogFitted("copy message ", m_progress.folder + ": " + (subject.empty() ? "(no subject)" : subject),
              " (" + place + ")");
}

bool CCopyEngine::LogSalvage(const std::string& subject, const std::optional<std::string>& report) {
    if (!report) return false;
    std::istringstream lines(*report);
    std::string line;
    std::getline(lines, line);  // the first line only says that parts were lost
    LogFitted("Salvaged message ", subject, ": copied with what could be read; lost:");
    while (std::getline(lines, line))
        if (!line.empty()) LogFitted("  ", CActivityLog::Escaped(line), "");
    return true;
}

void CCopyEngine::CopyItems(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target,
                            CListingSpool& listing, CTargetIndex& index, ItemCounts& counts,
                            std::vector<CopiedItem>& copied, bool& reached) {
    // The progress text is "%d vom %d" over a ULONG count, as the table's
    // own row count would be.
    const ULONG count = static_cast<ULONG>(listing.Count());
    // A damaged table can list one item twice; it is copied once.
    std::unordered_set<KeyDigest, KeyDigestHash> seen;
    // Every item looked at is done, however it ended; one that a stop kept
    // the run from is not.
    const uint64_t doneBefore = m_progress.done;
    ListedItem item;
    ULONG i = 0;
    for (; i < count; ++i) {
        m_progress.done = doneBefore + i;
        if (i % kProgressStep == 0) m_host.SetProgressText(ProgressText(i, count));
        if (StopRequested() || !listing.Next(item)) break;
        reached = true;
        CopyRow(source, target, item, index, seen, counts, copied);
    }
    m_progress.done = doneBefore + i;
    counts.listed = counts.filtered + counts.alreadyThere + counts.copied + counts.failed;
}

void CCopyEngine::CopyRow(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target,
                          ListedItem& item, CTargetIndex& index,
                          std::unordered_set<KeyDigest, KeyDigestHash>& seen, ItemCounts& counts,
                          std::vector<CopiedItem>& copied) {
    const std::string subject = CActivityLog::Escaped(item.subject);
    m_progress.subject = subject;
    ReportProgress(false);

    // A row whose identifier could not be read names no item to copy;
    // it is reported like an item that failed, never passed on.
    if (item.idError != S_OK) {
        LogFailedItem(subject, item);
        LogLine("Error %s", GetErrorName(item.idError));
        ++counts.failed;
        return;
    }
    SBinary bin{static_cast<ULONG>(item.entryId.size()),
                reinterpret_cast<LPBYTE>(item.entryId.data())};
    const std::string key = CTargetIndex::KeyOf(bin.lpb, bin.cb);
    const KeyDigest digest = key.empty() ? KeyDigest{} : DigestOf(key);

    bool changed = false;
    if (!key.empty() && !seen.insert(digest).second) {
        ++counts.alreadyThere;
        return;
    }
    // True when the index holds a copy of the item as it is now; changed
    // tells a copy of an older state of it.
    auto there = [&]() {
        std::optional<uint64_t> recorded = index.Find(digest);
        if (!recorded) return false;
        // A copy that recorded no time cannot be told apart from a changed
        // item; it counts as there.
        changed = *recorded != 0 && item.modified && *item.modified > *recorded;
        return !changed;
    };
    const bool resume = !m_options.again && !key.empty();
    if (resume && there()) {
        ++counts.alreadyThere;
        return;
    }
    if (m_options.dryRun) {
        ++counts.copied;
        return;
    }
    // Another writer (a program that does not take the target's lock) may
    // have copied the item since the index was read.
    if (resume && index.Refresh(target) && there()) {
        ++counts.alreadyThere;
        return;
    }

    // The copy of a changed item is a new item; the older copy stays.
    if (changed) LogFitted("copy message ", subject, " (changed since the last run)");
    ENTRYLIST list{1, &bin};
    HRESULT hr =
        source._rawInterface()->CopyMessages(&list, nullptr, target._rawInterface(), 0, nullptr, 0);
    // Warnings (a partial completion) are failures of this one item too.
    if (hr == S_OK) {
        ++counts.copied;
        if (m_options.verify && !key.empty()) copied.push_back({key, subject});
        if (LogSalvage(subject, item.damageReport)) ++counts.salvaged;
    } else {
        LogFailedItem(subject, item);
        // The store's own words for the failure (a server's answer to a
        // refused message) follow the code's name when it has any.
        const std::string why =
            CActivityLog::Escaped(mapi::CopyFailureText(source._rawInterface(), hr));
        if (why.empty())
            LogLine("Error %s", GetErrorName(hr));
        else
            LogLine("Error %s: %s", GetErrorName(hr), why.c_str());
        ++counts.failed;
    }
    NoteCopyResult(hr);
}

void CCopyEngine::VerifyCopies(const std::string& path, const IMAPIFolderPtr& source,
                               const IMAPIFolderPtr& target,
                               const std::vector<CopiedItem>& copied) {
    CTargetIndex index;
    try {
        index.Read(target, true);
    } catch (const CMAPIException& e) {
        LogFitted("Verify ", path, std::string(": ") + GetErrorName(e.m_hr));
        m_differences += copied.size();
        m_compared += copied.size();
        return;
    }
    for (const CopiedItem& item : copied) {
        std::vector<std::string> differences;
        try {
            std::string targetId = index.TargetEntryId(item.key);
            if (targetId.empty()) {
                differences.push_back("the copy is not in the target folder");
            } else {
                // The key is the 16-byte store identity, then the entry id.
                CInterfaceRef<IMessage> original = OpenMessage(source, item.key.substr(16));
                CInterfaceRef<IMessage> copy = OpenMessage(target, targetId);
                differences = CompareMessages(original.get(), copy.get(), m_targetKind);
            }
        } catch (const CMAPIException& e) {
            differences.push_back(std::string("cannot be opened: ") + GetErrorName(e.m_hr));
        }
        ++m_compared;
        if (differences.empty()) continue;
        ++m_differences;
        LogFitted("Differs ", path + "\\" + item.subject, ":");
        for (const std::string& line : differences) LogFitted("  ", line, "");
    }
}

}  // namespace quirnel
