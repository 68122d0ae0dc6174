// The published MAPI utility functions (mapiutil.h) over this platform's
// allocator and interfaces.
#include <mapiutil.h>

#include "mapi_ptr.h"
#include "prop_convert.h"

using mapi::MapiBuffer;

void FreeProws(LPSRowSet lpRows) {
    if (lpRows == nullptr) return;
    for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    MAPIFreeBuffer(lpRows);
}

void FreePadrlist(LPADRLIST lpAdrlist) {
    if (lpAdrlist == nullptr) return;
    for (ULONG i = 0; i < lpAdrlist->cEntries; ++i)
        MAPIFreeBuffer(lpAdrlist->aEntries[i].rgPropVals);
    MAPIFreeBuffer(lpAdrlist);
}

LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    if (lpPropArray == nullptr) return nullptr;
    const bool anyType = PROP_TYPE(ulPropTag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < cValues; ++i) {
        const ULONG tag = lpPropArray[i].ulPropTag;
        if (tag == ulPropTag || (anyType && PROP_ID(tag) == PROP_ID(ulPropTag)))
            return &lpPropArray[i];
    }
    return nullptr;
}

SCODE PropCopyMore(LPSPropValue lpSPropValueDest, LPSPropValue lpSPropValueSrc,
                   ALLOCATEMORE* lpfAllocMore, LPVOID lpvObject) {
    if (lpSPropValueDest == nullptr || lpSPropValueSrc == nullptr) return MAPI_E_INVALID_PARAMETER;
    return mapi::CopyValueWith(lpfAllocMore, lpvObject, *lpSPropValueSrc, lpSPropValueDest);
}

SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray) {
    if (lppPropArray == nullptr || cValues < 0 || (cValues > 0 && lpPropArray == nullptr) ||
        lpAllocateBuffer == nullptr)
        return MAPI_E_INVALID_PARAMETER;
    *lppPropArray = nullptr;
    // Chained data needs the head from the MAPI allocator itself.
    if (lpAllocateBuffer != MAPIAllocateBuffer) return MAPI_E_NO_SUPPORT;
    auto copy = mapi::AllocateMapi<SPropValue>(static_cast<ULONG>(std::max(cValues, 1)) *
                                               sizeof(SPropValue));
    if (!copy) return MAPI_E_NOT_ENOUGH_MEMORY;
    for (int i = 0; i < cValues; ++i) {
        SCODE sc =
            mapi::CopyValueWith(MAPIAllocateMore, copy.get(), lpPropArray[i], &copy.get()[i]);
        if (sc != S_OK) return sc;
    }
    *lppPropArray = copy.release();
    return S_OK;
}

HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
    if (lpMapiProp == nullptr || lppProp == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppProp = nullptr;
    SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw);
    MapiBuffer<SPropValue> values(raw);
    if (FAILED(hr)) return hr;
    if (!values || count != 1) return MAPI_E_CALL_FAILED;
    if (PROP_TYPE(values->ulPropTag) == PT_ERROR) {
        const SCODE code = values->Value.err;
        return FAILED(code) ? code : MAPI_E_NOT_FOUND;
    }
    *lppProp = values.release();
    return S_OK;
}

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
    if (lpMapiProp == nullptr || lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
    LPSPropProblemArray raw = nullptr;
    HRESULT hr = lpMapiProp->SetProps(1, lpProp, &raw);
    MapiBuffer<SPropProblemArray> problems(raw);
    if (FAILED(hr)) return hr;
    if (problems && problems->cProblem > 0) return problems->aProblem[0].scode;
    return S_OK;
}

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows) {
    if (lpTable == nullptr || lppRows == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    HRESULT hr = S_OK;
    if (lpPropTags != nullptr && FAILED(hr = lpTable->SetColumns(lpPropTags, TBL_BATCH))) return hr;
    if (lpRestriction != nullptr && FAILED(hr = lpTable->Restrict(lpRestriction, TBL_BATCH)))
        return hr;
    if (lpSortOrderSet != nullptr && FAILED(hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH)))
        return hr;
    if (FAILED(hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) return hr;
    ULONG count = 0;
    if (FAILED(hr = lpTable->GetRowCount(0, &count))) return hr;
    if (crowsMax > 0 && count > static_cast<ULONG>(crowsMax)) return MAPI_E_TABLE_TOO_BIG;
    LPSRowSet rows = nullptr;
    hr = lpTable->QueryRows(static_cast<LONG>(std::min<ULONG>(count, 0x7FFFFFFF)), 0, &rows);
    mapi::RowSetPtr owned(rows);
    if (FAILED(hr)) return hr;
    if (!owned) return MAPI_E_CALL_FAILED;
    *lppRows = owned.release();
    return S_OK;
}
