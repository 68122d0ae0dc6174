// The platform's one IMAPITable implementation.
//
// Every provider's contents, hierarchy, recipient, attachment and receive
// folder tables, and the session's message store table, are this table over
// a RowSource. It supports SetColumns, QueryColumns, QueryRows, SeekRow,
// QueryPosition, GetRowCount, Restrict (kept and applied when rows are read;
// TBL_BATCH and synchronous alike), SortTable, QuerySortOrder and FindRow;
// the other methods answer MAPI_E_NO_SUPPORT.
#pragma once

#include <memory>

#include <mapidefs.h>

#include "row_access.h"

namespace mapi {

// A new table with one reference, reading rows from source and offering
// defaultColumns until SetColumns is called.
HRESULT CreateTable(std::shared_ptr<RowSource> source, const SPropTagArray* defaultColumns,
                    IMAPITable** table);

}  // namespace mapi
