// Restricting and reading a large contents table of the embedded store.
//
// (b) A folder restricted by a content restriction on the subject, a
//     delivery-date range and a category (a few matches), next to the same
//     filter as a plain SQL query over an equivalent flat table in the same
//     run; the store's time is split into selecting and reading the matches.
// (c) Reading the whole contents table with three columns, in batches and
//     all at once as the copy engine does: peak resident memory must stay
//     under 100 MB.
// (d) A restriction that matches nothing, next to a plain SQL scan of the
//     same rows of the store file itself (aim: at most twice its time).
//
// Each comparison runs its two sides alternately, several rounds, and
// compares their medians of the thread's CPU time (both sides run on this
// thread, over files in the page cache), so the load of other processes on a
// shared machine does not move the ratio.
// The items are generated in a child process, so the parent's peak memory is
// the reading alone.
//
// usage: embedded_restrict_bench [--items N] [--rounds R]
//        (defaults 20000 and 7; the 100,000-item run is --items 100000)
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "embedded_bench_util.h"

namespace {

using namespace embedded_bench;
namespace fs = std::filesystem;

const char* const kTopics[] = {
    "Weekly report",          "Invoice", "Meeting notes",     "Travel plans",
    "Quarterly Report draft", "Lunch",   "Release checklist", "Customer REPORT"};
const char16_t* const kCategories[] = {u"Finance", u"Private", u"Projects", u"Travel", u"Urgent"};
constexpr ULONGLONG kBaseTime = 132000000000000000ULL;  // 2019
constexpr ULONGLONG kStep = 36000000000ULL * 7;         // 7 hours per item

struct Generated {
    std::string subject;
    ULONGLONG delivery;
    std::vector<const char16_t*> categories;
    std::string body;
};

Generated Item(int i) {
    Generated g;
    uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
    g.subject = std::string(kTopics[h % 8]) + " " + std::to_string(i);
    g.delivery = kBaseTime + static_cast<ULONGLONG>(i) * kStep;
    g.categories.push_back(kCategories[(h >> 8) % 5]);
    if ((h >> 16) % 3 == 0) g.categories.push_back(kCategories[(h >> 20) % 5]);
    g.body = "Hello,\nplease find the details of item " + std::to_string(i) + " below. Regards\n" +
             std::string(120, 'x');
    return g;
}

void Generate(const std::string& storePath, const std::string& plainPath, int count) {
    ULONG keywords = 0;
    int64_t folder = 0;
    {
        mapi::ComRef<IMsgStore> store = CreateStore(storePath);
        mapi::ComRef<IMAPIFolder> bench = NewFolder(store.get(), "Bench");
        folder = RowIdOf(bench.get());
        MAPINAMEID name{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {}};
        name.Kind.lpwstrName = const_cast<WCHAR*>(u"Keywords");
        LPMAPINAMEID names[] = {&name};
        LPSPropTagArray tags = nullptr;
        Must(store->GetIDsFromNames(1, names, MAPI_CREATE, &tags), "GetIDsFromNames");
        keywords = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_MV_UNICODE);
        MAPIFreeBuffer(tags);
    }
    BulkFill(storePath, folder, count, [&](int i, std::vector<SPropValue>& values) {
        static Generated g;
        static std::vector<WCHAR*> cats;
        g = Item(i);
        cats.assign(g.categories.size(), nullptr);
        for (size_t c = 0; c < cats.size(); ++c) cats[c] = const_cast<WCHAR*>(g.categories[c]);
        SPropValue v{};
        v.ulPropTag = PR_SUBJECT_A;
        v.Value.lpszA = g.subject.data();
        values.push_back(v);
        v.ulPropTag = PR_MESSAGE_CLASS_A;
        v.Value.lpszA = const_cast<char*>("IPM.Note");
        values.push_back(v);
        v.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
        v.Value.ft = FILETIME{static_cast<DWORD>(g.delivery), static_cast<DWORD>(g.delivery >> 32)};
        values.push_back(v);
        v.ulPropTag = keywords;
        v.Value.MVszW = {static_cast<ULONG>(cats.size()), cats.data()};
        values.push_back(v);
        v.ulPropTag = PR_BODY_A;
        v.Value.lpszA = g.body.data();
        values.push_back(v);
    });

    // The same items as a flat table, for the plain SQL baseline.
    sqlite3* db = nullptr;
    if (sqlite3_open(plainPath.c_str(), &db) != SQLITE_OK) Fail("open plain table");
    sqlite3_exec(db,
                 "CREATE TABLE items(id INTEGER PRIMARY KEY, subject TEXT, delivery INTEGER, "
                 "body TEXT); CREATE TABLE item_categories(item INTEGER, category TEXT);"
                 "CREATE INDEX item_categories_by_item ON item_categories(item); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* item = nullptr;
    sqlite3_stmt* category = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO items VALUES(?1, ?2, ?3, ?4)", -1, &item, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO item_categories VALUES(?1, ?2)", -1, &category, nullptr);
    for (int i = 0; i < count; ++i) {
        Generated g = Item(i);
        sqlite3_bind_int(item, 1, i);
        sqlite3_bind_text(item, 2, g.subject.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(item, 3, static_cast<sqlite3_int64>(g.delivery));
        sqlite3_bind_text(item, 4, g.body.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(item);
        sqlite3_reset(item);
        for (const char16_t* c : g.categories) {
            sqlite3_bind_int(category, 1, i);
            sqlite3_bind_text16(category, 2, c, -1, SQLITE_TRANSIENT);
            sqlite3_step(category);
            sqlite3_reset(category);
        }
    }
    sqlite3_finalize(item);
    sqlite3_finalize(category);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

mapi::ComRef<IMAPITable> BenchContents(IMsgStore* store) {
    mapi::ComRef<IMAPIFolder> bench = NewFolder(store, "Bench");
    IMAPITable* table = nullptr;
    Must(bench->GetContentsTable(0, &table), "GetContentsTable");
    return mapi::ComRef<IMAPITable>(table);
}

// Reads every row in batches of batch rows (0: all at once); the row count.
// CPU seconds this thread has used.
double CpuNow() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

ULONG ReadAll(IMAPITable* table, LONG batch) {
    if (batch == 0) {
        SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_SUBJECT_A, PR_MESSAGE_DELIVERY_TIME}};
        LPSRowSet rows = nullptr;
        Must(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                            &rows),
             "HrQueryAllRows");
        ULONG n = rows->cRows;
        FreeProws(rows);
        return n;
    }
    ULONG n = 0;
    for (;;) {
        LPSRowSet rows = nullptr;
        Must(table->QueryRows(batch, 0, &rows), "QueryRows");
        ULONG got = rows->cRows;
        FreeProws(rows);
        if (got == 0) return n;
        n += got;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    int rounds = 7;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--items") == 0) count = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    char pattern[] = "/tmp/embedded-restrict-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) Fail("mkdtemp");
    std::string dir = pattern;
    std::string storePath = dir + "/store.qst";
    std::string plainPath = dir + "/plain.db";

    auto started = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        Generate(storePath, plainPath, count);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("generation");
    std::printf("generated %d items in %.2f s (one transaction)\n", count, Seconds(started));

    std::string error;
    IMsgStore* raw = nullptr;
    mapi::ProfileEntry entry{"b", "bench", "embedded", storePath};
    Must(mapi::EmbeddedStoreProvider()->OpenStore(entry, &raw, &error), error.c_str());
    mapi::ComRef<IMsgStore> store(raw);

    // (c) memory while reading the whole table with three columns.
    long rssBefore = PeakRssKb();
    {
        mapi::ComRef<IMAPITable> table = BenchContents(store.get());
        SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_SUBJECT_A, PR_MESSAGE_DELIVERY_TIME}};
        Must(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), "SetColumns");
        auto t = Clock::now();
        ULONG n = ReadAll(table.get(), 500);
        double batched = Seconds(t);
        long rssBatched = PeakRssKb();
        mapi::ComRef<IMAPITable> again = BenchContents(store.get());
        t = Clock::now();
        ULONG m = ReadAll(again.get(), 0);
        double whole = Seconds(t);
        long rssWhole = PeakRssKb();
        std::printf(
            "read %u rows x 3 columns: batches of 500 %.2f s (%.0f rows/s), "
            "all at once %.2f s (%u rows)\n",
            n, batched, n / batched, whole, m);
        std::printf(
            "peak resident memory: %.1f MB before reading, %.1f MB after batches, "
            "%.1f MB after reading all at once (limit 100 MB): %s\n",
            rssBefore / 1024.0, rssBatched / 1024.0, rssWhole / 1024.0,
            rssWhole < 100 * 1024 ? "ok" : "OVER");
        if (rssWhole >= 100 * 1024) return 2;
    }

    // (b) the restriction next to plain SQL.
    SPropValue report{PR_SUBJECT_A, 0, {}};
    report.Value.lpszA = const_cast<char*>("report");
    ULONGLONG from = kBaseTime + kStep * static_cast<ULONGLONG>(count / 4);
    ULONGLONG until = kBaseTime + kStep * static_cast<ULONGLONG>(count / 4 * 3);
    SPropValue fromValue{PR_MESSAGE_DELIVERY_TIME, 0, {}};
    fromValue.Value.ft = FILETIME{static_cast<DWORD>(from), static_cast<DWORD>(from >> 32)};
    SPropValue untilValue{PR_MESSAGE_DELIVERY_TIME, 0, {}};
    untilValue.Value.ft = FILETIME{static_cast<DWORD>(until), static_cast<DWORD>(until >> 32)};
    MAPINAMEID name{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {}};
    name.Kind.lpwstrName = const_cast<WCHAR*>(u"Keywords");
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    Must(store->GetIDsFromNames(1, names, 0, &tags), "GetIDsFromNames");
    ULONG keywords = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_UNICODE);
    MAPIFreeBuffer(tags);
    SPropValue finance{keywords, 0, {}};
    finance.Value.lpszW = const_cast<WCHAR*>(u"finance");

    SRestriction parts[4]{};
    parts[0].rt = RES_CONTENT;
    parts[0].res.resContent = {FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_A, &report};
    parts[1].rt = RES_PROPERTY;
    parts[1].res.resProperty = {RELOP_GE, PR_MESSAGE_DELIVERY_TIME, &fromValue};
    parts[2].rt = RES_PROPERTY;
    parts[2].res.resProperty = {RELOP_LT, PR_MESSAGE_DELIVERY_TIME, &untilValue};
    parts[3].rt = RES_CONTENT;
    parts[3].res.resContent = {FL_FULLSTRING | FL_IGNORECASE, keywords, &finance};
    SRestriction all{RES_AND, {}};
    all.res.resAnd = {4, parts};

    const int64_t benchFolder = RowIdOf(NewFolder(store.get(), "Bench").get());
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(plainPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        Fail("open plain table");
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, subject FROM items WHERE subject LIKE '%report%' "
                       "AND delivery >= ?1 AND delivery < ?2 AND EXISTS(SELECT 1 FROM "
                       "item_categories c WHERE c.item = items.id AND c.category = 'finance' "
                       "COLLATE NOCASE)",
                       -1, &q, nullptr);
    std::vector<double> storeTimes, selectTimes, sqlTimes;
    ULONG matches = 0;
    int sqlMatches = 0;
    for (int round = 0; round < rounds; ++round) {
        double t = CpuNow();
        mapi::ComRef<IMAPITable> table = BenchContents(store.get());
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_SUBJECT_A}};
        Must(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), "SetColumns");
        Must(table->Restrict(&all, TBL_BATCH), "Restrict");
        ULONG selected = 0;
        Must(table->GetRowCount(0, &selected), "GetRowCount");
        selectTimes.push_back(CpuNow() - t);
        matches = ReadAll(table.get(), 500);
        storeTimes.push_back(CpuNow() - t);

        t = CpuNow();
        sqlite3_bind_int64(q, 1, static_cast<sqlite3_int64>(from));
        sqlite3_bind_int64(q, 2, static_cast<sqlite3_int64>(until));
        sqlMatches = 0;
        while (sqlite3_step(q) == SQLITE_ROW) ++sqlMatches;
        sqlite3_reset(q);
        sqlTimes.push_back(CpuNow() - t);
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    const double storeTime = Median(storeTimes), sqlTime = Median(sqlTimes);
    std::printf(
        "restrict %d items (subject contains, date range, category), medians of %d rounds, CPU "
        "time: "
        "store %.4f s (%u matches; selecting %.4f s, reading the matches %.4f s), plain SQL "
        "%.4f s (%d matches), ratio %.1f\n",
        count, rounds, storeTime, matches, Median(selectTimes), storeTime - Median(selectTimes),
        sqlTime, sqlMatches, storeTime / sqlTime);

    // (d) a question no item answers, next to a plain SQL scan of the same
    // rows of the same file that reads every item's stored properties.
    SPropValue nothing{PR_SUBJECT_A, 0, {}};
    nothing.Value.lpszA = const_cast<char*>("no such subject anywhere");
    SRestriction none{RES_CONTENT, {}};
    none.res.resContent = {FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_A, &nothing};
    if (sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        Fail("open store file");
    sqlite3_prepare_v2(db,
                       "SELECT id FROM objects WHERE parent=?1 AND kind=3 AND assoc=0 AND "
                       "instr(packed, ?2) > 0",
                       -1, &q, nullptr);
    std::vector<double> noneTimes, scanTimes;
    ULONG noneMatches = 0;
    int scanMatches = 0;
    for (int round = 0; round < rounds; ++round) {
        double t = CpuNow();
        mapi::ComRef<IMAPITable> table = BenchContents(store.get());
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_SUBJECT_A}};
        Must(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), "SetColumns");
        Must(table->Restrict(&none, TBL_BATCH), "Restrict");
        noneMatches = ReadAll(table.get(), 500);
        noneTimes.push_back(CpuNow() - t);

        t = CpuNow();
        sqlite3_bind_int64(q, 1, benchFolder);
        sqlite3_bind_blob(q, 2, "no such subject anywhere", 24, SQLITE_STATIC);
        scanMatches = 0;
        while (sqlite3_step(q) == SQLITE_ROW) ++scanMatches;
        sqlite3_reset(q);
        scanTimes.push_back(CpuNow() - t);
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    const double noneTime = Median(noneTimes), scanTime = Median(scanTimes);
    std::printf(
        "restrict %d items matching nothing (subject contains), medians of %d rounds, CPU time: "
        "store "
        "%.4f s (%u matches), plain SQL scan of the same file %.4f s (%d matches), ratio %.2f "
        "(aim <= 2: %s)\n",
        count, rounds, noneTime, noneMatches, scanTime, scanMatches, noneTime / scanTime,
        noneTime <= 2 * scanTime ? "met" : "NOT met");

    store.Reset();
    fs::remove_all(dir);
    return static_cast<int>(matches) == sqlMatches && noneMatches == 0 && scanMatches == 0 ? 0 : 3;
}
