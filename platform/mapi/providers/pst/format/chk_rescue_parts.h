// Small pieces the store rescue (chk_rescue.cpp) is built from: naming
// nodes in notes, reading what is sound of a property context, and the
// nodes it writes for the store model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/ltp_value.h"
#include "providers/pst/format/msg_message.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt::rescue {

// A node id as the notes print it ("0x8022").
std::string HexNid(uint32_t nid);
bool IsMessageNid(uint32_t nid);
bool IsFolderNid(uint32_t nid);
// The same tags with the same bytes, in the same order.
bool SameProps(const std::vector<PropValue>& a, const std::vector<PropValue>& b);
// The sound properties of a property context node; false when none can be
// read. Lines for what was lost go to *lost.
bool SoundProps(const CheckedNode& node, std::vector<PropValue>* props, std::vector<std::string>* lost);
// Drops the named properties of a message, its recipients, attachments and
// embedded messages; returns how many values went.
size_t DropNamed(MessageContent* m);
Node PcNode(const std::vector<PropValue>& props);
// A table whose rows carry only their ids: the store model reads nothing
// else from the folder tables and regenerates them from its folders.
Node RowIdTable(const std::vector<uint32_t>& ids);

}  // namespace mapi::pst::fmt::rescue
