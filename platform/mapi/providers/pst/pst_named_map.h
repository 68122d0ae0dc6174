// The name-to-id map of a personal folder file: which named property
// (property set GUID plus number or name) each id from 0x8000 up stands for.
//
// Built once from the file's map node; read-only afterwards, so it may be
// read from any thread. A damaged map yields the entries that could be read;
// an id whose entry is missing simply has no name.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <mapidefs.h>

namespace mapi::pst {

struct NamedProp {
    GUID guid{};
    ULONG kind = MNID_ID;  // MNID_ID or MNID_STRING
    LONG lid = 0;          // for MNID_ID
    std::u16string name;   // for MNID_STRING
};

class NamedPropMap {
public:
    // Reads the three streams of the map node: the GUID stream, the entry
    // stream (8 bytes per entry) and the string stream. Entries that point
    // outside their streams are skipped.
    void Parse(const std::vector<uint8_t>& guids, const std::vector<uint8_t>& entries,
               const std::vector<uint8_t>& strings);

    // The name behind propId, or null.
    const NamedProp* Find(ULONG propId) const;
    // The id of a name, or 0 when the file has none for it.
    ULONG IdOf(const MAPINAMEID& name) const;
    // Every mapped id in ascending order.
    std::vector<ULONG> Ids() const;
    size_t size() const { return byId_.size(); }

private:
    std::map<ULONG, NamedProp> byId_;
};

}  // namespace mapi::pst
