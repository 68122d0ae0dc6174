// The properties of one store object: its packed directory in the objects
// row, and large values in the props table.
#include "packed_props.h"
#include "store_core.h"
#include "store_schema.h"

namespace mapi::embedded {

HRESULT StoreCore::ReadPacked(int64_t obj, PackedDir* out) {
    CachedStmt c(Cached("SELECT packed FROM objects WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, obj);
    int rc = q.Step();
    out->clear();
    if (rc == SQLITE_DONE) return S_OK;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    return Unpack(q.Blob(0), out);
}

HRESULT StoreCore::WritePacked(int64_t obj, const PackedDir& dir) {
    CachedStmt c(Cached("UPDATE objects SET packed=?2, value_bytes=?3 WHERE id=?1"));
    Stmt& q = *c;
    std::string packed = Pack(dir);
    q.Bind(1, obj).BindBlob(2, packed.data(), packed.size());
    q.Bind(3, static_cast<int64_t>(ValueBytes(dir)));
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ReadOutside(int64_t obj, PropMap* out) {
    CachedStmt c(Cached("SELECT pid, type, value FROM props WHERE id BETWEEN ?1 AND ?2"));
    Stmt& q = *c;
    q.Bind(1, LargeValueKey(obj, 0)).Bind(2, LargeValueKey(obj, kLastPropId));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW)
        (*out)[static_cast<ULONG>(q.Int(0))] =
            EncodedProp{static_cast<ULONG>(q.Int(1)), std::string(q.Blob(2))};
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::WriteOutside(int64_t obj, ULONG propId, const EncodedProp& value) {
    CachedStmt c(
        Cached("INSERT OR REPLACE INTO props(id, obj, pid, type, lazy, value) "
               "VALUES(?5,?1,?2,?3,1,?4)"));
    Stmt& q = *c;
    q.Bind(1, obj).Bind(2, propId).Bind(3, value.type).Bind(5, LargeValueKey(obj, propId));
    q.BindBlobInPlace(4, value.bytes.data(), value.bytes.size());
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::DeleteOutside(int64_t obj, ULONG propId) {
    CachedStmt c(Cached("DELETE FROM props WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, LargeValueKey(obj, propId));
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::ReadProps(int64_t obj, bool withLazy, PropMap* out) {
    auto lock = Lock();
    PackedDir dir;
    if (HRESULT hr = ReadPacked(obj, &dir); FAILED(hr)) return hr;
    bool large = false;
    for (auto& [pid, v] : dir) {
        large |= v.outside;
        if (!v.outside) (*out)[pid] = EncodedProp{v.type, std::move(v.bytes)};
    }
    if (!withLazy || !large) return S_OK;
    return ReadOutside(obj, out);
}

HRESULT StoreCore::ReadProp(int64_t obj, ULONG propId, EncodedProp* out) {
    auto lock = Lock();
    PackedDir dir;
    if (HRESULT hr = ReadPacked(obj, &dir); FAILED(hr)) return hr;
    auto found = dir.find(propId);
    if (found == dir.end()) return MAPI_E_NOT_FOUND;
    if (!found->second.outside) {
        out->type = found->second.type;
        out->bytes = std::move(found->second.bytes);
        return S_OK;
    }
    return ReadLargeProp(obj, propId, out);
}

HRESULT StoreCore::ReadLargeProp(int64_t obj, ULONG propId, EncodedProp* out) {
    auto lock = Lock();
    CachedStmt c(Cached("SELECT type, value FROM props WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, LargeValueKey(obj, propId));
    int rc = q.Step();
    // Listed but missing: the two halves of the object disagree.
    if (rc == SQLITE_DONE) return MAPI_E_CORRUPT_DATA;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    out->type = static_cast<ULONG>(q.Int(0));
    out->bytes.assign(q.Blob(1));
    return S_OK;
}

HRESULT StoreCore::ReadPropSummary(int64_t obj, PropMap* small, std::map<ULONG, ULONG>* types) {
    auto lock = Lock();
    CachedStmt c(Cached("SELECT packed FROM objects WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, obj);
    int rc = q.Step();
    if (rc == SQLITE_DONE) return S_OK;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    return UnpackSummary(q.Blob(0), small, types);
}

HRESULT StoreCore::ReadPropTypes(int64_t obj, std::vector<std::pair<ULONG, ULONG>>* out) {
    auto lock = Lock();
    PackedDir dir;
    if (HRESULT hr = ReadPacked(obj, &dir); FAILED(hr)) return hr;
    for (const auto& [pid, v] : dir) out->emplace_back(pid, v.type);
    return S_OK;
}

HRESULT StoreCore::ApplyProps(int64_t obj, const PropChanges& changes) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    if (changes.empty()) return S_OK;
    auto lock = Lock();
    PackedDir dir;
    if (HRESULT hr = ReadPacked(obj, &dir); FAILED(hr)) return hr;
    for (const auto& [pid, value] : changes) {
        auto old = dir.find(pid);
        bool wasOutside = old != dir.end() && old->second.outside;
        HRESULT hr = S_OK;
        if (!value) {
            if (old != dir.end()) dir.erase(old);
            if (wasOutside) hr = DeleteOutside(obj, pid);
        } else {
            PutValue(dir, pid, *value);
            if (dir[pid].outside)
                hr = WriteOutside(obj, pid, *value);
            else if (wasOutside)
                hr = DeleteOutside(obj, pid);
        }
        if (FAILED(hr)) return hr;
    }
    return WritePacked(obj, dir);
}

HRESULT StoreCore::WriteProp(int64_t obj, ULONG propId, const EncodedProp& value) {
    return ApplyProps(obj, PropChanges{{propId, value}});
}

HRESULT StoreCore::DeleteProp(int64_t obj, ULONG propId) {
    return ApplyProps(obj, PropChanges{{propId, std::nullopt}});
}

HRESULT StoreCore::DeleteAllProps(int64_t obj) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt c(Cached("DELETE FROM props WHERE id BETWEEN ?1 AND ?2"));
    Stmt& q = *c;
    q.Bind(1, LargeValueKey(obj, 0)).Bind(2, LargeValueKey(obj, kLastPropId));
    int rc = q.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    return WritePacked(obj, PackedDir());
}

HRESULT StoreCore::ReadRecipients(int64_t message, std::string* blob) {
    auto lock = Lock();
    CachedStmt c(Cached("SELECT recipients FROM objects WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, message);
    int rc = q.Step();
    if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    blob->assign(q.Blob(0));
    return S_OK;
}

HRESULT StoreCore::WriteRecipients(int64_t message, RecipientColumn recipients) {
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    auto lock = Lock();
    CachedStmt c(Cached("UPDATE objects SET recipients=?2, recipient_bytes=?3 WHERE id=?1"));
    Stmt& q = *c;
    q.Bind(1, message).Bind(3, static_cast<int64_t>(recipients.bytes));
    if (recipients.blob != nullptr && !recipients.blob->empty())
        q.BindBlobInPlace(2, recipients.blob->data(), recipients.blob->size());
    int rc = q.Run();
    Changed();
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

HRESULT StoreCore::TreeBytes(int64_t id, uint64_t* bytes) {
    auto lock = Lock();
    // UNION: parent links damaged into a cycle must not make the walk endless.
    CachedStmt c(
        Cached("WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT o.id FROM objects o "
               "JOIN tree t ON o.parent = t.id) "
               "SELECT coalesce(sum(value_bytes + recipient_bytes), 0) FROM objects "
               "WHERE id IN (SELECT id FROM tree)"));
    Stmt& q = *c;
    q.Bind(1, id);
    int rc = q.Step();
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    *bytes = static_cast<uint64_t>(q.Int(0));
    return S_OK;
}

}  // namespace mapi::embedded
