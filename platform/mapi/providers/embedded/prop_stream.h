// An IStream over one property value, as OpenProperty hands it out.
//
// The stream holds the whole value in memory. A writable stream hands its
// bytes to the commit callback on Commit, and on its last Release when it was
// written after the last Commit, so a value written and dropped is not lost.
// The callback keeps whatever object it needs alive (it holds a reference).
#pragma once

#include <functional>
#include <string>

#include <mapidefs.h>

namespace mapi::embedded {

using StreamCommit = std::function<HRESULT(const std::string& bytes)>;

// A new stream with one reference. commit is empty for a read-only stream,
// whose Write answers STG_E_ACCESSDENIED.
IStream* NewPropStream(std::string bytes, StreamCommit commit);

}  // namespace mapi::embedded
