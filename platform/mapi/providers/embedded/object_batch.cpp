// Objects read by id, many per statement.
#include "object_batch.h"

#include <string>

#include "packed_props.h"

namespace mapi::embedded {

HRESULT ParseObjectColumns(sqlite3_stmt* q, int64_t id, ObjectRow* out) {
    const int64_t kind = sqlite3_column_int64(q, 0);
    if (kind < 1 || kind > 5) return MAPI_E_CORRUPT_DATA;
    out->id = id;
    out->kind = static_cast<ObjectKind>(kind);
    out->parent = sqlite3_column_int64(q, 1);
    out->assoc = sqlite3_column_int64(q, 2) != 0;
    out->num = static_cast<ULONG>(sqlite3_column_int64(q, 3));
    const unsigned char* name = sqlite3_column_text(q, 4);
    out->nameKey = name == nullptr ? std::string()
                                   : std::string(reinterpret_cast<const char*>(name),
                                                 static_cast<size_t>(sqlite3_column_bytes(q, 4)));
    out->folderType = static_cast<ULONG>(sqlite3_column_int64(q, 5));
    out->msgFlags = static_cast<ULONG>(sqlite3_column_int64(q, 6));
    out->size = static_cast<ULONG>(sqlite3_column_int64(q, 7));
    out->hasAttach = sqlite3_column_int64(q, 8) != 0;
    return S_OK;
}

HRESULT LoadObjects(StoreCore& core, const std::vector<int64_t>& ids,
                    const std::function<void(StoreCore::LoadedObject&)>& each) {
    if (ids.empty()) return S_OK;
    if (ids.size() > kMaxBatch) return MAPI_E_INVALID_PARAMETER;
    // One statement per batch size: the text differs only in its count of
    // parameters, and preparing it costs little next to the rows it reads.
    std::string sql =
        "SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, has_attach, "
        "packed, id FROM objects WHERE id IN (";
    for (size_t i = 0; i < ids.size(); ++i) sql += i == 0 ? "?" : ",?";
    sql += ") ORDER BY id";
    auto lock = core.Lock();
    sqlite3_stmt* q = nullptr;
    int rc =
        sqlite3_prepare_v2(core.db().get(), sql.c_str(), static_cast<int>(sql.size()), &q, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(q);
        return HrFromSqlite(rc);
    }
    for (size_t i = 0; i < ids.size(); ++i) sqlite3_bind_int64(q, static_cast<int>(i + 1), ids[i]);
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        StoreCore::LoadedObject object;
        object.row.id = sqlite3_column_int64(q, 10);
        object.error = ParseObjectColumns(q, object.row.id, &object.row);
        if (SUCCEEDED(object.error)) {
            const void* blob = sqlite3_column_blob(q, 9);
            object.view = std::string_view(static_cast<const char*>(blob),
                                           static_cast<size_t>(sqlite3_column_bytes(q, 9)));
            object.error = CheckPacked(object.view);
        }
        each(object);
    }
    sqlite3_finalize(q);
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

}  // namespace mapi::embedded
