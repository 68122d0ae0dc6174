// Remapping of named property ids from one store's name map to another's,
// for copies between stores.
//
// A named id (0x8000 and above) means something only through its store's
// name map. This map asks the source for the names behind its ids and the
// target for (created when missing) ids of the same names, and remembers
// the answers. Used by one copy on one thread.
#pragma once

#include <map>
#include <vector>

#include <mapidefs.h>

namespace mapi {

class NamedPropertyMap {
public:
    // Neither object is owned; both must outlive the map.
    NamedPropertyMap(IMAPIProp* source, IMAPIProp* target) : source_(source), target_(target) {}

    // Learns the target ids of the named ones among tags. An id whose name
    // the source does not know, or that the target cannot create, is
    // remembered as unmappable. Fails with the code of a failing call.
    HRESULT Resolve(const std::vector<ULONG>& tags);

    // tag with its id replaced by the target's (type kept); tags below
    // 0x8000 unchanged; PR_NULL (0) for an unmappable or unresolved id.
    ULONG Map(ULONG tag) const;

private:
    IMAPIProp* source_;
    IMAPIProp* target_;
    std::map<ULONG, ULONG> ids_;  // source id -> target id, 0 when unmappable
};

// True for the ids of named properties.
inline bool IsNamedId(ULONG propId) {
    return propId >= 0x8000 && propId != PROP_ID_INVALID;
}

}  // namespace mapi
