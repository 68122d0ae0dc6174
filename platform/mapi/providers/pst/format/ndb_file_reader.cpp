#include "providers/pst/format/ndb_file_reader.h"

#include <map>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_page.h"

namespace mapi::pst::fmt {
namespace {

// Deeper trees than this cannot come from a file of sane size and mean a
// loop in the pages.
constexpr int kMaxDepth = 8;

class Reader {
public:
    Reader(const Bytes& file, uint8_t crypt) : file_(file), crypt_(crypt) {}

    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }
    const std::string& error() const { return error_; }

    // Walks a B-tree below the page at ref. Keys must rise strictly and
    // stay at or above minKey (the key its parent entry gave).
    bool Walk(const Bref& ref, uint8_t type, int depth, int expectedLevel, uint64_t minKey,
              uint64_t* lastKey) {
        if (depth > kMaxDepth) return Fail("a B-tree deeper than any file needs");
        if (ref.ib % kPageSize != 0 || ref.ib + kPageSize > file_.size())
            return Fail("a B-tree page outside the file at " + std::to_string(ref.ib));
        BtPage page;
        if (!BtPage::Read(file_.data() + ref.ib, ref.ib, &page, &error_)) return false;
        if (page.type != type) return Fail("a page of the wrong B-tree at " + std::to_string(ref.ib));
        if (expectedLevel >= 0 && page.level != expectedLevel)
            return Fail("B-tree levels out of step at " + std::to_string(ref.ib));
        auto inOrder = [&](uint64_t key) {
            if (key < minKey || (*lastKey != UINT64_MAX && key <= *lastKey) ) return false;
            *lastKey = key;
            return true;
        };
        if (page.level > 0) {
            for (const BtEntry& e : page.children) {
                uint64_t before = *lastKey;
                if (before != UINT64_MAX && e.key <= before)
                    return Fail("B-tree keys out of order at " + std::to_string(ref.ib));
                if (!Walk(e.child, type, depth + 1, page.level - 1, e.key, lastKey)) return false;
            }
            return true;
        }
        for (const BbtEntry& b : page.blocks) {
            if (!inOrder(b.bref.bid)) return Fail("block ids out of order at " + std::to_string(ref.ib));
            blocks_[b.bref.bid] = b;
        }
        for (const NbtEntry& n : page.nodes) {
            if (!inOrder(n.nid)) return Fail("node ids out of order at " + std::to_string(ref.ib));
            nbt_.push_back(n);
        }
        return true;
    }

    bool Block(uint64_t bid, Bytes* data) {
        auto it = blocks_.find(bid & ~uint64_t{1});
        if (it == blocks_.end()) return Fail("a reference to a missing block " + std::to_string(bid));
        const BbtEntry& e = it->second;
        if (e.bref.ib > file_.size()) return Fail("a block outside the file");
        return DecodeBlock(file_.data() + e.bref.ib, file_.size() - e.bref.ib, e.cb, e.bref.bid,
                           e.bref.ib, crypt_, data, &error_);
    }

    bool Data(uint64_t bid, Bytes* out) {
        out->clear();
        if (bid == 0) return true;
        Bytes raw;
        if (!Block(bid, &raw)) return false;
        if (!IsInternalBid(bid)) {
            *out = std::move(raw);
            return true;
        }
        XBlock x;
        if (!XBlock::Parse(raw, &x, &error_)) return false;
        for (uint64_t child : x.bids) {
            Bytes part;
            if (x.level == 2) {
                if (!IsInternalBid(child)) return Fail("a data tree whose middle level is not internal");
                if (!Data(child, &part)) return false;
            } else if (!Block(child, &part)) {
                return false;
            }
            out->insert(out->end(), part.begin(), part.end());
        }
        if (out->size() != x.totalBytes) return Fail("a data tree whose size differs from its total");
        return true;
    }

    bool Subnodes(uint64_t bid, std::map<uint32_t, Node>* out, int depth) {
        if (bid == 0) return true;
        if (depth > kMaxDepth) return Fail("subnodes nested deeper than any file needs");
        Bytes raw;
        if (!Block(bid, &raw)) return false;
        SubnodeBlock s;
        if (!SubnodeBlock::Parse(raw, &s, &error_)) return false;
        for (const SubnodeEntry& e : s.entries) {
            if (s.level == 1) {
                if (!Subnodes(e.bidData, out, depth + 1)) return false;
                continue;
            }
            Node& n = (*out)[static_cast<uint32_t>(e.nid)];
            if (!Data(e.bidData, &n.data) || !Subnodes(e.bidSub, &n.subnodes, depth + 1)) return false;
        }
        return true;
    }

    const Bytes& file_;
    uint8_t crypt_;
    std::map<uint64_t, BbtEntry> blocks_;
    std::vector<NbtEntry> nbt_;
    std::string error_;
};

}  // namespace

bool ReadFileImage(const Bytes& file, Header* header, NodeSet* nodes, std::string* error) {
    Header h;
    if (!Header::Read(file.data(), file.size(), &h, error)) return false;
    if (h.cryptMethod != kCryptNone && h.cryptMethod != kCryptPermute) {
        if (error != nullptr)
            *error = "a file with the high (cyclic) encoding; only unencoded and compressible files are written here";
        return false;
    }
    Reader r(file, h.cryptMethod);
    // A commit grows the file before it writes the header that covers the new
    // end, so a writer killed in between leaves a tail that nothing refers
    // to: the file as the header describes it is whole. A file shorter than
    // its header says has lost data.
    if (h.root.fileEof > file.size()) {
        if (error != nullptr) *error = "the file is shorter than its header says";
        return false;
    }
    uint64_t last = UINT64_MAX;
    bool ok = r.Walk(h.root.bbt, kPageBBT, 0, -1, 0, &last);
    last = UINT64_MAX;
    ok = ok && r.Walk(h.root.nbt, kPageNBT, 0, -1, 0, &last);
    NodeSet out;
    for (size_t i = 0; ok && i < r.nbt_.size(); ++i) {
        const NbtEntry& e = r.nbt_[i];
        TopNode& t = out[static_cast<uint32_t>(e.nid)];
        t.parent = e.nidParent;
        ok = r.Data(e.bidData, &t.node.data) && r.Subnodes(e.bidSub, &t.node.subnodes, 0);
    }
    if (!ok) {
        if (error != nullptr) *error = r.error();
        return false;
    }
    *header = h;
    *nodes = std::move(out);
    return true;
}

}  // namespace mapi::pst::fmt
