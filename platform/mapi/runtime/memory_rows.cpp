// In-memory row source.
#include "memory_rows.h"

#include <algorithm>
#include <set>

#include <mapiutil.h>

namespace mapi {

class MemoryRows::Accessor : public RowAccessor {
public:
    explicit Accessor(const StoredRow& row) : row_(row) {}

    const SPropValue* GetById(ULONG propId) override {
        for (ULONG i = 0; i < row_.count; ++i)
            if (PROP_ID(row_.values.get()[i].ulPropTag) == propId) return &row_.values.get()[i];
        return nullptr;
    }

    HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        rows->clear();
        auto it = row_.sub.find(PROP_ID(subObject));
        if (it == row_.sub.end()) return MAPI_E_NO_SUPPORT;
        MemoryRows& sub = *it->second;
        for (ULONG i = 0; i < sub.Count(); ++i) rows->push_back(sub.Row(i));
        return S_OK;
    }

private:
    const StoredRow& row_;
};

HRESULT MemoryRows::AddRow(const SPropValue* values, ULONG count) {
    if (count > 0 && values == nullptr) return MAPI_E_INVALID_PARAMETER;
    LPSPropValue copy = nullptr;
    HRESULT hr = ScDupPropset(static_cast<int>(count), const_cast<LPSPropValue>(values),
                              MAPIAllocateBuffer, &copy);
    if (hr != S_OK) return hr;
    StoredRow row;
    row.values.reset(copy);
    row.count = count;
    rows_.push_back(std::move(row));
    return S_OK;
}

void MemoryRows::SetSubRows(ULONG index, ULONG subObject, std::shared_ptr<MemoryRows> rows) {
    if (index < rows_.size()) rows_[index].sub[PROP_ID(subObject)] = std::move(rows);
}

ULONG MemoryRows::Count() {
    return static_cast<ULONG>(rows_.size());
}

std::unique_ptr<RowAccessor> MemoryRows::Row(ULONG index) {
    if (index >= rows_.size()) return nullptr;
    return std::make_unique<Accessor>(rows_[index]);
}

HRESULT MemoryRows::AllColumns(std::vector<ULONG>* tags) {
    tags->clear();
    std::set<ULONG> seen;
    for (const StoredRow& row : rows_)
        for (ULONG i = 0; i < row.count; ++i) {
            const ULONG tag = row.values.get()[i].ulPropTag;
            if (PROP_TYPE(tag) != PT_ERROR && seen.insert(PROP_ID(tag)).second)
                tags->push_back(tag);
        }
    return S_OK;
}

}  // namespace mapi
