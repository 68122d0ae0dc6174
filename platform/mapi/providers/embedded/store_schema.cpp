// Creating and checking the tables of an embedded store file.
#include "store_schema.h"

#include <cstring>
#include <fstream>

#include <mapitags.h>

#include "message_recipients.h"
#include "packed_props.h"
#include "runtime/prop_convert.h"
#include "store_core.h"

namespace mapi::embedded {
namespace {

// objects: every folder, message and attachment. parent is the folder of a
// folder or message, the attachment of an embedded message, the message of
// an attachment. The columns besides id/kind/parent are what tables show
// without reading properties. recipients (messages): the whole recipient
// table (message_recipients.h), recipient_bytes the sum of its values'
// sizes, which PR_MESSAGE_SIZE adds to value_bytes. Up to format 3 each
// recipient was an object row of kind 5 below its message.
// packed (objects): every property's id, type and size, with the small
// values themselves (packed_props.h); value_bytes is the sum of the sizes.
// props: one row per large value (bodies, attachment data, anything past
// the lazy threshold), which tables and GetPropList never read. Its rowid is
// LargeValueKey(obj, pid), so a value is found, and a message's are written,
// without a second b-tree to keep: a key of (obj, pid) columns (a WITHOUT
// ROWID table) would instead make every comparison during a search read a
// large value's overflow pages whole, and one damaged value would break
// lookups of its neighbours too. obj and pid repeat the key for people
// reading the file.
constexpr const char* kSchemaSql = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB);
CREATE TABLE objects(
  id INTEGER PRIMARY KEY,
  kind INTEGER NOT NULL,
  parent INTEGER NOT NULL DEFAULT 0,
  assoc INTEGER NOT NULL DEFAULT 0,
  num INTEGER NOT NULL DEFAULT 0,
  name_key TEXT,
  folder_type INTEGER NOT NULL DEFAULT 0,
  msg_flags INTEGER NOT NULL DEFAULT 0,
  size INTEGER NOT NULL DEFAULT 0,
  has_attach INTEGER NOT NULL DEFAULT 0,
  packed BLOB,
  value_bytes INTEGER NOT NULL DEFAULT 0,
  recipients BLOB,
  recipient_bytes INTEGER NOT NULL DEFAULT 0);
CREATE INDEX objects_by_parent ON objects(parent, kind, assoc);
CREATE TABLE props(
  id INTEGER PRIMARY KEY,
  obj INTEGER NOT NULL,
  pid INTEGER NOT NULL,
  type INTEGER NOT NULL,
  lazy INTEGER NOT NULL,
  value BLOB NOT NULL);
CREATE TABLE named_props(
  id INTEGER PRIMARY KEY,
  guid BLOB NOT NULL,
  kind INTEGER NOT NULL,
  lid INTEGER NOT NULL,
  name TEXT NOT NULL,
  UNIQUE(guid, kind, lid, name));
CREATE TABLE receive_folders(
  class TEXT PRIMARY KEY COLLATE NOCASE,
  folder INTEGER NOT NULL);
)sql";

}  // namespace

bool FileLooksLikeStore(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[100];
    if (!in.read(header, sizeof header)) return false;
    if (std::memcmp(header, "SQLite format 3", 16) != 0) return false;
    auto b = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(header[i])); };
    uint32_t appId = (b(68) << 24) | (b(69) << 16) | (b(70) << 8) | b(71);
    return appId == static_cast<uint32_t>(kApplicationId);
}

int CreateSchema(Db& db) {
    int rc = db.Exec(kSchemaSql);
    if (rc != SQLITE_OK) return rc;
    std::string pragmas = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                          "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    return db.Exec(pragmas.c_str());
}

int64_t SchemaVersion(Db& db) {
    Stmt version(db, "PRAGMA user_version");
    return version.Step() == SQLITE_ROW ? version.Int(0) : -1;
}

namespace {

// Folder names are compared by their folded form, which version 1 made
// with tables of its own that missed whole scripts; a name it left unfolded
// would never be found again by the current folding.
int RefoldFolderNames(Db& db) {
    Stmt read(db, "SELECT id, packed FROM objects WHERE kind=2");
    Stmt write(db, "UPDATE objects SET name_key=?2 WHERE id=?1");
    int rc;
    while ((rc = read.Step()) == SQLITE_ROW) {
        PackedDir dir;
        if (FAILED(Unpack(read.Blob(1), &dir))) continue;
        auto name = dir.find(PROP_ID(PR_DISPLAY_NAME));
        if (name == dir.end() || name->second.outside) continue;
        std::string utf8 = name->second.bytes;
        if (name->second.type == PT_UNICODE) {
            std::u16string units(utf8.size() / 2, u'\0');
            std::memcpy(units.data(), utf8.data(), units.size() * 2);
            utf8 = Utf16ToUtf8(units);
        } else if (name->second.type != PT_STRING8) {
            continue;
        }
        write.Reset();
        write.Bind(1, read.Int(0)).Bind(2, FoldName(utf8));
        if ((rc = write.Run()) != SQLITE_DONE) return rc;
    }
    return rc;
}

// Version 1 kept every value in the props table, one row each.
int UpgradeFrom1(Db& db) {
    int rc = db.Exec(
        "ALTER TABLE objects ADD COLUMN packed BLOB; "
        "ALTER TABLE objects ADD COLUMN value_bytes INTEGER NOT NULL DEFAULT 0;");
    if (rc != SQLITE_OK) return rc;
    Stmt read(db,
              "SELECT obj, pid, type, lazy, CASE WHEN lazy=0 THEN value END, length(value) "
              "FROM props ORDER BY obj, pid");
    Stmt write(db, "UPDATE objects SET packed=?2, value_bytes=?3 WHERE id=?1");
    int64_t current = 0;
    bool damaged = false;
    PackedDir dir;
    auto flush = [&]() {
        if (current == 0) return SQLITE_DONE;
        // An id or type no directory entry can hold was damage already; the
        // object keeps failing to read instead of losing that value.
        std::string packed = damaged ? std::string(1, '\xFF') : Pack(dir);
        write.Reset();
        write.Bind(1, current).BindBlob(2, packed.data(), packed.size());
        write.Bind(3, static_cast<int64_t>(ValueBytes(dir)));
        return write.Run();
    };
    while ((rc = read.Step()) == SQLITE_ROW) {
        if (read.Int(0) != current) {
            if ((rc = flush()) != SQLITE_DONE) return rc;
            current = read.Int(0);
            dir.clear();
            damaged = false;
        }
        int64_t pid = read.Int(1);
        int64_t type = read.Int(2);
        if (pid < 0 || pid > 0xFFFFFFFFLL || type < 0 || type > 0xFFFFFFFFLL) {
            damaged = true;
            continue;
        }
        PackedValue& v = dir[static_cast<ULONG>(pid)];
        v.type = static_cast<ULONG>(type);
        v.outside = read.Int(3) != 0;
        v.size = static_cast<uint32_t>(read.Int(5));
        if (!v.outside) v.bytes.assign(read.Blob(4));
    }
    if (rc != SQLITE_DONE) return rc;
    if ((rc = flush()) != SQLITE_DONE) return rc;
    if ((rc = RefoldFolderNames(db)) != SQLITE_DONE) return rc;
    return db.Exec("DELETE FROM props WHERE lazy=0; PRAGMA user_version=2;");
}

// Version 2 found large values through an index on (obj, pid); they are
// now keyed by LargeValueKey. A row whose ids no key can hold was damage
// already: its object lists the value and keeps failing to read it.
int UpgradeFrom2(Db& db) {
    return db.Exec(
        "CREATE TABLE props_keyed(id INTEGER PRIMARY KEY, obj INTEGER NOT NULL, "
        "pid INTEGER NOT NULL, type INTEGER NOT NULL, lazy INTEGER NOT NULL, "
        "value BLOB NOT NULL); "
        "INSERT INTO props_keyed(id, obj, pid, type, lazy, value) "
        "SELECT obj * 65536 + pid, obj, pid, type, lazy, value FROM props "
        "WHERE pid BETWEEN 0 AND 65535 AND obj BETWEEN 1 AND 140737488355327 ORDER BY obj, pid; "
        "DROP TABLE props; "
        "ALTER TABLE props_keyed RENAME TO props; "
        "PRAGMA user_version=3;");
}

// Version 3 kept each recipient as an object row below its message, with
// its large values in the props table like any object's. Each message's
// recipients, in their table order, become its recipient column. A
// recipient whose directory or large value cannot be read was damage
// already: its message's table keeps failing to read rather than showing
// the others as if they were all.
int UpgradeFrom3(Db& db) {
    int rc = db.Exec(
        "ALTER TABLE objects ADD COLUMN recipients BLOB; "
        "ALTER TABLE objects ADD COLUMN recipient_bytes INTEGER NOT NULL DEFAULT 0;");
    if (rc != SQLITE_OK) return rc;
    Stmt read(db,
              "SELECT parent, num, packed, id FROM objects WHERE kind=5 "
              "ORDER BY parent, assoc, id");
    Stmt large(db, "SELECT type, value FROM props WHERE id=?1");
    Stmt write(db, "UPDATE objects SET recipients=?2, recipient_bytes=?3 WHERE id=?1");
    int64_t message = 0;
    bool damaged = false;
    std::vector<RecipientRow> rows;
    auto flush = [&]() {
        if (message == 0) return SQLITE_DONE;
        uint64_t bytes = 0;
        std::string blob = damaged ? std::string(1, '\xFF') : PackRecipients(rows, &bytes);
        write.Reset();
        write.Bind(1, message).BindBlob(2, blob.data(), blob.size());
        write.Bind(3, static_cast<int64_t>(bytes));
        return write.Run();
    };
    while ((rc = read.Step()) == SQLITE_ROW) {
        if (read.Int(0) != message) {
            if ((rc = flush()) != SQLITE_DONE) return rc;
            message = read.Int(0);
            rows.clear();
            damaged = false;
        }
        PackedDir dir;
        if (FAILED(Unpack(read.Blob(2), &dir))) {
            damaged = true;
            continue;
        }
        RecipientRow row;
        row.rowId = static_cast<ULONG>(read.Int(1));
        for (auto& [pid, v] : dir) {
            if (!v.outside) {
                row.props[pid] = EncodedProp{v.type, std::move(v.bytes)};
                continue;
            }
            large.Reset();
            large.Bind(1, LargeValueKey(read.Int(3), pid));
            if (large.Step() != SQLITE_ROW) {
                damaged = true;
                break;
            }
            row.props[pid] =
                EncodedProp{static_cast<ULONG>(large.Int(0)), std::string(large.Blob(1))};
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) return rc;
    if ((rc = flush()) != SQLITE_DONE) return rc;
    read.Reset();
    large.Reset();
    return db.Exec(
        "DELETE FROM props WHERE obj IN (SELECT id FROM objects WHERE kind=5); "
        "DELETE FROM objects WHERE kind=5; "
        "PRAGMA user_version=4;");
}

}  // namespace

HRESULT UpgradeSchema(Db& db, std::string* error) {
    int64_t version = SchemaVersion(db);
    if (version == kSchemaVersion) return S_OK;
    Transaction tx(db);
    int rc = tx.BeginCode();
    if (rc == SQLITE_OK && version == 1) {
        rc = UpgradeFrom1(db);
        version = 2;
    }
    if (rc == SQLITE_OK && version == 2) {
        rc = UpgradeFrom2(db);
        version = 3;
    }
    if (rc == SQLITE_OK && version == 3) rc = UpgradeFrom3(db);
    if (rc == SQLITE_OK) rc = tx.Commit();
    if (rc != SQLITE_OK) {
        *error =
            "The store file cannot be brought up to the current format (" + db.LastError() + ").";
        return HrFromSqlite(rc) == S_OK ? MAPI_E_CALL_FAILED : HrFromSqlite(rc);
    }
    return S_OK;
}

HRESULT CheckSchema(Db& db, const std::string& path, std::string* error) {
    Stmt app(db, "PRAGMA application_id");
    int rc = app.Step();
    if (rc != SQLITE_ROW) {
        HRESULT hr = HrFromSqlite(rc);
        if (hr == MAPI_E_BUSY) {
            *error = "The store file " + path + " is locked by another program.";
            return MAPI_E_BUSY;
        }
        *error = "The file " + path + " is not a message store (" + db.LastError() + ").";
        return hr == MAPI_E_NO_ACCESS ? hr : MAPI_E_CORRUPT_STORE;
    }
    if (app.Int(0) != kApplicationId) {
        *error = "The file " + path + " is not a message store of this program.";
        return MAPI_E_CORRUPT_STORE;
    }
    Stmt version(db, "PRAGMA user_version");
    if (version.Step() != SQLITE_ROW) {
        *error = "The store file " + path + " cannot be read (" + db.LastError() + ").";
        return MAPI_E_CORRUPT_STORE;
    }
    int64_t v = version.Int(0);
    if (v > kSchemaVersion) {
        *error = "The store file " + path + " was written by a newer version of this program " +
                 "(store format " + std::to_string(v) + ", this version reads up to " +
                 std::to_string(kSchemaVersion) + ").";
        return MAPI_E_VERSION;
    }
    if (v < 1) {
        *error = "The store file " + path + " has no valid format version.";
        return MAPI_E_CORRUPT_STORE;
    }
    Stmt tables(db,
                "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                "('meta','objects','props','named_props','receive_folders')");
    if (tables.Step() != SQLITE_ROW || tables.Int(0) != 5) {
        *error = "The store file " + path + " is damaged: its tables are missing.";
        return MAPI_E_CORRUPT_STORE;
    }
    return S_OK;
}

}  // namespace mapi::embedded
