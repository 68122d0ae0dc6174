// The commit of nodes given as patches: only their changed blocks are
// written, and the blocks they stop using leave the file one by one, so
// the work follows the change and not the node's size.
#include "providers/pst/format/ndb_commit.h"

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {

void NdbFile::DropBlock(uint64_t bid) {
    auto b = blocks_.find(bid);
    if (b == blocks_.end()) return;
    releaseNext_.emplace_back(b->second.bref.ib, BlockSizeOnDisk(b->second.cb));
    blocks_.erase(b);
    hashOf_.erase(bid);
    Erase(bbt_, bid);
}

bool NdbFile::CommitPatched(uint32_t nid, const TopNode& top, std::string* error) {
    auto base = layouts_.find(nid);
    bool known = base != layouts_.end();
    // A node of a reopened file has not had its blocks learned yet; they
    // must be, or the whole version it replaces would stay in the file.
    if (!known) {
        std::vector<uint64_t>* old = nullptr;
        if (!OwnedBlocks(nid, &old, error)) return false;
    }
    std::vector<uint64_t> written;
    BlockSink sink = [&](const Bytes& data, bool internal, uint64_t* bid, std::string* err) {
        return StoreBlock(data, internal, bid, &written, nullptr, err);
    };
    NodeLayout next;
    std::vector<uint64_t> dropped;
    if (!ApplyNodePatch(known ? &base->second : nullptr, *top.patch, sink, &next, &dropped, error)) return false;
    if (known) {
        for (uint64_t bid : dropped) DropBlock(bid);
    } else {
        // The version in the file was written whole (or read from it): none
        // of its blocks is known to be kept.
        DropBlocks(nid);
    }
    NbtEntry entry{nid, next.data.root, next.subnodeRoot, top.parent};
    owned_[nid] = next.AllBlocks();
    layouts_[nid] = std::move(next);
    bool added = nodes_.count(nid) == 0;
    nodes_[nid] = entry;
    if (added)
        Insert(nbt_, nid, BtPage::kMaxNbtLeaf);
    else
        Touch(nbt_, nid);
    return true;
}

}  // namespace mapi::pst::fmt
