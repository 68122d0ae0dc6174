// The B-tree on a heap ([MS-PST] 2.3.2 BTHHEADER, intermediate and leaf
// records): sorted fixed-size records in heap allocations, with index
// levels above the leaves once they no longer fit one allocation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/ltp_heap.h"

namespace mapi::pst::fmt {

struct BthRecord {
    Bytes key;   // keySize bytes, little-endian
    Bytes data;  // dataSize bytes
};

// Adds the tree to heap and returns the HID of its header. records must be
// sorted by key as unsigned little-endian numbers, with no duplicates.
uint32_t WriteBth(HeapWriter& heap, uint8_t keySize, uint8_t dataSize,
                  const std::vector<BthRecord>& records);

// A B-tree of 4-byte keys and 4-byte data kept in a heap while records are
// added in rising key order: each addition rewrites only the last
// allocation of each level it reaches (and the header when the tree gains
// a level), so the heap pages it changes are few whatever its size. Every
// allocation is made with room to grow to a full one on its page.
class GrowingBth {
public:
    // Allocates the header in heap, which must outlive this.
    explicit GrowingBth(HeapWriter& heap);
    uint32_t header() const { return header_; }
    // False when key is not above every key added, or the heap refused.
    bool Add(uint32_t key, uint32_t data);

private:
    struct Alloc {
        uint32_t hid;
        Bytes bytes;
    };
    bool Push(size_t level, const Bytes& record);
    bool SetRoot(uint32_t hid, size_t level);

    HeapWriter& heap_;
    uint32_t header_ = 0;
    std::vector<std::vector<Alloc>> levels_;  // from the leaves up
    bool any_ = false;
    uint32_t last_ = 0;
};

// Reads every leaf record in key order, checking sizes and order.
bool ReadBth(const HeapReader& heap, uint32_t header, uint8_t* keySize, uint8_t* dataSize,
             std::vector<BthRecord>* records, std::string* error);

}  // namespace mapi::pst::fmt
