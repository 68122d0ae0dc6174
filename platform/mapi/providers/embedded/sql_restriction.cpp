// The SQL pre-filter of contents restrictions and the functions it calls.
#include "sql_restriction.h"

#include <deque>

#include <mapitags.h>

#include "message_recipients.h"
#include "object_batch.h"
#include "packed_props.h"
#include "runtime/mapi_ptr.h"
#include "runtime/restriction_eval.h"

namespace mapi::embedded {
namespace {

// The type name under which leaf tables travel as SQL pointer values; SQLite
// hands a pointer out only to a caller naming the same type.
constexpr const char* kLeafPointer = "quirnel-restriction-leaves";
constexpr const char* kLeafFunction = "quirnel_restriction_leaf";
constexpr const char* kRecipientsFunction = "quirnel_restriction_recipients";
constexpr char kTermBreak = '\x01';

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

bool FixedWidthType(ULONG type) {
    switch (type) {
        case PT_I2:
        case PT_LONG:
        case PT_R4:
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_BOOLEAN:
        case PT_I8:
        case PT_SYSTIME:
            return true;
        default:
            return false;
    }
}

// One row as the directory alone shows it. Asked for anything the directory
// cannot answer, it says so (Open()) instead of guessing. Values stay
// decoded for the row's other tests; Reset starts the next row.
class DirectoryRow final : public RowAccessor {
public:
    void Reset(bool intact) {
        intact_ = intact;
        cache_.clear();
        slots_.clear();
        texts_used_ = 0;
        arena_.reset();
    }
    // The directory of the row as the current call sees it (SQLite may hand
    // each call its own copy); it must stay the same row.
    void Use(std::string_view blob) {
        blob_ = blob;
        open_ = false;
    }
    bool Intact() const { return intact_; }
    bool Open() const { return open_; }

    const SPropValue* GetById(ULONG propId) override {
        for (const auto& [id, value] : cache_)
            if (id == propId) return value == &unknown_ ? Unknown() : value;
        const SPropValue* value = Read(propId);
        cache_.emplace_back(propId, value);
        return value == &unknown_ ? Unknown() : value;
    }

    HRESULT SubRows(ULONG, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        rows->clear();
        open_ = true;
        return MAPI_E_NO_SUPPORT;
    }

private:
    const SPropValue* Read(ULONG propId) {
        if (RowAnswers(propId)) return &unknown_;
        ULONG type = 0;
        bool outside = false;
        std::string_view bytes;
        if (!FindPacked(blob_, propId, &type, &outside, &bytes)) return nullptr;
        if (outside) return &unknown_;
        if (type == PT_STRING8 || type == PT_UNICODE) return Text(propId, type, bytes);
        // Fixed-width values decode in place; others need memory of a row's life.
        if (!FixedWidthType(type) && !arena_) {
            arena_ = AllocateMapi<char>(1);
            if (!arena_) return &unknown_;
        }
        SPropValue& value = slots_.emplace_back();
        // A value that does not decode is damage the full row reports in its
        // own way; the evaluator sees that row.
        if (FAILED(DecodeValue(propId, type, bytes, arena_.get(), &value))) return &unknown_;
        return &value;
    }

    // A single string, the most tested kind of value, is terminated in a
    // buffer kept from row to row instead of a fresh allocation per row
    // (the stored form is its code units without terminator, prop_codec.h).
    const SPropValue* Text(ULONG propId, ULONG type, std::string_view bytes) {
        if (type == PT_UNICODE && bytes.size() % sizeof(WCHAR) != 0) return &unknown_;
        if (texts_used_ == texts_.size()) texts_.emplace_back();
        std::string& text = texts_[texts_used_++];
        text.assign(bytes);
        text.append(sizeof(WCHAR), '\0');
        SPropValue& value = slots_.emplace_back();
        value.ulPropTag = PROP_TAG(type, propId);
        value.dwAlignPad = 0;
        if (type == PT_STRING8)
            value.Value.lpszA = text.data();
        else
            value.Value.lpszW = reinterpret_cast<WCHAR*>(text.data());
        return &value;
    }

    const SPropValue* Unknown() {
        open_ = true;
        return nullptr;
    }

    std::string_view blob_;
    std::deque<std::string> texts_;  // stable: values point into them
    size_t texts_used_ = 0;
    bool intact_ = false;
    bool open_ = false;
    SPropValue unknown_{};  // marks a cached "cannot tell"
    std::vector<std::pair<ULONG, const SPropValue*>> cache_;
    std::deque<SPropValue> slots_;
    MapiBuffer<char> arena_;
};

}  // namespace

// What the statement's leaf calls share: the tests, and the row they are on.
struct SqlRestriction::Leaves {
    std::vector<const SRestriction*> tests;
    int64_t rowId = 0;
    bool onRow = false;
    DirectoryRow row;
};

namespace {

// The tests a call was handed and the index of the one it asks about; null
// when the arguments name none.
SqlRestriction::Leaves* LeavesOf(sqlite3_value* pointer, sqlite3_value* index, size_t* at) {
    auto* leaves = static_cast<SqlRestriction::Leaves*>(sqlite3_value_pointer(pointer, kLeafPointer));
    const sqlite3_int64 i = sqlite3_value_int64(index);
    if (leaves == nullptr || i < 0 || static_cast<size_t>(i) >= leaves->tests.size()) return nullptr;
    *at = static_cast<size_t>(i);
    return leaves;
}

std::string_view BlobOf(sqlite3_value* value) {
    if (sqlite3_value_type(value) == SQLITE_NULL) return {};
    const void* bytes = sqlite3_value_blob(value);
    return std::string_view(static_cast<const char*>(bytes), static_cast<size_t>(sqlite3_value_bytes(value)));
}

// quirnel_restriction_leaf(packed, id, leaves, index): 1 or 0 when the
// directory decides leaves[index], NULL when it cannot.
void LeafFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 4) return sqlite3_result_null(context);
    size_t index = 0;
    SqlRestriction::Leaves* leaves = LeavesOf(argv[2], argv[3], &index);
    if (leaves == nullptr) return sqlite3_result_null(context);
    const std::string_view blob = BlobOf(argv[0]);
    // The row's other tests have checked its directory already.
    const sqlite3_int64 id = sqlite3_value_int64(argv[1]);
    if (!leaves->onRow || leaves->rowId != id) {
        leaves->onRow = true;
        leaves->rowId = id;
        leaves->row.Reset(SUCCEEDED(CheckPacked(blob)));
    }
    DirectoryRow& row = leaves->row;
    if (!row.Intact()) return sqlite3_result_null(context);
    row.Use(blob);
    const bool match = EvaluateRestriction(*leaves->tests[index], row);
    if (row.Open()) return sqlite3_result_null(context);
    sqlite3_result_int(context, match ? 1 : 0);
}

// A message as a recipient test sees it: nothing but its recipient table,
// which the evaluator walks exactly as it does for a whole row.
class RecipientsOnly final : public RowAccessor {
public:
    explicit RecipientsOnly(MemoryRows& table) : table_(table) {}
    const SPropValue* GetById(ULONG) override { return nullptr; }
    HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        rows->clear();
        if (subObject != PR_MESSAGE_RECIPIENTS) return MAPI_E_NO_SUPPORT;
        for (ULONG i = 0; i < table_.Count(); ++i) rows->push_back(table_.Row(i));
        return S_OK;
    }

private:
    MemoryRows& table_;
};

// quirnel_restriction_recipients(recipients, leaves, index): whether a row
// of the recipient column matches leaves[index] (a RES_SUBRESTRICTION on
// PR_MESSAGE_RECIPIENTS), judged by the evaluator over the very rows the
// recipient table shows; NULL for a column that cannot be read.
void RecipientsFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 3) return sqlite3_result_null(context);
    size_t index = 0;
    SqlRestriction::Leaves* leaves = LeavesOf(argv[1], argv[2], &index);
    if (leaves == nullptr) return sqlite3_result_null(context);
    const std::string_view blob = BlobOf(argv[0]);
    std::vector<RecipientRow> recipients;
    std::shared_ptr<MemoryRows> table;
    if (FAILED(UnpackRecipients(blob, &recipients)) ||
        FAILED(RecipientTableRows(recipients, &table)))
        return sqlite3_result_null(context);
    RecipientsOnly message(*table);
    sqlite3_result_int(context,
                       EvaluateRestriction(*leaves->tests[index], message));
}

// Nesting kept well inside SQLite's own expression depth limit (1000 by
// default); a deeper tree is scanned without the pre-filter.
constexpr int kMaxSqlDepth = 300;

}  // namespace

SqlRestriction::SqlRestriction(const SRestriction& restriction)
    : leaves_(std::make_unique<Leaves>()) {
    Build(restriction, 0);
}

SqlRestriction::~SqlRestriction() = default;

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
            // The top AND's terms are kept apart (kTermBreak) so that a
            // WHERE clause can take them as its own terms, which SQLite
            // stops at the first that rejects a row.
            const bool split = depth == 0 && r.rt == RES_AND;
            if (!split) sql_ += '(';
            for (ULONG i = 0; i < list.cRes; ++i) {
                if (i > 0)
                    sql_ += split ? std::string(1, kTermBreak) : r.rt == RES_AND ? " AND " : " OR ";
                Build(list.lpRes[i], depth + 1);
            }
            if (!split) sql_ += ')';
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
            // Attachments are rows of their own, out of this statement's reach.
            if (r.res.resSub.ulSubObject != PR_MESSAGE_RECIPIENTS) {
                sql_ += "NULL";
                return;
            }
            sql_ += std::string(kRecipientsFunction) + "(recipients, @, " +
                    std::to_string(leaves_->tests.size()) + ")";
            leaves_->tests.push_back(&r);
            decides_ = true;
            return;
        case RES_CONTENT:
        case RES_PROPERTY:
        case RES_COMPAREPROPS:
        case RES_BITMASK:
        case RES_SIZE:
        case RES_EXIST:
            sql_ += std::string(kLeafFunction) + "(packed, id, @, " +
                    std::to_string(leaves_->tests.size()) + ")";
            leaves_->tests.push_back(&r);
            decides_ = true;
            return;
        default:
            sql_ += "NULL";
            return;
    }
}

std::vector<std::string> SqlRestriction::Terms(int leafParameter) const {
    std::string parameter(1, '?');
    parameter += std::to_string(leafParameter);
    std::vector<std::string> terms(1);
    for (char c : sql_) {
        if (c == '@')
            terms.back() += parameter;
        else if (c == kTermBreak)
            terms.emplace_back();
        else
            terms.back() += c;
    }
    return terms;
}

std::string SqlRestriction::Expression(int leafParameter) const {
    std::vector<std::string> terms = Terms(leafParameter);
    if (terms.size() == 1) return terms[0];
    std::string out = "(";
    for (size_t i = 0; i < terms.size(); ++i) {
        if (i > 0) out += " AND ";
        out += terms[i];
    }
    return out + ")";
}

void SqlRestriction::BindLeaves(sqlite3_stmt* stmt, int leafParameter) const {
    leaves_->onRow = false;
    sqlite3_bind_pointer(stmt, leafParameter, leaves_.get(), kLeafPointer, nullptr);
}

int RegisterRestrictionFunctions(sqlite3* db) {
    int rc = sqlite3_create_function_v2(db, kLeafFunction, 4, SQLITE_UTF8 | SQLITE_DIRECTONLY,
                                        nullptr, LeafFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    return sqlite3_create_function_v2(db, kRecipientsFunction, 3, SQLITE_UTF8 | SQLITE_DIRECTONLY,
                                      nullptr, RecipientsFunction, nullptr, nullptr, nullptr);
}

namespace {

struct StatementHolder {
    sqlite3_stmt* stmt = nullptr;
    ~StatementHolder() { sqlite3_finalize(stmt); }
};

}  // namespace

HRESULT ScanWithVerdicts(StoreCore& core, int64_t parent, int assoc,
                         const SRestriction& restriction, bool skipRejected,
                         const std::function<void(StoreCore::LoadedObject&, Verdict)>& each) {
    SqlRestriction filter(restriction);
    if (!filter.Decides()) return MAPI_E_TOO_COMPLEX;
    // Skipping, the rows that come out are those SQL did not reject; their
    // verdict (yes or maybe) is not worth a second evaluation, as the
    // evaluator judges both alike. A conjunction is rejected exactly when
    // one of its terms is, so each term is a WHERE term of its own.
    std::string sql =
        "SELECT kind, parent, assoc, num, name_key, folder_type, msg_flags, size, has_attach, "
        "packed, id, ";
    sql += skipRejected ? std::string("NULL") : filter.Expression(4);
    sql += " FROM objects WHERE parent=?1 AND kind=?2 AND assoc=?3";
    if (skipRejected)
        for (const std::string& term : filter.Terms(4)) sql += " AND (" + term + ") IS NOT 0";
    sql += " ORDER BY id";
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
            object.error = ParseObjectColumns(q.stmt, object.row.id, &object.row);
            if (SUCCEEDED(object.error)) {
                const void* blob = sqlite3_column_blob(q.stmt, 9);
                object.view =
                    std::string_view(static_cast<const char*>(blob),
                                     static_cast<size_t>(sqlite3_column_bytes(q.stmt, 9)));
                object.error = CheckPacked(object.view);
            }
        }
        each(object, verdict);
    }
    return rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
}

}  // namespace mapi::embedded
