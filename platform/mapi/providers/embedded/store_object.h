// IMsgStore of the embedded store.
#pragma once

#include <memory>

#include <mapidefs.h>

#include "store_core.h"

namespace mapi::embedded {

// A new store object with one reference over core.
HRESULT NewStoreObject(std::shared_ptr<StoreCore> core, const MAPIUID& providerUid,
                       IMsgStore** out);

}  // namespace mapi::embedded
