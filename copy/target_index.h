// What one target folder already received, by where it came from: read from
// the provenance that the platform's copy stamps on every copied message,
// so that a run started again skips what an earlier one copied.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include <MapiWrapper.h>

namespace quirnel {

class CTargetIndex {
public:
    // Reads folder's contents table. A store that has never seen the
    // provenance names holds no copies (nothing is created in it to find
    // that out). Throws CMAPIException when the table cannot be read.
    void Read(const IMAPIFolderPtr& folder);

    // The key of a source item listed with entry id eid (its store's identity
    // and the id); empty when the id holds no store identity.
    static std::string KeyOf(const BYTE* eid, ULONG size);

    // The newest source modification time recorded for key (0 when a copy
    // recorded none), or nullopt when the folder holds no copy of it.
    std::optional<uint64_t> Find(const std::string& key) const;

    // The entry id in the target of the newest copy of key; empty when none.
    std::string TargetEntryId(const std::string& key) const;

    size_t Size() const { return m_newest.size(); }

private:
    struct Copy {
        uint64_t modified = 0;
        std::string targetId;
    };
    std::unordered_map<std::string, Copy> m_newest;
};

// A FILETIME value as one number, for comparing.
uint64_t FileTimeValue(const FILETIME& ft);

}  // namespace quirnel
