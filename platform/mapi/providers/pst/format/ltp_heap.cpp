#include "providers/pst/format/ltp_heap.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint8_t kHeapSignature = 0xEC;
constexpr size_t kPageBytes = kMaxBlockData;

bool IsBitmapPage(size_t page) { return page % 128 == 8; }

// rgbFillLevel ([MS-PST] 2.3.1.2): a 4-bit rank of each page's free space.
uint8_t FillLevel(size_t freeBytes) {
    static const size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024,
                                     768,  512,  256,  128,  64,   32,   16, 8};
    for (uint8_t level = 0; level < 15; ++level)
        if (freeBytes >= kLimits[level]) return level;
    return 15;
}

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

}  // namespace

size_t HeapWriter::HeaderSize(size_t page) {
    if (page == 0) return 12;
    return IsBitmapPage(page) ? 66 : 2;
}

// Space left on a page for one more allocation and its map entry.
size_t HeapWriter::Room(size_t page) const {
    const Page& p = pages_[page];
    size_t map = 4 + 2 * (p.allocs.size() + 2);
    size_t taken = HeaderSize(page) + p.used + p.promised + map + 1;  // +1: the map's alignment
    return taken >= kPageBytes ? 0 : kPageBytes - taken;
}

// Where a page's map ends: the page's length as laid out, before padding.
size_t HeapWriter::PageEnd(size_t page) const {
    const Page& p = pages_[page];
    size_t end = HeaderSize(page) + p.used;
    return end + end % 2 + 4 + 2 * (p.allocs.size() + 1);
}

void HeapWriter::Touch(size_t page) { changed_.insert(page); }

uint32_t HeapWriter::Allocate(const Bytes& bytes, size_t reserve) {
    size_t page = pages_.size() - 1;
    size_t need = std::max(bytes.size(), reserve);
    // An allocation index has 11 bits; keep well inside them.
    if (Room(page) < need || pages_[page].allocs.size() >= 2000) {
        Touch(page);  // no longer the last page: padded to a whole block
        pages_.emplace_back();
        ++page;
    }
    pages_[page].allocs.push_back(bytes);
    pages_[page].used += bytes.size();
    pages_[page].promised += need - bytes.size();
    Touch(page);
    return MakeHid(static_cast<uint32_t>(page), static_cast<uint32_t>(pages_[page].allocs.size()));
}

bool HeapWriter::Rewrite(uint32_t hid, const Bytes& bytes) {
    Page& p = pages_[hid >> 16];
    Bytes& slot = p.allocs[((hid >> 5) & 0x7FF) - 1];
    if (bytes.size() > slot.size()) {
        // Growth comes out of the room held for it first.
        size_t grow = bytes.size() - slot.size();
        size_t fromPromise = std::min(grow, p.promised);
        size_t taken = HeaderSize(hid >> 16) + p.used + p.promised + 4 + 2 * (p.allocs.size() + 1) + 1;
        if (taken + grow - fromPromise > kPageBytes) return false;
        p.promised -= fromPromise;
    }
    p.used = p.used - slot.size() + bytes.size();
    slot = bytes;
    Touch(hid >> 16);
    return true;
}

void HeapWriter::SetUserRoot(uint32_t hid) {
    if (hid == userRoot_) return;
    userRoot_ = hid;
    Touch(0);
}

size_t HeapWriter::Size() const { return (pages_.size() - 1) * kPageBytes + PageEnd(pages_.size() - 1); }

Bytes HeapWriter::PageBytes(size_t i) const {
    const Page& p = pages_[i];
    Bytes out(HeaderSize(i), 0);
    out.reserve(kPageBytes);
    std::vector<uint16_t> offsets;
    for (const Bytes& a : p.allocs) {
        offsets.push_back(static_cast<uint16_t>(out.size()));
        out.insert(out.end(), a.begin(), a.end());
    }
    offsets.push_back(static_cast<uint16_t>(out.size()));
    if (out.size() % 2 != 0) out.push_back(0);
    Put16(out.data(), static_cast<uint16_t>(out.size()));  // ibHnpm
    Append16(out, static_cast<uint16_t>(p.allocs.size()));
    Append16(out, 0);  // cFree: we never leave freed slots
    for (uint16_t off : offsets) Append16(out, off);
    if (i + 1 < pages_.size()) out.resize(kPageBytes, 0);
    // Fill levels: the first page ranks pages 0-7, each bitmap page the
    // 128 pages from itself.
    auto putLevels = [&](uint8_t* dst, size_t first, size_t count) {
        for (size_t k = 0; k < count && first + k < pages_.size(); ++k) {
            uint8_t level = FillLevel(kPageBytes - PageEnd(first + k));
            dst[k / 2] = static_cast<uint8_t>(dst[k / 2] | (k % 2 == 0 ? level : level << 4));
        }
    };
    if (i == 0) {
        out[2] = kHeapSignature;
        out[3] = client_;
        Put32(out.data() + 4, userRoot_);
        putLevels(out.data() + 8, 0, 8);
    } else if (IsBitmapPage(i)) {
        putLevels(out.data() + 2, i, 128);
    }
    return out;
}

Bytes HeapWriter::Finish() const {
    Bytes out;
    for (size_t i = 0; i < pages_.size(); ++i) {
        Bytes page = PageBytes(i);
        out.insert(out.end(), page.begin(), page.end());
    }
    return out;
}

std::vector<size_t> HeapWriter::TakeChangedPages() {
    levels_.resize(pages_.size(), 0xFF);
    std::set<size_t> out = std::move(changed_);
    changed_.clear();
    for (size_t i : std::set<size_t>(out)) {
        uint8_t level = FillLevel(kPageBytes - PageEnd(i));
        if (level == levels_[i]) continue;
        levels_[i] = level;
        out.insert(i < 8 ? 0 : 8 + (i - 8) / 128 * 128);
    }
    return {out.begin(), out.end()};
}

bool HeapReader::Open(const Bytes& data, std::string* error) {
    data_ = &data;
    maps_.clear();
    starts_.clear();
    if (data.size() < 12 || data[2] != kHeapSignature) return Fail(error, "not a heap-on-node");
    client_ = data[3];
    userRoot_ = Get32(data.data() + 4);
    for (size_t start = 0; start < data.size(); start += kPageBytes) {
        size_t size = std::min(kPageBytes, data.size() - start);
        const uint8_t* page = data.data() + start;
        size_t ibMap = Get16(page);
        if (ibMap + 4 > size) return Fail(error, "a heap page map outside its page");
        size_t count = Get16(page + ibMap);
        if (ibMap + 4 + 2 * (count + 1) > size) return Fail(error, "a heap page map longer than its page");
        std::vector<uint16_t> offsets;
        for (size_t i = 0; i <= count; ++i) {
            uint16_t off = Get16(page + ibMap + 4 + 2 * i);
            if (off > ibMap || (!offsets.empty() && off < offsets.back()))
                return Fail(error, "heap allocations out of order");
            offsets.push_back(off);
        }
        maps_.push_back(std::move(offsets));
        starts_.push_back(start);
    }
    return true;
}

bool HeapReader::Get(uint32_t hid, Bytes* out) const {
    if (!IsHid(hid)) return false;
    size_t page = hid >> 16, index = (hid >> 5) & 0x7FF;
    if (page >= maps_.size() || index == 0 || index >= maps_[page].size()) return false;
    const uint8_t* base = data_->data() + starts_[page];
    out->assign(base + maps_[page][index - 1], base + maps_[page][index]);
    return true;
}

}  // namespace mapi::pst::fmt
