// The checking reader's scans over the whole file, for what its B-trees no
// longer reach: leaf pages of lost subtrees and older revisions, and blocks
// found by their trailers alone.
#include <algorithm>
#include <set>
#include <tuple>

#include "providers/pst/format/chk_crc.h"
#include "providers/pst/format/chk_geometry.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

// The scans read this much at a time (a multiple of the page size).
constexpr size_t kScanWindow = size_t{1} << 20;

}  // namespace

using chk::Geometry;
using chk::GetId;
using chk::kAnsi;
using chk::kUnicode;

void CheckedFile::LeafSlack(const uint8_t* p, const BtPage& page, std::vector<NbtEntry>* nodes,
                            std::vector<BbtEntry>* blocks) const {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    const uint8_t* counts = p + g.entryBytes;
    size_t count = counts[0], entrySize = counts[2], w = g.id;
    // The page was parsed, so its entry size is the right one for its type.
    size_t end = std::min<size_t>(counts[1], g.entryBytes / entrySize);
    for (size_t i = count; i < end; ++i) {
        const uint8_t* e = p + i * entrySize;
        if (page.type == kPageBBT) {
            // A block entry is checked against the block's own trailer when
            // it is read, so only the impossible ones are left out here.
            BbtEntry b{{GetId(e, w), GetId(e + w, w)}, Get16(e + 2 * w), Get16(e + 2 * w + 2)};
            if ((b.bref.bid & ~uint64_t{1}) != 0 && b.bref.ib != 0 && b.cb != 0) blocks->push_back(b);
        } else {
            NbtEntry n{GetId(e, w) & 0xFFFFFFFF, GetId(e + w, w), GetId(e + 2 * w, w), Get32(e + 3 * w)};
            if (n.nid != 0 && n.bidData != 0) nodes->push_back(n);
        }
    }
}

void CheckedFile::ScanLeaves() {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    auto same = [](const NbtEntry& a, const NbtEntry& b) {
        return a.nid == b.nid && a.bidData == b.bidData && a.bidSub == b.bidSub && a.nidParent == b.nidParent;
    };
    std::set<std::tuple<uint64_t, uint64_t, uint64_t, uint32_t>> known;
    Bytes window;
    uint64_t windowAt = 0;
    for (uint64_t ib = kPageSize; ib + kPageSize <= size_; ib += kPageSize) {
        if (ib >= windowAt + window.size()) {
            windowAt = ib;
            window.resize(static_cast<size_t>(std::min<uint64_t>(kScanWindow, size_ - ib)));
            uint64_t firstBad = 0;
            if (size_t lost = bytes_->ReadLenient(ib, window.size(), window.data(), &firstBad); lost > 0) {
                if (firstReadError_ == 0) firstReadError_ = firstBad;
                Problem("Read errors: " + Grouped(lost) + " pieces of 512 bytes between offsets " + Grouped(ib) +
                        " and " + Grouped(ib + window.size()) + " cannot be read, the first at offset " +
                        Grouped(firstBad) + "; what lay there is lost unless it is found elsewhere");
            }
        }
        const uint8_t* p = window.data() + (ib - windowAt);
        const uint8_t* t = p + kPageSize - g.pageTrailer;
        // Only pages whose type byte and its repeat agree are worth a CRC.
        if ((t[0] != kPageBBT && t[0] != kPageNBT) || t[0] != t[1]) continue;
        BtPage page;
        std::string why;
        bool crcOk = true;
        if (!ParsePage(ib, p, t[0], &page, &why, &crcOk) || page.level != 0) continue;
        // A leaf whose CRC fails may still hold entries that are right.
        // Block entries check themselves (the block's trailer repeats its
        // id, and its signature depends on its place); node entries cannot,
        // so they only ever become stray entries, whose items are offered
        // with a note and never in place of a current one. So do the
        // entries a leaf no longer counts: a leaf that dropped an entry
        // (an item deleted) may keep it in the slots past its count.
        LeafSlack(p, page, &page.nodes, &page.blocks);
        for (const BbtEntry& b : page.blocks) {
            uint64_t key = b.bref.bid & ~uint64_t{1};
            if (blocks_.count(key) == 0) scannedBlocks_.emplace(key, b);
        }
        for (const NbtEntry& n : page.nodes) {
            auto it = nodes_.find(static_cast<uint32_t>(n.nid));
            if (it != nodes_.end() && same(it->second, n)) continue;
            if (known.insert({n.nid, n.bidData, n.bidSub, n.nidParent}).second) strays_.push_back(n);
        }
    }
}

void CheckedFile::ScanBlocks() const {
    const Geometry& g = unicode_ ? kUnicode : kAnsi;
    // A block ends on a 64-byte boundary with its trailer; the trailer's
    // size then says where the block starts, and the signature, which
    // depends on that place and the id, rules out nearly every chance
    // match before the CRC is computed.
    // Read a window at a time; each window starts a block's length before
    // the first trailer it is read for, so every block ending in it is whole.
    Bytes window;
    uint64_t windowAt = 0;
    for (uint64_t end = kPageSize + kBlockAlign; end <= size_; end += kBlockAlign) {
        if (end > windowAt + window.size()) {
            windowAt = end - kBlockAlign >= kPageSize + kMaxBlockSize ? end - kBlockAlign - kMaxBlockSize : kPageSize;
            window.resize(static_cast<size_t>(std::min<uint64_t>(kScanWindow, size_ - windowAt)));
            bytes_->ReadLenient(windowAt, window.size(), window.data());
        }
        const uint8_t* t = window.data() + (end - windowAt) - g.blockTrailer;
        uint16_t cb = Get16(t);
        uint64_t onDisk = (cb + g.blockTrailer + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
        if (cb > kMaxBlockSize - g.blockTrailer || onDisk > end - kPageSize) continue;
        uint64_t ib = end - onDisk;
        uint64_t bid = unicode_ ? Get64(t + 8) : Get32(t + 4);
        uint32_t crc = unicode_ ? Get32(t + 4) : Get32(t + 8);
        uint64_t key = bid & ~uint64_t{1};
        if (key == 0 || Get16(t + 2) != ComputeSig(ib, bid) || blocks_.count(key) != 0) continue;
        if (ib < windowAt || crc != CheckCrc(window.data() + (ib - windowAt), cb)) continue;
        trailerBlocks_.emplace(key, BbtEntry{{bid, ib}, cb, 0});
    }
}

}  // namespace mapi::pst::fmt
