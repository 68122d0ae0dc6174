// Reading committed nodes and blocks back from a file open for commits:
// block by block through pread, each block's trailer checked, so that the
// writer never needs the whole file in memory to serve what it wrote.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

}  // namespace

bool NdbFile::SameBytes(uint64_t bid, const Bytes& data) {
    auto it = blocks_.find(bid);
    if (it == blocks_.end() || it->second.cb != data.size()) return false;
    Bytes stored(data.size());
    ssize_t n = ::pread(fd_, stored.data(), stored.size(), static_cast<off_t>(it->second.bref.ib));
    return n == static_cast<ssize_t>(stored.size()) && stored == StoredForm(data, bid, header_.cryptMethod);
}

bool NdbFile::ReadBlock(uint64_t bid, Bytes* data, std::string* error) {
    auto it = blocks_.find(bid);
    if (it == blocks_.end()) return Fail(error, "a reference to a missing block " + std::to_string(bid));
    const BbtEntry& e = it->second;
    Bytes raw(BlockSizeOnDisk(e.cb));
    if (::pread(fd_, raw.data(), raw.size(), static_cast<off_t>(e.bref.ib)) != static_cast<ssize_t>(raw.size()))
        return Fail(error, "cannot read " + path_ + ": " + std::strerror(errno));
    return DecodeBlock(raw.data(), raw.size(), e.cb, e.bref.bid, e.bref.ib, header_.cryptMethod, data, error);
}

bool NdbFile::ReadData(uint64_t bid, Bytes* out, int depth, std::string* error) {
    if (bid == 0) return true;
    if (depth > 2) return Fail(error, "a data tree deeper than any file needs");
    Bytes raw;
    if (!ReadBlock(bid, &raw, error)) return false;
    if (!IsInternalBid(bid)) {
        out->insert(out->end(), raw.begin(), raw.end());
        return true;
    }
    XBlock x;
    if (!XBlock::Parse(raw, &x, error)) return false;
    size_t before = out->size();
    for (uint64_t child : x.bids) {
        if (x.level == 2 && !IsInternalBid(child)) return Fail(error, "a data tree whose middle level is not internal");
        if (x.level == 1 && IsInternalBid(child)) return Fail(error, "a data tree whose leaves are not data blocks");
        if (!ReadData(child, out, depth + 1, error)) return false;
    }
    if (out->size() - before != x.totalBytes)
        return Fail(error, "a data tree whose size differs from its total");
    return true;
}

bool NdbFile::ReadSubnodes(uint64_t bid, std::map<uint32_t, Node>* out, int depth, bool withAttachments,
                           std::string* error) {
    if (bid == 0) return true;
    if (depth > 8) return Fail(error, "subnodes nested deeper than any file needs");
    Bytes raw;
    SubnodeBlock s;
    if (!ReadBlock(bid, &raw, error) || !SubnodeBlock::Parse(raw, &s, error)) return false;
    for (const SubnodeEntry& e : s.entries) {
        if (s.level == 1) {
            if (!ReadSubnodes(e.bidData, out, depth + 1, withAttachments, error)) return false;
            continue;
        }
        auto nid = static_cast<uint32_t>(e.nid);
        if (!withAttachments && NidType(nid) == kNidTypeAttachment) continue;
        Node& n = (*out)[nid];
        if (!ReadData(e.bidData, &n.data, 0, error) || !ReadSubnodes(e.bidSub, &n.subnodes, depth + 1, true, error))
            return false;
    }
    return true;
}

bool NdbFile::ReadNode(uint32_t nid, Node* out, std::string* error, bool withAttachments) {
    auto it = nodes_.find(nid);
    if (it == nodes_.end()) return Fail(error, "no node " + std::to_string(nid) + " in " + path_);
    *out = Node();
    return ReadData(it->second.bidData, &out->data, 0, error) &&
           ReadSubnodes(it->second.bidSub, &out->subnodes, 0, withAttachments, error);
}

}  // namespace mapi::pst::fmt
