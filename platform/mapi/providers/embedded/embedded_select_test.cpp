// A contents table's restriction answered from one scan of the folder must
// select exactly the rows the evaluator selects when each row is read on its
// own. A corpus of restrictions runs both ways over every folder of a
// generated mailbox, one of whose items is damaged.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <deque>

#include "embedded_test_util.h"
#include "runtime/restriction_eval.h"
#include "sample_store.h"
#include "store_core.h"
#include "store_tables.h"

namespace mapi::embedded::test {
namespace {

// Owns the values and subtrees the restrictions point at.
class Corpus {
public:
    SRestriction Prop(ULONG relop, ULONG tag, SPropValue value) {
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty = {relop, tag, Keep(value)};
        return r;
    }
    SRestriction Text(ULONG relop, ULONG tag, const char* text) {
        SPropValue v{CHANGE_PROP_TYPE(tag, PT_STRING8), 0, {}};
        v.Value.lpszA = const_cast<char*>(text);
        return Prop(relop, tag, v);
    }
    SRestriction Content(ULONG fuzzy, ULONG tag, const char* text) {
        SPropValue v{
            CHANGE_PROP_TYPE(tag, PROP_TYPE(tag) & MV_FLAG ? PT_STRING8 : PROP_TYPE(tag)), 0, {}};
        v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_STRING8);
        v.Value.lpszA = const_cast<char*>(text);
        SRestriction r{};
        r.rt = RES_CONTENT;
        r.res.resContent = {fuzzy, tag, Keep(v)};
        return r;
    }
    SRestriction Long(ULONG relop, ULONG tag, LONG l) {
        SPropValue v{tag, 0, {}};
        v.Value.l = l;
        return Prop(relop, tag, v);
    }
    SRestriction Time(ULONG relop, ULONG tag, unsigned long long t) {
        SPropValue v{tag, 0, {}};
        v.Value.ft = FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
        return Prop(relop, tag, v);
    }
    SRestriction Exist(ULONG tag) {
        SRestriction r{};
        r.rt = RES_EXIST;
        r.res.resExist.ulPropTag = tag;
        return r;
    }
    SRestriction Size(ULONG relop, ULONG tag, ULONG cb) {
        SRestriction r{};
        r.rt = RES_SIZE;
        r.res.resSize = {relop, tag, cb};
        return r;
    }
    SRestriction Bits(ULONG relop, ULONG tag, ULONG mask) {
        SRestriction r{};
        r.rt = RES_BITMASK;
        r.res.resBitMask = {relop, tag, mask};
        return r;
    }
    SRestriction Compare(ULONG relop, ULONG a, ULONG b) {
        SRestriction r{};
        r.rt = RES_COMPAREPROPS;
        r.res.resCompareProps = {relop, a, b};
        return r;
    }
    SRestriction Not(SRestriction inner) {
        SRestriction r{};
        r.rt = RES_NOT;
        r.res.resNot.lpRes = Keep(inner);
        return r;
    }
    SRestriction Both(ULONG kind, SRestriction a, SRestriction b) {
        auto& list = lists_.emplace_back(std::vector<SRestriction>{a, b});
        SRestriction r{};
        r.rt = kind;
        r.res.resAnd = {2, list.data()};
        return r;
    }
    SRestriction Sub(ULONG object, SRestriction inner) {
        SRestriction r{};
        r.rt = RES_SUBRESTRICTION;
        r.res.resSub = {object, Keep(inner)};
        return r;
    }

private:
    SPropValue* Keep(SPropValue v) { return &values_.emplace_back(v); }
    SRestriction* Keep(SRestriction r) { return &restrictions_.emplace_back(r); }
    std::deque<SPropValue> values_;
    std::deque<SRestriction> restrictions_;
    std::deque<std::vector<SRestriction>> lists_;
};

TEST(EmbeddedSelect, OneScanSelectsWhatTheEvaluatorSelectsRowByRow) {
    TempDir dir;
    const std::string path = dir.File("sample.qst");
    ULONG keywords = 0;
    std::vector<int64_t> folders;
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        tools::SampleSummary summary{};
        std::string error;
        ASSERT_EQ(
            tools::FillSampleStore(store.get(), tools::SampleOptions{400, 7}, &summary, &error),
            S_OK)
            << error;
        MAPINAMEID name{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {}};
        name.Kind.lpwstrName = const_cast<WCHAR*>(u"Keywords");
        LPMAPINAMEID names[] = {&name};
        LPSPropTagArray tags = nullptr;
        ASSERT_EQ(store->GetIDsFromNames(1, names, 0, &tags), S_OK);
        keywords = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_MV_STRING8);
        MAPIFreeBuffer(tags);
        RowSetPtr rows =
            AllRows(Hierarchy(IpmSubtree(store.get()).get(), CONVENIENT_DEPTH).get(), {PR_ENTRYID});
        for (ULONG i = 0; i < rows->cRows; ++i) {
            ParsedEntryId parsed{};
            const SBinary& eid = rows->aRow[i].lpProps[0].Value.bin;
            ASSERT_TRUE(ParseEntryId(eid.lpb, eid.cb, &parsed));
            folders.push_back(parsed.id);
        }
    }
    // One message with a directory that does not parse.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE objects SET packed=x'01FF' WHERE id=(SELECT min(id) FROM "
                           "objects WHERE kind=3 AND parent IN (SELECT parent FROM objects "
                           "WHERE kind=3 GROUP BY parent ORDER BY count(*) DESC LIMIT 1))",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const unsigned long long june2022 = 133000000000000000ULL;
    Corpus c;
    const std::vector<SRestriction> corpus = {
        c.Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT, "report"),
        c.Content(FL_PREFIX, PR_SUBJECT, "RE:"),
        c.Content(FL_FULLSTRING | FL_IGNORECASE, PR_MESSAGE_CLASS, "ipm.note"),
        c.Content(FL_SUBSTRING | FL_IGNORECASE, PR_BODY, "meeting"),
        c.Content(FL_SUBSTRING, keywords, "Red"),
        c.Content(FL_FULLSTRING | FL_IGNORECASE, keywords, "blue"),
        c.Text(RELOP_GE, PR_SENDER_NAME, "M"),
        c.Time(RELOP_GT, PR_MESSAGE_DELIVERY_TIME, june2022),
        c.Both(RES_AND, c.Time(RELOP_GE, PR_MESSAGE_DELIVERY_TIME, june2022),
               c.Time(RELOP_LT, PR_MESSAGE_DELIVERY_TIME, june2022 + 864000000000ULL * 60)),
        c.Long(RELOP_EQ, PR_IMPORTANCE, 2),
        c.Long(RELOP_GT, PR_MESSAGE_SIZE, 2000),
        c.Bits(BMR_NEZ, PR_MESSAGE_FLAGS, MSGFLAG_READ),
        c.Bits(BMR_EQZ, PR_MESSAGE_FLAGS, MSGFLAG_HASATTACH),
        c.Exist(PR_HTML),
        c.Not(c.Exist(keywords)),
        c.Size(RELOP_GT, PR_SUBJECT, 40),
        c.Size(RELOP_GT, PR_BODY, 400),
        c.Compare(RELOP_EQ, PR_SENDER_NAME, PR_SENT_REPRESENTING_NAME),
        c.Both(RES_OR, c.Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT, "invoice"),
               c.Not(c.Long(RELOP_NE, PR_IMPORTANCE, 0))),
        c.Sub(PR_MESSAGE_RECIPIENTS, c.Content(FL_SUBSTRING | FL_IGNORECASE, PR_DISPLAY_NAME, "a")),
        c.Sub(PR_MESSAGE_ATTACHMENTS, c.Exist(PR_ATTACH_FILENAME)),
        c.Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT, "no item has this"),
    };

    std::shared_ptr<StoreCore> core;
    std::string error;
    ASSERT_EQ(StoreCore::Open(path, "S", &core, &error), S_OK) << error;
    size_t rowsSeen = 0, selectedSomewhere = 0;
    for (int64_t folder : folders) {
        std::shared_ptr<RowSource> source;
        ASSERT_EQ(NewContentsSource(core, folder, false, &source), S_OK);
        const ULONG count = source->Count();
        rowsSeen += count;
        for (size_t k = 0; k < corpus.size(); ++k) {
            SCOPED_TRACE(::testing::Message() << "folder " << folder << ", restriction " << k);
            ASSERT_EQ(ValidateRestriction(&corpus[k]), S_OK);
            std::vector<ULONG> scanned;
            ASSERT_EQ(source->Select(corpus[k], &scanned), S_OK);
            std::vector<ULONG> alone, blocks;
            for (ULONG i = 0; i < count; ++i) {
                std::unique_ptr<RowAccessor> row = source->Row(i);
                ASSERT_TRUE(row);
                if (EvaluateRestriction(corpus[k], *row)) blocks.push_back(i);
            }
            // Each row on its own, as a table read before any batching did.
            std::vector<int64_t> ids;
            ASSERT_EQ(core->Children(folder, ObjectKind::kMessage, 0, &ids), S_OK);
            for (ULONG i = 0; i < ids.size(); ++i)
                if (EvaluateRestriction(corpus[k], *NewObjectAccessor(core, ids[i])))
                    alone.push_back(i);
            EXPECT_EQ(scanned, alone);
            EXPECT_EQ(blocks, alone);
            selectedSomewhere += !alone.empty() && alone.size() < count;
        }
    }
    // The corpus must tell rows apart, or agreeing proves nothing.
    EXPECT_GT(rowsSeen, 300u);
    EXPECT_GT(selectedSomewhere, 30u);
}

}  // namespace
}  // namespace mapi::embedded::test
