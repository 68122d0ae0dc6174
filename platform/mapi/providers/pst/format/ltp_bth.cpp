#include "providers/pst/format/ltp_bth.h"
#include <algorithm>

namespace mapi::pst::fmt {
namespace {

constexpr uint8_t kBthType = 0xB5;

uint64_t KeyValue(const Bytes& key) {
    uint64_t v = 0;
    for (size_t i = key.size(); i-- > 0;) v = (v << 8) | key[i];
    return v;
}

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

bool ReadLevel(const HeapReader& heap, uint32_t hid, int level, uint8_t keySize, uint8_t dataSize,
               std::vector<BthRecord>* out, std::string* error) {
    Bytes node;
    if (!heap.Get(hid, &node)) return Fail(error, "a heap B-tree refers to a missing allocation");
    size_t size = keySize + (level > 0 ? 4 : dataSize);
    if (node.size() % size != 0) return Fail(error, "a heap B-tree node of odd size");
    for (size_t at = 0; at < node.size(); at += size) {
        Bytes key(node.begin() + at, node.begin() + at + keySize);
        if (level > 0) {
            uint32_t child = Get32(node.data() + at + keySize);
            if (!ReadLevel(heap, child, level - 1, keySize, dataSize, out, error)) return false;
            continue;
        }
        if (!out->empty() && KeyValue(out->back().key) >= KeyValue(key))
            return Fail(error, "heap B-tree keys out of order");
        out->push_back({key, Bytes(node.begin() + at + keySize, node.begin() + at + size)});
    }
    return true;
}

}  // namespace

uint32_t WriteBth(HeapWriter& heap, uint8_t keySize, uint8_t dataSize,
                  const std::vector<BthRecord>& records) {
    Bytes header{kBthType, keySize, dataSize, 0, 0, 0, 0, 0};
    if (records.empty()) return heap.Allocate(header);
    // Each level: records packed into allocations, then one index record
    // (first key, HID) per allocation for the level above.
    std::vector<BthRecord> level = records;
    uint8_t levels = 0;
    size_t size = keySize + dataSize;
    for (;;) {
        size_t perAlloc = kMaxHeapAlloc / size;
        std::vector<BthRecord> up;
        for (size_t at = 0; at < level.size(); at += perAlloc) {
            Bytes node;
            for (size_t i = at; i < std::min(level.size(), at + perAlloc); ++i) {
                node.insert(node.end(), level[i].key.begin(), level[i].key.end());
                node.insert(node.end(), level[i].data.begin(), level[i].data.end());
            }
            Bytes hid(4);
            Put32(hid.data(), heap.Allocate(node));
            up.push_back({level[at].key, hid});
        }
        if (up.size() == 1) {
            header[3] = levels;
            Put32(header.data() + 4, Get32(up.front().data.data()));
            return heap.Allocate(header);
        }
        level = std::move(up);
        size = keySize + 4u;
        ++levels;
    }
}

GrowingBth::GrowingBth(HeapWriter& heap) : heap_(heap) {
    header_ = heap_.Allocate(Bytes{kBthType, 4, 4, 0, 0, 0, 0, 0});
}

bool GrowingBth::SetRoot(uint32_t hid, size_t level) {
    Bytes header{kBthType, 4, 4, static_cast<uint8_t>(level), 0, 0, 0, 0};
    Put32(header.data() + 4, hid);
    return heap_.Rewrite(header_, header);
}

bool GrowingBth::Add(uint32_t key, uint32_t data) {
    if (any_ && key <= last_) return false;
    Bytes record(8);
    Put32(record.data(), key);
    Put32(record.data() + 4, data);
    if (!Push(0, record)) return false;
    any_ = true;
    last_ = key;
    return true;
}

// Index records are 8 bytes too (a 4-byte key and an HID), so every level
// holds as many per allocation.
bool GrowingBth::Push(size_t level, const Bytes& record) {
    constexpr size_t kFull = kMaxHeapAlloc / 8 * 8;
    if (level == levels_.size()) levels_.emplace_back();
    std::vector<Alloc>& allocs = levels_[level];
    if (!allocs.empty() && allocs.back().bytes.size() + record.size() <= kFull) {
        Alloc& last = allocs.back();
        last.bytes.insert(last.bytes.end(), record.begin(), record.end());
        return heap_.Rewrite(last.hid, last.bytes);
    }
    allocs.push_back({heap_.Allocate(record, kFull), record});
    auto entryOf = [](const Alloc& a) {
        Bytes e(8);
        std::copy(a.bytes.begin(), a.bytes.begin() + 4, e.begin());
        Put32(e.data() + 4, a.hid);
        return e;
    };
    bool top = level + 1 == levels_.size();
    if (allocs.size() == 1) return !top || SetRoot(allocs[0].hid, level);
    // The root split: the level above starts with both; otherwise the new
    // allocation joins the level above.
    // (Push may grow levels_, so the entries are made before it runs.)
    if (top && allocs.size() == 2) {
        Bytes first = entryOf(allocs[0]), second = entryOf(allocs[1]);
        return Push(level + 1, first) && Push(level + 1, second);
    }
    Bytes entry = entryOf(allocs.back());
    return Push(level + 1, entry);
}

bool ReadBth(const HeapReader& heap, uint32_t header, uint8_t* keySize, uint8_t* dataSize,
             std::vector<BthRecord>* records, std::string* error) {
    Bytes h;
    // A key of no bytes would make every record empty ([MS-PST] 2.3.2.1
    // allows keys of 2, 4, 8 and 16 bytes).
    if (!heap.Get(header, &h) || h.size() != 8 || h[0] != kBthType || h[1] == 0)
        return Fail(error, "not a heap B-tree header");
    *keySize = h[1];
    *dataSize = h[2];
    records->clear();
    uint32_t root = Get32(h.data() + 4);
    if (root == 0) return true;
    if (h[3] > 8) return Fail(error, "a heap B-tree deeper than any node needs");
    return ReadLevel(heap, root, h[3], h[1], h[2], records, error);
}

}  // namespace mapi::pst::fmt
