// 512-byte pages: the trailer every page ends with ([MS-PST] 2.2.2.7.1
// PAGETRAILER) and the B-tree pages of the node and block B-trees
// ([MS-PST] 2.2.2.7.7 BTPAGE, BTENTRY, BBTENTRY, NBTENTRY).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_header.h"

namespace mapi::pst::fmt {

enum PageType : uint8_t {
    kPageBBT = 0x80,
    kPageNBT = 0x81,
    kPageFMap = 0x82,
    kPagePMap = 0x83,
    kPageAMap = 0x84,
    kPageFPMap = 0x85,
    kPageDList = 0x86,
};

// wSig of pages and blocks ([MS-PST] 5.5): both 64-bit values xored, the
// two low 16-bit halves of that folded together.
uint16_t ComputeSig(uint64_t ib, uint64_t bid);

struct PageTrailer {
    static constexpr size_t kOffset = 496;  // the trailer's place in its page
    uint8_t type = 0;
    uint16_t sig = 0;
    uint32_t crc = 0;
    uint64_t bid = 0;

    // Seals the page: writes the trailer with the CRC of bytes 0..495 and
    // the signature the page type calls for (0 for the allocation maps).
    static void Seal(uint8_t* page, uint8_t type, uint64_t bid, uint64_t ib);
    // Reads the trailer and checks type repeat, CRC and signature.
    static bool Check(const uint8_t* page, uint64_t ib, PageTrailer* out, std::string* error);
};

// One entry of a B-tree page. Intermediate pages hold BTENTRY (key and
// the child page), leaves of the block B-tree BBTENTRY, leaves of the
// node B-tree NBTENTRY.
struct BtEntry {
    uint64_t key = 0;
    Bref child;
};
struct BbtEntry {
    Bref bref;
    uint16_t cb = 0;    // bytes of data, trailer and padding not counted
    uint16_t refs = 0;  // cRef
};
struct NbtEntry {
    uint64_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
    uint32_t nidParent = 0;
};

// A decoded B-tree page: one kind of entry is filled, by level and type.
struct BtPage {
    static constexpr size_t kEntryBytes = 488;
    static constexpr size_t kMaxIntermediate = kEntryBytes / 24;  // 20
    static constexpr size_t kMaxBbtLeaf = kEntryBytes / 24;       // 20
    static constexpr size_t kMaxNbtLeaf = kEntryBytes / 32;       // 15

    uint8_t type = kPageNBT;  // kPageNBT or kPageBBT
    uint8_t level = 0;        // 0 for leaves
    std::vector<BtEntry> children;
    std::vector<BbtEntry> blocks;
    std::vector<NbtEntry> nodes;

    // Writes the 512-byte page at file offset ib with page id bid.
    void Write(uint8_t* page, uint64_t bid, uint64_t ib) const;
    static bool Read(const uint8_t* page, uint64_t ib, BtPage* out, std::string* error);
};

}  // namespace mapi::pst::fmt
