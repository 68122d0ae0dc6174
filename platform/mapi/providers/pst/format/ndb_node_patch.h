// A node given as what changed since its last commit, for nodes that are
// rewritten on every commit but change only at their end (a folder's
// contents table gains a row per saved message): the blocks that differ
// are written, the others keep their ids without being assembled or
// compared, and the data tree above them is rewritten only where it
// changed ([MS-PST] 2.2.2.8.3 data trees, 2.2.2.8.3.3 subnode trees).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_node_encoder.h"

namespace mapi::pst::fmt {

// A data stream's new length and the bytes of every block of it (cut at
// kMaxBlockData) that is new or differs from the last commit.
struct DataPatch {
    uint64_t size = 0;
    std::map<size_t, Bytes> blocks;
};

// The changes to a node without subnodes of its own subnodes: its data,
// the subnodes whose data changed or that are new, the subnodes gone.
struct NodePatch {
    // The node in full: every block, every subnode; subnodes of the last
    // version it does not name are gone.
    bool whole = false;
    DataPatch data;
    std::map<uint32_t, DataPatch> subnodes;
    std::set<uint32_t> removedSubnodes;
};

// Where a data stream lies: its leaf blocks in order, the inner XBLOCKs of
// a two-level tree, and the root (a leaf, an XBLOCK or an XXBLOCK; 0 for
// no data).
struct DataLayout {
    uint64_t size = 0;
    std::vector<uint64_t> leaves;
    std::vector<uint64_t> middles;
    uint64_t root = 0;
};

struct NodeLayout {
    DataLayout data;
    std::map<uint32_t, DataLayout> subnodes;
    std::vector<uint64_t> subnodeBlocks;  // the SLBLOCKs and the SIBLOCK above them
    uint64_t subnodeRoot = 0;

    // Every block of the node, each once.
    std::vector<uint64_t> AllBlocks() const;
};

// Writes through sink what patch changes in base (nullptr: a node the
// file has no layout of, which patch must then give in full) and returns
// the new layout in *out and the blocks of base it no longer uses in
// *dropped. False with a reason when the patch leaves a block unknown
// (a block base lacks, or whose length changed, not in the patch) or a
// block of the wrong length.
bool ApplyNodePatch(const NodeLayout* base, const NodePatch& patch, const BlockSink& sink, NodeLayout* out,
                    std::vector<uint64_t>* dropped, std::string* error);

}  // namespace mapi::pst::fmt
