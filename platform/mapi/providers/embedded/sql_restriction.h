// A restriction turned into a pre-filter that SQLite applies while it scans a
// folder's messages, so rows that cannot match never leave the database.
//
// The tree's AND, OR and NOT become SQL's own operators; every test on
// properties (comparisons, content, existence, bit masks, sizes, two-property
// comparisons; category membership is a content or property test on a
// multi-valued string) becomes a call of a function registered on the
// connection, which reads the property from the packed directory and judges
// it with the evaluator's own code for that node, case and mark folding
// included. So the database and the evaluator cannot disagree on any value
// or language.
//
// A test on the recipients (RES_SUBRESTRICTION on PR_MESSAGE_RECIPIENTS)
// calls a function that reads the message's recipient column and walks it
// with the evaluator.
//
// A node whose answer the row alone cannot give (a value kept outside the
// directory, a value the store computes from the object row, the attachment
// table, a damaged directory or recipient column) is NULL in SQL;
// three-valued logic then leaves the verdict open exactly when it depends on
// such a node. Open verdicts count as "maybe" and the caller judges those
// rows with the evaluator: the pre-filter only ever removes rows the
// evaluator would reject.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <mapidefs.h>

#include "store_core.h"

namespace mapi::embedded {

// What SQL said about one row before the evaluator saw it.
enum class Verdict { kNo, kYes, kMaybe };

// The SQL expression of one validated restriction over the objects table.
// The tree must outlive the object (its nodes are bound by address).
class SqlRestriction {
public:
    explicit SqlRestriction(const SRestriction& restriction);
    ~SqlRestriction();
    SqlRestriction(const SqlRestriction&) = delete;
    SqlRestriction& operator=(const SqlRestriction&) = delete;

    // An expression over the columns "packed", "recipients" and "id" giving
    // 1, 0 or NULL;
    // it refers to the parameter leafParameter (bound by BindLeaves, for
    // one statement at a time).
    std::string Expression(int leafParameter) const;
    // The same as the terms of a conjunction (one term unless the tree is
    // an AND), each giving 1, 0 or NULL.
    std::vector<std::string> Terms(int leafParameter) const;
    void BindLeaves(sqlite3_stmt* stmt, int leafParameter) const;

    struct Leaves;  // the tests and the state their calls share
    // True when some node reached SQL; false means SQL could only answer
    // "maybe" for every row and the scan gains nothing from it.
    bool Decides() const { return decides_; }

private:
    void Build(const SRestriction& r, int depth);

    std::string sql_;  // with "@" where the leaf parameter goes, and term breaks
    std::unique_ptr<Leaves> leaves_;
    bool decides_ = false;
};

// Registers the functions the expressions call on db; harmless to repeat.
int RegisterRestrictionFunctions(sqlite3* db);

// The message rows of parent (assoc 0 or 1), in id order, as
// StoreCore::ScanChildren hands them out, each with SQL's verdict on
// restriction (a validated tree). Rows SQL rejects are handed out with their
// id alone (the rest of the row unread) and need no further judgement; with
// skipRejected they are not handed out at all, and the others come as kMaybe.
// MAPI_E_TOO_COMPLEX when the restriction does not fit one statement (deeper
// or wider than SQLite parses): the caller then scans without the pre-filter.
// Otherwise fails with the database's error, having stopped the scan.
HRESULT ScanWithVerdicts(StoreCore& core, int64_t parent, int assoc,
                         const SRestriction& restriction, bool skipRejected,
                         const std::function<void(StoreCore::LoadedObject&, Verdict)>& each);

}  // namespace mapi::embedded
