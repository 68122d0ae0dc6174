#include "providers/pst/format/ndb_node_patch.h"

#include <algorithm>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

size_t BlockCount(uint64_t size) { return static_cast<size_t>((size + kMaxBlockData - 1) / kMaxBlockData); }

uint64_t BlockLength(uint64_t size, size_t index) {
    return std::min<uint64_t>(kMaxBlockData, size - static_cast<uint64_t>(index) * kMaxBlockData);
}

bool StoreX(uint8_t level, uint64_t total, const std::vector<uint64_t>& bids, const BlockSink& sink, uint64_t* bid,
            std::string* error) {
    XBlock x{level, static_cast<uint32_t>(total), bids};
    return sink(x.Serialize(), true, bid, error);
}

// The tree blocks of a layout: its XBLOCK or XXBLOCK and inner XBLOCKs.
void TreeBlocks(const DataLayout& d, std::vector<uint64_t>* out) {
    if (d.leaves.size() > 1) out->push_back(d.root);
    out->insert(out->end(), d.middles.begin(), d.middles.end());
}

bool ApplyData(const DataLayout* base, const DataPatch& patch, const BlockSink& sink, DataLayout* out,
               std::vector<uint64_t>* dropped, std::string* error) {
    if (patch.size > UINT32_MAX) return Fail(error, "a node larger than 4 GB");
    size_t count = BlockCount(patch.size);
    if (count > XBlock::kMaxEntries * XBlock::kMaxEntries) return Fail(error, "a node too large for a data tree");
    out->size = patch.size;
    out->leaves.assign(count, 0);
    std::vector<bool> fresh(count, false);
    for (const auto& [index, bytes] : patch.blocks)
        if (index >= count || bytes.size() != BlockLength(patch.size, index))
            return Fail(error, "a changed block that does not fit its node's new length");
    for (size_t i = 0; i < count; ++i) {
        auto given = patch.blocks.find(i);
        bool kept = base != nullptr && i < base->leaves.size() &&
                    BlockLength(base->size, i) == BlockLength(patch.size, i);
        if (given == patch.blocks.end()) {
            if (!kept) return Fail(error, "a change to a node that leaves one of its blocks unknown");
            out->leaves[i] = base->leaves[i];
            continue;
        }
        if (!sink(given->second, false, &out->leaves[i], error)) return false;
        fresh[i] = true;
        if (base != nullptr && i < base->leaves.size()) dropped->push_back(base->leaves[i]);
    }
    if (base != nullptr)
        for (size_t i = count; i < base->leaves.size(); ++i) dropped->push_back(base->leaves[i]);

    bool sameShape = base != nullptr && base->leaves.size() == count && base->size == patch.size;
    bool anyFresh = std::find(fresh.begin(), fresh.end(), true) != fresh.end();
    if (sameShape && !anyFresh) {
        out->middles = base->middles;
        out->root = base->root;
        return true;
    }
    // The tree above the leaves: an inner XBLOCK is kept when none of its
    // leaves and not its length changed, which for a stream growing at its
    // end is every one but the last.
    if (count <= 1) {
        out->root = count == 0 ? 0 : out->leaves[0];
    } else if (count <= XBlock::kMaxEntries) {
        if (!StoreX(1, patch.size, out->leaves, sink, &out->root, error)) return false;
    } else {
        bool baseTwoLevel = base != nullptr && base->leaves.size() > XBlock::kMaxEntries;
        for (size_t at = 0, j = 0; at < count; at += XBlock::kMaxEntries, ++j) {
            size_t n = std::min<size_t>(XBlock::kMaxEntries, count - at);
            uint64_t bytes = std::min<uint64_t>(n * kMaxBlockData, patch.size - at * kMaxBlockData);
            bool keep = baseTwoLevel && j < base->middles.size() &&
                        std::min<size_t>(XBlock::kMaxEntries, base->leaves.size() - at) == n &&
                        std::min<uint64_t>(n * kMaxBlockData, base->size - at * kMaxBlockData) == bytes &&
                        std::find(fresh.begin() + static_cast<long>(at), fresh.begin() + static_cast<long>(at + n),
                                  true) == fresh.begin() + static_cast<long>(at + n);
            if (keep) {
                out->middles.push_back(base->middles[j]);
                continue;
            }
            uint64_t middle = 0;
            std::vector<uint64_t> part(out->leaves.begin() + static_cast<long>(at),
                                       out->leaves.begin() + static_cast<long>(at + n));
            if (!StoreX(1, bytes, part, sink, &middle, error)) return false;
            out->middles.push_back(middle);
        }
        if (!StoreX(2, patch.size, out->middles, sink, &out->root, error)) return false;
    }
    std::vector<uint64_t> oldTree;
    if (base != nullptr) TreeBlocks(*base, &oldTree);
    // A kept inner XBLOCK is still in use.
    for (uint64_t bid : oldTree)
        if (std::find(out->middles.begin(), out->middles.end(), bid) == out->middles.end()) dropped->push_back(bid);
    return true;
}

void AllOf(const DataLayout& d, std::vector<uint64_t>* out) {
    out->insert(out->end(), d.leaves.begin(), d.leaves.end());
    TreeBlocks(d, out);
}

bool StoreSubnodeTree(NodeLayout* node, const BlockSink& sink, std::string* error) {
    node->subnodeBlocks.clear();
    node->subnodeRoot = 0;
    if (node->subnodes.empty()) return true;
    std::vector<SubnodeEntry> entries;
    for (const auto& [nid, d] : node->subnodes) entries.push_back({nid, d.root, 0});
    if (entries.size() <= SubnodeBlock::kMaxLeafEntries) {
        SubnodeBlock leaf{0, entries};
        if (!sink(leaf.Serialize(), true, &node->subnodeRoot, error)) return false;
        node->subnodeBlocks.push_back(node->subnodeRoot);
        return true;
    }
    SubnodeBlock index{1, {}};
    for (size_t at = 0; at < entries.size(); at += SubnodeBlock::kMaxLeafEntries) {
        size_t n = std::min(SubnodeBlock::kMaxLeafEntries, entries.size() - at);
        SubnodeBlock leaf{0, {entries.begin() + static_cast<long>(at), entries.begin() + static_cast<long>(at + n)}};
        uint64_t bid = 0;
        if (!sink(leaf.Serialize(), true, &bid, error)) return false;
        node->subnodeBlocks.push_back(bid);
        index.entries.push_back({entries[at].nid, bid, 0});
    }
    if (index.entries.size() > SubnodeBlock::kMaxIndexEntries) return Fail(error, "too many subnodes");
    if (!sink(index.Serialize(), true, &node->subnodeRoot, error)) return false;
    node->subnodeBlocks.push_back(node->subnodeRoot);
    return true;
}

}  // namespace

std::vector<uint64_t> NodeLayout::AllBlocks() const {
    std::vector<uint64_t> out;
    AllOf(data, &out);
    for (const auto& [nid, d] : subnodes) AllOf(d, &out);
    out.insert(out.end(), subnodeBlocks.begin(), subnodeBlocks.end());
    return out;
}

bool ApplyNodePatch(const NodeLayout* base, const NodePatch& patch, const BlockSink& sink, NodeLayout* out,
                    std::vector<uint64_t>* dropped, std::string* error) {
    *out = NodeLayout();
    if (!ApplyData(base != nullptr ? &base->data : nullptr, patch.data, sink, &out->data, dropped, error))
        return false;
    if (base != nullptr) out->subnodes = base->subnodes;
    bool removedAny = false;
    for (auto it = out->subnodes.begin(); it != out->subnodes.end();) {
        bool gone = patch.whole ? patch.subnodes.count(it->first) == 0 : patch.removedSubnodes.count(it->first) != 0;
        if (!gone) {
            ++it;
            continue;
        }
        AllOf(it->second, dropped);
        it = out->subnodes.erase(it);
        removedAny = true;
    }
    for (const auto& [nid, change] : patch.subnodes) {
        const DataLayout* was = nullptr;
        if (base != nullptr)
            if (auto it = base->subnodes.find(nid); it != base->subnodes.end()) was = &it->second;
        DataLayout now;
        if (!ApplyData(was, change, sink, &now, dropped, error)) return false;
        out->subnodes[nid] = std::move(now);
    }
    // The subnode tree names each subnode's root, so it is written again
    // when any of them changed; a table has few subnodes besides its rows.
    bool same = base != nullptr && !removedAny && base->subnodes.size() == out->subnodes.size();
    for (const auto& [nid, d] : out->subnodes) {
        if (!same) break;
        auto it = base->subnodes.find(nid);
        same = it != base->subnodes.end() && it->second.root == d.root;
    }
    if (same) {
        out->subnodeBlocks = base->subnodeBlocks;
        out->subnodeRoot = base->subnodeRoot;
        return true;
    }
    if (base != nullptr) dropped->insert(dropped->end(), base->subnodeBlocks.begin(), base->subnodeBlocks.end());
    return StoreSubnodeTree(out, sink, error);
}

}  // namespace mapi::pst::fmt
