// Deep copies of restriction trees into MAPI allocation chains, so a table
// can keep a caller's restriction after the caller has freed it.
#pragma once

#include <mapidefs.h>

#include "mapi_ptr.h"

namespace mapi {

// Copies src into *dst, allocating every node array and value with
// MAPIAllocateMore chained to parent. src must be a well-formed tree (see
// ValidateRestriction).
HRESULT CopyRestriction(const SRestriction& src, void* parent, SRestriction* dst);

// A copy of src in a chain of its own.
HRESULT DupRestriction(const SRestriction& src, MapiBuffer<SRestriction>* out);

}  // namespace mapi
