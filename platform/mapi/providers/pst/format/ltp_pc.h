// The property context ([MS-PST] 2.3.3): a heap whose B-tree maps each
// property id to its type and value, the value inline (fixed types up to
// 4 bytes), in a heap allocation, or in a subnode when larger than an
// allocation may be.
#pragma once

#include <string>
#include <vector>

#include "providers/pst/format/ltp_value.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

// Builds the node of a PC holding props (one value per property id).
// Large values become subnodes of *node, whose other subnodes are kept.
void WritePropertyContext(const std::vector<PropValue>& props, Node* node);

// Reads every property of a PC, in id order.
bool ReadPropertyContext(const Node& node, std::vector<PropValue>* props, std::string* error);

}  // namespace mapi::pst::fmt
