// Changing one fixed-size property of a saved message where it lies in its
// node, without reading the message apart and laying it out again: a flag
// change then leaves every other byte (and so every other block) of the
// message as it was.
#pragma once

#include <cstdint>

#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

// The 4-byte value (PT_LONG) the property context in node.data holds
// inline for tag; false when node is no property context or has no such
// value. With replacement, the value is overwritten in place.
bool InlineLong(Node& node, uint32_t tag, uint32_t* value, const uint32_t* replacement = nullptr);

}  // namespace mapi::pst::fmt
