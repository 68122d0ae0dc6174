// Building property values of the messaging layer: the common types in
// the form the LTP layer stores them, and the entry identifiers of a
// personal folder file ([MS-PST] 2.4.3.2: flags, the store's record key,
// the node id).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "providers/pst/format/ltp_value.h"

namespace mapi::pst::fmt {

using StoreUid = std::array<uint8_t, 16>;

PropValue UnicodeValue(uint32_t tag, std::string_view utf8);
PropValue LongValue(uint32_t tag, uint32_t value);
PropValue BoolValue(uint32_t tag, bool value);
PropValue TimeValue(uint32_t tag, uint64_t filetime);
PropValue BinaryValue(uint32_t tag, Bytes bytes);

Bytes EntryIdBytes(const StoreUid& uid, uint32_t nid);

// The value of tag among props, or null.
const PropValue* FindValue(const std::vector<PropValue>& props, uint32_t tag);
// Sets (replaces or adds) a value.
void SetValue(std::vector<PropValue>& props, PropValue value);

}  // namespace mapi::pst::fmt
