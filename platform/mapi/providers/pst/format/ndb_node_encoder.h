// Turning a node into blocks ([MS-PST] 2.2.2.8.3): its data as one block
// or a data tree (XBLOCK, XXBLOCK), its subnodes as a subnode tree
// (SLBLOCK, SIBLOCK). Where blocks go is the sink's business, so the
// whole-file layout and the incremental commit share this.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

// Stores one block (internal: a tree block, never encoded) and returns its
// id; false with the reason in *error.
using BlockSink = std::function<bool(const Bytes& data, bool internal, uint64_t* bid, std::string* error)>;

// *bid 0 for empty data / no subnodes.
bool EncodeNodeData(const Bytes& data, const BlockSink& sink, uint64_t* bid, std::string* error);
bool EncodeSubnodes(const std::map<uint32_t, Node>& subnodes, const BlockSink& sink, uint64_t* bid,
                    std::string* error);

}  // namespace mapi::pst::fmt
