#include "providers/pst/format/chk_ndb.h"

#include <cstdio>
#include <cstring>

#include "providers/pst/format/chk_crc.h"
#include "providers/pst/format/chk_geometry.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_permute.h"

namespace mapi::pst::fmt {
namespace {

// Trees deeper than this cannot come from a file of sane size; deeper
// means pages referring to each other in a loop.
constexpr int kMaxDepth = 8;

std::string At(uint64_t ib) {
    return " at " + std::to_string(ib);
}

const char* IndexName(uint8_t type) {
    return type == kPageNBT ? "node index (B-tree of folders and items)" : "block index (B-tree of data blocks)";
}

// What a header that names a size other than the file's means for the user.
std::string SizeProblem(uint64_t header, uint64_t file) {
    if (file < header)
        return "The file ends at " + Grouped(file) + " bytes, its header says " + Grouped(header) +
               ": what lay beyond is lost";
    return "The file is " + Grouped(file) + " bytes long, its header says " + Grouped(header) +
           ": the header's size field is damaged";
}

}  // namespace

std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

using chk::Geometry;
using chk::GetId;
using chk::kAnsi;
using chk::kUnicode;

bool CheckedNode::DataWhole() const {
    return DataProblem().empty();
}

std::string CheckedNode::DataProblem() const {
    if (!dataError.empty()) return dataError;
    for (const std::string& e : pageErrors)
        if (!e.empty()) return e;
    return {};
}

Bytes CheckedNode::Joined() const {
    Bytes out;
    size_t total = 0;
    for (const Bytes& p : pages) total += p.size();
    out.reserve(total);
    for (const Bytes& p : pages) out.insert(out.end(), p.begin(), p.end());
    return out;
}

bool CheckedFile::Open(const uint8_t* data, size_t size, std::string* error) {
    return Open(MemoryBytes(data, size), error);
}

bool CheckedFile::Open(const std::string& path, std::string* error) {
    std::unique_ptr<ByteSource> bytes = FileBytes(path, error);
    return bytes != nullptr && Open(std::move(bytes), error);
}

bool CheckedFile::Open(std::unique_ptr<ByteSource> bytes, std::string* error) {
    bytes_ = std::move(bytes);
    size_ = bytes_->Size();
    if (!ReadHeader(error)) return false;
    std::set<uint64_t> seen;
    WalkTree(bbtRoot_.ib, kPageBBT, 0, -1, 0, UINT64_MAX, &seen);
    WalkTree(nbtRoot_.ib, kPageNBT, 0, -1, 0, UINT64_MAX, &seen);
    ScanLeaves();
    if (nodes_.empty() && strays_.empty()) {
        if (error != nullptr) *error = "no node of the file could be found";
        return false;
    }
    return true;
}

bool CheckedFile::ReadHeader(std::string* error) {
    auto fail = [&](const char* why) {
        if (error != nullptr) *error = why;
        return false;
    };
    uint8_t head[Header::kSize];
    std::string why;
    if (size_ < Header::kSize) return fail("not a personal folder file (too short)");
    if (!bytes_->Read(0, sizeof head, head, &why)) {
        if (error != nullptr) *error = "the header cannot be read: " + why;
        return false;
    }
    if (std::memcmp(head, "!BDN", 4) != 0) return fail("not a personal folder file (no !BDN magic)");
    uint16_t version = Get16(head + 10);
    // [MS-PST] 2.2.2.6: 14 and 15 are ANSI, 23 and up Unicode (36 is a
    // Unicode file with 4 KiB pages, which is not read here).
    if (version == 14 || version == 15) {
        unicode_ = false;
    } else if (version == 23) {
        unicode_ = true;
    } else {
        return fail("a personal folder file of a version this reader does not know");
    }
    // Both CRCs start at the client magic; ANSI headers have only the first.
    if (Get32(head + 4) != CheckCrc(head + 8, 471))
        Problem("The file's header is damaged (its first check sum is wrong); its fields are used only where they lead to sound pages");
    if (unicode_ && Get32(head + 524) != CheckCrc(head + 8, 516))
        Problem("The file's header is damaged (its second check sum is wrong); its fields are used only where they lead to sound pages");
    if (unicode_) {
        const uint8_t* r = head + 180;
        nbtRoot_ = {Get64(r + 36), Get64(r + 44)};
        bbtRoot_ = {Get64(r + 52), Get64(r + 60)};
        crypt_ = head[513];
        if (Get64(r + 4) != size_) Problem(SizeProblem(Get64(r + 4), size_));
    } else {
        const uint8_t* r = head + 164;
        nbtRoot_ = {Get32(r + 20), Get32(r + 24)};
        bbtRoot_ = {Get32(r + 28), Get32(r + 32)};
        crypt_ = head[461];
        if (Get32(r + 4) != size_) Problem(SizeProblem(Get32(r + 4), size_));
    }
    if (crypt_ > kCryptCyclic) {
        // A damaged byte: the scan of blocks below tells which encoding
        // reads, but guessing would hand on garbage; compressible is what
        // Outlook writes unless told otherwise.
        Problem("The file's header names an unknown encoding; the compressible one is assumed");
        crypt_ = kCryptPermute;
    }
    return true;
}

bool CheckedFile::ParsePage(uint64_t ib, uint8_t type, BtPage* page, std::string* why, bool* crcOk) const {
    if (ib % kPageSize != 0 || ib > size_ || size_ - ib < kPageSize) {
        *why = ib % kPageSize != 0 ? "the index gives it an impossible place" : "it lies beyond the file's end";
        return false;
    }
    uint8_t p[kPageSize];
    std::string error;
    if (!bytes_->Read(ib, kPageSize, p, &error)) {
        *why = "it cannot be read: " + error;
        return false;
    }
    return ParsePage(ib, p, type, page, why, crcOk);
}

bool CheckedFile::ParsePage(uint64_t ib, const uint8_t* p, uint8_t type, BtPage* page, std::string* why,
                            bool* crcOk) const {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    const uint8_t* t = p + kPageSize - g.pageTrailer;
    uint16_t sig = Get16(t + 2);
    uint64_t bid = 0;
    uint32_t crc = 0;
    if (unicode_) {
        crc = Get32(t + 4);
        bid = Get64(t + 8);
    } else {
        bid = Get32(t + 4);
        crc = Get32(t + 8);
    }
    if (t[0] != type || t[1] != type) {
        *why = "what is there is not a page of that index";
        return false;
    }
    bool crcRight = crc == CheckCrc(p, kPageSize - g.pageTrailer);
    if (crcOk != nullptr) *crcOk = crcRight;
    if (!crcRight && crcOk == nullptr) {
        *why = "its check sum is wrong";
        return false;
    }
    if (sig != ComputeSig(ib, bid)) {
        *why = "its signature is wrong";
        return false;
    }
    const uint8_t* counts = p + g.entryBytes;
    size_t count = counts[0], max = counts[1], entrySize = counts[2];
    BtPage out;
    out.type = type;
    out.level = counts[3];
    // Unicode BBTENTRY and NBTENTRY end in padding to 8 bytes.
    size_t expected = out.level > 0 ? 3 * g.id : type == kPageBBT ? (unicode_ ? 24 : 12) : 4 * g.id;
    if (entrySize != expected || count > max || count * entrySize > g.entryBytes) {
        *why = "its entry counts are impossible";
        return false;
    }
    size_t w = g.id;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = p + i * entrySize;
        if (out.level > 0) {
            out.children.push_back({GetId(e, w), {GetId(e + w, w), GetId(e + 2 * w, w)}});
        } else if (type == kPageBBT) {
            out.blocks.push_back({{GetId(e, w), GetId(e + w, w)}, Get16(e + 2 * w), Get16(e + 2 * w + 2)});
        } else {
            // NBTENTRY: nid (a 64-bit field in Unicode files of which only
            // the low 32 bits are used), data, subnodes, parent.
            out.nodes.push_back({GetId(e, w) & 0xFFFFFFFF, GetId(e + w, w), GetId(e + 2 * w, w),
                                 Get32(e + 3 * w)});
        }
    }
    *page = std::move(out);
    return true;
}

void CheckedFile::LosePage(uint64_t ib, uint8_t type, uint64_t minKey, uint64_t maxKey, const std::string& why) {
    if (type == kPageBBT) lostBlockKeys_.push_back({minKey, maxKey, ib, why});
    // Which folders and items a lost node page held is known only by the
    // range of their ids; what the scan did not find again is gone.
    std::string held;
    if (type == kPageNBT) {
        char range[64];
        if (minKey == 0 && maxKey == UINT64_MAX) std::snprintf(range, sizeof range, " (all node ids)");
        else if (maxKey == UINT64_MAX) std::snprintf(range, sizeof range, " (node ids from 0x%llX up)",
                                                     static_cast<unsigned long long>(minKey));
        else std::snprintf(range, sizeof range, " (node ids 0x%llX to 0x%llX)", static_cast<unsigned long long>(minKey),
                           static_cast<unsigned long long>(maxKey - 1));
        held = range;
    }
    Problem("A page of the file's " + std::string(IndexName(type)) + " at offset " + Grouped(ib) +
            " cannot be used (" + why + "); what it listed" + held + " was looked for by scanning the file");
}

void CheckedFile::WalkTree(uint64_t ib, uint8_t type, int depth, int level, uint64_t minKey, uint64_t maxKey,
                           std::set<uint64_t>* seen) {
    if (depth > kMaxDepth) return LosePage(ib, type, minKey, maxKey, "the index is deeper than any file needs");
    if (!seen->insert(ib).second) return LosePage(ib, type, minKey, maxKey, "the index reaches it twice");
    BtPage page;
    std::string why;
    if (!ParsePage(ib, type, &page, &why)) return LosePage(ib, type, minKey, maxKey, why);
    if (level >= 0 && page.level != level) return LosePage(ib, type, minKey, maxKey, "its level is out of step");
    // Keys rise strictly within a page and start at the key its parent
    // gave; a page that breaks that is not trusted with its subtree.
    uint64_t last = minKey;
    bool first = true;
    auto inOrder = [&](uint64_t key) {
        bool ok = key >= minKey && (first || key > last);
        first = false;
        last = key;
        return ok;
    };
    if (page.level > 0) {
        for (const BtEntry& e : page.children)
            if (!inOrder(e.key)) return LosePage(ib, type, minKey, maxKey, "its keys are out of order");
        for (size_t i = 0; i < page.children.size(); ++i) {
            uint64_t upTo = i + 1 < page.children.size() ? page.children[i + 1].key : maxKey;
            WalkTree(page.children[i].child.ib, type, depth + 1, page.level - 1, page.children[i].key, upTo, seen);
        }
        return;
    }
    for (const BbtEntry& b : page.blocks)
        if (!inOrder(b.bref.bid & ~uint64_t{1})) return LosePage(ib, type, minKey, maxKey, "its keys are out of order");
    for (const NbtEntry& n : page.nodes)
        if (!inOrder(n.nid)) return LosePage(ib, type, minKey, maxKey, "its keys are out of order");
    for (const BbtEntry& b : page.blocks) blocks_[b.bref.bid & ~uint64_t{1}] = b;
    for (const NbtEntry& n : page.nodes) nodes_[static_cast<uint32_t>(n.nid)] = n;
}

const BbtEntry* CheckedFile::FindBlock(uint64_t bid) const {
    uint64_t key = bid & ~uint64_t{1};
    for (const auto* index : {&blocks_, &scannedBlocks_}) {
        auto it = index->find(key);
        if (it != index->end()) return &it->second;
    }
    std::call_once(blockScan_, [this] { ScanBlocks(); });
    auto it = trailerBlocks_.find(key);
    return it == trailerBlocks_.end() ? nullptr : &it->second;
}

bool CheckedFile::Block(uint64_t bid, Bytes* out, std::string* why) const {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    uint64_t key = bid & ~uint64_t{1};
    const BbtEntry* found = FindBlock(bid);
    if (found == nullptr) {
        // Say what is known of why: the index page that lists it was lost
        // (a read error there is named with its offset), or read errors
        // elsewhere may hide it.
        *why = "block " + std::to_string(bid) + " is in no block B-tree and found nowhere in the file";
        for (const LostKeys& lost : lostBlockKeys_)
            if (key >= lost.from && key < lost.to) {
                *why = "block " + std::to_string(bid) + " is listed on the block index page at offset " +
                       Grouped(lost.ib) + ", which cannot be used (" + lost.why + ")";
                break;
            }
        if (firstReadError_ != 0)
            *why += "; the file has read errors (the first at offset " + Grouped(firstReadError_) +
                    "), where it may lie";
        return false;
    }
    const BbtEntry& e = *found;
    uint64_t ib = e.bref.ib;
    uint64_t onDisk = (e.cb + g.blockTrailer + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
    if (e.cb > kMaxBlockSize - g.blockTrailer || ib % kBlockAlign != 0 || ib > size_ || size_ - ib < onDisk) {
        *why = "block " + std::to_string(bid) + " lies outside the file";
        return false;
    }
    Bytes raw(static_cast<size_t>(onDisk));
    std::string error;
    if (!bytes_->Read(ib, raw.size(), raw.data(), &error)) {
        *why = "a block that cannot be read (block " + std::to_string(bid) + At(ib) + "): " + error;
        return false;
    }
    const uint8_t* b = raw.data();
    const uint8_t* t = b + onDisk - g.blockTrailer;
    uint16_t cb = Get16(t), sig = Get16(t + 2);
    uint64_t trailerBid = unicode_ ? Get64(t + 8) : Get32(t + 4);
    uint32_t crc = unicode_ ? Get32(t + 4) : Get32(t + 8);
    // The place is named only in a failure: every block of the file passes
    // here, and formatting it for each was a cost of its own.
    auto where = [&] { return " (block " + std::to_string(bid) + At(ib) + ")"; };
    if (cb != e.cb) *why = "a block whose size differs from its B-tree entry" + where();
    else if ((trailerBid & ~uint64_t{1}) != key) *why = "a block whose id differs from its B-tree entry" + where();
    else if (sig != ComputeSig(ib, trailerBid)) *why = "a block with a wrong signature" + where();
    else if (crc != CheckCrc(b, cb)) *why = "a block with a wrong CRC" + where();
    else why->clear();
    if (!why->empty()) return false;
    raw.resize(cb);
    *out = std::move(raw);
    // The cyclic key is the block's id as the B-tree knows it; crypt_ is
    // always a known method (Open replaces any other).
    DecodeBlockData(out->data(), out->size(), key, crypt_);
    return true;
}

bool CheckedFile::BlockPlace(uint64_t bid, uint64_t* ib, uint16_t* cb) const {
    const BbtEntry* e = FindBlock(bid);
    if (e == nullptr) return false;
    *ib = e->bref.ib;
    *cb = e->cb;
    return true;
}

CheckedNode CheckedFile::ReadNode(const NbtEntry& entry, bool attachments) const {
    CheckedNode node;
    ReadData(entry.bidData, &node);
    ReadSubnodes(entry.bidSub, 0, &node, attachments);
    return node;
}

void CheckedFile::ReadData(uint64_t bid, CheckedNode* node) const {
    node->pages.clear();
    node->pageErrors.clear();
    node->dataError.clear();
    node->dataBid = bid;
    if (bid == 0) return;
    ReadTree(bid, 0, node);
}

void CheckedFile::ReadTree(uint64_t bid, int depth, CheckedNode* node) const {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    Bytes raw;
    std::string why;
    if (!IsInternalBid(bid)) {
        bool ok = Block(bid, &raw, &why);
        node->pages.push_back(ok ? std::move(raw) : Bytes());
        node->pageErrors.push_back(why);
        return;
    }
    if (depth > 1 || !Block(bid, &raw, &why)) {
        node->dataError = depth > 1 ? "a data tree deeper than two levels" : why;
        return;
    }
    // XBLOCK / XXBLOCK ([MS-PST] 2.2.2.8.3.2): btype 1, level, count, total.
    size_t count = raw.size() >= 8 ? Get16(raw.data() + 2) : 0;
    uint8_t level = raw.size() >= 8 ? raw[1] : 0;
    // A level-1 tree may sit at the top or below a level-2 one.
    bool shapeOk = raw.size() >= 8 && raw[0] == 0x01 && (level == 1 || (level == 2 && depth == 0)) &&
                   8 + count * g.id <= raw.size();
    if (!shapeOk) {
        node->dataError = "a damaged data tree block (block " + std::to_string(bid) + ")";
        return;
    }
    uint32_t total = Get32(raw.data() + 4);
    size_t before = 0;
    for (const Bytes& p : node->pages) before += p.size();
    for (size_t i = 0; i < count && node->dataError.empty(); ++i) {
        uint64_t child = GetId(raw.data() + 8 + i * g.id, g.id);
        if (level == 2) {
            if (!IsInternalBid(child)) {
                node->dataError = "a data tree whose middle level is not a data tree";
                return;
            }
            ReadTree(child, depth + 1, node);
        } else if (IsInternalBid(child)) {
            node->dataError = "a data tree whose leaves are not data blocks";
            return;
        } else {
            ReadTree(child, depth + 1, node);
        }
    }
    if (!node->dataError.empty() || !node->DataProblem().empty()) return;
    size_t after = 0;
    for (const Bytes& p : node->pages) after += p.size();
    if (after - before != total)
        node->dataError = "a data tree whose blocks do not add up to its total (block " + std::to_string(bid) + ")";
}

void CheckedFile::ReadSubnodes(uint64_t bid, int depth, CheckedNode* node, bool attachments) const {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    if (bid == 0) return;
    auto fail = [&](const std::string& why) {
        if (node->subnodeError.empty()) node->subnodeError = why;
    };
    if (depth > kMaxDepth) return fail("subnode trees nested deeper than any file needs");
    Bytes raw;
    std::string why;
    if (!IsInternalBid(bid)) return fail("a subnode tree that is not an internal block");
    if (!Block(bid, &raw, &why)) return fail(why);
    // SLBLOCK (level 0) / SIBLOCK (level 1), [MS-PST] 2.2.2.8.3.3.
    if (raw.size() < g.internalHeader || raw[0] != 0x02 || raw[1] > 1)
        return fail("a damaged subnode tree block (block " + std::to_string(bid) + ")");
    size_t level = raw[1], count = Get16(raw.data() + 2);
    size_t entrySize = level == 0 ? 3 * g.id : 2 * g.id;
    if (g.internalHeader + count * entrySize > raw.size())
        return fail("a subnode tree block with more entries than bytes (block " + std::to_string(bid) + ")");
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + g.internalHeader + i * entrySize;
        uint32_t nid = static_cast<uint32_t>(GetId(e, g.id));
        if (level == 1) {
            ReadSubnodes(GetId(e + g.id, g.id), depth + 1, node, attachments);
            continue;
        }
        if (!attachments && NidType(nid) == kNidTypeAttachment) continue;
        CheckedNode& sub = node->subnodes[nid];
        ReadData(GetId(e + g.id, g.id), &sub);
        ReadSubnodes(GetId(e + 2 * g.id, g.id), depth + 1, &sub);
    }
}

}  // namespace mapi::pst::fmt
