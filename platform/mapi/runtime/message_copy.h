// The provider-independent message copy behind every IMAPIFolder::CopyMessages.
//
// A message is copied whole: every property but the store-internal ones,
// the recipient table, every attachment with its data, embedded messages
// recursively. Named properties are remapped by name into the target
// store's map (created there when missing).
#pragma once

#include <string>

#include <mapidefs.h>

namespace mapi {

// Copies the contents of src into dst, a new unsaved message; does not call
// dst->SaveChanges. Fails with the first code that prevents a faithful copy
// (MAPI_E_CORRUPT_DATA when src is damaged); then dst must be discarded.
HRESULT CopyMessageContents(IMessage* src, IMessage* dst);

// CopyMessages for any pair of folders: for each entry of list, opens it in
// source, creates a new message in dest, copies it and saves it (one commit
// per message), and with MESSAGE_MOVE deletes the source message afterwards.
// A copy (not a move) carries its provenance (see provenance.h).
// Returns S_OK when all were copied, MAPI_W_PARTIAL_COMPLETION when some
// failed and others succeeded, or the failing code of a one-entry list.
// *why (when given) gets the words the object whose call failed first gave
// for it through GetLastError (a server's answer to a refused message), or
// stays empty; the source folder keeps them as its own last error.
HRESULT CopyMessagesBetweenFolders(IMAPIFolder* source, LPENTRYLIST list, IMAPIFolder* dest,
                                   ULONG flags, std::string* why = nullptr);

// The text object->GetLastError gives for hr; empty when it gives none.
std::string LastErrorText(IMAPIProp* object, HRESULT hr);

// The words for hr, a failure of source->CopyMessages: what source's
// GetLastError gives, else what the last CopyMessagesBetweenFolders out of
// source on this thread found (for folders whose GetLastError knows
// nothing of the copy). Empty when there are none.
std::string CopyFailureText(IMAPIFolder* source, HRESULT hr);

// True for properties tied to the store an object lives in, which a copy
// leaves out and the target assigns anew (entry ids, record and search keys
// of the source store, parent and store ids, PR_MESSAGE_SIZE, ...).
bool IsStoreInternalProperty(ULONG tag);

}  // namespace mapi
