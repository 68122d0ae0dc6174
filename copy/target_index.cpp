// Reads the provenance columns of a target folder's contents table.
#include "target_index.h"

#include <algorithm>

#include <nettle/sha2.h>
#include <runtime/provenance.h>

#include "row_batches.h"

namespace quirnel {

namespace {

uint64_t BigEndian64(const uint8_t* bytes) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

KeyDigest DigestOf(std::string_view key) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, key.size(), reinterpret_cast<const uint8_t*>(key.data()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return KeyDigest{BigEndian64(digest), BigEndian64(digest + 8)};
}

uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string CTargetIndex::KeyOf(const BYTE* eid, ULONG size) {
    std::string identity = mapi::StoreIdentityOf(eid, size);
    if (identity.empty()) return identity;
    return identity + std::string(reinterpret_cast<const char*>(eid), size);
}

bool CTargetIndex::Refresh(const IMAPIFolderPtr& folder) {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_readAt < m_readCost * kRefreshFactor) return false;
    CTargetIndex fresh;
    try {
        fresh.Read(folder, m_keepTargetIds);
    } catch (const CMAPIException&) {
        // Not worth a line: the write that follows meets the same trouble.
        m_readAt = now;
        return false;
    }
    *this = std::move(fresh);
    return true;
}

void CTargetIndex::Read(const IMAPIFolderPtr& folder, bool keepTargetIds) {
    const auto begun = std::chrono::steady_clock::now();
    m_keepTargetIds = keepTargetIds;
    m_newest.clear();
    m_targetIds.clear();
    mapi::ProvenanceTags tags;
    CheckHr(mapi::GetProvenanceTags(folder._rawInterface(), false, &tags));
    if (!tags.Known()) {
        m_readAt = std::chrono::steady_clock::now();
        m_readCost = m_readAt - begun;
        return;
    }
    IMAPITablePtr table = folder._rawContentsTable();
    CRowBatches batches(table.get(),
                        {tags.sourceStore, tags.sourceEntryId, tags.sourceModified, PR_ENTRYID});
    // Reserved up front: growing by doubling would hold twice the index
    // for a moment.
    ULONG listed = 0;
    if (SUCCEEDED(table->GetRowCount(0, &listed))) m_newest.reserve(listed);
    CMapiRowSet rows;
    std::string key;
    while (batches.Next(rows)) {
        for (ULONG i = 0; i < rows.Count(); ++i) {
            const SPropValue* store = rows.Cell(i, 0).get();
            const SPropValue* eid = rows.Cell(i, 1).get();
            const SPropValue* modified = rows.Cell(i, 2).get();
            if (store == nullptr || eid == nullptr || store->ulPropTag != tags.sourceStore ||
                eid->ulPropTag != tags.sourceEntryId)
                continue;
            key.assign(reinterpret_cast<const char*>(store->Value.bin.lpb), store->Value.bin.cb);
            key.append(reinterpret_cast<const char*>(eid->Value.bin.lpb), eid->Value.bin.cb);
            const uint64_t when = modified != nullptr && modified->ulPropTag == tags.sourceModified
                                      ? FileTimeValue(modified->Value.ft)
                                      : 0;
            const KeyDigest digest = DigestOf(key);
            m_newest.push_back({digest, when});
            if (!keepTargetIds) continue;
            const SPropValue* own = rows.Cell(i, 3).get();
            std::string ownId = own != nullptr && own->ulPropTag == PR_ENTRYID
                                    ? std::string(reinterpret_cast<const char*>(own->Value.bin.lpb),
                                                  own->Value.bin.cb)
                                    : std::string();
            // Of several copies of one item, the newest (the last listed
            // among equals) names the copy to compare.
            auto [it, added] = m_targetIds.try_emplace(digest, when, ownId);
            if (!added && when >= it->second.first) it->second = {when, std::move(ownId)};
        }
    }
    std::sort(m_newest.begin(), m_newest.end(),
                     [](const Copy& a, const Copy& b) { return a.key < b.key; });
    size_t kept = 0;
    for (size_t i = 0; i < m_newest.size(); ++i) {
        if (kept > 0 && m_newest[kept - 1].key == m_newest[i].key) {
            m_newest[kept - 1].modified = std::max(m_newest[kept - 1].modified, m_newest[i].modified);
            continue;
        }
        m_newest[kept++] = m_newest[i];
    }
    m_newest.resize(kept);
    m_newest.shrink_to_fit();
    m_readAt = std::chrono::steady_clock::now();
    m_readCost = m_readAt - begun;
}

std::optional<uint64_t> CTargetIndex::Find(const KeyDigest& key) const {
    auto it = std::lower_bound(m_newest.begin(), m_newest.end(), key,
                               [](const Copy& copy, const KeyDigest& k) { return copy.key < k; });
    if (it == m_newest.end() || it->key != key) return std::nullopt;
    return it->modified;
}

std::string CTargetIndex::TargetEntryId(const std::string& key) const {
    auto it = m_targetIds.find(DigestOf(key));
    return it == m_targetIds.end() ? std::string() : it->second.second;
}

}  // namespace quirnel
