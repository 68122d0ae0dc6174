// The generic IMAPITable over a RowSource. Rows are read from the source
// only when a caller asks for them (QueryRows batch by batch); a restriction
// or sort order is applied by building an index of matching source rows,
// holding sort keys only while sorting.
#include "table.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <mapiutil.h>

#include "com_object.h"
#include "mapi_ptr.h"
#include "prop_convert.h"
#include "restriction_copy.h"
#include "restriction_eval.h"
#include "value_compare.h"

namespace mapi {

namespace {

class Table final : public ComObject<IMAPITable> {
public:
    Table(std::shared_ptr<RowSource> source, std::vector<ULONG> columns)
        : source_(std::move(source)), columns_(std::move(columns)) {}

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }

    HRESULT GetStatus(ULONG* status, ULONG* type) override {
        if (status == nullptr || type == nullptr) return MAPI_E_INVALID_PARAMETER;
        *status = TBLSTAT_COMPLETE;
        *type = TBLTYPE_DYNAMIC;
        return S_OK;
    }

    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
        if (tags == nullptr || tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mu_);
        columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }

    HRESULT QueryColumns(ULONG flags, LPSPropTagArray* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        std::lock_guard<std::mutex> lock(mu_);
        std::vector<ULONG> all;
        if (flags & TBL_ALL_COLUMNS) {
            HRESULT hr = source_->AllColumns(&all);
            if (hr != S_OK) return hr;
        }
        const std::vector<ULONG>& columns = (flags & TBL_ALL_COLUMNS) ? all : columns_;
        auto tags = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(columns.size()));
        if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
        tags->cValues = static_cast<ULONG>(columns.size());
        std::copy(columns.begin(), columns.end(), tags->aulPropTag);
        *out = tags.release();
        return S_OK;
    }

    HRESULT GetRowCount(ULONG, ULONG* count) override {
        if (count == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mu_);
        HRESULT hr = EnsureView();
        if (hr != S_OK) return hr;
        *count = ViewCount();
        return S_OK;
    }

    HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
        std::lock_guard<std::mutex> lock(mu_);
        HRESULT hr = EnsureView();
        if (hr != S_OK) return hr;
        ULONG base = 0;
        hr = BookmarkPosition(origin, &base);
        if (hr != S_OK) return hr;
        const long long target =
            std::clamp<long long>(static_cast<long long>(base) + rows, 0, ViewCount());
        position_ = static_cast<ULONG>(target);
        if (sought != nullptr) *sought = static_cast<LONG>(target - base);
        return S_OK;
    }

    HRESULT SeekRowApprox(ULONG numerator, ULONG denominator) override {
        if (denominator == 0 || numerator > denominator) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mu_);
        HRESULT hr = EnsureView();
        if (hr != S_OK) return hr;
        position_ = static_cast<ULONG>(static_cast<unsigned long long>(ViewCount()) * numerator /
                                       denominator);
        return S_OK;
    }

    HRESULT QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) override {
        if (row == nullptr || numerator == nullptr || denominator == nullptr)
            return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mu_);
        HRESULT hr = EnsureView();
        if (hr != S_OK) return hr;
        const ULONG count = ViewCount();
        *row = std::min(position_, count);
        *numerator = *row;
        *denominator = std::max<ULONG>(count, 1);
        return S_OK;
    }

    HRESULT FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG flags) override {
        HRESULT hr = ValidateRestriction(restriction);
        if (hr != S_OK) return hr;
        std::lock_guard<std::mutex> lock(mu_);
        hr = EnsureView();
        if (hr != S_OK) return hr;
        ULONG start = 0;
        hr = BookmarkPosition(origin, &start);
        if (hr != S_OK) return hr;
        const ULONG count = ViewCount();
        const ULONG sourceCount = HasView() ? source_->Count() : count;
        auto matches = [&](ULONG pos) {
            const ULONG index = SourceIndex(pos);
            if (index >= sourceCount) return false;
            std::unique_ptr<RowAccessor> row = source_->Row(index);
            return row != nullptr && EvaluateRestriction(*restriction, *row);
        };
        if (flags & DIR_BACKWARD) {
            for (ULONG pos = std::min(start, count); pos-- > 0;)
                if (matches(pos)) return Found(pos);
        } else {
            for (ULONG pos = start; pos < count; ++pos)
                if (matches(pos)) return Found(pos);
        }
        return MAPI_E_NOT_FOUND;
    }

    HRESULT Restrict(LPSRestriction restriction, ULONG) override {
        MapiBuffer<SRestriction> copy;
        if (restriction != nullptr) {
            HRESULT hr = ValidateRestriction(restriction);
            if (hr != S_OK) return hr;
            hr = DupRestriction(*restriction, &copy);
            if (hr != S_OK) return hr;
        }
        std::lock_guard<std::mutex> lock(mu_);
        restriction_ = std::move(copy);
        InvalidateView();
        return S_OK;
    }

    HRESULT CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }

    HRESULT SortTable(LPSSortOrderSet criteria, ULONG) override {
        if (criteria == nullptr) return MAPI_E_INVALID_PARAMETER;
        // Categorised views (grouping rows under headers) are not offered.
        if (criteria->cCategories > 0) return MAPI_E_TOO_COMPLEX;
        std::vector<SSortOrder> sorts(criteria->aSort, criteria->aSort + criteria->cSorts);
        for (const SSortOrder& s : sorts) {
            if (s.ulOrder != TABLE_SORT_ASCEND && s.ulOrder != TABLE_SORT_DESCEND &&
                s.ulOrder != TABLE_SORT_COMBINE)
                return MAPI_E_INVALID_PARAMETER;
            if (PROP_TYPE(s.ulPropTag) & MV_INSTANCE) return MAPI_E_TOO_COMPLEX;
        }
        std::lock_guard<std::mutex> lock(mu_);
        sorts_ = std::move(sorts);
        InvalidateView();
        return S_OK;
    }

    HRESULT QuerySortOrder(LPSSortOrderSet* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mu_);
        auto set = AllocateMapi<SSortOrderSet>(CbNewSSortOrderSet(sorts_.size()));
        if (!set) return MAPI_E_NOT_ENOUGH_MEMORY;
        set->cSorts = static_cast<ULONG>(sorts_.size());
        set->cCategories = 0;
        set->cExpanded = 0;
        std::copy(sorts_.begin(), sorts_.end(), set->aSort);
        *out = set.release();
        return S_OK;
    }

    HRESULT QueryRows(LONG rowCount, ULONG flags, LPSRowSet* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        std::lock_guard<std::mutex> lock(mu_);
        HRESULT hr = EnsureView();
        if (hr != S_OK) return hr;
        const ULONG count = ViewCount();
        const ULONG pos = std::min(position_, count);
        ULONG first, n;
        if (rowCount >= 0) {
            first = pos;
            n = std::min<ULONG>(static_cast<ULONG>(rowCount), count - pos);
        } else {
            n = std::min<ULONG>(static_cast<ULONG>(-static_cast<long long>(rowCount)), pos);
            first = pos - n;
        }
        RowSetPtr rows(AllocateMapi<SRowSet>(CbNewSRowSet(n)).release());
        if (!rows) return MAPI_E_NOT_ENOUGH_MEMORY;
        rows->cRows = 0;
        const ULONG sourceCount = HasView() ? source_->Count() : count;
        for (ULONG i = 0; i < n; ++i) {
            hr = ReadRow(SourceIndex(first + i), sourceCount, &rows->aRow[i]);
            if (hr != S_OK) return hr;
            rows->cRows = i + 1;
        }
        if (!(flags & TBL_NOADVANCE)) position_ = rowCount >= 0 ? first + n : first;
        *out = rows.release();
        return S_OK;
    }

    HRESULT Abort() override { return S_OK; }  // nothing ever runs in the background
    HRESULT ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT WaitForCompletion(ULONG, ULONG, ULONG* status) override {
        if (status != nullptr) *status = TBLSTAT_COMPLETE;
        return S_OK;
    }
    HRESULT GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

private:
    bool SupportsInterface(REFIID riid) const override { return riid == IID_IMAPITable; }

    bool HasView() const { return restriction_ != nullptr || !sorts_.empty(); }

    void InvalidateView() {
        view_.clear();
        view_.shrink_to_fit();
        viewBuilt_ = false;
        position_ = 0;
    }

    ULONG ViewCount() const {
        return HasView() ? static_cast<ULONG>(view_.size()) : source_->Count();
    }
    ULONG SourceIndex(ULONG pos) const { return HasView() ? view_[pos] : pos; }

    HRESULT Found(ULONG pos) {
        position_ = pos;
        return S_OK;
    }

    HRESULT BookmarkPosition(BOOKMARK origin, ULONG* pos) const {
        switch (origin) {
            case BOOKMARK_BEGINNING:
                *pos = 0;
                return S_OK;
            case BOOKMARK_CURRENT:
                *pos = std::min(position_, ViewCount());
                return S_OK;
            case BOOKMARK_END:
                *pos = ViewCount();
                return S_OK;
            default:
                return MAPI_E_INVALID_BOOKMARK;
        }
    }

    // Builds the index of rows that pass the restriction, in sort order.
    HRESULT EnsureView() {
        if (!HasView() || viewBuilt_) return S_OK;
        struct Entry {
            ULONG index;
            std::vector<ValueKey> keys;
        };
        std::vector<Entry> entries;
        const ULONG count = source_->Count();
        std::vector<ULONG> selected;
        const bool bySource = restriction_ && source_->Select(*restriction_, &selected) == S_OK;
        auto add = [&](ULONG i, RowAccessor* row) {
            Entry e{i, {}};
            e.keys.reserve(sorts_.size());
            for (const SSortOrder& s : sorts_)
                e.keys.push_back(MakeKey(row ? row->GetById(PROP_ID(s.ulPropTag)) : nullptr));
            entries.push_back(std::move(e));
        };
        if (bySource) {
            for (ULONG i : selected) {
                if (i >= count) break;
                // Rows are read again only for their sort keys.
                std::unique_ptr<RowAccessor> row = sorts_.empty() ? nullptr : source_->Row(i);
                add(i, row.get());
            }
        } else {
            for (ULONG i = 0; i < count; ++i) {
                std::unique_ptr<RowAccessor> row = source_->Row(i);
                if (restriction_ && (row == nullptr || !EvaluateRestriction(*restriction_, *row)))
                    continue;
                add(i, row.get());
            }
        }
        if (!sorts_.empty()) {
            std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
                for (size_t k = 0; k < sorts_.size(); ++k) {
                    int c = CompareKeys(a.keys[k], b.keys[k]);
                    if (sorts_[k].ulOrder == TABLE_SORT_DESCEND) c = -c;
                    if (c != 0) return c < 0;
                }
                return false;
            });
        }
        view_.clear();
        view_.reserve(entries.size());
        for (const Entry& e : entries) view_.push_back(e.index);
        viewBuilt_ = true;
        return S_OK;
    }

    // One row's values in the current columns, in a MAPI chain of its own.
    // A source that shrank since the view was built yields rows of errors
    // rather than reads past its end.
    HRESULT ReadRow(ULONG index, ULONG sourceCount, SRow* out) {
        auto props = AllocateMapi<SPropValue>(
            static_cast<ULONG>(std::max<size_t>(columns_.size(), 1) * sizeof(SPropValue)));
        if (!props) return MAPI_E_NOT_ENOUGH_MEMORY;
        std::unique_ptr<RowAccessor> row = index < sourceCount ? source_->Row(index) : nullptr;
        for (size_t c = 0; c < columns_.size(); ++c) {
            const ULONG tag = columns_[c];
            SPropValue& v = props.get()[c];
            const SPropValue* native = row ? row->GetById(PROP_ID(tag)) : nullptr;
            if (native == nullptr && PROP_ID(tag) == PROP_ID(PR_INSTANCE_KEY)) {
                HRESULT hr = InstanceKey(index, props.get(), &v);
                if (hr != S_OK) return hr;
            } else if (native == nullptr) {
                v = ErrorValue(tag, row ? MAPI_E_NOT_FOUND : MAPI_E_CORRUPT_DATA);
            } else {
                HRESULT hr = ConvertValue(*native, PROP_TYPE(tag), props.get(), &v);
                if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return hr;
            }
        }
        out->ulAdrEntryPad = 0;
        out->cValues = static_cast<ULONG>(columns_.size());
        out->lpProps = props.release();
        return S_OK;
    }

    // A row that does not name itself is told apart by its place in the source.
    static HRESULT InstanceKey(ULONG index, void* parent, SPropValue* v) {
        void* p = nullptr;
        HRESULT hr = MAPIAllocateMore(sizeof(ULONG), parent, &p);
        if (hr != S_OK) return hr;
        std::memcpy(p, &index, sizeof(ULONG));
        v->ulPropTag = PR_INSTANCE_KEY;
        v->dwAlignPad = 0;
        v->Value.bin.cb = sizeof(ULONG);
        v->Value.bin.lpb = static_cast<LPBYTE>(p);
        return S_OK;
    }

    std::mutex mu_;
    std::shared_ptr<RowSource> source_;
    std::vector<ULONG> columns_;
    MapiBuffer<SRestriction> restriction_;
    std::vector<SSortOrder> sorts_;
    std::vector<ULONG> view_;
    bool viewBuilt_ = false;
    ULONG position_ = 0;
};

}  // namespace

HRESULT CreateTable(std::shared_ptr<RowSource> source, const SPropTagArray* defaultColumns,
                    IMAPITable** table) {
    if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    if (source == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::vector<ULONG> columns;
    if (defaultColumns != nullptr)
        columns.assign(defaultColumns->aulPropTag,
                       defaultColumns->aulPropTag + defaultColumns->cValues);
    *table = new (std::nothrow) Table(std::move(source), std::move(columns));
    return *table != nullptr ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

}  // namespace mapi
