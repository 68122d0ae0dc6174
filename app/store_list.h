// What the main dialog shows about each store of the profile: its kind,
// its file, and whether it can be a source or a target at all.
#pragma once

#include <string>
#include <vector>

#include <MapiWrapper.h>
#include <runtime/profile.h>

enum class StoreState {
    Usable,    // opened, and it takes new folders and items
    ReadOnly,  // opened, but only for reading: never offered as a target
    Missing,   // its file is gone; the session left it out
    Unusable,  // its file is there but could not be opened; the session left it out
};

struct StoreListEntry {
    std::string name;  // display name, as the copy run looks it up
    std::string kind;  // the provider's display name ("Personal Folders (libpff)")
    std::string path;  // the store's file as the profile names it
    StoreState state = StoreState::Usable;
    std::string reason;  // why a store is missing or unusable
};

// Pairs the profile's entries with the stores the session opened (in profile
// order, those that opened) and with the logon's warnings (one per store left
// out, naming it as `store "NAME" (PATH)`). Opens each session store to read
// PR_STORE_SUPPORT_MASK. A store of the session that no profile entry
// explains is still listed, without a path. Throws CMAPIException when the
// session's store table cannot be read.
std::vector<StoreListEntry> ListStores(CMapiSession& session, const mapi::Profile& profile,
                                       const std::vector<std::string>& logonWarnings);

// True when the store takes changes: STORE_MODIFY_OK set and STORE_READONLY
// clear in PR_STORE_SUPPORT_MASK. A store that does not report the mask is
// taken at its word of nothing and treated as read-only.
bool StoreIsWritable(const IMsgStorePtr& store);
