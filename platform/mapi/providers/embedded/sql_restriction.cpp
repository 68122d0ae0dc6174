// The SQL pre-filter of contents restrictions and the functions it calls.
#include "sql_restriction.h"

#include <mapitags.h>

#include "packed_props.h"
#include "runtime/mapi_ptr.h"
#include "runtime/restriction_eval.h"

namespace mapi::embedded {
namespace {

// The type name under which leaf tables travel as SQL pointer values; SQLite
// hands a pointer out only to a caller naming the same type.
constexpr const char* kLeafPointer = "quirnel-restriction-leaves";
constexpr const char* kLeafFunction = "quirnel_restriction_leaf";

// Ids the store answers from the object row instead of the directory for
// some kind of object (object_props.cpp); a directory may even hold a stale
// copy of one of them, which the row's answer hides. Their tests stay with
// the evaluator.
bool RowAnswers(ULONG propId) {
    switch (propId) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_INSTANCE_KEY):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_STORE_RECORD_KEY):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_PARENT_ENTRYID):
        case PROP_ID(PR_DEPTH):
        case PROP_ID(PR_ROWID):
        case PROP_ID(PR_ATTACH_NUM):
        case PROP_ID(PR_FOLDER_TYPE):
        case PROP_ID(PR_CONTENT_COUNT):
        case PROP_ID(PR_ASSOC_CONTENT_COUNT):
        case PROP_ID(PR_SUBFOLDERS):
        case PROP_ID(PR_MESSAGE_SIZE):
        case PROP_ID(PR_HASATTACH):
        case PROP_ID(PR_MESSAGE_FLAGS):
            return true;
        default:
            return false;
    }
}

// One row as the directory alone shows it. Asked for anything the directory
// cannot answer, it says so (Open()) instead of guessing.
class DirectoryRow final : public RowAccessor {
public:
    explicit DirectoryRow(std::string_view blob) : blob_(blob) {}

    const SPropValue* GetById(ULONG propId) override {
        if (RowAnswers(propId)) return Unknown();
        ULONG type = 0;
        bool outside = false;
        std::string_view bytes;
        if (!FindPacked(blob_, propId, &type, &outside, &bytes)) return nullptr;
        if (outside) return Unknown();
        if (!arena_) {
            arena_ = AllocateMapi<char>(1);
            if (!arena_) return Unknown();
        }
        void* slot = nullptr;
        if (MAPIAllocateMore(sizeof(SPropValue), arena_.get(), &slot) != S_OK) return Unknown();
        auto* value = static_cast<SPropValue*>(slot);
        // A value that does not decode is damage the full row reports in its
        // own way; the evaluator sees that row.
        if (FAILED(DecodeValue(propId, type, bytes, arena_.get(), value))) return Unknown();
        return value;
    }

    HRESULT SubRows(ULONG, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        rows->clear();
        open_ = true;
        return MAPI_E_NO_SUPPORT;
    }

    bool Open() const { return open_; }

private:
    const SPropValue* Unknown() {
        open_ = true;
        return nullptr;
    }

    std::string_view blob_;
    bool open_ = false;
    MapiBuffer<char> arena_;
};

// quirnel_restriction_leaf(packed, leaves, index): 1 or 0 when the directory
// decides leaves[index], NULL when it cannot.
void LeafFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 3) return sqlite3_result_null(context);
    auto* leaves = static_cast<const std::vector<const SRestriction*>*>(
        sqlite3_value_pointer(argv[1], kLeafPointer));
    const sqlite3_int64 index = sqlite3_value_int64(argv[2]);
    if (leaves == nullptr || index < 0 || static_cast<size_t>(index) >= leaves->size())
        return sqlite3_result_null(context);
    std::string_view blob;
    if (sqlite3_value_type(argv[0]) != SQLITE_NULL) {
        const void* bytes = sqlite3_value_blob(argv[0]);
        blob = std::string_view(static_cast<const char*>(bytes),
                                static_cast<size_t>(sqlite3_value_bytes(argv[0])));
    }
    if (FAILED(CheckPacked(blob))) return sqlite3_result_null(context);
    DirectoryRow row(blob);
    const bool match = EvaluateRestriction(*(*leaves)[static_cast<size_t>(index)], row);
    if (row.Open()) return sqlite3_result_null(context);
    sqlite3_result_int(context, match ? 1 : 0);
}

// Nesting kept well inside SQLite's own expression depth limit (1000 by
// default); a deeper tree is scanned without the pre-filter.
constexpr int kMaxSqlDepth = 300;

}  // namespace

SqlRestriction::SqlRestriction(const SRestriction& restriction) {
    Build(restriction, 0);
}

void SqlRestriction::Build(const SRestriction& r, int depth) {
    if (depth > kMaxSqlDepth) {
        sql_ += "NULL";
        return;
    }
    switch (r.rt) {
        case RES_AND:
        case RES_OR: {
            const SAndRestriction& list = r.res.resAnd;  // resOr has the same layout
            if (list.cRes == 0) {
                sql_ += r.rt == RES_AND ? "1" : "0";
                decides_ = true;
                return;
            }
            sql_ += '(';
            for (ULONG i = 0; i < list.cRes; ++i) {
                if (i > 0) sql_ += r.rt == RES_AND ? " AND " : " OR ";
                Build(list.lpRes[i], depth + 1);
            }
            sql_ += ')';
            return;
        }
        case RES_NOT:
            sql_ += "(NOT ";
            Build(*r.res.resNot.lpRes, depth + 1);
            sql_ += ')';
            return;
        case RES_COMMENT:
            sql_ += '1';
            return;
        case RES_SUBRESTRICTION:
            sql_ += "NULL";
            return;
        case RES_CONTENT:
        case RES_PROPERTY:
        case RES_COMPAREPROPS:
        case RES_BITMASK:
        case RES_SIZE:
        case RES_EXIST:
            sql_ += std::string(kLeafFunction) + "(packed, @, " + std::to_string(leaves_.size()) +
                    ")";
            leaves_.push_back(&r);
            decides_ = true;
            return;
        default:
            sql_ += "NULL";
            return;
    }
}

std::string SqlRestriction::Expression(int leafParameter) const {
    const std::string parameter = "?" + std::to_string(leafParameter);
    std::string out;
    out.reserve(sql_.size() + leaves_.size() * parameter.size());
    for (char c : sql_) {
        if (c == '@')
            out += parameter;
        else
            out += c;
    }
    return out;
}

void SqlRestriction::BindLeaves(sqlite3_stmt* stmt, int leafParameter) const {
    sqlite3_bind_pointer(stmt, leafParameter, const_cast<std::vector<const SRestriction*>*>(&leaves_),
                         kLeafPointer, nullptr);
}

int RegisterRestrictionFunctions(sqlite3* db) {
    return sqlite3_create_function_v2(db, kLeafFunction, 3, SQLITE_UTF8 | SQLITE_DIRECTONLY,
                                      nullptr, LeafFunction, nullptr, nullptr, nullptr);
}

namespace {

// The object row as store_core reads it: columns 0..8 of the scan.
HRESULT ParseRow(sqlite3_stmt* q, int64_t id, ObjectRow* out) {
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

struct StatementHolder {
    sqlite3_stmt* stmt = nullptr;
    ~StatementHolder() { sqlite3_finalize(stmt); }
};

}  // namespace

HRESULT ScanWithVerdicts(StoreCore& core, int64_t parent, int assoc,
                         const SRestriction& restriction,
                         const std::function<void(StoreCore::LoadedObject&, Verdict)>& each) {
    SqlRestriction filter(restriction);
    if (!filter.Decides()) return MAPI_E_TOO_COMPLEX;
    // The verdict first: a rejected row's other columns are never asked for.
    const std::string sql =
        "SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, has_attach, "
        "packed, id, " +
        filter.Expression(4) +
        " FROM objects WHERE parent=?1 AND kind=?2 AND assoc=?3 ORDER BY id";
    auto lock = core.Lock();
    sqlite3* db = core.db().get();
    StatementHolder q;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &q.stmt, nullptr);
    if (rc != SQLITE_OK) {
        // A connection opened (or reopened for writing) since the last scan
        // has not met the function yet.
        sqlite3_finalize(q.stmt);
        q.stmt = nullptr;
        if (RegisterRestrictionFunctions(db) != SQLITE_OK) return MAPI_E_TOO_COMPLEX;
        rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &q.stmt, nullptr);
        if (rc != SQLITE_OK) return MAPI_E_TOO_COMPLEX;
    }
    sqlite3_bind_int64(q.stmt, 1, parent);
    sqlite3_bind_int64(q.stmt, 2, static_cast<int64_t>(ObjectKind::kMessage));
    sqlite3_bind_int64(q.stmt, 3, assoc);
    filter.BindLeaves(q.stmt, 4);
    while ((rc = sqlite3_step(q.stmt)) == SQLITE_ROW) {
        StoreCore::LoadedObject object;
        object.row.id = sqlite3_column_int64(q.stmt, 10);
        const Verdict verdict = sqlite3_column_type(q.stmt, 11) == SQLITE_NULL ? Verdict::kMaybe
                                : sqlite3_column_int64(q.stmt, 11) != 0        ? Verdict::kYes
                                                                               : Verdict::kNo;
        if (verdict != Verdict::kNo) {
            object.error = ParseRow(q.stmt, object.row.id, &object.row);
            if (SUCCEEDED(object.error)) {
                const void* blob = sqlite3_column_blob(q.stmt, 9);
                object.view = std::string_view(static_cast<const char*>(blob),
                                               static_cast<size_t>(sqlite3_column_bytes(q.stmt, 9)));
                object.error = CheckPacked(object.view);
            }
        }
        each(object, verdict);
    }
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

}  // namespace mapi::embedded
