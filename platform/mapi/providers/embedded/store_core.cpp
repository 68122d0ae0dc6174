// Objects, properties, named properties and receive folders of one store file.
#include "store_core.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include <mapix.h>

#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"
#include "runtime/utf.h"
#include "store_schema.h"

namespace mapi::embedded {
namespace {

constexpr ULONG kFirstNamedId = 0x8000;
constexpr ULONG kLastNamedId = 0xFFFE;
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

}  // namespace

bool IsLazyProp(ULONG propId, size_t bytes) {
    switch (propId) {
        case 0x1000:  // PR_BODY
        case 0x1009:  // PR_RTF_COMPRESSED
        case 0x1013:  // PR_HTML
        case 0x3701:  // PR_ATTACH_DATA_BIN / PR_ATTACH_DATA_OBJ
            return true;
        default:
            return bytes > kLazyThreshold;
    }
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
    std::unique_ptr<StoreCore> core(new StoreCore());
    int rc = core->db_.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (rc != SQLITE_OK) {
        *error = "The store file " + path + " cannot be created: " + sqlite3_errstr(rc) + ".";
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
    core->readOnly_ = !FileIsWritable(path);
    int rc = core->db_.Open(path, core->readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
    if (rc != SQLITE_OK) {
        *error = "The store file " + path + " cannot be opened: " + sqlite3_errstr(rc) + ".";
        return HrFromSqlite(rc) == MAPI_E_CORRUPT_DATA ? MAPI_E_CORRUPT_STORE : MAPI_E_NO_ACCESS;
    }
    sqlite3_busy_timeout(core->db_.get(), 2000);
    HRESULT hr = CheckSchema(core->db_, path, error);
    if (hr == MAPI_E_CORRUPT_STORE && core->readOnly_) {
        // A read-only WAL database cannot be opened when its shared-memory
        // file cannot be made; a file nobody may write cannot change under us,
        // so read it as immutable.
        std::string uri = "file:" + path + "?immutable=1";
        rc = core->db_.Open(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
        if (rc == SQLITE_OK) hr = CheckSchema(core->db_, path, error);
    }
    if (FAILED(hr)) return hr;
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
    // Per-message commits stay crash-safe without a sync each (WAL with
    // NORMAL); checkpointing less often saves most of the remaining syncs.
    if (!core->readOnly_)
        core->db_.Exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=8192");
    *out = std::move(core);
    return S_OK;
}

Stmt* StoreCore::Cached(const char* sql) {
    auto& slot = statements_[sql];
    if (!slot) slot = std::make_unique<Stmt>(db_, sql);
    slot->Reset();
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

HRESULT StoreCore::LoadObjectWithProps(int64_t id, ObjectRow* out, PropMap* small) {
    auto lock = Lock();
    CachedStmt c(
        Cached("SELECT o.kind, o.parent, o.assoc, o.num, o.name_key, o.folder_type, o.msg_flags, "
               "o.size, o.has_attach, p.pid, p.type, p.value FROM objects o LEFT JOIN props p "
               "ON p.obj = o.id AND p.lazy = 0 WHERE o.id=?1"));
    Stmt& q = *c;
    q.Bind(1, id);
    int rc = q.Step();
    if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    if (HRESULT hr = ParseObjectRow(q, id, out); FAILED(hr)) return hr;
    do {
        if (!q.IsNull(9))
            (*small)[static_cast<ULONG>(q.Int(9))] =
                EncodedProp{static_cast<ULONG>(q.Int(10)), std::string(q.Blob(11))};
    } while ((rc = q.Step()) == SQLITE_ROW);
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::Children(int64_t parent, ObjectKind kind, int assoc, std::vector<int64_t>* ids) {
    auto lock = Lock();
    CachedStmt q_(
        Cached("SELECT id FROM objects WHERE parent=?1 AND kind=?2 AND (?3 < 0 OR assoc=?3) "
               "ORDER BY id"));
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
    CachedStmt q_(Cached("SELECT id, num FROM objects WHERE parent=?1 AND kind=?2 ORDER BY id"));
    Stmt& q = *q_;
    q.Bind(1, parent).Bind(2, static_cast<int64_t>(kind));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) out->emplace_back(q.Int(0), static_cast<ULONG>(q.Int(1)));
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ChildrenWithProps(int64_t parent, ObjectKind kind,
                                     std::vector<std::pair<ULONG, PropMap>>* out) {
    auto lock = Lock();
    CachedStmt q_(
        Cached("SELECT o.id, o.num, p.pid, p.type, p.value FROM objects o LEFT JOIN props p "
               "ON p.obj = o.id WHERE o.parent=?1 AND o.kind=?2 ORDER BY o.id"));
    Stmt& q = *q_;
    q.Bind(1, parent).Bind(2, static_cast<int64_t>(kind));
    int rc;
    int64_t current = 0;
    while ((rc = q.Step()) == SQLITE_ROW) {
        if (out->empty() || q.Int(0) != current) {
            current = q.Int(0);
            out->emplace_back(static_cast<ULONG>(q.Int(1)), PropMap());
        }
        if (!q.IsNull(2))
            out->back().second[static_cast<ULONG>(q.Int(2))] =
                EncodedProp{static_cast<ULONG>(q.Int(3)), std::string(q.Blob(4))};
    }
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

HRESULT StoreCore::InsertObject(ObjectRow* row) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt q_(
        Cached("INSERT INTO objects(kind, parent, assoc, num, name_key, folder_type, msg_flags, "
               "size, has_attach) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"));
    Stmt& q = *q_;
    q.Bind(1, static_cast<int64_t>(row->kind)).Bind(2, row->parent).Bind(3, row->assoc ? 1 : 0);
    q.Bind(4, row->num).Bind(6, row->folderType).Bind(7, row->msgFlags).Bind(8, row->size);
    q.Bind(9, row->hasAttach ? 1 : 0);
    if (row->kind == ObjectKind::kFolder) q.Bind(5, row->nameKey);
    int rc = q.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    row->id = sqlite3_last_insert_rowid(db_.get());
    Changed();
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
    Stmt props(db_, std::string(kTree) + "DELETE FROM props WHERE obj IN (SELECT id FROM tree)");
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

HRESULT StoreCore::ReadProps(int64_t obj, bool withLazy, PropMap* out) {
    auto lock = Lock();
    CachedStmt c(Cached(withLazy ? "SELECT pid, type, value FROM props WHERE obj=?1"
                                 : "SELECT pid, type, value FROM props WHERE obj=?1 AND lazy=0"));
    Stmt& q = *c;
    q.Bind(1, obj);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
        std::string_view v = q.Blob(2);
        (*out)[static_cast<ULONG>(q.Int(0))] =
            EncodedProp{static_cast<ULONG>(q.Int(1)), std::string(v)};
    }
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ReadProp(int64_t obj, ULONG propId, EncodedProp* out) {
    auto lock = Lock();
    CachedStmt c(Cached("SELECT type, value FROM props WHERE obj=?1 AND pid=?2"));
    Stmt& q = *c;
    q.Bind(1, obj).Bind(2, propId);
    int rc = q.Step();
    if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    out->type = static_cast<ULONG>(q.Int(0));
    out->bytes.assign(q.Blob(1));
    return S_OK;
}

HRESULT StoreCore::ReadPropSummary(int64_t obj, PropMap* small, std::map<ULONG, ULONG>* types) {
    auto lock = Lock();
    CachedStmt q_(
        Cached("SELECT pid, type, lazy, CASE WHEN lazy=0 THEN value END FROM props WHERE obj=?1"));
    Stmt& q = *q_;
    q.Bind(1, obj);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
        ULONG pid = static_cast<ULONG>(q.Int(0));
        ULONG type = static_cast<ULONG>(q.Int(1));
        (*types)[pid] = type;
        if (q.Int(2) == 0) (*small)[pid] = EncodedProp{type, std::string(q.Blob(3))};
    }
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ReadPropTypes(int64_t obj, std::vector<std::pair<ULONG, ULONG>>* out) {
    auto lock = Lock();
    CachedStmt q_(Cached("SELECT pid, type FROM props WHERE obj=?1"));
    Stmt& q = *q_;
    q.Bind(1, obj);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW)
        out->emplace_back(static_cast<ULONG>(q.Int(0)), static_cast<ULONG>(q.Int(1)));
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::WriteProp(int64_t obj, ULONG propId, const EncodedProp& value) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt c(
        Cached("INSERT OR REPLACE INTO props(obj, pid, type, lazy, value) VALUES(?1,?2,?3,?4,?5)"));
    Stmt& q = *c;
    q.Bind(1, obj).Bind(2, propId).Bind(3, value.type);
    q.Bind(4, IsLazyProp(propId, value.bytes.size()) ? 1 : 0);
    q.BindBlob(5, value.bytes.data(), value.bytes.size());
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::DeleteProp(int64_t obj, ULONG propId) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt q_(Cached("DELETE FROM props WHERE obj=?1 AND pid=?2"));
    Stmt& q = *q_;
    q.Bind(1, obj).Bind(2, propId);
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::DeleteAllProps(int64_t obj) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt q_(Cached("DELETE FROM props WHERE obj=?1"));
    Stmt& q = *q_;
    q.Bind(1, obj);
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::LookupName(const MAPINAMEID& name, bool create, ULONG* id) {
    if (name.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (name.ulKind != MNID_ID && name.ulKind != MNID_STRING) return MAPI_E_INVALID_PARAMETER;
    if (name.ulKind == MNID_STRING && name.Kind.lpwstrName == nullptr)
        return MAPI_E_INVALID_PARAMETER;
    int64_t lid = name.ulKind == MNID_ID ? name.Kind.lID : 0;
    std::string text = name.ulKind == MNID_STRING ? Utf16ToUtf8(name.Kind.lpwstrName) : "";
    CachedStmt q_(
        Cached("SELECT id FROM named_props WHERE guid=?1 AND kind=?2 AND lid=?3 AND name=?4"));
    Stmt& q = *q_;
    q.BindBlob(1, name.lpguid, sizeof(GUID)).Bind(2, name.ulKind).Bind(3, lid).Bind(4, text);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
        *id = static_cast<ULONG>(q.Int(0));
        return S_OK;
    }
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    if (!create) return MAPI_E_NOT_FOUND;
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    // The lowest free identifier: 0x8000 itself, or the first one after a used
    // identifier that is not taken.
    CachedStmt next_(
        Cached("SELECT CASE WHEN NOT EXISTS(SELECT 1 FROM named_props WHERE id=?1) THEN ?1 ELSE "
               "(SELECT min(a.id) + 1 FROM named_props a WHERE a.id >= ?1 AND NOT EXISTS "
               "(SELECT 1 FROM named_props b WHERE b.id = a.id + 1)) END"));
    Stmt& next = *next_;
    next.Bind(1, kFirstNamedId);
    rc = next.Step();
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    int64_t free = next.Int(0);
    if (free > kLastNamedId) return MAPI_E_NOT_ENOUGH_RESOURCES;
    CachedStmt insert_(
        Cached("INSERT INTO named_props(id, guid, kind, lid, name) VALUES(?1,?2,?3,?4,?5)"));
    Stmt& insert = *insert_;
    insert.Bind(1, free).BindBlob(2, name.lpguid, sizeof(GUID)).Bind(3, name.ulKind);
    insert.Bind(4, lid).Bind(5, text);
    rc = insert.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    *id = static_cast<ULONG>(free);
    return S_OK;
}

HRESULT StoreCore::IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                                LPSPropTagArray* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    auto lock = Lock();
    std::vector<ULONG> tags;
    bool errors = false;
    if (names == nullptr || count == 0) {
        // Every name the store knows.
        CachedStmt q_(Cached("SELECT id FROM named_props ORDER BY id"));
        Stmt& q = *q_;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW)
            tags.push_back(PROP_TAG(PT_UNSPECIFIED, static_cast<ULONG>(q.Int(0))));
        if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    } else {
        bool create = (flags & MAPI_CREATE) != 0;
        std::unique_ptr<Transaction> tx;
        if (create && !readOnly_) tx = std::make_unique<Transaction>(db_);
        for (ULONG i = 0; i < count; ++i) {
            ULONG id = 0;
            HRESULT hr =
                names[i] == nullptr ? MAPI_E_INVALID_PARAMETER : LookupName(*names[i], create, &id);
            if (FAILED(hr) && hr != MAPI_E_NOT_FOUND && hr != MAPI_E_NOT_ENOUGH_RESOURCES &&
                hr != MAPI_E_NO_ACCESS && hr != MAPI_E_INVALID_PARAMETER)
                return hr;
            if (FAILED(hr)) errors = true;
            tags.push_back(SUCCEEDED(hr) ? PROP_TAG(PT_UNSPECIFIED, id)
                                         : PROP_TAG(PT_ERROR, PROP_ID_NULL));
        }
        if (tx && tx->Commit() != SQLITE_OK) return MAPI_E_DISK_ERROR;
    }
    void* buffer = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())), &buffer) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* array = static_cast<SPropTagArray*>(buffer);
    array->cValues = static_cast<ULONG>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) array->aulPropTag[i] = tags[i];
    *out = array;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT StoreCore::NamesFromIds(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                                LPMAPINAMEID** names) {
    if (tags == nullptr || count == nullptr || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *names = nullptr;
    auto lock = Lock();
    struct Row {
        ULONG id;
        GUID guid;
        ULONG kind;
        LONG lid;
        std::string name;
        bool found;
    };
    std::vector<Row> rows;
    auto read = [&](Stmt& q) {
        Row r{static_cast<ULONG>(q.Int(0)), {},        static_cast<ULONG>(q.Int(2)),
              static_cast<LONG>(q.Int(3)),  q.Text(4), true};
        std::string_view g = q.Blob(1);
        if (g.size() == sizeof(GUID)) std::memcpy(&r.guid, g.data(), sizeof(GUID));
        return r;
    };
    bool allocatedTags = false;
    if (*tags == nullptr) {
        CachedStmt q_(Cached("SELECT id, guid, kind, lid, name FROM named_props ORDER BY id"));
        Stmt& q = *q_;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) {
            Row r = read(q);
            if (guid != nullptr && r.guid != *guid) continue;
            if ((flags & MAPI_NO_STRINGS) && r.kind == MNID_STRING) continue;
            if ((flags & MAPI_NO_IDS) && r.kind == MNID_ID) continue;
            rows.push_back(std::move(r));
        }
        if (rc != SQLITE_DONE) return HrFromSqlite(rc);
        allocatedTags = true;
    } else {
        CachedStmt q_(Cached("SELECT id, guid, kind, lid, name FROM named_props WHERE id=?1"));
        Stmt& q = *q_;
        for (ULONG i = 0; i < (*tags)->cValues; ++i) {
            ULONG id = PROP_ID((*tags)->aulPropTag[i]);
            q.Reset();
            q.Bind(1, id);
            int rc = q.Step();
            if (rc == SQLITE_ROW)
                rows.push_back(read(q));
            else if (rc == SQLITE_DONE)
                rows.push_back(Row{id, {}, 0, 0, {}, false});
            else
                return HrFromSqlite(rc);
        }
    }
    void* head = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(sizeof(LPMAPINAMEID) * (rows.size() + 1)), &head) !=
        S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    MapiBuffer<void> holder(head);
    auto* out = static_cast<LPMAPINAMEID*>(head);
    bool errors = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        out[i] = nullptr;
        if (!rows[i].found) {
            errors = true;
            continue;
        }
        void* p = nullptr;
        if (MAPIAllocateMore(sizeof(MAPINAMEID) + sizeof(GUID), head, &p) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* n = static_cast<MAPINAMEID*>(p);
        n->lpguid = reinterpret_cast<LPGUID>(static_cast<char*>(p) + sizeof(MAPINAMEID));
        *n->lpguid = rows[i].guid;
        n->ulKind = rows[i].kind;
        if (rows[i].kind == MNID_ID) {
            n->Kind.lID = rows[i].lid;
        } else {
            std::u16string w = Utf8ToUtf16(rows[i].name);
            void* s = nullptr;
            if (MAPIAllocateMore(static_cast<ULONG>((w.size() + 1) * sizeof(WCHAR)), head, &s) !=
                S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(s, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
            n->Kind.lpwstrName = static_cast<LPWSTR>(s);
        }
        out[i] = n;
    }
    if (allocatedTags) {
        void* t = nullptr;
        if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(rows.size())), &t) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* array = static_cast<SPropTagArray*>(t);
        array->cValues = static_cast<ULONG>(rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            array->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, rows[i].id);
        *tags = array;
    }
    *count = static_cast<ULONG>(rows.size());
    *names = static_cast<LPMAPINAMEID*>(holder.release());
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
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
