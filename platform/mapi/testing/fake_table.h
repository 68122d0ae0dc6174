// A table double: rows held in memory, read through the platform's own
// table, so Restrict and SortTable use the real evaluator and ordering.
//
// The double itself is what callers hold (its references are counted like
// every double's); it records what they asked (columns, SetColumns and
// Restrict calls) and can fail QueryRows/GetRowCount and Restrict (Fail).
#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "fake_values.h"
#include "runtime/memory_rows.h"

namespace fake {

class Table : public Object<IMAPITable> {
public:
    // defaultColumns are what QueryRows gives before any SetColumns.
    explicit Table(std::vector<ULONG> defaultColumns = {});

    std::shared_ptr<mapi::MemoryRows> rows = std::make_shared<mapi::MemoryRows>();
    std::vector<ULONG> columns;  // as last set
    int setColumnsCalls = 0;
    int restrictCalls = 0;
    // Also counts each Restrict when set (a folder counting over the tables
    // it hands out).
    int* restrictCounter = nullptr;

    // Hands out a reference to this table, as a Get...Table call does.
    LPMAPITABLE Share() {
        AddRef();
        return this;
    }

    void AddRow(std::initializer_list<Value> values);
    void AddRow(const std::vector<const SPropValue*>& values);

    HRESULT SetColumns(LPSPropTagArray tags, ULONG flags) override;
    HRESULT QueryColumns(ULONG flags, LPSPropTagArray* tags) override;
    HRESULT GetRowCount(ULONG flags, ULONG* count) override;
    HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override;
    HRESULT QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) override;
    HRESULT FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG flags) override;
    HRESULT Restrict(LPSRestriction restriction, ULONG flags) override;
    HRESULT SortTable(LPSSortOrderSet order, ULONG flags) override;
    HRESULT QuerySortOrder(LPSSortOrderSet* order) override;
    HRESULT QueryRows(LONG count, ULONG flags, LPSRowSet* out) override;

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IMAPITable; }

private:
    // The platform table over rows, made at its first use.
    IMAPITable* Inner();

    std::vector<ULONG> defaultColumns_;
    mapi::ComRef<IMAPITable> inner_;
};

}  // namespace fake
