// Reads a table a bounded number of rows at a time, so that a folder of any
// size costs the memory of one batch while it is gone through.
#pragma once

#include <initializer_list>
#include <vector>

#include <MapiWrapper.h>

namespace quirnel {

class CRowBatches {
public:
    // Rows per QueryRows call: enough that the calls cost little beside the
    // work done per row, few enough that a batch of long subjects stays small.
    static constexpr LONG kDefaultBatch = 256;

    // table is borrowed and must outlive this reader; its restriction, if
    // any, is set before the first Next.
    CRowBatches(LPMAPITABLE table, std::initializer_list<ULONG> columns,
                LONG batch = kDefaultBatch);
    CRowBatches(const CRowBatches&) = delete;
    CRowBatches& operator=(const CRowBatches&) = delete;

    // The next rows into rows (the earlier batch is freed first); false when
    // the table has no more. The first call sets the columns and starts from
    // the table's beginning. Throws CMAPIException when the table fails,
    // which a damaged store may do at any batch.
    bool Next(CMapiRowSet& rows);

private:
    LPMAPITABLE m_table;
    std::vector<ULONG> m_columns;
    LONG m_batch;
    bool m_started = false;
    bool m_done = false;
};

}  // namespace quirnel
