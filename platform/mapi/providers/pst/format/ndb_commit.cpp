#include "providers/pst/format/ndb_commit.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <set>
#include <string_view>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_node_encoder.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint16_t kRefsOfSingleUse = 2;  // as the whole-file layout writes them

// Finds the blocks a node may keep; equal hashes are confirmed byte for
// byte before a block is kept.
uint64_t HashOf(const Bytes& data) {
    std::string_view view(reinterpret_cast<const char*>(data.data()), data.size());
    return std::hash<std::string_view>{}(view) ^ (static_cast<uint64_t>(data.size()) << 48);
}

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

// Index of the leaf that holds (or would hold) key: the last whose first
// key is not above it.
template <class Leaves>
size_t LeafFor(const Leaves& leaves, uint64_t key) {
    size_t lo = 0, hi = leaves.size();
    while (hi - lo > 1) {
        size_t mid = (lo + hi) / 2;
        if (!leaves[mid].keys.empty() && leaves[mid].keys.front() <= key)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

}  // namespace

NdbFile::~NdbFile() {
    if (fd_ < 0) return;
    if (unsynced_) ::fdatasync(fd_);
    ::close(fd_);
}

bool NdbFile::Write(uint64_t ib, const uint8_t* data, size_t size, std::string* error) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(ib + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(error, "cannot write " + path_ + ": " + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
    return true;
}

bool NdbFile::StoreBlock(const Bytes& data, bool internal, uint64_t* bid, std::vector<uint64_t>* owned,
                         Reusable* reusable, std::string* error) {
    uint64_t hash = HashOf(data);
    if (reusable != nullptr) {
        auto [first, last] = reusable->equal_range(hash);
        for (auto it = first; it != last; ++it) {
            if (IsInternalBid(it->second) != internal || !SameBytes(it->second, data)) continue;
            *bid = it->second;
            owned->push_back(*bid);
            reusable->erase(it);
            return true;
        }
    }
    uint64_t id = header_.nextBlockBid | (internal ? kBidInternal : 0);
    header_.nextBlockBid += 4;
    uint64_t ib = space_.Allocate(BlockSizeOnDisk(data.size()), kBlockAlign);
    if (ib == UINT64_MAX) return Fail(error, "the file would outgrow the largest size this writer makes");
    Bytes encoded = EncodeBlock(data, id, ib, header_.cryptMethod);
    if (!Write(ib, encoded.data(), encoded.size(), error)) return false;
    blocks_[id] = {{id, ib}, static_cast<uint16_t>(data.size()), kRefsOfSingleUse};
    hashOf_[id] = hash;
    Insert(bbt_, id, BtPage::kMaxBbtLeaf);
    owned->push_back(id);
    *bid = id;
    return true;
}

void NdbFile::DropBlocks(uint32_t nid, const std::set<uint64_t>& keep) {
    auto it = owned_.find(nid);
    if (it == owned_.end()) return;
    for (uint64_t bid : it->second) {
        if (keep.count(bid) != 0) continue;
        auto b = blocks_.find(bid);
        if (b == blocks_.end()) continue;
        releaseNext_.emplace_back(b->second.bref.ib, BlockSizeOnDisk(b->second.cb));
        blocks_.erase(b);
        hashOf_.erase(bid);
        Erase(bbt_, bid);
    }
    owned_.erase(it);
}

void NdbFile::Insert(Tree& tree, uint64_t key, size_t maxPerLeaf) {
    if (tree.leaves.empty()) tree.leaves.emplace_back();
    size_t i = LeafFor(tree.leaves, key);
    Leaf& leaf = tree.leaves[i];
    leaf.keys.insert(std::upper_bound(leaf.keys.begin(), leaf.keys.end(), key), key);
    leaf.dirty = true;
    if (leaf.keys.size() <= maxPerLeaf) return;
    // Keys arrive mostly in rising order (new ids): a full last leaf keeps
    // its entries and starts a new one, so leaves stay full.
    Leaf next;
    size_t keep = i + 1 == tree.leaves.size() ? leaf.keys.size() - 1 : leaf.keys.size() / 2;
    next.keys.assign(leaf.keys.begin() + static_cast<long>(keep), leaf.keys.end());
    leaf.keys.resize(keep);
    next.dirty = true;
    tree.leaves.insert(tree.leaves.begin() + static_cast<long>(i) + 1, std::move(next));
    tree.shiftFrom = std::min(tree.shiftFrom, i + 1);
}

void NdbFile::Erase(Tree& tree, uint64_t key) {
    if (tree.leaves.empty()) return;
    size_t i = LeafFor(tree.leaves, key);
    Leaf& leaf = tree.leaves[i];
    auto it = std::lower_bound(leaf.keys.begin(), leaf.keys.end(), key);
    if (it == leaf.keys.end() || *it != key) return;
    leaf.keys.erase(it);
    leaf.dirty = true;
    if (leaf.keys.empty() && tree.leaves.size() > 1) {
        // Its page is freed with the other pages the commit replaces.
        if (leaf.at.ib != 0) tree.retired.push_back(leaf.at);
        tree.leaves.erase(tree.leaves.begin() + static_cast<long>(i));
        tree.shiftFrom = std::min(tree.shiftFrom, i);
    }
}

void NdbFile::Touch(Tree& tree, uint64_t key) {
    if (!tree.leaves.empty()) tree.leaves[LeafFor(tree.leaves, key)].dirty = true;
}

bool NdbFile::WriteTree(Tree& tree, std::string* error) {
    auto store = [&](const BtPage& page, Bref* at) {
        uint64_t ib = space_.Allocate(kPageSize, kPageSize);
        if (ib == UINT64_MAX) return Fail(error, "the file would outgrow the largest size this writer makes");
        uint64_t bid = header_.nextPageBid++;
        uint8_t bytes[kPageSize];
        page.Write(bytes, bid, ib);
        *at = {bid, ib};
        return Write(ib, bytes, kPageSize, error);
    };
    std::vector<size_t> changed;  // entries of the level being built whose page was written
    for (size_t i = 0; i < tree.leaves.size(); ++i) {
        Leaf& leaf = tree.leaves[i];
        if (!leaf.dirty) continue;
        if (leaf.at.ib != 0) releaseNext_.emplace_back(leaf.at.ib, kPageSize);
        BtPage page;
        page.type = tree.type;
        for (uint64_t key : leaf.keys) {
            if (tree.type == kPageBBT)
                page.blocks.push_back(blocks_.at(key));
            else
                page.nodes.push_back(nodes_.at(static_cast<uint32_t>(key)));
        }
        if (!store(page, &leaf.at)) return false;
        leaf.dirty = false;
        changed.push_back(i);
    }
    // The levels above: pages of up to kMaxIntermediate consecutive entries.
    // Only the pages over a rewritten entry, or from where entries were
    // inserted or removed, are looked at, so a commit does not walk the
    // whole tree; new ids come at the end, so that is mostly the last page.
    for (const Bref& old : tree.retired) releaseNext_.emplace_back(old.ib, kPageSize);
    tree.retired.clear();
    auto same = [](const std::vector<BtEntry>& a, const std::vector<BtEntry>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const BtEntry& x, const BtEntry& y) {
                   return x.key == y.key && x.child == y.child;
               });
    };
    constexpr size_t kPer = BtPage::kMaxIntermediate;
    size_t count = tree.leaves.size();
    size_t shift = std::min(tree.shiftFrom, count);
    tree.shiftFrom = SIZE_MAX;
    auto entryOf = [&](size_t depth, size_t i) -> BtEntry {
        if (depth == 0) {
            const Leaf& leaf = tree.leaves[i];
            return {leaf.keys.empty() ? 0 : leaf.keys.front(), leaf.at};
        }
        const Tree::Upper& page = tree.upper[depth - 1][i];
        return {page.children.front().key, page.at};
    };
    size_t depth = 0;
    for (uint8_t level = 1; count > 1; ++level, ++depth) {
        if (tree.upper.size() <= depth) tree.upper.emplace_back();
        size_t pagesNow = (count + kPer - 1) / kPer;
        size_t pagesBefore = tree.upper[depth].size();
        for (size_t extra = pagesNow; extra < pagesBefore; ++extra)
            if (tree.upper[depth][extra].at.ib != 0) releaseNext_.emplace_back(tree.upper[depth][extra].at.ib, kPageSize);
        tree.upper[depth].resize(pagesNow);
        std::set<size_t> redo;
        for (size_t i : changed) redo.insert(i / kPer);
        for (size_t c = std::min(shift / kPer, pagesBefore); c < pagesNow; ++c) redo.insert(c);
        std::vector<size_t> written;
        for (size_t c : redo) {
            if (c >= pagesNow) continue;
            size_t n = std::min(kPer, count - c * kPer);
            std::vector<BtEntry> children;
            children.reserve(n);
            for (size_t i = c * kPer; i < c * kPer + n; ++i) children.push_back(entryOf(depth, i));
            Tree::Upper& page = tree.upper[depth][c];
            if (page.at.ib != 0 && same(page.children, children)) continue;
            if (page.at.ib != 0) releaseNext_.emplace_back(page.at.ib, kPageSize);
            BtPage bt;
            bt.type = tree.type;
            bt.level = level;
            bt.children = children;
            if (!store(bt, &page.at)) return false;
            page.children = std::move(children);
            written.push_back(c);
        }
        // A level that gained or lost pages moves the entries above from there.
        shift = pagesNow == pagesBefore ? SIZE_MAX : std::min(pagesNow, pagesBefore) - (pagesBefore > 0 ? 1 : 0);
        changed = std::move(written);
        count = pagesNow;
    }
    for (size_t extra = depth; extra < tree.upper.size(); ++extra)
        for (const Tree::Upper& page : tree.upper[extra])
            if (page.at.ib != 0) releaseNext_.emplace_back(page.at.ib, kPageSize);
    tree.upper.resize(depth);
    tree.root = depth == 0 ? tree.leaves.front().at : tree.upper[depth - 1].front().at;
    return true;
}

bool NdbFile::WriteMaps(std::string* error) {
    uint64_t end = space_.FileEnd();
    if (end > header_.root.fileEof && ::ftruncate(fd_, static_cast<off_t>(end)) != 0)
        return Fail(error, "cannot grow " + path_ + ": " + std::strerror(errno));
    // Space this commit stopped using is still marked used here (it is
    // released at the next commit): the header on disk reaches it until the
    // new one is written. Only the map pages whose ranges changed are
    // rewritten, so a commit's cost does not grow with the file.
    for (const MapPage& map : space_.TakeChangedMaps()) {
        uint8_t page[kPageSize] = {};
        std::memcpy(page, map.bits.data(), map.bits.size());
        PageTrailer::Seal(page, map.type, map.ib, map.ib);
        if (!Write(map.ib, page, kPageSize, error)) return false;
    }
    header_.root.fileEof = end;
    header_.root.amapLast = AMapOffset(space_.RangeCount() - 1);
    header_.root.amapFree = space_.FreeBytes();
    header_.root.pmapFree = 0;  // the PMaps mark every page used
    return true;
}

bool NdbFile::Commit(const NodeSet& changed, const std::set<uint32_t>& removed,
                     const std::array<uint32_t, 32>& nidCounters, std::string* error) {
    // Another writer (another process, or another store object in this
    // one) may have committed since this one read the file; its commit
    // would be undone and its space handed out twice. Commits take turns,
    // and one whose view is stale is refused.
    if (::flock(fd_, LOCK_EX) != 0) return Fail(error, "cannot lock " + path_ + ": " + std::strerror(errno));
    bool ok = Fresh(error) && CommitLocked(changed, removed, nidCounters, error);
    ::flock(fd_, LOCK_UN);
    return ok;
}

bool NdbFile::Fresh(std::string* error) {
    uint8_t bytes[Header::kSize];
    if (::pread(fd_, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return Fail(error, "cannot read the header of " + path_);
    Header onDisk;
    if (!Header::Read(bytes, sizeof bytes, &onDisk, error)) return false;
    if (onDisk.unique != header_.unique)
        return Fail(error, path_ + " was changed by another writer since it was opened here");
    return true;
}

bool NdbFile::CommitLocked(const NodeSet& changed, const std::set<uint32_t>& removed,
                           const std::array<uint32_t, 32>& nidCounters, std::string* error) {
    // What the commit before the last stopped using is free: the last
    // commit's flush made durable a header that no longer reaches it.
    for (const auto& [ib, size] : releaseLater_) space_.Release(ib, size);
    releaseLater_ = std::move(releaseNext_);
    releaseNext_.clear();

    for (uint32_t nid : removed) {
        layouts_.erase(nid);
        std::vector<uint64_t>* owned = nullptr;
        if (!OwnedBlocks(nid, &owned, error)) return false;
        DropBlocks(nid);
        if (nodes_.erase(nid) == 1) Erase(nbt_, nid);
    }
    for (const auto& [nid, top] : changed) {
        if (top.patch != nullptr) {
            if (!CommitPatched(nid, top, error)) return false;
            continue;
        }
        layouts_.erase(nid);
        Reusable reusable;
        std::vector<uint64_t>* old = nullptr;
        if (!OwnedBlocks(nid, &old, error)) return false;
        for (size_t i = 0; old != nullptr && i < old->size(); ++i) {
            uint64_t bid = (*old)[i];
            auto h = hashOf_.find(bid);
            if (h == hashOf_.end()) {
                Bytes bytes;
                if (!ReadBlock(bid, &bytes, error)) return false;
                h = hashOf_.emplace(bid, HashOf(bytes)).first;
            }
            reusable.emplace(h->second, bid);
        }
        std::vector<uint64_t> owned;
        BlockSink sink = [&](const Bytes& data, bool internal, uint64_t* bid, std::string* err) {
            return StoreBlock(data, internal, bid, &owned, &reusable, err);
        };
        NbtEntry entry{nid, 0, 0, top.parent};
        if (!EncodeNodeData(top.node.data, sink, &entry.bidData, error) ||
            !EncodeSubnodes(top.node.subnodes, sink, &entry.bidSub, error))
            return false;
        // The old version's blocks go, but for those the new one kept.
        DropBlocks(nid, std::set<uint64_t>(owned.begin(), owned.end()));
        bool added = nodes_.count(nid) == 0;
        nodes_[nid] = entry;
        owned_[nid] = std::move(owned);
        if (added)
            Insert(nbt_, nid, BtPage::kMaxNbtLeaf);
        else
            Touch(nbt_, nid);
    }
    if (!WriteTree(nbt_, error) || !WriteTree(bbt_, error) || !WriteMaps(error)) return false;
    if (::fdatasync(fd_) != 0) return Fail(error, "cannot flush " + path_ + ": " + std::strerror(errno));
    unsynced_ = false;

    header_.nextNidIndex = nidCounters;
    header_.root.nbt = nbt_.root;
    header_.root.bbt = bbt_.root;
    header_.root.amapValid = 0x02;
    ++header_.unique;
    uint8_t bytes[Header::kSize];
    header_.Write(bytes);
    if (!Write(0, bytes, sizeof bytes, error)) return false;
    unsynced_ = true;  // the next commit's flush, or closing, makes it durable
    return true;
}

}  // namespace mapi::pst::fmt
