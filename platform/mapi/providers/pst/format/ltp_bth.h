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

// Reads every leaf record in key order, checking sizes and order.
bool ReadBth(const HeapReader& heap, uint32_t header, uint8_t* keySize, uint8_t* dataSize,
             std::vector<BthRecord>* records, std::string* error);

}  // namespace mapi::pst::fmt
