// Reading many objects of the embedded store by id with one statement, for
// tables that hand out rows which are not next to each other in the folder
// (the matches of a restriction).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <vector>

#include <mapidefs.h>

#include "store_core.h"

namespace mapi::embedded {

// The object row from the columns kind, parent, assoc, num, name_key,
// folder_type, msg_flags, size and has_attach at 0..8 of a statement's
// current row. MAPI_E_CORRUPT_DATA for a kind no object has.
HRESULT ParseObjectColumns(sqlite3_stmt* q, int64_t id, ObjectRow* out);

// Each object of ids that exists, loaded as StoreCore::LoadObjectWithProps
// would (the directory checked whole), in id order; ids that name no object
// are left out. At most kMaxBatch ids per call.
inline constexpr size_t kMaxBatch = 256;
HRESULT LoadObjects(StoreCore& core, const std::vector<int64_t>& ids,
                    const std::function<void(StoreCore::LoadedObject&)>& each);

}  // namespace mapi::embedded
