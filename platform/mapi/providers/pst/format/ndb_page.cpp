#include "providers/pst/format/ndb_page.h"

#include <cstring>

#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_crc.h"

namespace mapi::pst::fmt {
namespace {

bool IsMapPage(uint8_t type) {
    return type == kPageAMap || type == kPagePMap || type == kPageFMap || type == kPageFPMap;
}

// BTPAGE's counts follow its 488 bytes of entries.
constexpr size_t kOffCount = 488;

}  // namespace

uint16_t ComputeSig(uint64_t ib, uint64_t bid) {
    uint64_t v = ib ^ bid;
    return static_cast<uint16_t>(static_cast<uint16_t>(v >> 16) ^ static_cast<uint16_t>(v));
}

void PageTrailer::Seal(uint8_t* page, uint8_t type, uint64_t bid, uint64_t ib) {
    uint8_t* t = page + kOffset;
    t[0] = type;
    t[1] = type;
    Put16(t + 2, IsMapPage(type) ? 0 : ComputeSig(ib, bid));
    Put32(t + 4, ComputeCrc(page, kOffset));
    Put64(t + 8, bid);
}

bool PageTrailer::Check(const uint8_t* page, uint64_t ib, PageTrailer* out, std::string* error) {
    const uint8_t* t = page + kOffset;
    PageTrailer tr{t[0], Get16(t + 2), Get32(t + 4), Get64(t + 8)};
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why + " in the page at " + std::to_string(ib);
        return false;
    };
    if (t[0] != t[1]) return fail("page type and its repeat differ");
    if (tr.crc != ComputeCrc(page, kOffset)) return fail("wrong CRC");
    uint16_t sig = IsMapPage(tr.type) ? 0 : ComputeSig(ib, tr.bid);
    if (tr.sig != sig) return fail("wrong signature");
    if (out != nullptr) *out = tr;
    return true;
}

void BtPage::Write(uint8_t* page, uint64_t bid, uint64_t ib) const {
    std::memset(page, 0, 512);
    size_t count = 0, entrySize = 24, max = kMaxIntermediate;
    if (level > 0) {
        count = children.size();
        for (size_t i = 0; i < count; ++i) {
            uint8_t* e = page + i * 24;
            Put64(e, children[i].key);
            Put64(e + 8, children[i].child.bid);
            Put64(e + 16, children[i].child.ib);
        }
    } else if (type == kPageBBT) {
        count = blocks.size();
        max = kMaxBbtLeaf;
        for (size_t i = 0; i < count; ++i) {
            uint8_t* e = page + i * 24;
            Put64(e, blocks[i].bref.bid);
            Put64(e + 8, blocks[i].bref.ib);
            Put16(e + 16, blocks[i].cb);
            Put16(e + 18, blocks[i].refs);
        }
    } else {
        count = nodes.size();
        entrySize = 32;
        max = kMaxNbtLeaf;
        for (size_t i = 0; i < count; ++i) {
            uint8_t* e = page + i * 32;
            Put64(e, nodes[i].nid);
            Put64(e + 8, nodes[i].bidData);
            Put64(e + 16, nodes[i].bidSub);
            Put32(e + 24, nodes[i].nidParent);
        }
    }
    page[kOffCount] = static_cast<uint8_t>(count);
    page[kOffCount + 1] = static_cast<uint8_t>(max);
    page[kOffCount + 2] = static_cast<uint8_t>(entrySize);
    page[kOffCount + 3] = level;
    PageTrailer::Seal(page, type, bid, ib);
}

bool BtPage::Read(const uint8_t* page, uint64_t ib, BtPage* out, std::string* error) {
    PageTrailer tr;
    if (!PageTrailer::Check(page, ib, &tr, error)) return false;
    if (tr.type != kPageNBT && tr.type != kPageBBT) {
        if (error != nullptr) *error = "not a B-tree page at " + std::to_string(ib);
        return false;
    }
    BtPage p;
    p.type = tr.type;
    size_t count = page[kOffCount];
    size_t entrySize = page[kOffCount + 2];
    p.level = page[kOffCount + 3];
    size_t expected = (p.level == 0 && p.type == kPageNBT) ? 32 : 24;
    if (entrySize != expected || count * entrySize > kEntryBytes) {
        if (error != nullptr) *error = "B-tree page with impossible counts at " + std::to_string(ib);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = page + i * entrySize;
        if (p.level > 0)
            p.children.push_back({Get64(e), {Get64(e + 8), Get64(e + 16)}});
        else if (p.type == kPageBBT)
            p.blocks.push_back({{Get64(e), Get64(e + 8)}, Get16(e + 16), Get16(e + 18)});
        else
            p.nodes.push_back({Get64(e), Get64(e + 8), Get64(e + 16), Get32(e + 24)});
    }
    *out = std::move(p);
    return true;
}

}  // namespace mapi::pst::fmt
