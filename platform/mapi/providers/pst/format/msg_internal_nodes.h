// The internal nodes every file carries besides its folders and messages:
// the search bookkeeping queues, the folder and table templates, the
// outgoing queue and the nodes reserved for Outlook's own use ([MS-PST]
// 2.4.1, 2.7.1). A new file gets all of them; a file this writer made
// before some were added gets the missing ones at its next commit.
#pragma once

#include <cstdint>
#include <vector>

#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

// Their NIDs, ascending.
const std::vector<uint32_t>& InternalNodeNids();

// Writes the internal node nid, empty as a new file holds it, into nodes;
// false (nodes untouched) when nid is none of InternalNodeNids().
bool BuildInternalNode(uint32_t nid, NodeSet& nodes);

}  // namespace mapi::pst::fmt
