// The heap-on-node ([MS-PST] 2.3.1): a node's data cut into pages of one
// block each, every page holding allocations addressed by HID (block
// index, allocation index) and ending its allocations with a page map
// (HNHDR on the first page, HNBITMAPHDR on pages 8, 136, 264..., HNPAGEHDR
// on the others, HNPAGEMAP on each).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt {

enum HeapClient : uint8_t {
    kHeapTableContext = 0x7C,     // bTypeTC
    kHeapBTree = 0xB5,            // bTypeBTH
    kHeapPropertyContext = 0xBC,  // bTypePC
};

// Largest single allocation ([MS-PST] 2.3.1.1): bigger values go to subnodes.
constexpr size_t kMaxHeapAlloc = 3580;

constexpr uint32_t MakeHid(uint32_t block, uint32_t index) { return (block << 16) | (index << 5); }
// An HNID names a heap allocation when its NID type bits are 0 (an HID),
// a subnode otherwise.
constexpr bool IsHid(uint32_t hnid) { return (hnid & 0x1F) == 0; }

class HeapWriter {
public:
    explicit HeapWriter(uint8_t client) : client_(client) { pages_.emplace_back(); }

    // Adds an allocation of at most kMaxHeapAlloc bytes; returns its HID.
    uint32_t Allocate(const Bytes& bytes);
    // Replaces the bytes of an earlier allocation (same size or less).
    void Rewrite(uint32_t hid, const Bytes& bytes);
    void SetUserRoot(uint32_t hid) { userRoot_ = hid; }

    // Where the allocations end; TruncateTo drops every allocation made
    // after it (a table adds its index last and takes it off again).
    struct Mark {
        size_t pages = 0, allocs = 0, used = 0;
    };
    Mark End() const { return {pages_.size(), pages_.back().allocs.size(), pages_.back().used}; }
    void TruncateTo(const Mark& mark);

    // The node data: every page but the last padded to a whole block, so
    // the NDB layer's cut at 8176 bytes gives the heap's pages.
    Bytes Finish() const;

private:
    struct Page {
        std::vector<Bytes> allocs;
        size_t used = 0;
    };
    static size_t HeaderSize(size_t page);
    size_t Room(size_t page) const;

    uint8_t client_;
    uint32_t userRoot_ = 0;
    std::vector<Page> pages_;
};

class HeapReader {
public:
    // Checks every page's header and map; false with a reason when the
    // node data is not a heap. data must outlive the reader.
    bool Open(const Bytes& data, std::string* error);

    uint8_t client() const { return client_; }
    uint32_t userRoot() const { return userRoot_; }
    // The bytes of an allocation; false when hid names none.
    bool Get(uint32_t hid, Bytes* out) const;

private:
    uint8_t client_ = 0;
    uint32_t userRoot_ = 0;
    // Per page, the offsets of its allocations and the end of the last.
    std::vector<std::vector<uint16_t>> maps_;
    std::vector<size_t> starts_;
    const Bytes* data_ = nullptr;
};

}  // namespace mapi::pst::fmt
