// The platform's one restriction evaluator. Every provider's tables use it,
// so a query selects the same items whatever store it runs on.
//
// Semantics where published MAPI leaves a choice open:
//  - a property, content, compare-props, bit-mask or size test on a missing
//    property is false; RES_NOT inverts that;
//  - numbers compare signed, PT_SYSTIME as unsigned 64-bit, strings without
//    regard to case (simple case folding), binary bytewise with the shorter
//    first on a common prefix; a multi-valued property matches when any value
//    does;
//  - RES_CONTENT: FL_FULLSTRING/FL_SUBSTRING/FL_PREFIX, case-insensitive with
//    FL_IGNORECASE or FL_LOOSE, FL_IGNORENONSPACE drops non-spacing marks;
//  - RES_SIZE counts bytes as MAPI does; RES_COMMENT is true;
//  - RES_SUBRESTRICTION is true when any recipient/attachment row matches.
#pragma once

#include <mapidefs.h>

#include "row_access.h"

namespace mapi {

// S_OK when every node of the tree can be evaluated; MAPI_E_TOO_COMPLEX for a
// comparison of types that cannot be compared, MAPI_E_INVALID_PARAMETER for a
// malformed tree (null where a node or value is required, unknown kind).
HRESULT ValidateRestriction(const SRestriction* restriction);

// True when row satisfies restriction. Call only with a validated tree.
bool EvaluateRestriction(const SRestriction& restriction, RowAccessor& row);

}  // namespace mapi
