// Entry point of the personal folder file provider (.pst and .ost, read-only).
#pragma once

namespace mapi {

class StoreProvider;

// The one provider object for personal folder files; it lives as long as the
// program and may be used from any thread.
StoreProvider* PstStoreProvider();

}  // namespace mapi
