// The folder tree copy: rebuilds the source's folder hierarchy below the
// target's IPM root, depth first, and maps the special folders.
#include <cctype>
#include <string>

#include "copy_engine.h"

namespace quirnel {

namespace {

constexpr char kFolderCreation[] = "Folder creation";

// Each level of the walk takes stack; a damaged store must not be able to
// nest folders until the worker's stack runs out.
constexpr int kMaxDepth = 256;

// Stores refuse a folder without a name, yet a damaged source can have one
// (or one whose name cannot be read); its items need a folder all the same.
constexpr char kUnnamedFolder[] = "Unnamed folder";

// The root's own path is empty; messages about it name it "\".
const char* ShownPath(const std::string& path) {
    return path.empty() ? "\\" : path.c_str();
}

// Folder names of one parent clash regardless of case (as the stores that
// OPEN_IF_EXISTS finds an existing folder in compare them).
bool SameFolderName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string BytesOf(const CMapiBinary& eid) {
    return std::string(reinterpret_cast<const char*>(eid.Bytes()), eid.Size());
}

}  // namespace

void CCopyEngine::CopyFolderTree(const std::string& path, IMAPIFolderPtr source,
                                 IMAPIFolderPtr target, int depth) {
    m_host.SetProgressText(kFolderCreation);
    CMapiRowSet children;
    try {
        IMAPITablePtr table = source._rawHierrarchyTable();
        children.QueryAllRows(table.get(), {PR_DISPLAY_NAME, PR_ENTRYID});
    } catch (const CMAPIException& e) {
        LogFitted("Skip subfolders of ", ShownPath(path), std::string(": ") + GetErrorName(e.m_hr));
        ++m_ledger.foldersSkipped;
        return;
    } catch (const std::exception& e) {
        LogFitted("Skip subfolders of ", ShownPath(path), std::string(": ") + e.what());
        ++m_ledger.foldersSkipped;
        return;
    }
    for (ULONG i = 0; i < children.Count(); ++i) {
        if (StopRequested()) break;
        CopyChildFolder(path, depth + 1, children.Cell(i, 0), children.Cell(i, 1), source, target);
    }
}

void CCopyEngine::CopyChildFolder(const std::string& path, int depth,
                                  const CMapiPropValue& nameCell, const CMapiPropValue& eidCell,
                                  const IMAPIFolderPtr& source, const IMAPIFolderPtr& target) {
    std::string name = nameCell.String8() != nullptr ? nameCell.String8() : "";
    // Paths are for lines only: the store's text with its control characters
    // escaped. The target folder gets the name as it is.
    std::string childPath = path + "\\" + CActivityLog::Escaped(name);
    IMAPIFolderPtr sourceChild;
    IMAPIFolderPtr targetChild;
    std::string targetName = name;
    if (depth > kMaxDepth) {
        LogFitted("Skip folder ", childPath,
                  ": more than " + std::to_string(kMaxDepth) + " levels deep");
        ++m_ledger.foldersSkipped;
        return;
    }
    try {
        CMapiBinary eid;
        eid = eidCell;
        // Checked before the target folder is made, so that a folder listed
        // again leaves no empty numbered twin in the target.
        // Not counted as skipped: its items are copied where it was met first.
        if (m_walkedSources.count(BytesOf(eid)) != 0) {
            LogFitted("Skip folder ", childPath, ": already copied");
            return;
        }
        sourceChild = AsFolder(source.OpenEntryv(eid));
        if (!sourceChild) throw CMAPIException(MAPI_E_INTERFACE_NOT_SUPPORTED, nullptr);
        // Search folders only show items that live elsewhere.
        if (sourceChild.GetLongProp(PR_FOLDER_TYPE) == FOLDER_SEARCH) return;

        if (m_options.dryRun) {
            // Nothing is made: a folder the target lacks has no items yet.
            targetChild = FindTargetFolder(eid, name, target);
        } else {
            HRESULT error = S_OK;
            targetChild = MakeTargetFolder(eid, name, target, targetName, error);
            if (!targetChild) {
                if (error == MAPI_E_NOT_ENOUGH_DISK) {
                    NoteCopyResult(error);
                    return;
                }
                LogFitted("Skip folder ", childPath, std::string(": ") + GetErrorName(error));
                ++m_ledger.foldersSkipped;
                return;
            }
        }
        m_walkedSources.insert(BytesOf(eid));
    } catch (const CMAPIException& e) {
        LogFitted("Skip folder ", childPath, std::string(": ") + GetErrorName(e.m_hr));
        ++m_ledger.foldersSkipped;
        return;
    } catch (const std::exception& e) {
        LogFitted("Skip folder ", childPath, std::string(": ") + e.what());
        ++m_ledger.foldersSkipped;
        return;
    }

    if (m_options.dryRun) {
        CopyFolderContents(childPath, sourceChild, targetChild, false);
        CopyFolderTree(childPath, sourceChild, targetChild, depth);
        return;
    }

    // The container class tells clients what kind of items the folder
    // holds; a folder without one stays without.
    try {
        std::string containerClass = sourceChild.GetStringProp(PR_CONTAINER_CLASS);
        targetChild.SetStringProp(PR_CONTAINER_CLASS, containerClass.c_str());
    } catch (...) {
    }
    try {
        MapSpecialFolders(sourceChild, targetChild);
    } catch (const CMAPIException& e) {
        LogLine("Special folder %s not mapped: %s", childPath.c_str(), GetErrorName(e.m_hr));
    } catch (const std::exception& e) {
        LogLine("Special folder %s not mapped: %s", childPath.c_str(), e.what());
    }

    LogFitted("Copy folder ", childPath, " to " + CActivityLog::Escaped(targetName));
    CopyFolderContents(childPath, sourceChild, targetChild, false);
    CopyFolderTree(childPath, sourceChild, targetChild, depth);
}

bool CCopyEngine::ClaimTarget(const IMAPIFolderPtr& folder) {
    CMapiBinary eid;
    try {
        eid = folder.GetBinaryProp(PR_ENTRYID);
    } catch (const CMAPIException&) {
        // A folder that cannot name itself cannot be a folder named before.
        return true;
    }
    return m_usedTargets.insert(BytesOf(eid)).second;
}

IMAPIFolderPtr CCopyEngine::TargetWastebasket() {
    try {
        CMapiBinary eid = m_storeTarget.GetBinaryProp(PR_IPM_WASTEBASKET_ENTRYID);
        IMAPIFolderPtr folder = AsFolder(m_storeTarget.OpenEntry(eid));
        if (folder && ClaimTarget(folder)) return folder;
    } catch (const CMAPIException&) {
    }
    return IMAPIFolderPtr();
}

IMAPIFolderPtr CCopyEngine::FindTargetFolder(const CMapiBinary& eid, const std::string& name,
                                             const IMAPIFolderPtr& target) {
    if (!m_eidSourceWastebasket.Empty() && eid == m_eidSourceWastebasket) {
        IMAPIFolderPtr wastebasket = TargetWastebasket();
        if (wastebasket) return wastebasket;
    }
    if (!target) return IMAPIFolderPtr();
    const std::string base = name.empty() ? kUnnamedFolder : name;
    CMapiRowSet children;
    IMAPITablePtr table = target._rawHierrarchyTable();
    children.QueryAllRows(table.get(), {PR_DISPLAY_NAME, PR_ENTRYID});
    for (ULONG i = 0; i < children.Count(); ++i) {
        LPCSTR childName = children.Cell(i, 0).String8();
        if (childName == nullptr || !SameFolderName(childName, base)) continue;
        CMapiBinary childId;
        childId = children.Cell(i, 1);
        IMAPIFolderPtr found = AsFolder(target.OpenEntryv(childId));
        if (found && ClaimTarget(found)) return found;
    }
    return IMAPIFolderPtr();
}

IMAPIFolderPtr CCopyEngine::MakeTargetFolder(const CMapiBinary& eid, const std::string& name,
                                             const IMAPIFolderPtr& target, std::string& targetName,
                                             HRESULT& error) {
    targetName = name;
    // The source's deleted items go into the target's own deleted items
    // folder. A target without one (or whose one is taken) gets a folder by
    // name instead, so the items are not lost.
    if (!m_eidSourceWastebasket.Empty() && eid == m_eidSourceWastebasket) {
        IMAPIFolderPtr wastebasket = TargetWastebasket();
        if (wastebasket) return wastebasket;
    }

    const std::string base = name.empty() ? kUnnamedFolder : name;
    targetName = base;
    try {
        IMAPIFolderPtr existing(
            target.CreateFolder(FOLDER_GENERIC, base.c_str(), "", OPEN_IF_EXISTS).get());
        // A folder of that name made for another source folder of this run
        // (names that differ only in case) counts as a clash.
        if (ClaimTarget(existing)) return existing;
    } catch (const CMAPIException& e) {
        if (e.m_hr != MAPI_E_COLLISION) {
            error = e.m_hr;
            return IMAPIFolderPtr();
        }
    }

    for (int n = 0; n < 100; ++n) {
        targetName = base + std::to_string(n);
        try {
            IMAPIFolderPtr made(
                target.CreateFolder(FOLDER_GENERIC, targetName.c_str(), "", 0).get());
            ClaimTarget(made);
            return made;
        } catch (...) {
        }
    }
    targetName = name;
    error = MAPI_E_COLLISION;
    return IMAPIFolderPtr();
}

void CCopyEngine::MapSpecialFolders(const IMAPIFolderPtr& sourceChild,
                                    const IMAPIFolderPtr& targetChild) {
    CMapiBinary s = sourceChild.GetBinaryProp(PR_ENTRYID);
    CMapiBinary t = targetChild.GetBinaryProp(PR_ENTRYID);
    // Two unknown identifiers are equal as blocks but name no folder.
    if (s.Empty() || t.Empty()) return;
    // Results of the writes are not checked: a store that refuses to name
    // a special folder still holds every item.
    if (s == m_eidSourceInbox) {
        // Stores keep the default entry and the one for "IPM" apart, and mail
        // of the IPM classes is routed by the latter: both must name the new
        // inbox, or new mail would still arrive in the target's old one.
        char defaultClass[] = "";
        char ipmClass[] = "IPM";
        m_storeTarget._rawInterface()->SetReceiveFolder(defaultClass, 0, t.Size(), t.AsEntryID());
        m_storeTarget._rawInterface()->SetReceiveFolder(ipmClass, 0, t.Size(), t.AsEntryID());
    }
    if (s == m_eidSourceOutbox) m_storeTarget.SetBinaryProp(PR_IPM_OUTBOX_ENTRYID, t);
    if (s == m_eidSourceWastebasket) m_storeTarget.SetBinaryProp(PR_IPM_WASTEBASKET_ENTRYID, t);
    if (s == m_eidSourceSentMail) m_storeTarget.SetBinaryProp(PR_IPM_SENTMAIL_ENTRYID, t);
}

}  // namespace quirnel
