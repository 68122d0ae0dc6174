// The platform's one IMAPITable implementation.
//
// Every provider's contents, hierarchy, recipient, attachment and receive
// folder tables, and the session's message store table, are this table over
// a RowSource. It supports SetColumns, QueryColumns, QueryRows, SeekRow,
// QueryPosition, GetRowCount, Restrict (kept and applied when rows are read;
// TBL_BATCH and synchronous alike), SortTable, QuerySortOrder and FindRow;
// the other methods answer MAPI_E_NO_SUPPORT.
//
// Rows: a column the row lacks is PT_ERROR/MAPI_E_NOT_FOUND; a column asking
// another string width than the row holds is converted; PT_UNSPECIFIED
// columns give the native type; PR_INSTANCE_KEY is made up from the row's
// place when the source has none. QueryRows reads only the rows it returns,
// each row's values one MAPI chain (free the set with FreeProws).
// Restrict/SortTable: the restriction is validated and copied; the first
// read afterwards evaluates every source row once (or lets the source select
// them, RowSource::Select, with the same evaluator) and keeps the index of
// matching rows in sort order (strings ignore case, missing values first,
// ties in source order, multi-valued columns by their first value). Until
// the next Restrict/SortTable that index is a snapshot; without restriction
// and sort the table follows the source's current count. Categorised sorts
// and MV_INSTANCE columns give MAPI_E_TOO_COMPLEX. QueryColumns with
// TBL_ALL_COLUMNS works when the source can list its columns.
// Thread safety: one lock per table; any thread may call any method.
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
