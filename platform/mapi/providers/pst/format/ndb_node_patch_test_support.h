// Blocks kept in memory for tests of patched nodes: a sink that stores
// them and reads layouts back into bytes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_node.h"
#include "providers/pst/format/ndb_node_patch.h"

namespace mapi::pst::fmt {

class BlockStore {
public:
    BlockSink Sink() {
        return [this](const Bytes& data, bool internal, uint64_t* bid, std::string*) {
            *bid = next_ | (internal ? kBidInternal : 0);
            next_ += 4;
            blocks_[*bid] = data;
            return true;
        };
    }
    size_t count() const { return blocks_.size(); }
    void Forget(const std::vector<uint64_t>& bids) {
        for (uint64_t bid : bids) blocks_.erase(bid);
    }
    // How many of the layout's blocks the store holds (all, when nothing
    // it uses was given up).
    size_t live(const NodeLayout& layout) const {
        size_t n = 0;
        for (uint64_t bid : layout.AllBlocks()) n += blocks_.count(bid);
        return n;
    }
    // The data, read through the tree as a reader would.
    Bytes Assemble(const DataLayout& d) const { return Read(d.root); }
    Bytes Assemble(const NodeLayout& layout) const { return Assemble(layout.data); }
    Node AssembleNode(const NodeLayout& layout) const {
        Node n;
        n.data = Assemble(layout.data);
        for (const auto& [nid, d] : layout.subnodes) n.subnodes[nid].data = Assemble(d);
        return n;
    }

private:
    Bytes Read(uint64_t bid) const {
        if (bid == 0) return {};
        const Bytes& raw = blocks_.at(bid);
        if (!IsInternalBid(bid)) return raw;
        XBlock x;
        std::string error;
        if (!XBlock::Parse(raw, &x, &error)) return {};
        Bytes out;
        for (uint64_t child : x.bids) {
            Bytes part = Read(child);
            out.insert(out.end(), part.begin(), part.end());
        }
        if (out.size() != x.totalBytes) return {};
        return out;
    }

    uint64_t next_ = 4;
    std::map<uint64_t, Bytes> blocks_;
};

}  // namespace mapi::pst::fmt
