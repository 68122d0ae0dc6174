// The table double over the platform's own table.
#include "fake_table.h"

#include <stdexcept>

#include "runtime/table.h"

namespace fake {

Table::Table(std::vector<ULONG> defaultColumns) : defaultColumns_(std::move(defaultColumns)) {}

void Table::AddRow(std::initializer_list<Value> values) {
    std::vector<const SPropValue*> row;
    for (const Value& v : values) row.push_back(&v.get());
    AddRow(row);
}

void Table::AddRow(const std::vector<const SPropValue*>& values) {
    std::vector<SPropValue> row;
    for (const SPropValue* v : values) row.push_back(*v);
    // A row that cannot be stored is a broken test, not a case to handle.
    if (rows->AddRow(row.data(), static_cast<ULONG>(row.size())) != S_OK)
        throw std::runtime_error("fake::Table: row not stored");
}

IMAPITable* Table::Inner() {
    if (!inner_) {
        auto tags = mapi::AllocateMapi<SPropTagArray>(CbNewSPropTagArray(defaultColumns_.size()));
        if (!tags) return nullptr;
        tags->cValues = static_cast<ULONG>(defaultColumns_.size());
        for (size_t i = 0; i < defaultColumns_.size(); ++i)
            tags->aulPropTag[i] = defaultColumns_[i];
        if (mapi::CreateTable(rows, tags.get(), inner_.Out()) != S_OK) return nullptr;
    }
    return inner_.get();
}

HRESULT Table::SetColumns(LPSPropTagArray tags, ULONG flags) {
    ++setColumnsCalls;
    if (tags != nullptr) columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    IMAPITable* t = Inner();
    return t ? t->SetColumns(tags, flags) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::QueryColumns(ULONG flags, LPSPropTagArray* tags) {
    IMAPITable* t = Inner();
    return t ? t->QueryColumns(flags, tags) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::GetRowCount(ULONG flags, ULONG* count) {
    if (HRESULT hr = Failure(Call::QueryRows)) return hr;
    IMAPITable* t = Inner();
    return t ? t->GetRowCount(flags, count) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::SeekRow(BOOKMARK origin, LONG count, LONG* sought) {
    IMAPITable* t = Inner();
    return t ? t->SeekRow(origin, count, sought) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) {
    IMAPITable* t = Inner();
    return t ? t->QueryPosition(row, numerator, denominator) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG flags) {
    IMAPITable* t = Inner();
    return t ? t->FindRow(restriction, origin, flags) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::Restrict(LPSRestriction restriction, ULONG flags) {
    ++restrictCalls;
    if (restrictCounter != nullptr) ++*restrictCounter;
    if (HRESULT hr = Failure(Call::Restrict)) return hr;
    IMAPITable* t = Inner();
    return t ? t->Restrict(restriction, flags) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::SortTable(LPSSortOrderSet order, ULONG flags) {
    IMAPITable* t = Inner();
    return t ? t->SortTable(order, flags) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::QuerySortOrder(LPSSortOrderSet* order) {
    IMAPITable* t = Inner();
    return t ? t->QuerySortOrder(order) : MAPI_E_NOT_ENOUGH_MEMORY;
}

HRESULT Table::QueryRows(LONG count, ULONG flags, LPSRowSet* out) {
    *out = nullptr;
    if (HRESULT hr = Failure(Call::QueryRows)) return hr;
    IMAPITable* t = Inner();
    return t ? t->QueryRows(count, flags, out) : MAPI_E_NOT_ENOUGH_MEMORY;
}

}  // namespace fake
