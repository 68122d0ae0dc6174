// A read-only IStream over bytes held in memory: what OpenProperty hands
// out for large values of a personal folder file. Writes answer
// STG_E_ACCESSDENIED. Clones share the bytes; each stream has its own
// position and is for one thread at a time.
#pragma once

#include <memory>
#include <vector>

#include <mapidefs.h>

namespace mapi::pst {

// A new stream with one reference, positioned at the start.
HRESULT CreateReadOnlyStream(std::vector<BYTE> bytes, IStream** stream);

}  // namespace mapi::pst
