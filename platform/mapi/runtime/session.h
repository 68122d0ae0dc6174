// The session behind MAPILogonEx: the message stores of one profile, opened
// at logon, and the routing of entry identifiers to them.
//
// Thread safety: a session may be used from several threads; its list of
// stores is guarded, and calls into a store happen outside that guard (the
// store's provider decides its own threading).
#pragma once

#include <string>
#include <vector>

#include <mapix.h>

#include "profile.h"

namespace mapi {

// Opens every store of profile through its provider and returns a session
// holding those that opened (one reference to *session). A store that
// fails to open is left out and its reason appended to *warnings, naming
// the store. Fails only for lack of memory.
//
// Every store reads as itself: entries that lead to one file (the same
// path, a link, a second hard link) share one opened store, so their
// PR_ENTRYIDs in the store table are equal and compare equal; a store whose
// file carries the MAPIUID of a store opened before it (a copied file) is
// opened under a routing MAPIUID derived from its own and its file's place
// (StoreProvider::OpenStoreAs), or left out when its provider cannot do
// that. Which of two such stores keeps the MAPIUID of its file follows the
// order of the profile.
HRESULT OpenSession(const Profile& profile, IMAPISession** session,
                    std::vector<std::string>* warnings);

// Where the data of the store with entry id entryId (or of any object in it)
// lives, as its provider's StoreProvider::WriterLocation names it.
// MAPI_E_NO_SUPPORT for a session this platform did not open;
// MAPI_E_NOT_FOUND when no store of the session has the id.
HRESULT StoreWriterLocation(IMAPISession* session, ULONG cb, const BYTE* entryId,
                            std::string* location);

// Why stores of the last MAPILogonEx on this thread were left out of its
// session (one line per store; empty when all opened or logon failed).
const std::vector<std::string>& LastLogonWarnings();

}  // namespace mapi
