// Walks of a folder tree that count without copying.
#include "item_count.h"

#include <functional>
#include <set>
#include <string_view>

#include <runtime/provenance.h>

#include "copy_engine.h"
#include "row_batches.h"

namespace quirnel {

namespace {

// The same bound as the copy's walk: a damaged store must not nest folders
// until the stack runs out.
constexpr int kMaxDepth = 256;

std::string BytesOf(const CMapiBinary& eid) {
    return std::string(reinterpret_cast<const char*>(eid.Bytes()), eid.Size());
}

// Calls visit for every folder below folder, depth first, each once, search
// folders left out. A folder that cannot be opened or listed is passed over
// with its subtree. Only visit may throw.
void ForEachFolderBelow(const IMAPIFolderPtr& folder, int depth, std::set<std::string>& seen,
                        const std::atomic<bool>* stop,
                        const std::function<void(const IMAPIFolderPtr&)>& visit) {
    if (depth >= kMaxDepth) return;
    CMapiRowSet children;
    try {
        IMAPITablePtr table = folder._rawHierrarchyTable();
        children.QueryAllRows(table.get(), {PR_ENTRYID});
    } catch (const CMAPIException&) {
        return;
    } catch (const std::exception&) {
        return;
    }
    for (ULONG i = 0; i < children.Count(); ++i) {
        if (stop != nullptr && stop->load()) return;
        IMAPIFolderPtr child;
        try {
            if (children.Cell(i, 0).Type() != PT_BINARY) continue;
            CMapiBinary eid;
            eid = children.Cell(i, 0);
            if (!seen.insert(BytesOf(eid)).second) continue;
            child = AsFolder(folder.OpenEntryv(eid));
            if (!child || child.GetLongProp(PR_FOLDER_TYPE) == FOLDER_SEARCH) continue;
        } catch (const CMAPIException&) {
            // PR_FOLDER_TYPE missing is an ordinary folder.
            if (!child) continue;
        } catch (const std::exception&) {
            continue;
        }
        visit(child);
        ForEachFolderBelow(child, depth + 1, seen, stop, visit);
    }
}

std::set<std::string> Seen(const IMAPIFolderPtr& root) {
    std::set<std::string> seen;
    try {
        seen.insert(BytesOf(root.GetBinaryProp(PR_ENTRYID)));
    } catch (const CMAPIException&) {
    }
    return seen;
}

}  // namespace

uint64_t CountItemsBelow(const IMAPIFolderPtr& root, const std::atomic<bool>& stop) {
    uint64_t total = 0;
    try {
        std::set<std::string> seen = Seen(root);
        ForEachFolderBelow(root, 0, seen, &stop, [&](const IMAPIFolderPtr& folder) {
            ULONG rows = 0;
            try {
                IMAPITablePtr table = folder._rawContentsTable();
                if (table && SUCCEEDED(table->GetRowCount(0, &rows))) total += rows;
            } catch (const CMAPIException&) {
            }
        });
    } catch (...) {
        // A count is only a guide: what was counted stands.
    }
    return total;
}

uint64_t CountCopiesFrom(const IMAPIFolderPtr& targetRoot, const std::string& sourceIdentity) {
    if (sourceIdentity.empty()) return 0;
    mapi::ProvenanceTags tags;
    CheckHr(mapi::GetProvenanceTags(targetRoot._rawInterface(), false, &tags));
    if (!tags.Known()) return 0;
    uint64_t copies = 0;
    const auto count = [&](const IMAPIFolderPtr& folder) {
        try {
            IMAPITablePtr table = folder._rawContentsTable();
            CRowBatches batches(table.get(), {tags.sourceStore});
            CMapiRowSet rows;
            while (batches.Next(rows)) {
                for (ULONG i = 0; i < rows.Count(); ++i) {
                    const SPropValue* store = rows.Cell(i, 0).get();
                    if (store == nullptr || store->ulPropTag != tags.sourceStore) continue;
                    if (std::string_view(reinterpret_cast<const char*>(store->Value.bin.lpb),
                                         store->Value.bin.cb) == sourceIdentity)
                        ++copies;
                }
            }
        } catch (const CMAPIException&) {
            // The run will say what is wrong with this folder; the copies
            // not counted only make the offer smaller.
        }
    };
    count(targetRoot);
    std::set<std::string> seen = Seen(targetRoot);
    ForEachFolderBelow(targetRoot, 0, seen, nullptr, count);
    return copies;
}

}  // namespace quirnel
