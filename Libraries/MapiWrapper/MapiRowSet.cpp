// Row sets of table queries and QueryAllRows.
#include "MapiRowSet.h"

#include <memory>
#include <utility>

#include <mapiutil.h>

#include "MapiBuffer.h"
#include "MapiException.h"

namespace {

struct RowsDeleter {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};

}  // namespace

CMapiRowSet::CMapiRowSet(CMapiRowSet&& other) noexcept
    : m_owned(std::exchange(other.m_owned, false)), m_rows(std::exchange(other.m_rows, nullptr)) {}

CMapiRowSet& CMapiRowSet::operator=(CMapiRowSet&& other) noexcept {
    if (this != &other) {
        Clear();
        m_owned = std::exchange(other.m_owned, false);
        m_rows = std::exchange(other.m_rows, nullptr);
    }
    return *this;
}

void CMapiRowSet::Clear() {
    if (m_owned && m_rows) FreeProws(m_rows);
    m_rows = nullptr;
    m_owned = false;
}

void CMapiRowSet::QueryAllRows(LPMAPITABLE table, std::initializer_list<ULONG> columns) {
    Clear();
    if (!table) throw CMAPIException(MAPI_E_INVALID_PARAMETER, nullptr);

    LPVOID block = nullptr;
    CheckHr(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(columns.size())), &block));
    MapiBufferPtr<SPropTagArray> tags(static_cast<LPSPropTagArray>(block));
    tags->cValues = static_cast<ULONG>(columns.size());
    ULONG* slot = tags->aulPropTag;
    for (ULONG tag : columns) *slot++ = tag;

    LPSRowSet raw = nullptr;
    const HRESULT hr = HrQueryAllRows(table, tags.get(), nullptr, nullptr, 0, &raw);
    std::unique_ptr<SRowSet, RowsDeleter> rows(raw);
    CheckHr(hr);
    m_rows = rows.release();
    m_owned = true;
}

CMapiPropValue CMapiRowSet::Cell(ULONG row, ULONG column) const {
    if (!m_rows || row >= m_rows->cRows) return {};
    const SRow* rowsBase = m_rows->aRow;  // MAPI's one-element array holds cRows rows
    const SRow& r = rowsBase[row];
    if (column >= r.cValues || !r.lpProps) return {};
    return CMapiPropValue(&r.lpProps[column]);
}

CMapiRowSet QueryAllRows(LPMAPITABLE table, std::initializer_list<ULONG> columns) {
    CMapiRowSet rows;
    rows.QueryAllRows(table, columns);
    return rows;
}
