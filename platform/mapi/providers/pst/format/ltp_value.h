// A property value as the LTP layer stores it ([MS-PST] 2.3.3.1 and
// [MS-OXCDATA] 2.11.1 property types): the tag and the bytes the file
// holds. Fixed-size types have their natural width (PtypBoolean one byte,
// PtypInteger16 two, PtypTime eight...); strings are UTF-16LE without a
// terminator; multi-valued types use the layout of [MS-PST] 2.3.3.4.
#pragma once

#include <cstdint>
#include <vector>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt {

struct PropValue {
    uint32_t tag = 0;
    Bytes bytes;
};

constexpr uint16_t PropType(uint32_t tag) { return static_cast<uint16_t>(tag & 0xFFFF); }
constexpr uint16_t PropId(uint32_t tag) { return static_cast<uint16_t>(tag >> 16); }

// Width of a fixed-size type, or 0 for variable-size types (strings,
// binaries, GUIDs, objects and every multi-valued type).
size_t FixedWidth(uint16_t type);

// Fixed types of at most 4 bytes sit in the PC's record itself.
inline bool StoredInline(uint16_t type) {
    size_t w = FixedWidth(type);
    return w != 0 && w <= 4;
}

// Allocates the next subnode NID of type kNidTypeLtp not yet used by ids.
template <typename Map>
uint32_t NextLtpSubnode(const Map& subnodes) {
    uint32_t index = 1;
    for (const auto& [nid, node] : subnodes)
        if ((nid & 0x1F) == 0x1F && (nid >> 5) >= index) index = (nid >> 5) + 1;
    return (index << 5) | 0x1F;
}

}  // namespace mapi::pst::fmt
