// The heap-on-node ([MS-PST] 2.3.1): a node's data cut into pages of one
// block each, every page holding allocations addressed by HID (block
// index, allocation index) and ending its allocations with a page map
// (HNHDR on the first page, HNBITMAPHDR on pages 8, 136, 264..., HNPAGEHDR
// on the others, HNPAGEMAP on each).
#pragma once

#include <cstdint>
#include <set>
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
    // reserve: the size it may grow to by Rewrite, kept free on its page.
    uint32_t Allocate(const Bytes& bytes, size_t reserve = 0);
    // Replaces the bytes of an earlier allocation: the same size or less,
    // or up to the reserve it was made with. False (nothing changed) when
    // its page has no room for them.
    bool Rewrite(uint32_t hid, const Bytes& bytes);
    void SetUserRoot(uint32_t hid);

    // The node data: every page but the last padded to a whole block, so
    // the NDB layer's cut at 8176 bytes gives the heap's pages.
    Bytes Finish() const;
    size_t Size() const;
    size_t PageCount() const { return pages_.size(); }
    // The bytes of one page as Finish lays it out (one block of the data).
    Bytes PageBytes(size_t page) const;
    // The pages changed since the last TakeChangedPages, a page whose fill
    // level changed bringing the page that records it along; clears them.
    std::vector<size_t> TakeChangedPages();

private:
    struct Page {
        std::vector<Bytes> allocs;
        size_t used = 0;
        size_t promised = 0;  // room held for allocations to grow into
    };
    static size_t HeaderSize(size_t page);
    size_t Room(size_t page) const;
    size_t PageEnd(size_t page) const;
    void Touch(size_t page);

    uint8_t client_;
    uint32_t userRoot_ = 0;
    std::vector<Page> pages_;
    std::set<size_t> changed_;
    std::vector<uint8_t> levels_;  // fill levels as last taken
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
