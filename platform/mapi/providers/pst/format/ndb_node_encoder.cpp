#include "providers/pst/format/ndb_node_encoder.h"

#include <algorithm>
#include <vector>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

bool Fail(std::string* error, const char* why) {
    if (error != nullptr) *error = why;
    return false;
}

bool StoreXBlock(uint8_t level, uint64_t total, const std::vector<uint64_t>& bids, const BlockSink& sink,
                 uint64_t* bid, std::string* error) {
    XBlock x{level, static_cast<uint32_t>(total), bids};
    return sink(x.Serialize(), true, bid, error);
}

}  // namespace

bool EncodeNodeData(const Bytes& data, const BlockSink& sink, uint64_t* bid, std::string* error) {
    *bid = 0;
    if (data.empty()) return true;
    if (data.size() <= kMaxBlockData) return sink(data, false, bid, error);
    if (data.size() > UINT32_MAX) return Fail(error, "a node larger than 4 GB");
    std::vector<uint64_t> leaves;
    for (size_t at = 0; at < data.size(); at += kMaxBlockData) {
        size_t n = std::min<size_t>(kMaxBlockData, data.size() - at);
        uint64_t leaf = 0;
        if (!sink(Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n)), false,
                  &leaf, error))
            return false;
        leaves.push_back(leaf);
    }
    if (leaves.size() <= XBlock::kMaxEntries) return StoreXBlock(1, data.size(), leaves, sink, bid, error);
    std::vector<uint64_t> middles;
    for (size_t at = 0; at < leaves.size(); at += XBlock::kMaxEntries) {
        size_t n = std::min<size_t>(XBlock::kMaxEntries, leaves.size() - at);
        std::vector<uint64_t> part(leaves.begin() + static_cast<long>(at), leaves.begin() + static_cast<long>(at + n));
        // lcbTotal of an inner XBLOCK counts the bytes below it.
        uint64_t bytes = std::min<uint64_t>(n * kMaxBlockData, data.size() - at * kMaxBlockData);
        uint64_t middle = 0;
        if (!StoreXBlock(1, bytes, part, sink, &middle, error)) return false;
        middles.push_back(middle);
    }
    if (middles.size() > XBlock::kMaxEntries) return Fail(error, "a node too large for a data tree");
    return StoreXBlock(2, data.size(), middles, sink, bid, error);
}

bool EncodeSubnodes(const std::map<uint32_t, Node>& subnodes, const BlockSink& sink, uint64_t* bid,
                    std::string* error) {
    *bid = 0;
    if (subnodes.empty()) return true;
    std::vector<SubnodeEntry> entries;
    for (const auto& [nid, sub] : subnodes) {
        SubnodeEntry e{nid, 0, 0};
        if (!EncodeNodeData(sub.data, sink, &e.bidData, error) || !EncodeSubnodes(sub.subnodes, sink, &e.bidSub, error))
            return false;
        entries.push_back(e);
    }
    if (entries.size() <= SubnodeBlock::kMaxLeafEntries) {
        SubnodeBlock leaf{0, entries};
        return sink(leaf.Serialize(), true, bid, error);
    }
    SubnodeBlock index{1, {}};
    for (size_t at = 0; at < entries.size(); at += SubnodeBlock::kMaxLeafEntries) {
        size_t n = std::min(SubnodeBlock::kMaxLeafEntries, entries.size() - at);
        SubnodeBlock leaf{0, {entries.begin() + static_cast<long>(at), entries.begin() + static_cast<long>(at + n)}};
        uint64_t leafBid = 0;
        if (!sink(leaf.Serialize(), true, &leafBid, error)) return false;
        index.entries.push_back({entries[at].nid, leafBid, 0});
    }
    if (index.entries.size() > SubnodeBlock::kMaxIndexEntries) return Fail(error, "too many subnodes");
    return sink(index.Serialize(), true, bid, error);
}

}  // namespace mapi::pst::fmt
