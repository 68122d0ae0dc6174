// Writes a whole Unicode personal folder file from a set of nodes: data
// blocks and their trees, subnode trees, both B-trees, the allocation maps
// and the header ([MS-PST] 2.2.2).
//
// The file is written to a temporary name beside the target, flushed to
// disk and then renamed over it, so a crash leaves either the old file or
// the new one, never a mixture.
#pragma once

#include <string>

#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

// Lays out nodes in memory; header carries the NID counters and receives
// the block/page counters and the root. False with a reason when the
// nodes do not fit the format (a node too large, a file beyond the size
// this writer supports).
bool LayOutFile(const NodeSet& nodes, Header* header, Bytes* file, std::string* error);

// LayOutFile, then writes the bytes to path durably.
bool WriteFile(const std::string& path, const NodeSet& nodes, Header header, std::string* error);

}  // namespace mapi::pst::fmt
