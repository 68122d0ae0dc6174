// Rows of property values held in memory: the row source behind small
// tables (the session's message store table, a provider's receive folder
// table) and behind tests of the table and the evaluator.
//
// Rows are filled before the table reads them; a MemoryRows is not changed
// while a table is reading it (no locking of its own).
#pragma once

#include <map>
#include <memory>
#include <vector>

#include <mapidefs.h>

#include "mapi_ptr.h"
#include "row_access.h"

namespace mapi {

class MemoryRows : public RowSource {
public:
    // Appends a row holding a deep copy of values. PT_ERROR values are kept
    // (they stand for unreadable properties). MAPI_E_INVALID_PARAMETER for a
    // value whose data cannot be copied; the row is then not added.
    HRESULT AddRow(const SPropValue* values, ULONG count);

    // Gives row index the rows of a sub-object table (PR_MESSAGE_RECIPIENTS
    // or PR_MESSAGE_ATTACHMENTS) for RES_SUBRESTRICTION.
    void SetSubRows(ULONG index, ULONG subObject, std::shared_ptr<MemoryRows> rows);

    ULONG Count() override;
    std::unique_ptr<RowAccessor> Row(ULONG index) override;
    // The tags of all rows, each id once, in order of first appearance.
    HRESULT AllColumns(std::vector<ULONG>* tags) override;

private:
    struct StoredRow {
        MapiBuffer<SPropValue> values;
        ULONG count = 0;
        std::map<ULONG, std::shared_ptr<MemoryRows>> sub;  // by property id
    };
    class Accessor;

    std::vector<StoredRow> rows_;
};

}  // namespace mapi
