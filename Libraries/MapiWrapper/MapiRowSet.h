// CMapiRowSet, the rows of one table query, and QueryAllRows, which reads
// all rows of a table with chosen columns.
#pragma once

#include <initializer_list>

#include <mapix.h>

#include "InterfaceRef.h"
#include "MapiPropValue.h"

// Owns its rows when they came from QueryAllRows (freed with FreeProws at
// destruction or Clear); a row set attached as not owned is only viewed.
// Move-only. Views from Cell must not outlive the row set.
class CMapiRowSet {
public:
    CMapiRowSet() = default;
    CMapiRowSet(LPSRowSet rows, bool owned) : m_owned(owned), m_rows(rows) {}
    CMapiRowSet(CMapiRowSet&& other) noexcept;
    CMapiRowSet& operator=(CMapiRowSet&& other) noexcept;
    CMapiRowSet(const CMapiRowSet&) = delete;
    CMapiRowSet& operator=(const CMapiRowSet&) = delete;
    ~CMapiRowSet() { Clear(); }

    // HrQueryAllRows(table, the columns in the given order, no restriction,
    // no sort, no row limit) into this set, which then owns the rows. The
    // earlier rows are cleared first. Failure: CMAPIException with empty
    // context; a null table raises MAPI_E_INVALID_PARAMETER rather than
    // reaching HrQueryAllRows.
    void QueryAllRows(LPMAPITABLE table, std::initializer_list<ULONG> columns);

    // Frees owned rows; the set is empty afterwards.
    void Clear();

    ULONG Count() const { return m_rows ? m_rows->cRows : 0; }
    const SRowSet* get() const { return m_rows; }
    bool Owned() const { return m_owned; }

    // The value at (row, column position in the requested columns); an empty
    // view when row >= Count() or column >= that row's value count.
    CMapiPropValue Cell(ULONG row, ULONG column) const;

private:
    bool m_owned = false;
    LPSRowSet m_rows = nullptr;
};

// The free form: a new owning row set of all rows of table.
CMapiRowSet QueryAllRows(LPMAPITABLE table, std::initializer_list<ULONG> columns);
inline CMapiRowSet QueryAllRows(const IMAPITablePtr& table, std::initializer_list<ULONG> columns) {
    return QueryAllRows(table.get(), columns);
}
