// Making personal folder files with our own writer (format/): a new, empty
// Unicode store, and a store model written out whole.
#pragma once

#include <string>

#include "providers/pst/format/msg_store.h"

namespace mapi::pst {

// A fresh store identity: random, as each store's record key must differ.
fmt::StoreUid NewStoreUid();

// Writes model to path (which must not exist yet, or is replaced whole).
// False with a reason for the user in *error.
bool WriteStoreFile(const std::string& path, const fmt::StoreModel& model, std::string* error);

// A new, empty store at path with the folders every file has.
bool CreateEmptyStoreFile(const std::string& path, const std::string& displayName, std::string* error);

}  // namespace mapi::pst
