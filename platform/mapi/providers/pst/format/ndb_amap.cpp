#include "providers/pst/format/ndb_amap.h"

#include <algorithm>
#include <cstdint>

#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_page.h"

namespace mapi::pst::fmt {

uint64_t AMapOffset(uint64_t n) { return kFirstAMapOffset + n * kAMapCoverage; }
bool HasPMap(uint64_t n) { return n % kAMapsPerPMap == 0; }
bool HasFMap(uint64_t n) { return n >= kFirstFMapRange && (n - kFirstFMapRange) % kRangesPerFMap == 0; }
bool HasFPMap(uint64_t n) { return n >= kFirstFPMapRange && (n - kFirstFPMapRange) % kRangesPerFPMap == 0; }

uint64_t MapBytesAt(uint64_t n) {
    uint64_t pages = 1 + (HasPMap(n) ? 1 : 0) + (HasFMap(n) ? 1 : 0) + (HasFPMap(n) ? 2 : 0);
    return pages * kPageSize;
}

namespace {

uint64_t RangeOf(uint64_t ib) { return (ib - kFirstAMapOffset) / kAMapCoverage; }

// ib, or the first byte after the map pages when ib falls on them.
uint64_t PastMaps(uint64_t ib) {
    uint64_t range = RangeOf(ib);
    return std::max(ib, AMapOffset(range) + MapBytesAt(range));
}

constexpr size_t kMapBytes = 496;

}  // namespace

FileSpace::FileSpace() : cursor_(AMapOffset(0) + MapBytesAt(0)) { dirty_.insert(0); }

void FileSpace::AddFree(uint64_t ib, uint64_t size) {
    free_[ib] = size;
    bySize_.emplace(size, ib);
}

void FileSpace::RemoveFree(uint64_t ib) {
    auto it = free_.find(ib);
    if (it == free_.end()) return;
    auto [first, last] = bySize_.equal_range(it->second);
    for (auto s = first; s != last; ++s)
        if (s->second == ib) {
            bySize_.erase(s);
            break;
        }
    free_.erase(it);
}

void FileSpace::Touch(uint64_t ib, uint64_t size) {
    if (size == 0) return;
    for (uint64_t r = RangeOf(ib); r <= RangeOf(ib + size - 1); ++r) dirty_.insert(r);
}

uint64_t FileSpace::Allocate(uint64_t size, uint64_t align) {
    // The smallest released extent that holds it (an aligned page may need
    // a little more than its size).
    for (auto fit = bySize_.lower_bound(size); fit != bySize_.end(); ++fit) {
        uint64_t start = fit->second, extent = fit->first;
        uint64_t at = (start + align - 1) / align * align;
        if (at + size > start + extent) continue;
        RemoveFree(start);
        if (at > start) AddFree(start, at - start);
        if (at + size < start + extent) AddFree(at + size, start + extent - at - size);
        used_[at] = size;
        Touch(at, size);
        return at;
    }
    for (;;) {
        uint64_t at = PastMaps((cursor_ + align - 1) / align * align);
        uint64_t range = RangeOf(at);
        uint64_t rangeEnd = AMapOffset(range + 1);
        if (rangeEnd > kMaxFileSize) return UINT64_MAX;
        if (at + size <= rangeEnd) {
            // The alignment gap is free, but never the map pages in it: it
            // ends with its own range.
            uint64_t gap = PastMaps(cursor_);
            uint64_t gapEnd = std::min(at, AMapOffset(RangeOf(gap) + 1));
            if (gapEnd > gap) AddFree(gap, gapEnd - gap);
            cursor_ = at + size;
            used_[at] = size;
            Touch(at, size);
            return at;
        }
        // Allocations never straddle a map page: go to the next range.
        if (rangeEnd > cursor_) AddFree(cursor_, rangeEnd - cursor_);
        cursor_ = rangeEnd + MapBytesAt(range + 1);
    }
}

void FileSpace::Release(uint64_t ib, uint64_t size) {
    auto it = used_.find(ib);
    if (it == used_.end()) return;
    size = it->second;
    used_.erase(it);
    Touch(ib, size);
    // Join with free neighbours in the same range, so that later blocks fit.
    auto next = free_.find(ib + size);
    if (next != free_.end() && RangeOf(next->first) == RangeOf(ib)) {
        size += next->second;
        RemoveFree(next->first);
    }
    auto prev = free_.lower_bound(ib);
    if (prev != free_.begin()) {
        --prev;
        if (prev->first + prev->second == ib && RangeOf(prev->first) == RangeOf(ib)) {
            uint64_t start = prev->first;
            size += prev->second;
            RemoveFree(start);
            ib = start;
        }
    }
    AddFree(ib, size);
}

void FileSpace::MarkUsed(uint64_t ib, uint64_t size) {
    used_[ib] = size;
    Touch(ib, size);
    if (ib + size > cursor_) cursor_ = ib + size;
}

void FileSpace::FinishMarking() {
    free_.clear();
    bySize_.clear();
    uint64_t at = AMapOffset(0) + MapBytesAt(0);
    for (const auto& [ib, size] : used_) {
        at = PastMaps(at);
        while (ib > at) {
            // The gap up to ib, split at map pages.
            uint64_t range = RangeOf(at);
            uint64_t rangeEnd = AMapOffset(range + 1);
            uint64_t end = std::min(ib, rangeEnd);
            if (end > at) AddFree(at, end - at);
            at = end == rangeEnd ? rangeEnd + MapBytesAt(range + 1) : end;
        }
        at = std::max(at, ib + size);
    }
}

uint64_t FileSpace::RangeCount() const { return RangeOf(cursor_ - 1) + 1; }

uint64_t FileSpace::FileEnd() const { return AMapOffset(RangeCount()); }

Bytes FileSpace::AMapBits(uint64_t n, uint64_t* freeBytes, uint64_t* longestRun) const {
    Bytes bits(kMapBytes, 0);
    uint64_t start = AMapOffset(n);
    auto mark = [&](uint64_t ib, uint64_t size) {
        for (uint64_t slot = (ib - start) / kBlockAlign; slot < (ib + size - start) / kBlockAlign; ++slot)
            bits[slot / 8] |= static_cast<uint8_t>(0x80 >> (slot % 8));
    };
    mark(start, MapBytesAt(n));
    for (auto it = used_.lower_bound(start); it != used_.end() && it->first < start + kAMapCoverage; ++it)
        mark(it->first, it->second);
    uint64_t used = 0, run = 0, longest = 0;
    for (uint8_t b : bits) {
        used += static_cast<uint64_t>(__builtin_popcount(b));
        // Most bytes are all free or all used; every commit maps a few
        // ranges, so their bits are not walked one by one.
        if (b == 0) {
            run += 8;
            longest = std::max(longest, run);
            continue;
        }
        if (b == 0xFF) {
            run = 0;
            continue;
        }
        for (int bit = 7; bit >= 0; --bit) {
            run = (b >> bit) & 1 ? 0 : run + 1;
            longest = std::max(longest, run);
        }
    }
    if (freeBytes != nullptr) *freeBytes = kAMapCoverage - used * kBlockAlign;
    if (longestRun != nullptr) *longestRun = longest;
    return bits;
}

std::vector<MapPage> FileSpace::TakeChangedMaps() {
    std::vector<MapPage> pages;
    uint64_t count = RangeCount();
    freeOf_.resize(count, 0);
    runOf_.resize(count, 0);
    for (uint64_t n = rangesWritten_; n < count; ++n) {
        dirty_.insert(n);
        // A new range's PMap and FPMap pages never change afterwards.
        uint64_t ib = AMapOffset(n) + kPageSize;
        if (HasPMap(n)) {
            pages.push_back({ib, kPagePMap, Bytes(kMapBytes, 0xFF)});
            ib += kPageSize;
        }
        if (HasFMap(n)) ib += kPageSize;
        if (HasFPMap(n)) {
            pages.push_back({ib, kPageFPMap, Bytes(kMapBytes, 0xFF)});
            pages.push_back({ib + kPageSize, kPageFPMap, Bytes(kMapBytes, 0xFF)});
        }
    }
    rangesWritten_ = count;
    std::set<uint64_t> fmaps;
    for (uint64_t n : dirty_) {
        if (n >= count) continue;
        uint64_t freeBytes = 0, run = 0;
        pages.push_back({AMapOffset(n), kPageAMap, AMapBits(n, &freeBytes, &run)});
        freeTotal_ = freeTotal_ - freeOf_[n] + freeBytes;
        freeOf_[n] = freeBytes;
        runOf_[n] = static_cast<uint8_t>(std::min<uint64_t>(run, 0xFF));
        if (n >= kFirstFMapRange) fmaps.insert(n - (n - kFirstFMapRange) % kRangesPerFMap);
    }
    dirty_.clear();
    for (uint64_t first : fmaps) {
        // Ranges not yet in the file have no free space to offer.
        Bytes bits(kMapBytes, 0);
        for (uint64_t i = 0; i < kMapBytes && first + i < count; ++i) bits[i] = runOf_[first + i];
        uint64_t ib = AMapOffset(first) + kPageSize * (HasPMap(first) ? 2 : 1);
        pages.push_back({ib, kPageFMap, std::move(bits)});
    }
    return pages;
}

}  // namespace mapi::pst::fmt
