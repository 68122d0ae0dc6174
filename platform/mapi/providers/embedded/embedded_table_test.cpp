// Contents and hierarchy tables of a real store, restricted end to end:
// the same restriction kinds the query compiler produces, computed columns,
// sub-restrictions over recipients and attachments.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>
#include <set>

#include "embedded_test_util.h"
#include "entry_id.h"
#include "runtime/alloc_fault.h"

namespace mapi::embedded::test {
namespace {

struct Item {
    const char* subject;
    const char16_t* category;  // nullptr: none
    int day;                   // delivery day offset
    const char* recipient;     // nullptr: none
    const char* attachment;    // nullptr: none
    const char* body;          // nullptr: none
};

constexpr Item kItems[] = {
    {"Budget 2024", u"Finance", 1, "Bob", "budget.xlsx", "numbers and more"},
    {"budget review", u"Finance", 5, "Alice", nullptr, nullptr},
    {"Lunch", u"Private", 9, "Bob", nullptr, "see you"},
    {"Release notes", nullptr, 12, nullptr, "notes.txt", nullptr},
    {"ÄRGER mit dem Budget", u"Ärger", 20, "Carol", nullptr, nullptr},
};

FILETIME Day(int n) {
    ULONGLONG t = 133000000000000000ULL + static_cast<ULONGLONG>(n) * 864000000000ULL;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

class EmbeddedTable : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = CreateAndOpen(dir_.File("a.qst"));
        folder_ = Subfolder(IpmSubtree(store_.get()).get(), "Items");
        MAPINAMEID name{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {}};
        name.Kind.lpwstrName = const_cast<WCHAR*>(u"Keywords");
        LPMAPINAMEID names[] = {&name};
        LPSPropTagArray tags = nullptr;
        ASSERT_EQ(store_->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
        categories_ = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_MV_UNICODE);
        MAPIFreeBuffer(tags);
        for (const Item& item : kItems) Add(item);
    }

    void Add(const Item& item) {
        IMessage* raw = nullptr;
        ASSERT_EQ(folder_->CreateMessage(nullptr, 0, &raw), S_OK);
        ComRef<IMessage> m(raw);
        SetString(m.get(), PR_SUBJECT, item.subject);
        SPropValue v{PR_MESSAGE_DELIVERY_TIME, 0, {}};
        v.Value.ft = Day(item.day);
        m->SetProps(1, &v, nullptr);
        if (item.category != nullptr) {
            WCHAR* values[] = {const_cast<WCHAR*>(u"Work"), const_cast<WCHAR*>(item.category)};
            SPropValue c{categories_, 0, {}};
            c.Value.MVszW = {2, values};
            m->SetProps(1, &c, nullptr);
        }
        if (item.body != nullptr) SetString(m.get(), PR_BODY, item.body);
        if (item.recipient != nullptr) {
            SPropValue r{PR_DISPLAY_NAME_A, 0, {}};
            r.Value.lpszA = const_cast<char*>(item.recipient);
            struct {
                ULONG cEntries;
                ADRENTRY aEntries[1];
            } list{1, {{0, 1, &r}}};
            ASSERT_EQ(m->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)), S_OK);
        }
        if (item.attachment != nullptr) {
            IAttach* a = nullptr;
            ASSERT_EQ(m->CreateAttach(nullptr, 0, nullptr, &a), S_OK);
            ComRef<IAttach> attach(a);
            SetString(attach.get(), PR_ATTACH_FILENAME, item.attachment);
            ASSERT_EQ(attach->SaveChanges(0), S_OK);
        }
        ASSERT_EQ(m->SaveChanges(0), S_OK);
    }

    std::set<std::string> Matching(SRestriction* restriction, HRESULT* restrictResult = nullptr) {
        ComRef<IMAPITable> table = Contents(folder_.get());
        SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
        EXPECT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
        HRESULT hr = table->Restrict(restriction, TBL_BATCH);
        if (restrictResult != nullptr) *restrictResult = hr;
        std::set<std::string> out;
        LPSRowSet rows = nullptr;
        while (SUCCEEDED(table->QueryRows(2, 0, &rows)) && rows != nullptr && rows->cRows > 0) {
            for (ULONG i = 0; i < rows->cRows; ++i)
                out.insert(rows->aRow[i].lpProps[0].Value.lpszA);
            FreeProws(rows);
            rows = nullptr;
        }
        FreeProws(rows);
        return out;
    }

    TempDir dir_;
    ComRef<IMsgStore> store_;
    ComRef<IMAPIFolder> folder_;
    ULONG categories_ = 0;
};

SRestriction Content(ULONG fuzzy, ULONG tag, SPropValue* value) {
    SRestriction r{RES_CONTENT, {}};
    r.res.resContent = {fuzzy, tag, value};
    return r;
}

SRestriction Property(ULONG relop, ULONG tag, SPropValue* value) {
    SRestriction r{RES_PROPERTY, {}};
    r.res.resProperty = {relop, tag, value};
    return r;
}

TEST_F(EmbeddedTable, RestrictionsSelectTheExpectedItems) {
    SPropValue budget{PR_SUBJECT_A, 0, {}};
    budget.Value.lpszA = const_cast<char*>("budget");
    SPropValue aerger{PR_SUBJECT_W, 0, {}};
    aerger.Value.lpszW = const_cast<WCHAR*>(u"ärger");
    SPropValue from{PR_MESSAGE_DELIVERY_TIME, 0, {}};
    from.Value.ft = Day(5);
    SPropValue until{PR_MESSAGE_DELIVERY_TIME, 0, {}};
    until.Value.ft = Day(12);
    SPropValue finance{CHANGE_PROP_TYPE(categories_, PT_UNICODE), 0, {}};
    finance.Value.lpszW = const_cast<WCHAR*>(u"finance");
    SPropValue bob{PR_DISPLAY_NAME_A, 0, {}};
    bob.Value.lpszA = const_cast<char*>("bob");
    SPropValue txt{PR_ATTACH_FILENAME_A, 0, {}};
    txt.Value.lpszA = const_cast<char*>("notes");

    SRestriction subject = Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_A, &budget);
    SRestriction caseSensitive = Content(FL_PREFIX, PR_SUBJECT_A, &budget);
    SRestriction accent = Content(FL_PREFIX | FL_IGNORECASE, PR_SUBJECT_W, &aerger);
    SRestriction range[2] = {Property(RELOP_GE, PR_MESSAGE_DELIVERY_TIME, &from),
                             Property(RELOP_LT, PR_MESSAGE_DELIVERY_TIME, &until)};
    SRestriction dates{RES_AND, {}};
    dates.res.resAnd = {2, range};
    SRestriction category =
        Content(FL_FULLSTRING | FL_IGNORECASE, CHANGE_PROP_TYPE(categories_, PT_UNICODE), &finance);
    SRestriction noCategory{RES_NOT, {}};
    SRestriction hasCategory{RES_EXIST, {}};
    hasCategory.res.resExist = {0, categories_, 0};
    noCategory.res.resNot = {0, &hasCategory};
    SRestriction bobRow = Property(RELOP_EQ, PR_DISPLAY_NAME_A, &bob);
    SRestriction toBob{RES_SUBRESTRICTION, {}};
    toBob.res.resSub = {PR_MESSAGE_RECIPIENTS, &bobRow};
    SRestriction txtRow = Content(FL_PREFIX, PR_ATTACH_FILENAME_A, &txt);
    SRestriction withNotes{RES_SUBRESTRICTION, {}};
    withNotes.res.resSub = {PR_MESSAGE_ATTACHMENTS, &txtRow};
    SRestriction attached{RES_BITMASK, {}};
    attached.res.resBitMask = {BMR_NEZ, PR_MESSAGE_FLAGS, MSGFLAG_HASATTACH};
    SRestriction bodySize{RES_SIZE, {}};
    bodySize.res.resSize = {RELOP_GT, PR_BODY_A, 8};
    SRestriction both[2] = {subject, category};
    SRestriction subjectAndCategory{RES_AND, {}};
    subjectAndCategory.res.resAnd = {2, both};

    using Set = std::set<std::string>;
    struct {
        const char* name;
        SRestriction* restriction;
        Set expected;
    } cases[] = {
        {"none",
         nullptr,
         {"Budget 2024", "budget review", "Lunch", "Release notes", "ÄRGER mit dem Budget"}},
        {"subject contains, any case",
         &subject,
         {"Budget 2024", "budget review", "ÄRGER mit dem Budget"}},
        {"prefix, case sensitive", &caseSensitive, {"budget review"}},
        {"unicode case folding", &accent, {"ÄRGER mit dem Budget"}},
        {"date range", &dates, {"budget review", "Lunch"}},
        {"category, any value of many", &category, {"Budget 2024", "budget review"}},
        {"not of a missing property", &noCategory, {"Release notes"}},
        {"recipient sub-restriction", &toBob, {"Budget 2024", "Lunch"}},
        {"attachment sub-restriction", &withNotes, {"Release notes"}},
        {"computed flag", &attached, {"Budget 2024", "Release notes"}},
        {"size of a body", &bodySize, {"Budget 2024"}},
        {"and", &subjectAndCategory, {"Budget 2024", "budget review"}},
    };
    for (auto& c : cases) EXPECT_EQ(Matching(c.restriction), c.expected) << c.name;
}

TEST_F(EmbeddedTable, UncomparableRestrictionIsRefused) {
    SPropValue number{PR_SUBJECT_A, 0, {}};
    number.Value.lpszA = const_cast<char*>("x");
    SRestriction mismatch = Property(RELOP_EQ, PR_MESSAGE_DELIVERY_TIME, &number);
    HRESULT hr = S_OK;
    Matching(&mismatch, &hr);
    EXPECT_EQ(hr, MAPI_E_TOO_COMPLEX);
}

TEST_F(EmbeddedTable, ContentsRowsCarryComputedColumnsAndFollowChanges) {
    ComRef<IMAPITable> table = Contents(folder_.get());
    RowSetPtr rows =
        AllRows(table.get(), {PR_SUBJECT_A, PR_ENTRYID, PR_PARENT_ENTRYID, PR_STORE_ENTRYID,
                              PR_OBJECT_TYPE, PR_HASATTACH, PR_MESSAGE_SIZE, PR_INSTANCE_KEY});
    ASSERT_EQ(rows->cRows, 5u);
    const SRow& first = rows->aRow[0];
    EXPECT_STREQ(first.lpProps[0].Value.lpszA, "Budget 2024");
    ComRef<IMessage> opened = OpenById<IMessage>(store_.get(), Binary(first.lpProps[1]));
    ASSERT_TRUE(opened);
    EXPECT_EQ(GetString(opened.get(), PR_SUBJECT), "Budget 2024");
    EXPECT_EQ(Binary(first.lpProps[2]), GetBinary(folder_.get(), PR_ENTRYID));
    EXPECT_EQ(Binary(first.lpProps[3]), GetBinary(store_.get(), PR_ENTRYID));
    EXPECT_EQ(first.lpProps[4].Value.l, static_cast<LONG>(MAPI_MESSAGE));
    EXPECT_EQ(first.lpProps[5].Value.b, 1);
    EXPECT_GT(first.lpProps[6].Value.l, 0);
    EXPECT_NE(Binary(first.lpProps[7]), Binary(rows->aRow[1].lpProps[7]));

    // A table opened earlier sees later changes.
    Add(Item{"late", nullptr, 30, nullptr, nullptr, nullptr});
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 6u);
}

TEST_F(EmbeddedTable, HierarchyTableListsSubfoldersWithDepth) {
    ComRef<IMAPIFolder> a = Subfolder(folder_.get(), "A");
    ComRef<IMAPIFolder> b = Subfolder(a.get(), "B");
    Subfolder(folder_.get(), "C");
    AddMessage(b.get(), "deep");

    ComRef<IMAPITable> direct = Hierarchy(folder_.get());
    RowSetPtr rows = AllRows(direct.get(), {PR_DISPLAY_NAME_A, PR_DEPTH, PR_SUBFOLDERS});
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "A");
    EXPECT_EQ(rows->aRow[0].lpProps[2].Value.b, 1);

    ComRef<IMAPITable> deep = Hierarchy(folder_.get(), CONVENIENT_DEPTH);
    rows = AllRows(deep.get(), {PR_DISPLAY_NAME_A, PR_DEPTH, PR_CONTENT_COUNT, PR_FOLDER_TYPE});
    ASSERT_EQ(rows->cRows, 3u);
    const char* names[] = {"A", "B", "C"};
    LONG depths[] = {0, 1, 0};
    LONG counts[] = {0, 1, 0};
    for (ULONG i = 0; i < 3; ++i) {
        EXPECT_STREQ(rows->aRow[i].lpProps[0].Value.lpszA, names[i]);
        EXPECT_EQ(rows->aRow[i].lpProps[1].Value.l, depths[i]);
        EXPECT_EQ(rows->aRow[i].lpProps[2].Value.l, counts[i]);
        EXPECT_EQ(rows->aRow[i].lpProps[3].Value.l, static_cast<LONG>(FOLDER_GENERIC));
    }
}

// Running out of memory while a row is read must not make a value read as
// missing: a copy would pass over an item whose entry id "is not there", and
// a restriction would drop it. Each allocation in turn is made to fail; every
// value a successful QueryRows gives is the real one or says it ran out.
TEST_F(EmbeddedTable, ValuesThatRanOutOfMemoryAreNotReportedMissing) {
    SPropValue finance{PROP_TAG(PT_UNICODE, PROP_ID(categories_)), 0, {}};
    finance.Value.lpszW = const_cast<WCHAR*>(u"Finance");
    SRestriction exists{RES_EXIST, {}};
    exists.res.resExist = {0, PR_SUBJECT_A, 0};
    SRestriction category = Content(FL_FULLSTRING, finance.ulPropTag, &finance);
    const struct {
        SRestriction* restriction;
        ULONG rows;
    } cases[] = {{nullptr, 5}, {&exists, 5}, {&category, 2}};
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_SUBJECT_A, PR_MESSAGE_SIZE}};
    for (const auto& c : cases) {
        bool completed = false;
        for (long countdown = 0; countdown < 2000 && !completed; ++countdown) {
            SCOPED_TRACE(::testing::Message() << "rows " << c.rows << " countdown " << countdown);
            ComRef<IMAPITable> table = Contents(folder_.get());
            LPSRowSet rows = nullptr;
            SetAllocationFailureCountdown(countdown);
            HRESULT hr = HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns),
                                        c.restriction, nullptr, 0, &rows);
            SetAllocationFailureCountdown(-1);
            RowSetPtr hold(rows);
            if (FAILED(hr)) continue;
            ASSERT_EQ(rows->cRows, c.rows);
            completed = true;
            for (ULONG r = 0; r < rows->cRows; ++r) {
                for (ULONG col = 0; col < 3; ++col) {
                    const SPropValue& v = rows->aRow[r].lpProps[col];
                    if (PROP_TYPE(v.ulPropTag) == PT_ERROR) {
                        EXPECT_EQ(v.Value.err, MAPI_E_NOT_ENOUGH_MEMORY) << r << " " << col;
                        completed = false;
                    } else {
                        EXPECT_EQ(v.ulPropTag, columns.aulPropTag[col]);
                    }
                }
            }
        }
        EXPECT_TRUE(completed);
    }
}

// Damaged parent links can close a loop through the folder a walk starts at
// (the IPM subtree made a child of its own subfolder). A hierarchy table
// never lists a folder below itself, so a walk down the tables ends and
// sees each folder once.
TEST(EmbeddedHierarchy, ParentLinksDamagedIntoALoopListEachFolderOnce) {
    const struct {
        const char* damage;  // SQL run on the store; ?1 ?2 ?3 = IPM subtree, A, B
        size_t folders;      // folders a walk from the IPM subtree sees (4 special, A, B)
    } cases[] = {
        {"SELECT 1", 6},
        {"UPDATE objects SET parent=?3 WHERE id=?1", 6},
        {"UPDATE objects SET parent=?2 WHERE id=?1", 6},
        {"UPDATE objects SET parent=?1 WHERE id=?1", 6},
        {"UPDATE objects SET parent=?3 WHERE id=?3", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage);
        TempDir dir;
        const std::string path = dir.File("a.qst");
        std::string subtreeId;
        int64_t ids[3] = {};
        {
            ComRef<IMsgStore> store = CreateAndOpen(path);
            ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
            ComRef<IMAPIFolder> a = Subfolder(ipm.get(), "A");
            ComRef<IMAPIFolder> b = Subfolder(a.get(), "B");
            int i = 0;
            for (IMAPIFolder* f : {ipm.get(), a.get(), b.get()}) {
                ParsedEntryId parsed{};
                std::string eid = GetBinary(f, PR_ENTRYID);
                ASSERT_TRUE(ParseEntryId(eid.data(), static_cast<ULONG>(eid.size()), &parsed));
                ids[i++] = parsed.id;
            }
            subtreeId = GetBinary(ipm.get(), PR_ENTRYID);
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* q = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, c.damage, -1, &q, nullptr), SQLITE_OK);
        for (int i = 0; i < sqlite3_bind_parameter_count(q); ++i)
            sqlite3_bind_int64(q, i + 1, ids[i]);
        EXPECT_NE(sqlite3_step(q), SQLITE_ERROR);
        sqlite3_finalize(q);
        sqlite3_close(db);

        ComRef<IMsgStore> store = OpenStore(path);
        ComRef<IMAPIFolder> start = OpenById<IMAPIFolder>(store.get(), subtreeId);
        ASSERT_TRUE(start);
        std::vector<std::string> seen;
        std::function<void(IMAPIFolder*, int)> walk = [&](IMAPIFolder* folder, int depth) {
            ASSERT_LT(depth, 10) << "the walk does not end";
            RowSetPtr rows = AllRows(Hierarchy(folder).get(), {PR_ENTRYID});
            for (ULONG r = 0; rows && r < rows->cRows; ++r) {
                seen.push_back(Binary(rows->aRow[r].lpProps[0]));
                ComRef<IMAPIFolder> child = OpenById<IMAPIFolder>(store.get(), seen.back());
                ASSERT_TRUE(child);
                walk(child.get(), depth + 1);
            }
        };
        walk(start.get(), 0);
        EXPECT_EQ(seen.size(), c.folders);
        EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), seen.size());
        RowSetPtr deep = AllRows(Hierarchy(start.get(), CONVENIENT_DEPTH).get(), {PR_ENTRYID});
        ASSERT_TRUE(deep);
        EXPECT_EQ(deep->cRows, c.folders);
    }
}

}  // namespace
}  // namespace mapi::embedded::test
