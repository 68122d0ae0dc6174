// Properties the store computes for its objects instead of storing them:
// identifiers, object types, counts, sizes and flags.
#pragma once

#include <vector>

#include <mapidefs.h>

#include "store_core.h"

namespace mapi::embedded {

// The computed value of propId for the object in row (data allocated on
// parent); false when the store does not compute propId for that kind of
// object. depth >= 0 adds PR_DEPTH (hierarchy table rows). A count that
// cannot be read comes back as a PT_ERROR value.
bool ComputeObjectProp(StoreCore& core, const ObjectRow& row, ULONG propId, int depth, void* parent,
                       SPropValue* out);

// The full tags ComputeObjectProp answers for row (without PR_DEPTH).
std::vector<ULONG> ComputedObjectTags(const ObjectRow& row);

// True for properties of this kind of object that SetProps must refuse.
bool IsComputedProp(ObjectKind kind, ULONG propId);

// PR_MESSAGE_FLAGS as shown: the stored flags with MSGFLAG_HASATTACH and
// MSGFLAG_ASSOCIATED kept in step with the message.
ULONG ShownMessageFlags(ULONG stored, bool hasAttach, bool assoc);

}  // namespace mapi::embedded
