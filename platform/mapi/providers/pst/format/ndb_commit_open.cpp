// Opening a file for commits without reading it whole: the header and the
// two B-trees, page by page, are all that is read here. A node's blocks are
// read when the node is (ReadNode), and the blocks it owns are learned only
// when it changes or goes, so that what an open costs follows the number of
// blocks, not the bytes of the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

// Deeper trees than this cannot come from a file of sane size and mean a
// loop in the pages.
constexpr int kMaxDepth = 8;

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

}  // namespace

std::unique_ptr<NdbFile> NdbFile::Open(const std::string& path, Header* header, std::string* error) {
    std::unique_ptr<NdbFile> file(new NdbFile());
    file->path_ = path;
    file->fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (file->fd_ < 0) {
        Fail(error, "cannot open " + path + " for writing: " + std::strerror(errno));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(file->fd_, &st) != 0) {
        Fail(error, "cannot read the size of " + path + ": " + std::strerror(errno));
        return nullptr;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    uint8_t bytes[Header::kSize] = {};
    ssize_t n = ::pread(file->fd_, bytes, sizeof bytes, 0);
    if (!Header::Read(bytes, n < 0 ? 0 : static_cast<size_t>(n), &file->header_, error)) return nullptr;
    if (file->header_.cryptMethod != kCryptNone && file->header_.cryptMethod != kCryptPermute) {
        Fail(error, "a file with the high (cyclic) encoding; only unencoded and compressible files are written here");
        return nullptr;
    }
    // A commit grows the file before it writes the header that covers the
    // new end: a longer file is one whose last commit was interrupted, a
    // shorter one has lost data.
    if (file->header_.root.fileEof > size) {
        Fail(error, "the file is shorter than its header says");
        return nullptr;
    }
    if (!file->LoadTrees(error)) return nullptr;
    // The header just read may not be on disk yet (its writer was killed
    // before flushing): make it so before any of the space it does not
    // reach is handed out again.
    if (::fdatasync(file->fd_) != 0) {
        Fail(error, "cannot flush " + path + ": " + std::strerror(errno));
        return nullptr;
    }
    // Drop the tail of a commit that was interrupted before its header was
    // written, so that other readers see a file whose size its header states.
    if (size > file->header_.root.fileEof &&
        ::ftruncate(file->fd_, static_cast<off_t>(file->header_.root.fileEof)) != 0) {
        Fail(error, "cannot truncate " + path + ": " + std::strerror(errno));
        return nullptr;
    }
    *header = file->header_;
    return file;
}

std::unique_ptr<NdbFile> NdbFile::Open(const std::string& path, NodeSet* nodes, Header* header, std::string* error) {
    std::unique_ptr<NdbFile> file = Open(path, header, error);
    if (file == nullptr) return nullptr;
    NodeSet all;
    for (const auto& [nid, entry] : file->nodes_) {
        TopNode& top = all[nid];
        top.parent = entry.nidParent;
        if (!file->ReadNode(nid, &top.node, error)) return nullptr;
    }
    *nodes = std::move(all);
    return file;
}

// Walks a B-tree below the page at ref, checking each page as the reader
// of whole files does: where it lies, its trailer, its tree, its level, and
// keys that rise strictly and stay at or above the key its parent gave.
bool NdbFile::WalkTree(const Bref& ref, Tree& tree, int depth, int expectedLevel, uint64_t minKey,
                       uint64_t* lastKey, std::string* error) {
    if (depth > kMaxDepth) return Fail(error, "a B-tree deeper than any file needs");
    if (ref.ib % kPageSize != 0 || ref.ib + kPageSize > header_.root.fileEof)
        return Fail(error, "a B-tree page outside the file at " + std::to_string(ref.ib));
    uint8_t bytes[kPageSize];
    if (::pread(fd_, bytes, kPageSize, static_cast<off_t>(ref.ib)) != static_cast<ssize_t>(kPageSize))
        return Fail(error, "cannot read " + path_ + ": " + std::strerror(errno));
    BtPage page;
    if (!BtPage::Read(bytes, ref.ib, &page, error)) return false;
    if (page.type != tree.type) return Fail(error, "a page of the wrong B-tree at " + std::to_string(ref.ib));
    if (expectedLevel >= 0 && page.level != expectedLevel)
        return Fail(error, "B-tree levels out of step at " + std::to_string(ref.ib));
    space_.MarkUsed(ref.ib, kPageSize);
    if (page.level > 0) {
        // Whatever grouping the file has, the first commit writes these
        // pages anew.
        tree.retired.push_back(ref);
        for (const BtEntry& e : page.children) {
            if (*lastKey != UINT64_MAX && e.key <= *lastKey)
                return Fail(error, "B-tree keys out of order at " + std::to_string(ref.ib));
            if (!WalkTree(e.child, tree, depth + 1, page.level - 1, e.key, lastKey, error)) return false;
        }
        return true;
    }
    auto inOrder = [&](uint64_t key) {
        if (key < minKey || (*lastKey != UINT64_MAX && key <= *lastKey)) return false;
        *lastKey = key;
        return true;
    };
    Leaf leaf;
    leaf.at = ref;
    for (const BbtEntry& b : page.blocks) {
        if (!inOrder(b.bref.bid)) return Fail(error, "block ids out of order at " + std::to_string(ref.ib));
        if (b.bref.ib % kBlockAlign != 0 || b.bref.ib + BlockSizeOnDisk(b.cb) > header_.root.fileEof)
            return Fail(error, "a block outside the file at " + std::to_string(b.bref.ib));
        leaf.keys.push_back(b.bref.bid);
        blocks_[b.bref.bid] = b;
        space_.MarkUsed(b.bref.ib, BlockSizeOnDisk(b.cb));
    }
    for (const NbtEntry& e : page.nodes) {
        if (!inOrder(e.nid)) return Fail(error, "node ids out of order at " + std::to_string(ref.ib));
        leaf.keys.push_back(e.nid);
        nodes_[static_cast<uint32_t>(e.nid)] = e;
    }
    tree.leaves.push_back(std::move(leaf));
    return true;
}

bool NdbFile::LoadTrees(std::string* error) {
    nbt_.type = kPageNBT;
    bbt_.type = kPageBBT;
    nbt_.root = header_.root.nbt;
    bbt_.root = header_.root.bbt;
    uint64_t last = UINT64_MAX;
    if (!WalkTree(header_.root.bbt, bbt_, 0, -1, 0, &last, error)) return false;
    last = UINT64_MAX;
    if (!WalkTree(header_.root.nbt, nbt_, 0, -1, 0, &last, error)) return false;
    // Every node's trees must start at a block the file has; what lies
    // below is checked when the node is read.
    for (const auto& [nid, e] : nodes_)
        for (uint64_t bid : {e.bidData, e.bidSub})
            if (bid != 0 && blocks_.count(bid) == 0)
                return Fail(error, "node " + std::to_string(nid) + " refers to a missing block " + std::to_string(bid));
    space_.FinishMarking();
    return true;
}

// The blocks of a node's trees, learned from its internal blocks the first
// time they are needed; a node written here has them already.
bool NdbFile::OwnedBlocks(uint32_t nid, std::vector<uint64_t>** out, std::string* error) {
    *out = nullptr;
    if (auto it = owned_.find(nid); it != owned_.end()) {
        *out = &it->second;
        return true;
    }
    auto node = nodes_.find(nid);
    if (node == nodes_.end()) return true;
    std::vector<uint64_t> owned;
    std::string why;
    if (!CollectData(node->second.bidData, &owned, 0, &why) || !CollectSubnodes(node->second.bidSub, &owned, 0, &why))
        return Fail(error, "the blocks of node " + std::to_string(nid) + " cannot be read: " + why);
    *out = &(owned_[nid] = std::move(owned));
    return true;
}

bool NdbFile::CollectData(uint64_t bid, std::vector<uint64_t>* out, int depth, std::string* error) {
    if (bid == 0) return true;
    if (depth > 2) return Fail(error, "a data tree deeper than any file needs");
    out->push_back(bid);
    if (!IsInternalBid(bid)) return true;
    Bytes raw;
    XBlock x;
    if (!ReadBlock(bid, &raw, error) || !XBlock::Parse(raw, &x, error)) return false;
    for (uint64_t child : x.bids)
        if (!CollectData(child, out, depth + 1, error)) return false;
    return true;
}

bool NdbFile::CollectSubnodes(uint64_t bid, std::vector<uint64_t>* out, int depth, std::string* error) {
    if (bid == 0) return true;
    if (depth > kMaxDepth) return Fail(error, "subnodes nested deeper than any file needs");
    out->push_back(bid);
    Bytes raw;
    SubnodeBlock s;
    if (!ReadBlock(bid, &raw, error) || !SubnodeBlock::Parse(raw, &s, error)) return false;
    for (const SubnodeEntry& e : s.entries) {
        bool ok = s.level == 1 ? CollectSubnodes(e.bidData, out, depth + 1, error)
                               : CollectData(e.bidData, out, 0, error) && CollectSubnodes(e.bidSub, out, depth + 1, error);
        if (!ok) return false;
    }
    return true;
}

}  // namespace mapi::pst::fmt
