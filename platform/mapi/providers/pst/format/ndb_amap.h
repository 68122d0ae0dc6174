// Where the allocation maps sit and which bytes they mark as used
// ([MS-PST] 2.2.2.7.2 AMap, 2.2.2.7.3 PMap, 2.2.2.7.5 DList).
//
// An AMap page at 0x4400 + n * 0x3E000 covers the 0x3E000 bytes from its
// own offset, one bit per 64 bytes, the most significant bit first. A PMap
// page follows every eighth AMap. The PMap is no longer used by readers and
// is written with every bit set, as files made by Outlook have it.
//
// Files beyond 128 AMaps would need FMap/FPMap pages as well; the layout
// below refuses to grow that far rather than write them wrongly.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt {

// Largest file this layout writes: 128 AMap ranges (about 31 MB).
constexpr uint64_t kMaxAMapRanges = 128;

// Offset of the n-th AMap page, and of the PMap page after it (when n is
// a multiple of 8).
uint64_t AMapOffset(uint64_t n);
bool HasPMap(uint64_t n);

// Hands out file space, stepping over the map pages: first from space
// released earlier (first fit), then from the end.
class FileSpace {
public:
    // Space starts after the first AMap and PMap.
    FileSpace();

    // Returns the offset of size bytes aligned to align (64 or 512), or
    // UINT64_MAX when the file would outgrow kMaxAMapRanges.
    uint64_t Allocate(uint64_t size, uint64_t align);
    // Gives back space handed out (or marked used) before; it may be handed
    // out again by the next Allocate.
    void Release(uint64_t ib, uint64_t size);
    // For a file read back: marks space as used, then, once all is marked,
    // FinishMarking makes the gaps below the highest used byte free.
    void MarkUsed(uint64_t ib, uint64_t size);
    void FinishMarking();

    // The file's end: everything handed out so far, rounded up to the end
    // of the last AMap range (readers expect every AMap range whole).
    uint64_t FileEnd() const;
    // The AMap ranges in use.
    uint64_t RangeCount() const;
    // Builds the 496 bitmap bytes of AMap range n and counts its free bytes.
    Bytes AMapBits(uint64_t n, uint64_t* freeBytes) const;

private:
    uint64_t cursor_;
    std::map<uint64_t, uint64_t> used_;  // offset -> size
    std::map<uint64_t, uint64_t> free_;  // offset -> size, below cursor_
};

}  // namespace mapi::pst::fmt
