// A node as the layers above see it ([MS-PST] 2.2.2.8.3): a stream of
// bytes and a set of subnodes, each again a node. The writer turns these
// into data blocks, data trees and subnode trees; the reader back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt {

struct NodePatch;  // ndb_node_patch.h

struct Node {
    Bytes data;
    std::map<uint32_t, Node> subnodes;  // by subnode NID
};

// A top-level node: a node with its place in the node B-tree.
struct TopNode {
    uint32_t parent = 0;  // nidParent, 0 when none
    Node node;
    // When set, the node is given by its changes since its last commit
    // instead of by node (which is then empty); only NdbFile::Commit takes
    // such nodes.
    std::shared_ptr<const NodePatch> patch = nullptr;
};

using NodeSet = std::map<uint32_t, TopNode>;

}  // namespace mapi::pst::fmt
