// The table context ([MS-PST] 2.3.4): TCINFO with its column descriptors
// (TCOLDESC), a row index (a heap B-tree from row id to row number) and
// the row matrix, each row holding fixed values inline, variable ones by
// HNID, and a cell existence bitmap (CEB). The row matrix lives in the
// heap while small and in a subnode, rows never crossing a block, when
// not.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "providers/pst/format/ltp_bth.h"
#include "providers/pst/format/ltp_heap.h"
#include "providers/pst/format/ltp_value.h"
#include "providers/pst/format/ndb_node.h"
#include "providers/pst/format/ndb_node_patch.h"

namespace mapi::pst::fmt {

// Every table carries these two first ([MS-PST] 2.3.4.4.1).
constexpr uint32_t kTagLtpRowId = 0x67F20003;
constexpr uint32_t kTagLtpRowVer = 0x67F30003;

struct TableRow {
    uint32_t rowId = 0;
    // Only the columns the row has. A kTagLtpRowVer cell sets the row's
    // version (0 without); a kTagLtpRowId cell is ignored for rowId.
    std::vector<PropValue> cells;
};

// A row whose cells live elsewhere (a message's properties), so that a
// table of many rows is built without copying them.
struct TableRowRef {
    uint32_t rowId = 0;
    const std::vector<PropValue>* cells = nullptr;
};

// Builds the node of a TC with the given columns (row id and version are
// added) and rows; cells for tags not among the columns are left out.
// Subnodes already in *node are kept.
void WriteTableContext(const std::vector<uint32_t>& columns, const std::vector<TableRow>& rows,
                       Node* node);
void WriteTableRows(const std::vector<uint32_t>& columns, const std::vector<TableRowRef>& rows, Node* node);

// A TC kept between builds: rows are added at the end, each laid out once
// (its cells, its variable values in the heap). After the first Write or
// TakePatch the row index, the row matrix and the heap stay where they
// are and each new row changes only the heap pages, matrix blocks and
// index allocations it reaches, which TakePatch hands on.
class TableBuilder {
public:
    // existing: subnodes the node written to will already have, which the
    // table's own subnodes must not take the ids of.
    explicit TableBuilder(const std::vector<uint32_t>& columns, const std::map<uint32_t, Node>* existing = nullptr);
    TableBuilder(const TableBuilder&) = delete;
    TableBuilder& operator=(const TableBuilder&) = delete;

    // Whether a row of this id can still be added at the end: once laid
    // out, the index takes only rising ids, and a row matrix kept in the
    // heap cannot grow past one allocation (build the table again then).
    bool CanAppend(uint32_t rowId) const;
    // Adds a row after the others; cells for tags not among the columns are
    // left out. False when CanAppend is not (nothing is added) or when the
    // table can take no more rows (build it again).
    bool Append(uint32_t rowId, const std::vector<PropValue>& cells);
    size_t RowCount() const { return rowCount_; }
    // The node of the table as it stands; subnodes already in *node are kept.
    void Write(Node* node);
    // What changed since the last TakePatch; the first gives the whole node.
    std::shared_ptr<const NodePatch> TakePatch();

private:
    struct Column {
        uint32_t tag;
        uint16_t offset;
        uint8_t size;
        uint8_t bit;
    };
    // Lays out the index and the row matrix the first time the table is
    // written; rows added later go straight into them.
    void Settle();
    void PlaceMatrix();
    Bytes InfoBytes() const;

    std::vector<Column> cols_;
    uint16_t rgib_[4] = {0, 0, 0, 0};
    size_t rowSize_ = 0;
    HeapWriter heap_;
    uint32_t infoHid_ = 0;
    Bytes matrix_;
    std::vector<BthRecord> index_;  // by row id, until settled
    std::unique_ptr<GrowingBth> bth_;  // once settled
    bool settled_ = false, whole_ = true;
    bool broken_ = false;  // the heap refused a change: build the table again
    bool matrixInHeap_ = true;
    uint32_t hnidRows_ = 0;  // 0 while there are no rows
    size_t matrixChangedFrom_ = 0;  // matrix bytes before it as last taken
    uint32_t lastRowId_ = 0;
    std::map<uint32_t, Node> subnodes_;  // values too large for the heap
    std::set<uint32_t> newSubnodes_;     // since the last TakePatch
    uint32_t firstSubnode_ = 0;
    size_t rowCount_ = 0;
};

// Reads the columns (row id and version included) and every row in row
// matrix order.
bool ReadTableContext(const Node& node, std::vector<uint32_t>* columns, std::vector<TableRow>* rows,
                      std::string* error);

}  // namespace mapi::pst::fmt
