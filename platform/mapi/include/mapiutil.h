// Published MAPI utility functions.
#pragma once

#include "mapix.h"

// Reads every row of lpTable into one row set (the caller frees it with
// FreeProws). Columns, restriction and sort order are applied first when
// given; with crowsMax > 0 a table of more rows gives MAPI_E_TABLE_TOO_BIG.
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                       LPSRowSet* lppRows);

// One property of an object; MAPI_E_NOT_FOUND when the object lacks it.
// The value is one MAPI buffer, freed with MAPIFreeBuffer.
HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);

// Frees a row set from QueryRows or HrQueryAllRows: each row's values, then
// the set. Null is a no-op.
void FreeProws(LPSRowSet lpRows);
void FreePadrlist(LPADRLIST lpAdrlist);

// The first value in lpPropArray with the given tag (PT_UNSPECIFIED as the
// type matches any type), or null.
LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);

// Deep copy of one value: the copy's data is allocated with lpfAllocMore
// chained to lpvObject, so it is freed with that chain.
typedef SCODE(ALLOCATEBUFFER)(ULONG cbSize, LPVOID* lppBuffer);
typedef SCODE(ALLOCATEMORE)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
typedef ALLOCATEBUFFER* LPALLOCATEBUFFER;
typedef ALLOCATEMORE* LPALLOCATEMORE;
SCODE PropCopyMore(LPSPropValue lpSPropValueDest, LPSPropValue lpSPropValueSrc,
                   ALLOCATEMORE* lpfAllocMore, LPVOID lpvObject);
// Copies cValues values into one new MAPI buffer (head and data in one chain).
SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray);
