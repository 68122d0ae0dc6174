// SQLite connection, statement and transaction holders.
#include "sqlite_db.h"

namespace mapi::embedded {

HRESULT HrFromSqlite(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return S_OK;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
        case SQLITE_MISMATCH:
            return MAPI_E_CORRUPT_DATA;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return MAPI_E_NO_ACCESS;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return MAPI_E_BUSY;
        case SQLITE_FULL:
            return MAPI_E_NOT_ENOUGH_DISK;
        case SQLITE_NOMEM:
            return MAPI_E_NOT_ENOUGH_MEMORY;
        case SQLITE_TOOBIG:
            return MAPI_E_TOO_BIG;
        case SQLITE_CONSTRAINT:
            return MAPI_E_COLLISION;
        default:
            return MAPI_E_DISK_ERROR;
    }
}

int Db::Open(const std::string& path, int flags) {
    Close();
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) Close();
    return rc;
}

int Db::Reopen(const std::string& path, int flags) {
    sqlite3* fresh = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &fresh, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(fresh);
        return rc;
    }
    Close();
    db_ = fresh;
    return SQLITE_OK;
}

int Db::RunKept(sqlite3_stmt** slot, const char* sql) {
    if (*slot == nullptr) {
        int rc = sqlite3_prepare_v2(db_, sql, -1, slot, nullptr);
        if (rc != SQLITE_OK) return rc;
    }
    int rc = sqlite3_step(*slot);
    sqlite3_reset(*slot);
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

uint64_t Db::BeginReadSpan() {
    if (db_ == nullptr || spanToken_ != 0 || sqlite3_get_autocommit(db_) == 0) return 0;
    if (RunKept(&beginRead_, "BEGIN") != SQLITE_OK) return 0;
    spanToken_ = ++lastToken_;
    return spanToken_;
}

void Db::EndReadSpan(uint64_t token) {
    if (token == 0 || token != spanToken_) return;
    spanToken_ = 0;
    // Nothing was written in it; ending it only lets go of the locks.
    if (RunKept(&commit_, "COMMIT") != SQLITE_OK) RunKept(&rollback_, "ROLLBACK");
}

void Db::FinalizeKept() {
    spanToken_ = 0;
    for (sqlite3_stmt** slot : {&beginRead_, &begin_, &commit_, &rollback_}) {
        sqlite3_finalize(*slot);
        *slot = nullptr;
    }
}

void Db::Close() {
    FinalizeKept();
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

int Db::EnsureWritable() {
    if (!reopen_) return SQLITE_OK;
    EndReadSpan();
    // Statements still stepping or a transaction still open belong to the
    // connection about to be replaced.
    if (db_ != nullptr) {
        if (sqlite3_get_autocommit(db_) == 0) return SQLITE_MISUSE;
        for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s != nullptr;
             s = sqlite3_next_stmt(db_, s))
            if (sqlite3_stmt_busy(s)) return SQLITE_MISUSE;
    }
    int rc = reopen_();
    if (rc == SQLITE_OK) reopen_ = nullptr;
    return rc;
}

int Db::MoveIntoMemory() {
    sqlite3* memory = nullptr;
    int rc = sqlite3_open_v2(":memory:", &memory, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(memory);
        return rc;
    }
    sqlite3_backup* backup = sqlite3_backup_init(memory, "main", db_, "main");
    if (backup == nullptr) {
        rc = sqlite3_errcode(memory);
        sqlite3_close_v2(memory);
        return rc == SQLITE_OK ? SQLITE_ERROR : rc;
    }
    rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        sqlite3_close_v2(memory);
        return rc;
    }
    Close();
    db_ = memory;
    return SQLITE_OK;
}

int Db::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

std::string Db::LastError() const {
    return db_ != nullptr ? sqlite3_errmsg(db_) : "no database connection";
}

Stmt::Stmt(const Db& db, std::string_view sql) {
    prepareRc_ =
        sqlite3_prepare_v2(db.get(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (prepareRc_ == SQLITE_OK && stmt_ == nullptr) prepareRc_ = SQLITE_MISUSE;
}

Stmt& Stmt::Bind(int index, int64_t value) {
    if (stmt_ != nullptr) sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Stmt& Stmt::Bind(int index, std::string_view text) {
    if (stmt_ != nullptr)
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

Stmt& Stmt::BindBlob(int index, const void* data, size_t size) {
    // A zero-length blob must stay a blob, not become NULL.
    static const char kEmpty = 0;
    if (stmt_ != nullptr)
        sqlite3_bind_blob64(stmt_, index, size == 0 ? &kEmpty : data, size, SQLITE_TRANSIENT);
    return *this;
}

Stmt& Stmt::BindBlobInPlace(int index, const void* data, size_t size) {
    static const char kEmpty = 0;
    if (stmt_ != nullptr)
        sqlite3_bind_blob64(stmt_, index, size == 0 ? &kEmpty : data, size, SQLITE_STATIC);
    return *this;
}

Stmt& Stmt::BindNull(int index) {
    if (stmt_ != nullptr) sqlite3_bind_null(stmt_, index);
    return *this;
}

int Stmt::Step() {
    if (prepareRc_ != SQLITE_OK) return prepareRc_;
    return sqlite3_step(stmt_);
}

int Stmt::Run() {
    int rc;
    while ((rc = Step()) == SQLITE_ROW) {
    }
    return rc;
}

void Stmt::Reset() {
    if (stmt_ != nullptr) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

std::string Stmt::Text(int col) const {
    const unsigned char* p = sqlite3_column_text(stmt_, col);
    if (p == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(stmt_, col));
}

std::string_view Stmt::Blob(int col) const {
    const void* p = sqlite3_column_blob(stmt_, col);
    if (p == nullptr) return std::string_view();
    return std::string_view(static_cast<const char*>(p), sqlite3_column_bytes(stmt_, col));
}

Transaction::Transaction(Db& db) : db_(db) {
    db_.EndReadSpan();
    beginRc_ = db_.EnsureWritable();
    if (beginRc_ == SQLITE_OK) beginRc_ = db_.Begin();
    open_ = beginRc_ == SQLITE_OK;
}

Transaction::~Transaction() {
    if (open_) db_.Rollback();
}

int Transaction::Commit() {
    if (!open_) return beginRc_ != SQLITE_OK ? beginRc_ : SQLITE_MISUSE;
    int rc = db_.Commit();
    if (rc == SQLITE_OK) open_ = false;
    return rc;
}

}  // namespace mapi::embedded
