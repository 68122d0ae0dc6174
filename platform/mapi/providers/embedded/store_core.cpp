// Objects, properties, named properties and receive folders of one store file.
#include "store_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <mapix.h>

#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"
#include "runtime/utf.h"
#include "packed_props.h"
#include "store_schema.h"

namespace mapi::embedded {
namespace {

constexpr size_t kLazyThreshold = 1024;

EncodedProp UnicodeProp(const std::string& utf8) {
    std::u16string w = Utf8ToUtf16(utf8);
    return EncodedProp{PT_UNICODE,
                       std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2)};
}

EncodedProp LongProp(ULONG v) {
    return EncodedProp{PT_LONG, std::string(reinterpret_cast<const char*>(&v), 4)};
}

EncodedProp BinaryProp(const std::string& bytes) {
    return EncodedProp{PT_BINARY, bytes};
}

// Folders of a new store, in creation order. Parent indexes refer to this list
// (-1: the root itself).
struct SkeletonFolder {
    const char* name;
    int parent;
    ULONG type;
    const char* containerClass;
};
constexpr SkeletonFolder kSkeleton[] = {
    {"", -1, FOLDER_ROOT, nullptr},                           // 0 root
    {"Top of Personal Folders", 0, FOLDER_GENERIC, nullptr},  // 1 IPM subtree
    {"Search Root", 0, FOLDER_GENERIC, nullptr},              // 2 finder
    {"Inbox", 1, FOLDER_GENERIC, "IPF.Note"},                 // 3
    {"Outbox", 1, FOLDER_GENERIC, "IPF.Note"},                // 4
    {"Deleted Items", 1, FOLDER_GENERIC, "IPF.Note"},         // 5
    {"Sent Items", 1, FOLDER_GENERIC, "IPF.Note"},            // 6
};

HRESULT BuildSkeleton(StoreCore& core) {
    std::vector<int64_t> ids;
    for (const SkeletonFolder& f : kSkeleton) {
        ObjectRow row;
        row.kind = ObjectKind::kFolder;
        row.parent = f.parent < 0 ? 0 : ids[f.parent];
        row.folderType = f.type;
        row.nameKey = FoldName(f.name);
        HRESULT hr = core.InsertObject(&row);
        if (FAILED(hr)) return hr;
        ids.push_back(row.id);
        if (FAILED(hr = core.WriteProp(row.id, PROP_ID(PR_DISPLAY_NAME), UnicodeProp(f.name))))
            return hr;
        if (f.containerClass != nullptr &&
            FAILED(hr = core.WriteProp(row.id, PROP_ID(PR_CONTAINER_CLASS),
                                       UnicodeProp(f.containerClass))))
            return hr;
    }
    if (ids[0] != kRootFolderId) return MAPI_E_CALL_FAILED;
    struct {
        ULONG tag;
        int folder;
    } const special[] = {{PR_IPM_SUBTREE_ENTRYID, 1},
                         {PR_FINDER_ENTRYID, 2},
                         {PR_IPM_OUTBOX_ENTRYID, 4},
                         {PR_IPM_WASTEBASKET_ENTRYID, 5},
                         {PR_IPM_SENTMAIL_ENTRYID, 6}};
    for (const auto& s : special) {
        HRESULT hr = core.WriteProp(kStoreObjectId, PROP_ID(s.tag),
                                    BinaryProp(core.EntryId(ObjectKind::kFolder, ids[s.folder])));
        if (FAILED(hr)) return hr;
    }
    HRESULT hr = core.WriteProp(
        kStoreObjectId, PROP_ID(PR_VALID_FOLDER_MASK),
        LongProp(FOLDER_IPM_SUBTREE_VALID | FOLDER_IPM_INBOX_VALID | FOLDER_IPM_OUTBOX_VALID |
                 FOLDER_IPM_WASTEBASKET_VALID | FOLDER_IPM_SENTMAIL_VALID | 0x20 /* finder */));
    if (FAILED(hr)) return hr;
    if (FAILED(hr = core.SetReceiveFolder("", ids[3]))) return hr;
    return core.SetReceiveFolder("IPM", ids[3]);
}

void RemoveStoreFiles(const std::string& path) {
    ::unlink(path.c_str());
    ::unlink((path + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
    ::unlink((path + "-journal").c_str());
}

bool FileIsWritable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    // A file without any write permission bit counts as read-only even for a
    // user (root) whom the system would let write it anyway.
    if ((st.st_mode & 0222) == 0) return false;
    return ::access(path.c_str(), W_OK) == 0;
}

// Writing a store makes its journal files next to it, so a folder nobody may
// write holds stores that can only be read.
bool DirectoryIsWritable(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return FileIsWritable(slash == std::string::npos ? std::string(".")
                                                     : path.substr(0, slash + 1));
}

// SQLite's URI for reading path as a file that cannot change.
std::string ImmutableUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri("file:");
    uri.reserve(path.size() + 32);
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            const char escaped[] = {'%', kHex[static_cast<unsigned char>(c) >> 4],
                                    kHex[static_cast<unsigned char>(c) & 15]};
            uri.append(escaped, sizeof escaped);
        } else {
            uri.push_back(c);
        }
    }
    uri.append("?immutable=1");
    return uri;
}

}  // namespace

bool IsLazyProp(ULONG propId, size_t bytes) {
    // Attachment data is never shown by a table, and reading it with the
    // attachment's row would only slow the attachment table down. A body
    // of a few hundred bytes (most mail) is kept with its message: apart,
    // it cost two more rows and one more page in every message's commit,
    // for little saved in a table scan that reads the row whole anyway.
    if (propId == 0x3701) return true;  // PR_ATTACH_DATA_BIN / PR_ATTACH_DATA_OBJ
    return bytes > kLazyThreshold;
}

std::string FoldName(const std::string& utf8) {
    std::string out;
    for (char32_t cp : CodePointsFromUtf8(utf8)) AppendUtf8(out, FoldCase(cp));
    return out;
}

HRESULT StoreCore::Create(const std::string& path, const std::string& displayName,
                          std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        *error = "The file " + path + " already exists.";
        return MAPI_E_COLLISION;
    }
    // Mail is private: the file is made for its owner alone before SQLite
    // opens it, and SQLite gives its -wal and -shm files the mode of the
    // database file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "The store file " + path + " cannot be created: " + std::strerror(errno) + ".";
        return errno == EEXIST ? MAPI_E_COLLISION : MAPI_E_NO_ACCESS;
    }
    ::close(fd);
    std::unique_ptr<StoreCore> core(new StoreCore());
    int rc = core->db_.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (rc != SQLITE_OK) {
        *error = "The store file " + path + " cannot be created: " + sqlite3_errstr(rc) + ".";
        RemoveStoreFiles(path);
        return rc == SQLITE_CANTOPEN ? MAPI_E_NO_ACCESS : HrFromSqlite(rc);
    }
    core->path_ = path;
    core->displayName_ = displayName;
    std::random_device random;
    for (BYTE& b : core->uid_.ab) b = static_cast<BYTE>(random());
    HRESULT hr = S_OK;
    rc = core->db_.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    if (rc == SQLITE_OK) {
        Transaction tx(core->db_);
        rc = tx.BeginCode();
        if (rc == SQLITE_OK) rc = CreateSchema(core->db_);
        if (rc == SQLITE_OK) {
            Stmt meta(core->db_, "INSERT INTO meta(key, value) VALUES('uid', ?1), ('name', ?2)");
            meta.BindBlob(1, core->uid_.ab, 16).Bind(2, displayName);
            rc = meta.Run();
            if (rc == SQLITE_DONE) rc = SQLITE_OK;
        }
        if (rc == SQLITE_OK) {
            ObjectRow store;
            store.kind = ObjectKind::kStore;
            hr = core->InsertObject(&store);
            if (SUCCEEDED(hr) && store.id != kStoreObjectId) hr = MAPI_E_CALL_FAILED;
            if (SUCCEEDED(hr)) hr = BuildSkeleton(*core);
            if (SUCCEEDED(hr)) rc = tx.Commit();
        }
    }
    if (rc != SQLITE_OK || FAILED(hr)) {
        if (SUCCEEDED(hr)) hr = HrFromSqlite(rc);
        *error = "The store file " + path + " cannot be created: " + core->db_.LastError() + ".";
        core->db_.Close();
        RemoveStoreFiles(path);
        return hr;
    }
    core->statements_.clear();
    core->db_.Exec("PRAGMA journal_mode=DELETE");
    return S_OK;
}

HRESULT StoreCore::Open(const std::string& path, const std::string& displayName,
                        std::shared_ptr<StoreCore>* out, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = "The store file " + path + " does not exist.";
        return MAPI_E_NOT_FOUND;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a store file.";
        return MAPI_E_CORRUPT_STORE;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        *error = "The store file " + path + " cannot be read: permission denied.";
        return MAPI_E_NO_ACCESS;
    }
    std::shared_ptr<StoreCore> core(new StoreCore());
    core->path_ = path;
    core->fileDev_ = st.st_dev;
    core->fileIno_ = st.st_ino;
    core->readOnly_ = !FileIsWritable(path) || !DirectoryIsWritable(path);
    // Read-only until the first write: a store that is only read gets no
    // journal files and takes no write lock. A store nobody may write, with
    // no log left by a writer, cannot change while it is read: it is read as
    // immutable, which needs no shared-memory file beside it either.
    struct stat wal {};
    bool immutable = core->readOnly_ && ::stat((path + "-wal").c_str(), &wal) != 0;
    int rc = immutable ? core->db_.Open(ImmutableUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)
                       : core->db_.Open(path, SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK) {
        *error = "The store file " + path + " cannot be opened: " + sqlite3_errstr(rc) + ".";
        return HrFromSqlite(rc) == MAPI_E_CORRUPT_DATA ? MAPI_E_CORRUPT_STORE : MAPI_E_NO_ACCESS;
    }
    sqlite3_busy_timeout(core->db_.get(), 2000);
    HRESULT hr = CheckSchema(core->db_, path, error);
    if (hr == MAPI_E_CORRUPT_STORE && core->readOnly_ && !immutable) {
        // The writer's log is there but its shared-memory file cannot be
        // made beside it.
        rc = core->db_.Open(ImmutableUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
        if (rc == SQLITE_OK) hr = CheckSchema(core->db_, path, error);
    }
    if (FAILED(hr)) return hr;
    if (!core->readOnly_) {
        StoreCore* self = core.get();
        core->db_.SetReopenForWriting([self] { return self->ReopenForWriting(); });
    }
    if (SchemaVersion(core->db_) < kSchemaVersion) {
        // A file nobody may write is upgraded in a private copy; the file
        // itself stays as it is.
        rc = core->readOnly_ ? core->db_.MoveIntoMemory() : core->db_.EnsureWritable();
        if (rc != SQLITE_OK) {
            *error = "The store file " + path + " cannot be read: " + sqlite3_errstr(rc) + ".";
            return HrFromSqlite(rc);
        }
        if (FAILED(hr = UpgradeSchema(core->db_, error))) {
            error->insert(0, path + ": ");
            return hr;
        }
    }
    Stmt meta(core->db_, "SELECT key, value FROM meta WHERE key IN ('uid', 'name')");
    bool haveUid = false;
    std::string storedName;
    while ((rc = meta.Step()) == SQLITE_ROW) {
        if (meta.Text(0) == "uid" && meta.Blob(1).size() == 16) {
            std::memcpy(core->uid_.ab, meta.Blob(1).data(), 16);
            haveUid = true;
        } else if (meta.Text(0) == "name") {
            storedName = meta.Text(1);
        }
    }
    if (rc != SQLITE_DONE || !haveUid) {
        *error = "The store file " + path + " is damaged: its identity cannot be read.";
        return MAPI_E_CORRUPT_STORE;
    }
    core->displayName_ = displayName.empty() ? storedName : displayName;
    *out = std::move(core);
    return S_OK;
}

int StoreCore::ReopenForWriting() {
    // The cached statements belong to the reading connection.
    statements_.clear();
    int rc = db_.Reopen(path_, SQLITE_OPEN_READWRITE);
    if (rc != SQLITE_OK) return rc;
    sqlite3_busy_timeout(db_.get(), 2000);
    // Per-message commits stay crash-safe without a sync each (WAL with
    // NORMAL); checkpointing less often saves most of the remaining syncs.
    // A reader of another process that keeps the file in its rollback mode
    // leaves it there: slower commits, same safety.
    db_.Exec("PRAGMA journal_mode=WAL");
    db_.Exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=8192");
    wrote_ = true;
    // data_version counts per connection; the new one's cannot be compared.
    namesLoaded_ = false;
    return SQLITE_OK;
}

StoreCore::~StoreCore() {
    if (!wrote_) return;
    statements_.clear();
    // At rest the file goes back to rollback mode, so the next reader makes
    // no journal files either. Another connection still using the log keeps
    // it; no waiting for that.
    sqlite3_busy_timeout(db_.get(), 0);
    db_.Exec("PRAGMA journal_mode=DELETE");
}

void StoreCore::HoldReadSpan() {
    auto lock = Lock();
    auto now = std::chrono::steady_clock::now();
    if (db_.ReadSpanOpen(heldSpan_) && now - heldSince_ < kHeldSpanLimit) return;
    db_.EndReadSpan(heldSpan_);
    heldSpan_ = db_.BeginReadSpan();
    heldSince_ = now;
}

void StoreCore::ReleaseHeldSpan() {
    auto lock = Lock();
    db_.EndReadSpan(heldSpan_);
    heldSpan_ = 0;
}

bool StoreCore::SameFileAs(const StoreCore& other) const {
    if (&other == this) return true;
    if (fileIno_ == 0 || other.fileIno_ == 0) return path_ == other.path_;
    return fileDev_ == other.fileDev_ && fileIno_ == other.fileIno_;
}

Stmt* StoreCore::Cached(const char* sql) {
    // Every use goes through a CachedStmt, which resets the statement and
    // clears its bindings when done, so it comes back ready.
    auto& slot = statements_[sql];
    if (!slot) slot = std::make_unique<Stmt>(db_, sql);
    return slot.get();
}

HRESULT StoreCore::ParseOwnEntryId(ULONG cb, const ENTRYID* eid, ParsedEntryId* out) const {
    if (!ParseEntryId(eid, cb, out)) return MAPI_E_INVALID_ENTRYID;
    if (!IsEqualMAPIUID(&out->store, &uid_)) return MAPI_E_INVALID_ENTRYID;
    return S_OK;
}

namespace {

// Fills out from the first nine columns of q (the objects row).
HRESULT ParseObjectRow(Stmt& q, int64_t id, ObjectRow* out) {
    int64_t kind = q.Int(0);
    if (kind < 1 || kind > 5) return MAPI_E_CORRUPT_DATA;
    out->id = id;
    out->kind = static_cast<ObjectKind>(kind);
    out->parent = q.Int(1);
    out->assoc = q.Int(2) != 0;
    out->num = static_cast<ULONG>(q.Int(3));
    out->nameKey = q.Text(4);
    out->folderType = static_cast<ULONG>(q.Int(5));
    out->msgFlags = static_cast<ULONG>(q.Int(6));
    out->size = static_cast<ULONG>(q.Int(7));
    out->hasAttach = q.Int(8) != 0;
    return S_OK;
}

}  // namespace

HRESULT StoreCore::LoadObject(int64_t id, ObjectRow* out) {
    auto lock = Lock();
    CachedStmt c(Cached(
        "SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, has_attach "
        "FROM objects WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, id);
    int rc = q.Step();
    if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    return ParseObjectRow(q, id, out);
}

HRESULT StoreCore::LoadObjectWithProps(int64_t id, ObjectRow* out, std::string* packed,
                                       std::string* recipients) {
    auto lock = Lock();
    CachedStmt c(
        Cached("SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, "
               "has_attach, packed, recipients FROM objects WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, id);
    int rc = q.Step();
    if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    if (HRESULT hr = ParseObjectRow(q, id, out); FAILED(hr)) return hr;
    packed->assign(q.Blob(9));
    if (recipients != nullptr) recipients->assign(q.Blob(10));
    return CheckPacked(*packed);
}

HRESULT StoreCore::ScanChildrenImpl(int64_t parent, ObjectKind kind, int assoc, int64_t fromId,
                                    size_t limit, bool (*visit)(void*, LoadedObject&),
                                    void* context) {
    auto lock = Lock();
    CachedStmt c(Cached(
        assoc >= 0 ? "SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, "
                     "has_attach, packed, id FROM objects WHERE parent=?1 AND kind=?2 AND assoc=?3 "
                     "AND id >= ?4 ORDER BY id LIMIT ?5"
                   : "SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, "
                     "has_attach, packed, id FROM objects WHERE parent=?1 AND kind=?2 AND ?3 < 0 "
                     "AND id >= ?4 ORDER BY id LIMIT ?5"));
    Stmt& q = *c;
    q.Bind(1, parent).Bind(2, static_cast<int64_t>(kind)).Bind(3, assoc).Bind(4, fromId);
    q.Bind(5, limit == 0 ? int64_t{-1} : static_cast<int64_t>(limit));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
        LoadedObject object;
        object.row.id = q.Int(10);
        object.error = ParseObjectRow(q, q.Int(10), &object.row);
        if (SUCCEEDED(object.error)) {
            object.view = q.Blob(9);
            object.error = CheckPacked(object.view);
        }
        if (!visit(context, object)) return S_OK;
    }
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::Children(int64_t parent, ObjectKind kind, int assoc, std::vector<int64_t>* ids) {
    auto lock = Lock();
    // A fixed assoc lets the index give the id order; no sort per call.
    CachedStmt q_(Cached(assoc >= 0 ? "SELECT id FROM objects WHERE parent=?1 AND kind=?2 AND "
                                      "assoc=?3 ORDER BY id"
                                    : "SELECT id FROM objects WHERE parent=?1 AND kind=?2 AND "
                                      "?3 < 0 ORDER BY id"));
    Stmt& q = *q_;
    q.Bind(1, parent).Bind(2, static_cast<int64_t>(kind)).Bind(3, assoc);
    ids->clear();
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) ids->push_back(q.Int(0));
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ChildNumbers(int64_t parent, ObjectKind kind,
                                std::vector<std::pair<int64_t, ULONG>>* out) {
    auto lock = Lock();
    // Recipients and attachments are never associated: assoc, id is id order,
    // and the index's own.
    CachedStmt q_(
        Cached("SELECT id, num FROM objects WHERE parent=?1 AND kind=?2 ORDER BY assoc, id"));
    Stmt& q = *q_;
    q.Bind(1, parent).Bind(2, static_cast<int64_t>(kind));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out->emplace_back(q.Int(0), static_cast<ULONG>(q.Int(1)));
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::CountChildren(int64_t parent, ObjectKind kind, int assoc, ULONG* count) {
    auto lock = Lock();
    CachedStmt q_(Cached(
        "SELECT count(*) FROM objects WHERE parent=?1 AND kind=?2 AND (?3 < 0 OR assoc=?3)"));
    Stmt& q = *q_;
    q.Bind(1, parent).Bind(2, static_cast<int64_t>(kind)).Bind(3, assoc);
    int rc = q.Step();
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    *count = static_cast<ULONG>(q.Int(0));
    return S_OK;
}

HRESULT StoreCore::InsertObject(ObjectRow* row, const PropChanges& props,
                                RecipientColumn recipients) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    uint64_t bytes = 0;
    std::vector<ULONG> outside;
    std::string packed = PackValues(props, &bytes, &outside);
    CachedStmt q_(
        Cached("INSERT INTO objects(kind, parent, assoc, num, name_key, folder_type, msg_flags, "
               "size, has_attach, packed, value_bytes, recipients, recipient_bytes) VALUES(?1, ?2, "
               "?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"));
    Stmt& q = *q_;
    if (recipients.blob != nullptr && !recipients.blob->empty())
        q.BindBlobInPlace(12, recipients.blob->data(), recipients.blob->size());
    q.Bind(13, static_cast<int64_t>(recipients.bytes));
    if (packed.size() > 1) q.BindBlobInPlace(10, packed.data(), packed.size());
    q.Bind(11, static_cast<int64_t>(bytes));
    q.Bind(1, static_cast<int64_t>(row->kind)).Bind(2, row->parent).Bind(3, row->assoc ? 1 : 0);
    q.Bind(4, row->num).Bind(6, row->folderType).Bind(7, row->msgFlags).Bind(8, row->size);
    q.Bind(9, row->hasAttach ? 1 : 0);
    if (row->kind == ObjectKind::kFolder) q.Bind(5, row->nameKey);
    int rc = q.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    row->id = sqlite3_last_insert_rowid(db_.get());
    Changed();
    for (ULONG pid : outside)
        if (HRESULT hr = WriteOutside(row->id, pid, *props.at(pid)); FAILED(hr)) return hr;
    return S_OK;
}

HRESULT StoreCore::UpdateObject(const ObjectRow& row) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt q_(
        Cached("UPDATE objects SET parent=?2, assoc=?3, num=?4, name_key=?5, folder_type=?6, "
               "msg_flags=?7, size=?8, has_attach=?9 WHERE id=?1"));
    Stmt& q = *q_;
    q.Bind(1, row.id).Bind(2, row.parent).Bind(3, row.assoc ? 1 : 0).Bind(4, row.num);
    q.Bind(6, row.folderType).Bind(7, row.msgFlags).Bind(8, row.size);
    q.Bind(9, row.hasAttach ? 1 : 0);
    if (row.kind == ObjectKind::kFolder) q.Bind(5, row.nameKey);
    int rc = q.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    Changed();
    return S_OK;
}

HRESULT StoreCore::DeleteTree(int64_t id) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    // UNION rather than UNION ALL: parent links damaged into a cycle must not
    // make the walk endless.
    static constexpr const char* kTree =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION "
        "SELECT o.id FROM objects o JOIN tree t ON o.parent = t.id) ";
    // Each object's large values are one range of keys.
    Stmt props(db_, std::string(kTree) +
                        "DELETE FROM props WHERE id IN (SELECT p.id FROM tree t JOIN props p ON "
                        "p.id BETWEEN t.id * 65536 AND t.id * 65536 + 65535)");
    props.Bind(1, id);
    int rc = props.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    Stmt objects(db_, std::string(kTree) + "DELETE FROM objects WHERE id IN (SELECT id FROM tree)");
    objects.Bind(1, id);
    rc = objects.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    CachedStmt receive_(
        Cached("DELETE FROM receive_folders WHERE folder NOT IN (SELECT id FROM objects)"));
    Stmt& receive = *receive_;
    rc = receive.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ReceiveFolder(const std::string& cls, int64_t* folder,
                                 std::string* explicitClass) {
    auto lock = Lock();
    CachedStmt q_(Cached("SELECT folder, class FROM receive_folders WHERE class=?1"));
    Stmt& q = *q_;
    std::string candidate = cls;
    for (;;) {
        q.Reset();
        q.Bind(1, candidate);
        int rc = q.Step();
        if (rc == SQLITE_ROW) {
            *folder = q.Int(0);
            if (explicitClass != nullptr) *explicitClass = q.Text(1);
            return S_OK;
        }
        if (rc != SQLITE_DONE) return HrFromSqlite(rc);
        if (candidate.empty()) return MAPI_E_NOT_FOUND;
        size_t dot = candidate.rfind('.');
        candidate = dot == std::string::npos ? std::string() : candidate.substr(0, dot);
    }
}

HRESULT StoreCore::SetReceiveFolder(const std::string& cls, int64_t folder) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    Stmt q(db_, folder == 0
                    ? "DELETE FROM receive_folders WHERE class=?1"
                    : "INSERT OR REPLACE INTO receive_folders(class, folder) VALUES(?1,?2)");
    q.Bind(1, cls);
    if (folder != 0) q.Bind(2, folder);
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ReceiveFolderRows(std::vector<std::pair<std::string, int64_t>>* rows) {
    auto lock = Lock();
    CachedStmt q_(Cached("SELECT class, folder FROM receive_folders ORDER BY class"));
    Stmt& q = *q_;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) rows->emplace_back(q.Text(0), q.Int(1));
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

}  // namespace mapi::embedded
