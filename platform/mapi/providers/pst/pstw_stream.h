// A writable IStream over bytes in memory, for OpenProperty with
// MAPI_CREATE/MAPI_MODIFY on objects of a writable personal folder file.
// Commit (and a last Release without Commit, as MAPI clients expect) hands
// the bytes to the owner's callback; the callback keeps the owner alive.
#pragma once

#include <functional>
#include <vector>

#include <mapidefs.h>

namespace mapi::pst {

using StreamCommit = std::function<HRESULT(const std::vector<BYTE>&)>;

// A new stream with one reference holding initial, positioned at 0.
HRESULT CreateWritableStream(std::vector<BYTE> initial, StreamCommit commit, IStream** stream);

}  // namespace mapi::pst
