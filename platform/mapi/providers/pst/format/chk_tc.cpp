#include "providers/pst/format/chk_tc.h"

#include "providers/pst/format/ltp_heap.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/ltp_value.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

// TCINFO ([MS-PST] 2.3.4.1): bType 0x7C, cCols, rgib[4], hidRowIndex,
// hnidRows, hidIndex, then 8 bytes per column.
constexpr uint8_t kTcType = 0x7C;
constexpr size_t kTcInfoFixed = 22;
constexpr uint8_t kBthType = 0xB5;
constexpr int kMaxBthLevel = 8;

bool Fail(std::string* error, const char* why) {
    if (error != nullptr) *error = why;
    return false;
}

// Counts the leaf records of the row index as the strict heap B-tree
// reader walks it: the same refusals, in the same order, and keys that
// rise across all leaves.
class IndexWalk {
public:
    IndexWalk(const HeapReader& heap, std::string* error) : heap_(heap), error_(error) {}

    bool Header(uint32_t hid) {
        if (!heap_.Get(hid, &scratch_) || scratch_.size() != 8 || scratch_[0] != kBthType || scratch_[1] == 0)
            return Fail(error_, "not a heap B-tree header");
        keySize_ = scratch_[1];
        dataSize_ = scratch_[2];
        uint32_t root = Get32(scratch_.data() + 4);
        if (root == 0) return true;
        if (scratch_[3] > kMaxBthLevel) return Fail(error_, "a heap B-tree deeper than any node needs");
        return Level(root, scratch_[3]);
    }
    size_t count() const { return count_; }

private:
    bool Level(uint32_t hid, int level) {
        Bytes node;
        if (!heap_.Get(hid, &node)) return Fail(error_, "a heap B-tree refers to a missing allocation");
        size_t size = keySize_ + (level > 0 ? 4 : dataSize_);
        if (node.size() % size != 0) return Fail(error_, "a heap B-tree node of odd size");
        for (size_t at = 0; at < node.size(); at += size) {
            if (level > 0) {
                if (!Level(Get32(node.data() + at + keySize_), level - 1)) return false;
                continue;
            }
            uint64_t key = 0;
            for (size_t i = keySize_; i-- > 0;) key = (key << 8) | node[at + i];
            if (count_ > 0 && last_ >= key) return Fail(error_, "heap B-tree keys out of order");
            last_ = key;
            ++count_;
        }
        return true;
    }

    const HeapReader& heap_;
    std::string* error_;
    Bytes scratch_;
    uint8_t keySize_ = 0, dataSize_ = 0;
    uint64_t last_ = 0;
    size_t count_ = 0;
};

struct Column {
    uint32_t tag;
    uint16_t offset;
    uint8_t size;
    uint8_t bit;
};

}  // namespace

bool CheckTableContext(const Node& node, std::vector<uint32_t>* rowIds, std::string* error) {
    HeapReader heap;
    if (!heap.Open(node.data, error)) return false;
    Bytes info;
    if (heap.client() != kHeapTableContext || !heap.Get(heap.userRoot(), &info) || info.size() < kTcInfoFixed ||
        info[0] != kTcType)
        return Fail(error, "not a table context");
    size_t count = info[1];
    if (info.size() < kTcInfoFixed + 8 * count) return Fail(error, "a table context with missing columns");
    size_t rowSize = Get16(info.data() + 8);
    size_t bitmapAt = Get16(info.data() + 6);
    // Only variable-size cells can fail once the columns fit their rows:
    // their HNIDs must name an allocation or a subnode.
    std::vector<Column> refs;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* d = info.data() + kTcInfoFixed + 8 * i;
        Column c{Get32(d), Get16(d + 4), d[6], d[7]};
        bool fixed = FixedWidth(PropType(c.tag)) != 0;
        size_t width = fixed ? c.size : 4;
        if (c.offset + width > rowSize || bitmapAt + c.bit / 8 >= rowSize)
            return Fail(error, "a table column outside its row");
        if (!fixed && c.tag != kTagLtpRowId) refs.push_back(c);
    }
    IndexWalk index(heap, error);
    if (!index.Header(Get32(info.data() + 10))) return false;
    uint32_t hnidRows = Get32(info.data() + 14);
    Bytes fromHeap;
    const Bytes* matrix = &fromHeap;
    if (hnidRows != 0) {
        if (IsHid(hnidRows)) {
            if (!heap.Get(hnidRows, &fromHeap)) return Fail(error, "a table's rows refer to a missing allocation");
        } else {
            auto it = node.subnodes.find(hnidRows);
            if (it == node.subnodes.end()) return Fail(error, "a table's rows refer to a missing subnode");
            matrix = &it->second.data;
        }
    }
    if (rowSize < 4 || rowSize > kMaxBlockData) return Fail(error, "a table with rows of an impossible size");
    size_t rowsPerBlock = kMaxBlockData / rowSize;
    if (rowIds != nullptr) rowIds->clear();
    Bytes cell;
    for (size_t r = 0; r < index.count(); ++r) {
        size_t at = (r / rowsPerBlock) * kMaxBlockData + (r % rowsPerBlock) * rowSize;
        if (at + rowSize > matrix->size()) return Fail(error, "a table row beyond its row matrix");
        const uint8_t* cells = matrix->data() + at;
        for (const Column& c : refs) {
            if ((cells[bitmapAt + c.bit / 8] & (0x80 >> (c.bit % 8))) == 0) continue;
            uint32_t hnid = Get32(cells + c.offset);
            if (hnid == 0) continue;
            if (IsHid(hnid)) {
                if (!heap.Get(hnid, &cell)) return Fail(error, "a table cell refers to a missing allocation");
            } else if (node.subnodes.count(hnid) == 0) {
                return Fail(error, "a table cell refers to a missing subnode");
            }
        }
        if (rowIds != nullptr) rowIds->push_back(Get32(cells));
    }
    return true;
}

}  // namespace mapi::pst::fmt
