// Batched reading of a MAPI table.
#include "row_batches.h"

namespace quirnel {

CRowBatches::CRowBatches(LPMAPITABLE table, std::initializer_list<ULONG> columns, LONG batch)
    : m_table(table), m_columns(columns), m_batch(batch > 0 ? batch : kDefaultBatch) {}

bool CRowBatches::Next(CMapiRowSet& rows) {
    rows.Clear();
    if (m_done) return false;
    if (m_table == nullptr) throw CMAPIException(MAPI_E_INVALID_PARAMETER, nullptr);
    if (!m_started) {
        LPVOID block = nullptr;
        CheckHr(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(m_columns.size())),
                                   &block));
        MapiBufferPtr<SPropTagArray> tags(static_cast<LPSPropTagArray>(block));
        tags->cValues = static_cast<ULONG>(m_columns.size());
        for (size_t i = 0; i < m_columns.size(); ++i) tags->aulPropTag[i] = m_columns[i];
        CheckHr(m_table->SetColumns(tags.get(), TBL_BATCH));
        CheckHr(m_table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
        m_started = true;
    }
    LPSRowSet raw = nullptr;
    const HRESULT hr = m_table->QueryRows(m_batch, 0, &raw);
    // Owned before the result is looked at, so a failure frees what came.
    CMapiRowSet batch(raw, true);
    CheckHr(hr);
    if (batch.Count() == 0) {
        m_done = true;
        return false;
    }
    rows = std::move(batch);
    return true;
}

}  // namespace quirnel
