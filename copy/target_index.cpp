// Reads the provenance columns of a target folder's contents table.
#include "target_index.h"


#include <runtime/provenance.h>

namespace quirnel {

uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string CTargetIndex::KeyOf(const BYTE* eid, ULONG size) {
    std::string identity = mapi::StoreIdentityOf(eid, size);
    if (identity.empty()) return identity;
    return identity + std::string(reinterpret_cast<const char*>(eid), size);
}

void CTargetIndex::Read(const IMAPIFolderPtr& folder) {
    m_newest.clear();
    mapi::ProvenanceTags tags;
    CheckHr(mapi::GetProvenanceTags(folder._rawInterface(), false, &tags));
    if (!tags.Known()) return;
    IMAPITablePtr table = folder._rawContentsTable();
    CMapiRowSet rows;
    rows.QueryAllRows(table.get(),
                      {tags.sourceStore, tags.sourceEntryId, tags.sourceModified, PR_ENTRYID});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue* store = rows.Cell(i, 0).get();
        const SPropValue* eid = rows.Cell(i, 1).get();
        const SPropValue* modified = rows.Cell(i, 2).get();
        if (store == nullptr || eid == nullptr || store->ulPropTag != tags.sourceStore ||
            eid->ulPropTag != tags.sourceEntryId)
            continue;
        std::string key(reinterpret_cast<const char*>(store->Value.bin.lpb), store->Value.bin.cb);
        key.append(reinterpret_cast<const char*>(eid->Value.bin.lpb), eid->Value.bin.cb);
        uint64_t when = modified != nullptr && modified->ulPropTag == tags.sourceModified
                            ? FileTimeValue(modified->Value.ft)
                            : 0;
        const SPropValue* own = rows.Cell(i, 3).get();
        Copy copy{when, own != nullptr && own->ulPropTag == PR_ENTRYID
                            ? std::string(reinterpret_cast<const char*>(own->Value.bin.lpb),
                                          own->Value.bin.cb)
                            : std::string()};
        auto [it, added] = m_newest.emplace(std::move(key), copy);
        if (!added && when >= it->second.modified) it->second = std::move(copy);
    }
}

std::optional<uint64_t> CTargetIndex::Find(const std::string& key) const {
    auto it = m_newest.find(key);
    if (it == m_newest.end()) return std::nullopt;
    return it->second.modified;
}

std::string CTargetIndex::TargetEntryId(const std::string& key) const {
    auto it = m_newest.find(key);
    return it == m_newest.end() ? std::string() : it->second.targetId;
}

}  // namespace quirnel
