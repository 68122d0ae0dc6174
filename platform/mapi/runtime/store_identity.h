// What makes a store of the session itself: the file it lives in, and the
// MAPIUID by which the session routes entry identifiers to it.
//
// A store file copied with cp (a backup) or a personal folder file made by
// a program that gives every file the same record key carries the MAPIUID
// of another store. The session then routes such a store by a MAPIUID of
// its own, derived here; two profile entries that lead to one file are one
// store, told apart by FileIdentity.
#pragma once

#include <string>

#include <sys/types.h>

#include <mapidefs.h>

namespace mapi {

// The file behind a path, links followed: equal for two paths to one file.
struct FileIdentity {
    bool known = false;  // false when the path cannot be examined
    dev_t device = 0;
    ino_t inode = 0;

    bool SameFileAs(const FileIdentity& other) const {
        return known && other.known && device == other.device && inode == other.inode;
    }
};

FileIdentity IdentifyFile(const std::string& path);

// The path with links and "." / ".." resolved; path itself when that fails.
std::string CanonicalPath(const std::string& path);

// A routing MAPIUID for a store whose own MAPIUID another store of the
// session already uses. It depends only on the store's own MAPIUID, where
// its file is, and attempt (counted up from 0 until the result is free), so
// the same file at the same place routes the same way in every session and
// its entry identifiers stay valid. It never equals own.
MAPIUID DeriveRoutingUid(const MAPIUID& own, const std::string& canonicalPath, unsigned attempt);

}  // namespace mapi
