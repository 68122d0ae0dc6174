// IMAPIFolder of the embedded store, and opening any entry of a store.
#pragma once

#include <memory>

#include <mapidefs.h>

#include "store_core.h"

namespace mapi::embedded {

// A folder object with one reference for the folder with this id.
HRESULT OpenFolderObject(std::shared_ptr<StoreCore> core, int64_t id, IMAPIFolder** out);

// OpenEntry of stores and folders: a null identifier opens the root folder;
// folders and messages of this store open by identifier. MAPI_MODIFY on a
// read-only store gives MAPI_E_NO_ACCESS (MAPI_BEST_ACCESS opens read-only).
// Unknown or foreign identifiers give MAPI_E_INVALID_ENTRYID / MAPI_E_NOT_FOUND,
// a damaged object MAPI_E_CORRUPT_DATA.
HRESULT OpenStoreEntry(std::shared_ptr<StoreCore> core, ULONG cbEntryId, LPENTRYID entryId,
                       LPCIID iid, ULONG flags, ULONG* objType, LPUNKNOWN* out);

}  // namespace mapi::embedded
