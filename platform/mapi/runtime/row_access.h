// How tables and the restriction evaluator see one row or object.
//
// Providers keep values in full fidelity (a PT_UNICODE property stays UTF-16)
// and hand them out natively; ConvertValue in prop_convert.h gives any other
// requested form. A row is read lazily: a table asks only for the columns and
// restriction properties it needs, so bodies and attachment data stay on disk
// unless asked for.
#pragma once

#include <memory>
#include <vector>

#include <mapidefs.h>

namespace mapi {

class RowAccessor {
public:
    virtual ~RowAccessor() = default;

    // The stored value with this property id in its native type, or null when
    // the row lacks it. A value that exists but cannot be read (damage) comes
    // back as PT_ERROR with its code. The pointer stays valid as long as the
    // accessor.
    virtual const SPropValue* GetById(ULONG propId) = 0;

    // The rows of a sub-object table, for RES_SUBRESTRICTION: subObject is
    // PR_MESSAGE_RECIPIENTS or PR_MESSAGE_ATTACHMENTS. MAPI_E_NO_SUPPORT when
    // the row has no such table (folders, stores).
    virtual HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) {
        (void)subObject;
        rows->clear();
        return MAPI_E_NO_SUPPORT;
    }
};

// The rows behind one table, in their natural order.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual ULONG Count() = 0;
    // Accessor for row index (0 <= index < Count()). A row that cannot be
    // opened at all still yields an accessor (its values come back as PT_ERROR),
    // so no row silently disappears from a table.
    virtual std::unique_ptr<RowAccessor> Row(ULONG index) = 0;

    // The indexes, ascending, of the rows that satisfy restriction (a
    // validated tree), as EvaluateRestriction would judge each of Row(i) -
    // a source that can read many rows at once answers without making one
    // accessor per row by itself. MAPI_E_NO_SUPPORT: the table evaluates
    // row by row.
    virtual HRESULT Select(const SRestriction& restriction, std::vector<ULONG>* matches) {
        (void)restriction;
        matches->clear();
        return MAPI_E_NO_SUPPORT;
    }

    // Every property tag some row holds, in native types, for
    // QueryColumns(TBL_ALL_COLUMNS). MAPI_E_NO_SUPPORT when the source cannot
    // tell without reading each row (the table then refuses that flag).
    virtual HRESULT AllColumns(std::vector<ULONG>* tags) {
        tags->clear();
        return MAPI_E_NO_SUPPORT;
    }
};

}  // namespace mapi
