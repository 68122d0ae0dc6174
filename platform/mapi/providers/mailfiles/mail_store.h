// The IMsgStore of a mail file store.
#pragma once

#include <memory>

#include <mapidefs.h>

#include "providers/mailfiles/store_core.h"

namespace mapi::mailfiles {

// A new store object with one reference, over core.
HRESULT CreateStoreObject(std::shared_ptr<StoreCore> core, IMsgStore** store);

}  // namespace mapi::mailfiles
