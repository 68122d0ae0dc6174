#include "providers/pst/format/ndb_amap.h"

#include <algorithm>
#include <cstdint>

#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {

uint64_t AMapOffset(uint64_t n) { return kFirstAMapOffset + n * kAMapCoverage; }
bool HasPMap(uint64_t n) { return n % kAMapsPerPMap == 0; }

namespace {

// Bytes at the start of range n taken by its map pages.
uint64_t ReservedAt(uint64_t n) { return HasPMap(n) ? 2 * kPageSize : kPageSize; }

uint64_t RangeOf(uint64_t ib) { return (ib - kFirstAMapOffset) / kAMapCoverage; }

// ib, or the first byte after the map pages when ib falls on them.
uint64_t PastMaps(uint64_t ib) {
    uint64_t range = RangeOf(ib);
    return std::max(ib, AMapOffset(range) + ReservedAt(range));
}

}  // namespace

FileSpace::FileSpace() : cursor_(AMapOffset(0) + ReservedAt(0)) {}

uint64_t FileSpace::Allocate(uint64_t size, uint64_t align) {
    // First fit among released extents.
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        uint64_t start = it->first, extent = it->second;
        uint64_t at = (start + align - 1) / align * align;
        if (at + size > start + extent) continue;
        free_.erase(it);
        if (at > start) free_[start] = at - start;
        if (at + size < start + extent) free_[at + size] = start + extent - at - size;
        used_[at] = size;
        return at;
    }
    for (;;) {
        uint64_t at = PastMaps((cursor_ + align - 1) / align * align);
        uint64_t range = RangeOf(at);
        if (range >= kMaxAMapRanges) return UINT64_MAX;
        uint64_t rangeEnd = AMapOffset(range + 1);
        if (at + size <= rangeEnd) {
            // The alignment gap is free, but never the map pages in it: it
            // ends with its own range.
            uint64_t gap = PastMaps(cursor_);
            uint64_t gapEnd = std::min(at, AMapOffset(RangeOf(gap) + 1));
            if (gapEnd > gap) free_[gap] = gapEnd - gap;
            cursor_ = at + size;
            used_[at] = size;
            return at;
        }
        // Allocations never straddle a map page: go to the next range.
        if (range + 1 >= kMaxAMapRanges) return UINT64_MAX;
        if (rangeEnd > cursor_) free_[cursor_] = rangeEnd - cursor_;
        cursor_ = rangeEnd + ReservedAt(range + 1);
    }
}

void FileSpace::Release(uint64_t ib, uint64_t size) {
    auto it = used_.find(ib);
    if (it == used_.end()) return;
    size = it->second;
    used_.erase(it);
    // Join with free neighbours in the same range, so that later blocks fit.
    auto next = free_.find(ib + size);
    if (next != free_.end() && RangeOf(next->first) == RangeOf(ib)) {
        size += next->second;
        free_.erase(next);
    }
    auto prev = free_.lower_bound(ib);
    if (prev != free_.begin()) {
        --prev;
        if (prev->first + prev->second == ib && RangeOf(prev->first) == RangeOf(ib)) {
            prev->second += size;
            return;
        }
    }
    free_[ib] = size;
}

void FileSpace::MarkUsed(uint64_t ib, uint64_t size) {
    used_[ib] = size;
    if (ib + size > cursor_) cursor_ = ib + size;
}

void FileSpace::FinishMarking() {
    free_.clear();
    uint64_t at = AMapOffset(0) + ReservedAt(0);
    for (const auto& [ib, size] : used_) {
        at = PastMaps(at);
        while (ib > at) {
            // The gap up to ib, split at map pages.
            uint64_t range = RangeOf(at);
            uint64_t rangeEnd = AMapOffset(range + 1);
            uint64_t end = std::min(ib, rangeEnd);
            if (end > at) free_[at] = end - at;
            at = end == rangeEnd ? rangeEnd + ReservedAt(range + 1) : end;
        }
        at = std::max(at, ib + size);
    }
}

uint64_t FileSpace::RangeCount() const { return RangeOf(cursor_ - 1) + 1; }

uint64_t FileSpace::FileEnd() const { return AMapOffset(RangeCount()); }

Bytes FileSpace::AMapBits(uint64_t n, uint64_t* freeBytes) const {
    Bytes bits(496, 0);
    uint64_t start = AMapOffset(n);
    auto mark = [&](uint64_t ib, uint64_t size) {
        for (uint64_t slot = (ib - start) / kBlockAlign; slot < (ib + size - start) / kBlockAlign; ++slot)
            bits[slot / 8] |= static_cast<uint8_t>(0x80 >> (slot % 8));
    };
    mark(start, ReservedAt(n));
    for (auto it = used_.lower_bound(start); it != used_.end() && it->first < start + kAMapCoverage; ++it)
        mark(it->first, it->second);
    uint64_t used = 0;
    for (uint8_t b : bits) used += static_cast<uint64_t>(__builtin_popcount(b));
    if (freeBytes != nullptr) *freeBytes = kAMapCoverage - used * kBlockAlign;
    return bits;
}

}  // namespace mapi::pst::fmt
