// Read options a front end gives the providers of its session. They are
// environment variables, set before logon, so that a provider reads them
// when it opens a store and the processes a run starts (batch lines) see
// them too, while the copy engine between them knows of none.
#pragma once

#include <string>

namespace mapi {

// Comma-separated words naming what a reader that recovers items offers
// beyond its default: "revisions" (older revisions of live items, from
// personal folder files).
constexpr char kRecoverVariable[] = "QUIRNEL_RECOVER";

// True when the session's kRecoverVariable names word.
bool RecoverRequested(const std::string& word);

}  // namespace mapi
