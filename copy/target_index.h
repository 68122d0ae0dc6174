// What one target folder already received, by where it came from: read from
// the provenance that the platform's copy stamps on every copied message,
// so that a run started again skips what an earlier one copied.
//
// Memory: a folder's index is held while that folder is copied, at 24 bytes
// per copy it lists (a 128-bit digest of the key and the recorded time);
// the rows themselves are read a batch at a time and not kept.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <MapiWrapper.h>

namespace quirnel {

// A key as 128 bits of its SHA-256: two different keys share one with a
// chance near 2^-128, so a run may tell items apart by it without keeping
// the keys themselves.
struct KeyDigest {
    uint64_t high = 0;
    uint64_t low = 0;
    friend bool operator==(const KeyDigest&, const KeyDigest&) = default;
    friend auto operator<=>(const KeyDigest&, const KeyDigest&) = default;
};
KeyDigest DigestOf(std::string_view key);

// The digest's bits are already spread: a part of it serves as the hash.
// noexcept, so that hash sets do not store the hash again beside it.
struct KeyDigestHash {
    size_t operator()(const KeyDigest& digest) const noexcept {
        return static_cast<size_t>(digest.low);
    }
};

class CTargetIndex {
public:
    // Reads folder's contents table. A store that has never seen the
    // provenance names holds no copies (nothing is created in it to find
    // that out). keepTargetIds also keeps each copy's own entry id, for
    // TargetEntryId. Throws CMAPIException when the table cannot be read.
    void Read(const IMAPIFolderPtr& folder, bool keepTargetIds = false);

    // Reads folder again when the index is older than kRefreshFactor times
    // what its last read took, so that the reads cost at most about
    // 1/kRefreshFactor of a run's time however large the folder; true when
    // it read. A read that fails keeps the index as it was (false).
    bool Refresh(const IMAPIFolderPtr& folder);
    static constexpr int kRefreshFactor = 20;

    // The key of a source item listed with entry id eid (its store's identity
    // and the id); empty when the id holds no store identity.
    static std::string KeyOf(const BYTE* eid, ULONG size);

    // The newest source modification time recorded for key (0 when a copy
    // recorded none), or nullopt when the folder holds no copy of it.
    std::optional<uint64_t> Find(const std::string& key) const { return Find(DigestOf(key)); }
    std::optional<uint64_t> Find(const KeyDigest& key) const;

    // The entry id in the target of the newest copy of key; empty when none
    // or when Read was not asked to keep them.
    std::string TargetEntryId(const std::string& key) const;

    size_t Size() const { return m_newest.size(); }

private:
    struct Copy {
        KeyDigest key;
        uint64_t modified = 0;
    };
    // Sorted by key, one entry per key with the newest time.
    std::vector<Copy> m_newest;
    std::unordered_map<KeyDigest, std::pair<uint64_t, std::string>, KeyDigestHash> m_targetIds;
    bool m_keepTargetIds = false;
    std::chrono::steady_clock::time_point m_readAt;
    std::chrono::steady_clock::duration m_readCost{};
};

// A FILETIME value as one number, for comparing.
uint64_t FileTimeValue(const FILETIME& ft);

}  // namespace quirnel
