// The checked store over any source of bytes: what the "pst-checked"
// provider opens for a file, for callers that read the file another way
// (a test's disk whose reads fail over a range).
#pragma once

#include <memory>
#include <string>

#include <mapidefs.h>

#include "providers/pst/format/chk_bytes.h"
#include "runtime/provider.h"

namespace mapi {

// entry names the store (its display name; its path keys the store's id
// when the file's own is lost). On failure null with the reason in *error.
HRESULT OpenCheckedStore(std::unique_ptr<pst::fmt::ByteSource> bytes, const ProfileEntry& entry, IMsgStore** store,
                         std::string* error);

}  // namespace mapi
