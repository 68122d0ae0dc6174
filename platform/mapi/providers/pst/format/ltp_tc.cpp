#include "providers/pst/format/ltp_tc.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "providers/pst/format/ltp_bth.h"
#include "providers/pst/format/ltp_heap.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint8_t kTcType = 0x7C;
constexpr size_t kTcInfoFixed = 22;

struct Column {
    uint32_t tag;
    uint16_t offset;
    uint8_t size;
    uint8_t bit;
};

// The width of a column's cell: fixed types their own, the others an HNID.
uint8_t CellWidth(uint32_t tag) {
    size_t w = FixedWidth(PropType(tag));
    return static_cast<uint8_t>(w == 0 ? 4 : w);
}

// Row layout: row id and version first, then the 8-, 4-, 2- and 1-byte
// groups, then the bitmap. rgib records where each group ends.
std::vector<Column> LayOut(const std::vector<uint32_t>& requested, uint16_t rgib[4]) {
    std::vector<uint32_t> tags;
    for (uint32_t t : requested)
        if (t != kTagLtpRowId && t != kTagLtpRowVer && std::find(tags.begin(), tags.end(), t) == tags.end())
            tags.push_back(t);
    std::vector<Column> cols{{kTagLtpRowId, 0, 4, 0}, {kTagLtpRowVer, 4, 4, 1}};
    uint16_t at = 8;
    uint8_t bit = 2;
    for (uint8_t width : {8, 4, 2, 1}) {
        for (uint32_t t : tags)
            if (CellWidth(t) == width) {
                cols.push_back({t, at, width, bit++});
                at = static_cast<uint16_t>(at + width);
            }
        if (width == 4) rgib[0] = at;
        if (width == 2) rgib[1] = at;
        if (width == 1) rgib[2] = at;
    }
    rgib[3] = static_cast<uint16_t>(at + (cols.size() + 7) / 8);
    std::sort(cols.begin(), cols.end(), [](const Column& a, const Column& b) { return a.tag < b.tag; });
    return cols;
}

}  // namespace

void WriteTableContext(const std::vector<uint32_t>& columns, const std::vector<TableRow>& rows,
                       Node* node) {
    std::vector<TableRowRef> refs;
    refs.reserve(rows.size());
    for (const TableRow& row : rows) refs.push_back({row.rowId, &row.cells});
    WriteTableRows(columns, refs, node);
}

void WriteTableRows(const std::vector<uint32_t>& columns, const std::vector<TableRowRef>& rows, Node* node) {
    TableBuilder table(columns, &node->subnodes);
    for (const TableRowRef& row : rows) table.Append(row.rowId, *row.cells);
    table.Write(node);
}

TableBuilder::TableBuilder(const std::vector<uint32_t>& columns, const std::map<uint32_t, Node>* existing)
    : heap_(kHeapTableContext) {
    firstSubnode_ = NextLtpSubnode(existing != nullptr ? *existing : subnodes_);
    for (const auto& c : LayOut(columns, rgib_)) cols_.push_back({c.tag, c.offset, c.size, c.bit});
    rowSize_ = rgib_[3];
    // TCINFO goes first so that it is the heap's first allocation, as
    // readers that look for it there expect; it is rewritten as the
    // index and the rows find their places.
    infoHid_ = heap_.Allocate(InfoBytes());
    heap_.SetUserRoot(infoHid_);
}

bool TableBuilder::CanAppend(uint32_t rowId) const {
    if (broken_) return false;
    if (!settled_) return true;
    if (rowCount_ > 0 && rowId <= lastRowId_) return false;
    return !matrixInHeap_ || (rowCount_ + 1) * rowSize_ <= kMaxHeapAlloc;
}

bool TableBuilder::Append(uint32_t rowId, const std::vector<PropValue>& values) {
    if (!CanAppend(rowId)) return false;
    Bytes cells(rowSize_, 0);
    Put32(cells.data(), rowId);
    cells[rgib_[2]] |= 0x80;  // row id exists
    cells[rgib_[2]] |= 0x40;  // and so does the version (0)
    for (const PropValue& v : values) {
        // Columns are sorted by tag.
        auto col = std::lower_bound(cols_.begin(), cols_.end(), v.tag,
                                    [](const Column& c, uint32_t tag) { return c.tag < tag; });
        if (col == cols_.end() || col->tag != v.tag || col->tag == kTagLtpRowId) continue;
        size_t w = FixedWidth(PropType(v.tag));
        if (w != 0) {
            std::memcpy(cells.data() + col->offset, v.bytes.data(), std::min(w, v.bytes.size()));
        } else {
            uint32_t hnid;
            if (v.bytes.size() <= kMaxHeapAlloc) {
                hnid = heap_.Allocate(v.bytes);
            } else {
                hnid = std::max(NextLtpSubnode(subnodes_), firstSubnode_);
                subnodes_[hnid].data = v.bytes;
                newSubnodes_.insert(hnid);
            }
            Put32(cells.data() + col->offset, hnid);
        }
        cells[rgib_[2] + col->bit / 8] |= static_cast<uint8_t>(0x80 >> (col->bit % 8));
    }
    // Rows never cross a block of the subnode: pad each block's tail.
    size_t rowsPerBlock = kMaxBlockData / rowSize_;
    size_t before = matrix_.size();
    if (rowCount_ > 0 && rowCount_ % rowsPerBlock == 0) matrix_.resize((rowCount_ / rowsPerBlock) * kMaxBlockData, 0);
    matrix_.insert(matrix_.end(), cells.begin(), cells.end());
    if (settled_) {
        matrixChangedFrom_ = std::min(matrixChangedFrom_, before);
        if (rowCount_ == 0)
            PlaceMatrix();
        else if (matrixInHeap_ && !heap_.Rewrite(hnidRows_, matrix_))
            broken_ = true;
        if (!bth_->Add(rowId, static_cast<uint32_t>(rowCount_))) broken_ = true;
    } else {
        Bytes key(4), data(4);
        Put32(key.data(), rowId);
        Put32(data.data(), static_cast<uint32_t>(rowCount_));
        auto at = std::upper_bound(index_.begin(), index_.end(), rowId,
                                   [](uint32_t id, const BthRecord& r) { return id < Get32(r.key.data()); });
        index_.insert(at, {std::move(key), std::move(data)});
    }
    lastRowId_ = rowCount_ == 0 ? rowId : std::max(lastRowId_, rowId);
    ++rowCount_;
    return !broken_;
}

Bytes TableBuilder::InfoBytes() const {
    Bytes info(kTcInfoFixed + 8 * cols_.size(), 0);
    info[0] = kTcType;
    info[1] = static_cast<uint8_t>(cols_.size());
    for (int i = 0; i < 4; ++i) Put16(info.data() + 2 + 2 * i, rgib_[i]);
    Put32(info.data() + 10, bth_ ? bth_->header() : 0);
    Put32(info.data() + 14, hnidRows_);
    Put32(info.data() + 18, 0);  // hidIndex: no longer used
    for (size_t i = 0; i < cols_.size(); ++i) {
        uint8_t* d = info.data() + kTcInfoFixed + 8 * i;
        Put32(d, cols_[i].tag);
        Put16(d + 4, cols_[i].offset);
        d[6] = cols_[i].size;
        d[7] = cols_[i].bit;
    }
    return info;
}

// A matrix in the heap is given room to grow to a whole allocation, so
// that rows join it without moving it; one that starts larger goes to a
// subnode, which the node's own subnodes make room for.
void TableBuilder::PlaceMatrix() {
    if (matrixInHeap_) {
        hnidRows_ = heap_.Allocate(matrix_, kMaxHeapAlloc);
    } else {
        hnidRows_ = std::max(NextLtpSubnode(subnodes_), firstSubnode_);
        subnodes_[hnidRows_];  // held for the rows, whose bytes are matrix_
    }
    if (!heap_.Rewrite(infoHid_, InfoBytes())) broken_ = true;
}

void TableBuilder::Settle() {
    if (settled_) return;
    settled_ = true;
    bth_ = std::make_unique<GrowingBth>(heap_);
    matrixInHeap_ = matrix_.size() <= kMaxHeapAlloc;
    if (rowCount_ > 0) PlaceMatrix();
    for (const BthRecord& r : index_)
        if (!bth_->Add(Get32(r.key.data()), Get32(r.data.data()))) broken_ = true;
    index_ = {};
    if (!heap_.Rewrite(infoHid_, InfoBytes())) broken_ = true;
}

void TableBuilder::Write(Node* node) {
    Settle();
    for (const auto& [nid, sub] : subnodes_) node->subnodes[nid] = sub;
    if (!matrixInHeap_ && hnidRows_ != 0) node->subnodes[hnidRows_].data = matrix_;
    node->data = heap_.Finish();
}

std::shared_ptr<const NodePatch> TableBuilder::TakePatch() {
    Settle();
    auto patch = std::make_shared<NodePatch>();
    patch->whole = whole_;
    auto slices = [](const Bytes& data, size_t fromBlock, DataPatch* out) {
        out->size = data.size();
        for (size_t at = fromBlock * kMaxBlockData; at < data.size(); at += kMaxBlockData)
            out->blocks[at / kMaxBlockData] = Bytes(data.begin() + static_cast<long>(at),
                                                    data.begin() + static_cast<long>(std::min(data.size(), at + kMaxBlockData)));
    };
    patch->data.size = heap_.Size();
    std::vector<size_t> pages = heap_.TakeChangedPages();
    if (whole_) {
        pages.clear();
        for (size_t i = 0; i < heap_.PageCount(); ++i) pages.push_back(i);
    }
    for (size_t page : pages) patch->data.blocks[page] = heap_.PageBytes(page);
    std::set<uint32_t> values = whole_ ? std::set<uint32_t>{} : newSubnodes_;
    if (whole_)
        for (const auto& [nid, sub] : subnodes_) values.insert(nid);
    for (uint32_t nid : values)
        if (matrixInHeap_ || nid != hnidRows_) slices(subnodes_.at(nid).data, 0, &patch->subnodes[nid]);
    if (!matrixInHeap_ && hnidRows_ != 0 && (whole_ || matrixChangedFrom_ < matrix_.size()))
        slices(matrix_, whole_ ? 0 : matrixChangedFrom_ / kMaxBlockData, &patch->subnodes[hnidRows_]);
    matrixChangedFrom_ = matrix_.size();
    newSubnodes_.clear();
    whole_ = false;
    return patch;
}

bool ReadTableContext(const Node& node, std::vector<uint32_t>* columns, std::vector<TableRow>* rows,
                      std::string* error) {
    auto fail = [&](const char* why) {
        if (error != nullptr) *error = why;
        return false;
    };
    HeapReader heap;
    if (!heap.Open(node.data, error)) return false;
    Bytes info;
    if (heap.client() != kHeapTableContext || !heap.Get(heap.userRoot(), &info) ||
        info.size() < kTcInfoFixed || info[0] != kTcType)
        return fail("not a table context");
    size_t count = info[1];
    if (info.size() < kTcInfoFixed + 8 * count) return fail("a table context with missing columns");
    size_t rowSize = Get16(info.data() + 8);
    size_t bitmapAt = Get16(info.data() + 6);
    std::vector<Column> cols;
    columns->clear();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* d = info.data() + kTcInfoFixed + 8 * i;
        Column c{Get32(d), Get16(d + 4), d[6], d[7]};
        // A variable-size cell holds a 4-byte HNID whatever its size says.
        size_t width = FixedWidth(PropType(c.tag)) != 0 ? c.size : 4;
        if (c.offset + width > rowSize || bitmapAt + c.bit / 8 >= rowSize)
            return fail("a table column outside its row");
        cols.push_back(c);
        columns->push_back(c.tag);
    }
    uint8_t keySize = 0, dataSize = 0;
    std::vector<BthRecord> index;
    if (!ReadBth(heap, Get32(info.data() + 10), &keySize, &dataSize, &index, error)) return false;
    uint32_t hnidRows = Get32(info.data() + 14);
    Bytes matrix;
    if (hnidRows != 0) {
        if (IsHid(hnidRows)) {
            if (!heap.Get(hnidRows, &matrix)) return fail("a table's rows refer to a missing allocation");
        } else {
            auto it = node.subnodes.find(hnidRows);
            if (it == node.subnodes.end()) return fail("a table's rows refer to a missing subnode");
            matrix = it->second.data;
        }
    }
    // Rows start with their 4-byte id and never cross a block.
    if (rowSize < 4 || rowSize > kMaxBlockData) return fail("a table with rows of an impossible size");
    size_t rowsPerBlock = kMaxBlockData / rowSize;
    rows->clear();
    for (size_t r = 0; r < index.size(); ++r) {
        size_t at = (r / rowsPerBlock) * kMaxBlockData + (r % rowsPerBlock) * rowSize;
        if (at + rowSize > matrix.size()) return fail("a table row beyond its row matrix");
        const uint8_t* cells = matrix.data() + at;
        TableRow row;
        row.rowId = Get32(cells);
        for (const Column& c : cols) {
            if (c.tag == kTagLtpRowId) continue;
            if ((cells[bitmapAt + c.bit / 8] & (0x80 >> (c.bit % 8))) == 0) continue;
            PropValue v{c.tag, {}};
            if (FixedWidth(PropType(c.tag)) != 0) {
                v.bytes.assign(cells + c.offset, cells + c.offset + c.size);
            } else {
                uint32_t hnid = Get32(cells + c.offset);
                if (hnid == 0) {
                } else if (IsHid(hnid)) {
                    if (!heap.Get(hnid, &v.bytes)) return fail("a table cell refers to a missing allocation");
                } else {
                    auto it = node.subnodes.find(hnid);
                    if (it == node.subnodes.end()) return fail("a table cell refers to a missing subnode");
                    v.bytes = it->second.data;
                }
            }
            row.cells.push_back(std::move(v));
        }
        rows->push_back(std::move(row));
    }
    return true;
}

}  // namespace mapi::pst::fmt
