// Thin owning wrappers over SQLite: a connection, a prepared statement and a
// transaction guard, plus the mapping of SQLite result codes to MAPI codes.
//
// None of these is thread-safe; the store core serialises every use of one
// connection with its mutex.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <mapidefs.h>

namespace mapi::embedded {

// MAPI code for a SQLite result: SQLITE_CORRUPT/NOTADB -> MAPI_E_CORRUPT_DATA,
// READONLY/PERM -> MAPI_E_NO_ACCESS, BUSY/LOCKED -> MAPI_E_BUSY, FULL ->
// MAPI_E_NOT_ENOUGH_DISK, NOMEM -> MAPI_E_NOT_ENOUGH_MEMORY, others ->
// MAPI_E_DISK_ERROR. SQLITE_OK/ROW/DONE give S_OK.
HRESULT HrFromSqlite(int rc);

class Db {
public:
    Db() = default;
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    ~Db() { Close(); }

    // Opens path with sqlite3_open_v2 flags; on failure the handle is closed
    // and the SQLite code returned.
    int Open(const std::string& path, int flags);
    void Close();
    // Opens path anew with flags; the old connection is closed only once the
    // new one is open, so a failure leaves it as it was.
    int Reopen(const std::string& path, int flags);
    sqlite3* get() const { return db_; }
    // A connection opened for reading can be given the way to reopen itself
    // for writing; Transaction and EnsureWritable call it once, before the
    // first write.
    void SetReopenForWriting(std::function<int()> reopen) { reopen_ = std::move(reopen); }
    int EnsureWritable();
    // Replaces the connection by one to a private in-memory copy of its
    // database (read-only files of an older format are upgraded there).
    int MoveIntoMemory();
    // Runs one or more statements without results.
    int Exec(const char* sql);
    // A read span: one read transaction over several statements, so they
    // take the file's locks once. BeginReadSpan gives 0 when none could be
    // opened (a transaction is already open); EndReadSpan(token) ends the
    // span it started unless something ended it before. A write ends any
    // span first (Transaction, EnsureWritable).
    uint64_t BeginReadSpan();
    void EndReadSpan(uint64_t token);
    void EndReadSpan() { EndReadSpan(spanToken_); }
    // True while the span of token is still the open one.
    bool ReadSpanOpen(uint64_t token) const { return token != 0 && token == spanToken_; }

    // BEGIN IMMEDIATE, COMMIT and ROLLBACK, prepared once per connection:
    // a store runs them for every message it saves.
    int Begin() { return RunKept(&begin_, "BEGIN IMMEDIATE"); }
    int Commit() { return RunKept(&commit_, "COMMIT"); }
    int Rollback() { return RunKept(&rollback_, "ROLLBACK"); }
    std::string LastError() const;

private:
    int RunKept(sqlite3_stmt** slot, const char* sql);
    void FinalizeKept();

    sqlite3* db_ = nullptr;
    std::function<int()> reopen_;
    sqlite3_stmt* beginRead_ = nullptr;
    uint64_t spanToken_ = 0;  // of the open span, 0 when none
    uint64_t lastToken_ = 0;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
    sqlite3_stmt* rollback_ = nullptr;
};

class Stmt {
public:
    Stmt(const Db& db, std::string_view sql);
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    ~Stmt() { sqlite3_finalize(stmt_); }

    int PrepareCode() const { return prepareRc_; }
    Stmt& Bind(int index, int64_t value);
    Stmt& Bind(int index, std::string_view text);
    Stmt& BindBlob(int index, const void* data, size_t size);
    // Binds without a copy: data must stay as it is until the statement is
    // reset (or bound anew).
    Stmt& BindBlobInPlace(int index, const void* data, size_t size);
    Stmt& BindNull(int index);
    // SQLITE_ROW, SQLITE_DONE or an error (the prepare error when preparing failed).
    int Step();
    // Steps until done; SQLITE_DONE on success.
    int Run();
    void Reset();

    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string Text(int col) const;
    std::string_view Blob(int col) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    int prepareRc_ = SQLITE_OK;
};

// BEGIN IMMEDIATE on construction; rolls back on destruction unless Commit
// succeeded, so an early return never leaves half a write.
class Transaction {
public:
    explicit Transaction(Db& db);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    int BeginCode() const { return beginRc_; }
    int Commit();

private:
    Db& db_;
    int beginRc_;
    bool open_;
};

}  // namespace mapi::embedded
