#include "providers/pst/format/ndb_amap.h"

#include <cstdint>

#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {

uint64_t AMapOffset(uint64_t n) { return kFirstAMapOffset + n * kAMapCoverage; }
bool HasPMap(uint64_t n) { return n % kAMapsPerPMap == 0; }

namespace {

// Bytes at the start of range n taken by its map pages.
uint64_t ReservedAt(uint64_t n) { return HasPMap(n) ? 2 * kPageSize : kPageSize; }

}  // namespace

FileSpace::FileSpace() : cursor_(AMapOffset(0) + ReservedAt(0)) {}

uint64_t FileSpace::Allocate(uint64_t size, uint64_t align) {
    for (;;) {
        uint64_t at = (cursor_ + align - 1) / align * align;
        uint64_t range = (at - kFirstAMapOffset) / kAMapCoverage;
        if (range >= kMaxAMapRanges) return UINT64_MAX;
        uint64_t rangeEnd = AMapOffset(range + 1);
        if (at + size <= rangeEnd) {
            cursor_ = at + size;
            used_.push_back({at, size});
            return at;
        }
        // Allocations never straddle a map page: go to the next range.
        if (range + 1 >= kMaxAMapRanges) return UINT64_MAX;
        cursor_ = rangeEnd + ReservedAt(range + 1);
    }
}

uint64_t FileSpace::RangeCount() const { return (cursor_ - kFirstAMapOffset - 1) / kAMapCoverage + 1; }

uint64_t FileSpace::FileEnd() const { return AMapOffset(RangeCount()); }

Bytes FileSpace::AMapBits(uint64_t n, uint64_t* freeBytes) const {
    Bytes bits(496, 0);
    uint64_t start = AMapOffset(n);
    auto mark = [&](uint64_t ib, uint64_t size) {
        for (uint64_t slot = (ib - start) / kBlockAlign; slot < (ib + size - start) / kBlockAlign; ++slot)
            bits[slot / 8] |= static_cast<uint8_t>(0x80 >> (slot % 8));
    };
    mark(start, ReservedAt(n));
    for (const Extent& e : used_)
        if (e.ib >= start && e.ib < start + kAMapCoverage) mark(e.ib, e.size);
    uint64_t used = 0;
    for (uint8_t b : bits) used += static_cast<uint64_t>(__builtin_popcount(b));
    if (freeBytes != nullptr) *freeBytes = kAMapCoverage - used * kBlockAlign;
    return bits;
}

}  // namespace mapi::pst::fmt
