// Where the allocation maps sit and which bytes they mark as used
// ([MS-PST] 2.2.2.7.2 AMap, 2.2.2.7.3 PMap, 2.2.2.7.4 FMap, 2.2.2.7.6
// FPMap, 2.6.1.1.2 growing the file).
//
// The file is cut into AMap ranges of 0x3E000 bytes from 0x4400; each
// starts with its AMap page, one bit per 64 bytes, the most significant bit
// first. The other map pages a range carries follow its AMap page, packed,
// and are marked used in that AMap:
//   - a PMap page in every eighth range (0, 8, 16...);
//   - an FMap page in range 128 and every 496 ranges after it (the header's
//     128-byte free map covers ranges 0..127, each FMap page the next 496);
//   - an FPMap page in range 8192 and every 31,744 ranges after it (the
//     header's 128-byte free page map covers 1,024 PMaps, that is 8,192
//     ranges; each FPMap page 496 * 8 PMaps).
// The FMap and FPMap ranges never coincide (8192 = 256 mod 496), so the
// first FMap sits at 0x1F04800 and the first FPMap right after the AMap and
// PMap of range 8192, at 0x7C004800. Some writers compute the FPMap's place
// as 0x7C004A00 instead; this layout reserves that page too and writes the
// FPMap there as well, so a reader looking in either place finds it.
//
// PMap and FPMap pages are no longer used by readers and are written with
// every bit set (no free pages), as files made by Outlook have them. FMap
// pages hold, for each AMap, its longest run of free 64-byte slots.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt {

// Largest file this layout writes; far beyond any real store.
constexpr uint64_t kMaxFileSize = uint64_t{1} << 44;

constexpr uint64_t kFirstFMapRange = 128;
constexpr uint64_t kRangesPerFMap = 496;
constexpr uint64_t kFirstFPMapRange = 8192;
constexpr uint64_t kRangesPerFPMap = 496ull * 8 * 8;  // 31,744

// Offset of the n-th AMap page; whether range n carries a PMap, FMap or
// FPMap page.
uint64_t AMapOffset(uint64_t n);
bool HasPMap(uint64_t n);
bool HasFMap(uint64_t n);
bool HasFPMap(uint64_t n);
// Bytes at the start of range n taken by its map pages.
uint64_t MapBytesAt(uint64_t n);

// One map page to write: its offset, its type and its 496 bytes.
struct MapPage {
    uint64_t ib = 0;
    uint8_t type = 0;
    Bytes bits;
};

// Hands out file space, stepping over the map pages: first from space
// released earlier (the smallest extent that fits), then from the end.
class FileSpace {
public:
    // Space starts after the first AMap and PMap.
    FileSpace();

    // Returns the offset of size bytes aligned to align (64 or 512), or
    // UINT64_MAX when the file would outgrow kMaxFileSize.
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
    // Builds the 496 bitmap bytes of AMap range n and counts its free bytes
    // and its longest run of free 64-byte slots.
    Bytes AMapBits(uint64_t n, uint64_t* freeBytes, uint64_t* longestRun = nullptr) const;

    // The map pages that changed since the last call (every one, the first
    // time): the AMaps of ranges whose use changed, the FMap pages over
    // them, and the PMap and FPMap pages of ranges new since then. Keeps the
    // free byte count of every range for FreeBytes.
    std::vector<MapPage> TakeChangedMaps();
    // Free bytes all AMaps record, as of the last TakeChangedMaps.
    uint64_t FreeBytes() const { return freeTotal_; }

private:
    void Touch(uint64_t ib, uint64_t size);
    void AddFree(uint64_t ib, uint64_t size);
    void RemoveFree(uint64_t ib);

    uint64_t cursor_;
    std::map<uint64_t, uint64_t> used_;  // offset -> size
    std::map<uint64_t, uint64_t> free_;  // offset -> size, below cursor_
    std::multimap<uint64_t, uint64_t> bySize_;  // the same extents: size -> offset
    std::set<uint64_t> dirty_;           // ranges whose AMap changed
    uint64_t rangesWritten_ = 0;         // ranges whose map pages exist on disk
    std::vector<uint64_t> freeOf_;       // per range, as last written
    std::vector<uint8_t> runOf_;         // longest free run per range, capped at 255
    uint64_t freeTotal_ = 0;
};

}  // namespace mapi::pst::fmt
