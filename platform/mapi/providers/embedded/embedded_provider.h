// The embedded message store provider: one SQLite file per store.
#pragma once

#include "runtime/provider.h"

namespace mapi {

// The provider instance; it lives as long as the program.
StoreProvider* EmbeddedStoreProvider();

}  // namespace mapi
