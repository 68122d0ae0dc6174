// The checking reader's LTP layer: heap-on-node, heap B-tree and property
// context read from a CheckedNode so that damage costs only what it
// touches. A damaged heap page loses its own allocations, a damaged value
// subnode its own value; each loss is reported, never read as an empty or
// shortened value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/ltp_bth.h"
#include "providers/pst/format/ltp_value.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

class CheckedHeap {
public:
    // False (with the reason) when the first page, which holds the heap's
    // header, is damaged or is no heap; later pages may be damaged.
    bool Open(const CheckedNode& node, std::string* error);

    uint8_t client() const { return client_; }
    uint32_t userRoot() const { return userRoot_; }
    // The bytes of an allocation; false with the reason when hid names
    // none or lies in a damaged page.
    bool Get(uint32_t hid, Bytes* out, std::string* why) const;
    // The same bytes in place, valid as long as the node the heap was
    // opened on.
    bool View(uint32_t hid, const uint8_t** data, size_t* size, std::string* why) const;

private:
    struct Page {
        const Bytes* data = nullptr;  // null when the page is damaged
        std::string error;
        std::vector<uint16_t> offsets;
    };
    uint8_t client_ = 0;
    uint32_t userRoot_ = 0;
    std::vector<Page> pages_;
};

// A leaf record of a heap B-tree: its key, and its data in place in the
// heap (valid as long as the node the heap was opened on). Every record of
// every item passes through here at open, so none is copied.
struct CheckedBthRecord {
    uint64_t key = 0;
    const uint8_t* data = nullptr;
};

// Reads the leaf records of the heap B-tree whose header is at hid. A
// record page that cannot be read is skipped and named in *lost (records
// whose keys are then unknown); false only when the header is unreadable.
bool ReadCheckedBth(const CheckedHeap& heap, uint32_t hid, uint8_t* keySize, uint8_t* dataSize,
                    std::vector<CheckedBthRecord>* records, std::vector<std::string>* lost,
                    std::string* error);

// One property of a property context, or the reason its value is lost.
struct CheckedProp {
    uint32_t tag = 0;
    Bytes bytes;
    std::string error;  // "" when bytes is the whole, sound value
};

// What to do with variable-size values: copy them into CheckedProp::bytes
// (joining those kept in subnodes), or only check them and leave bytes
// empty, for a caller that only needs to know whether the item is whole.
// Object values (the reference to an embedded message) are copied either way.
enum class PcValues { Copy, CheckOnly };

// Reads a property context. *lost names parts whose properties are gone
// without even their tags being known. False when no property can be read.
bool ReadCheckedPc(const CheckedNode& node, std::vector<CheckedProp>* props,
                   std::vector<std::string>* lost, std::string* error,
                   PcValues values = PcValues::Copy);

// The node as the strict LTP readers take it, when every byte of it and of
// its subnodes is sound; false with the first problem otherwise.
bool WholeNode(const CheckedNode& in, Node* out, std::string* why);
// The same, taking the pages over instead of copying them; in is left
// without its data, or untouched on failure.
bool WholeNode(CheckedNode&& in, Node* out, std::string* why);

}  // namespace mapi::pst::fmt
