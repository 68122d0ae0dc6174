// The database layout of an embedded store file and its version checks.
//
// A store file is a SQLite database whose application_id is kApplicationId
// and whose user_version is the schema version it was written with. Files of
// a newer schema are refused rather than guessed at.
#pragma once

#include <string>

#include <mapidefs.h>

#include "sqlite_db.h"

namespace mapi::embedded {

inline constexpr int32_t kApplicationId = 0x51524E4C;  // "QRNL"
inline constexpr int kSchemaVersion = 4;

// The key of a large value in the props table: one range of 65,536 keys per
// object, so finding a value or all of an object's needs no index of its own.
inline constexpr ULONG kLastPropId = 0xFFFF;
constexpr int64_t LargeValueKey(int64_t obj, ULONG propId) {
    return obj * 65536 + static_cast<int64_t>(propId);
}

// Row ids of the objects every store is created with. They are fixed so that
// a store can find its root without a lookup.
inline constexpr int64_t kStoreObjectId = 1;
inline constexpr int64_t kRootFolderId = 2;

// True when the first bytes of the file at path are a SQLite header carrying
// our application id. Reads only the header; never opens the database.
bool FileLooksLikeStore(const std::string& path);

// Creates the tables of schema kSchemaVersion in an empty database (inside the
// caller's transaction) and sets application_id and user_version.
int CreateSchema(Db& db);

// Brings a database of an older schema (the caller has checked it is one of
// ours) up to kSchemaVersion, in one transaction. S_OK when it is current.
HRESULT UpgradeSchema(Db& db, std::string* error);

// The schema version of an opened store database, or -1 when unreadable.
int64_t SchemaVersion(Db& db);

// Checks an opened database before anything else touches it: MAPI_E_CORRUPT_STORE
// when it is not a store file (or not a database at all), MAPI_E_VERSION for a
// newer schema, MAPI_E_BUSY when locked. *error says which, for the user.
// An older schema passes; UpgradeSchema brings it up to date.
HRESULT CheckSchema(Db& db, const std::string& path, std::string* error);

}  // namespace mapi::embedded
