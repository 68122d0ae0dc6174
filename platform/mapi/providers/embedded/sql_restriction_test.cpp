// The SQL pre-filter against the evaluator, over a generated mailbox plus a
// folder of items written in many scripts. A corpus of restrictions built
// from the store's own values (each operator and fuzzy level, strings and
// numbers and times, multi-valued categories, missing properties, values
// kept outside the directory, values the store computes, and AND/OR/NOT
// over all of them) runs both ways:
//  - every verdict SQL gives alone (yes or no) must be the evaluator's;
//  - tests on values the directory holds must get a verdict for every row,
//    or SQL would silently be doing nothing;
//  - a contents table's Select must pick exactly the rows the evaluator
//    picks reading each row on its own, and then hand out those rows.
#include <gtest/gtest.h>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <deque>
#include <set>

#include "embedded_test_util.h"
#include "runtime/restriction_eval.h"
#include "sample_store.h"
#include "sql_restriction.h"
#include "store_core.h"
#include "store_tables.h"

namespace mapi::embedded::test {
namespace {

// Subjects and categories where case folding and marks differ by script:
// final and medial sigma, sharp s, dotted and dotless i, precomposed and
// decomposed accents, Cyrillic, Greek tonos, Hebrew points, Arabic harakat,
// Devanagari signs, Hangul, CJK and a character outside the BMP.
const char16_t* const kScripts[] = {
    u"Straße und STRASSE",
    u"ΟΔΟΣ οδος Οδός",
    u"İstanbul ıstanbul ISTANBUL",
    u"Cafe\u0301 café CAFÉ",
    u"Москва МОСКВА москва",
    u"שָׁלוֹם שלום",
    u"مَرْحَبًا مرحبا",
    u"नमस्ते नमस्ते",
    u"안녕하세요 보고서",
    u"会议纪要 报告",
    u"\U0001F600 smile \U0001D400",
    u"Ǆemal ǅemal ǆemal",
    u"ﬁnance ﬃ ligature",
    u"Ångström ÅNGSTRÖM",
    u"crème brûlée",
};

class Pool {
public:
    const char16_t* Text(std::u16string s) { return texts_.emplace_back(std::move(s)).c_str(); }
    SPropValue* Keep(SPropValue v) { return &values_.emplace_back(v); }
    SRestriction* Keep(SRestriction r) { return &restrictions_.emplace_back(r); }
    SRestriction* KeepList(std::vector<SRestriction> list) {
        return lists_.emplace_back(std::move(list)).data();
    }

private:
    std::deque<std::u16string> texts_;
    std::deque<SPropValue> values_;
    std::deque<SRestriction> restrictions_;
    std::deque<std::vector<SRestriction>> lists_;
};

std::u16string U16(const icu::UnicodeString& s) {
    return std::u16string(s.getBuffer(), static_cast<size_t>(s.length()));
}

// Variants of a value that the fuzzy levels should (or should not) equate.
std::vector<std::u16string> Variants(const std::u16string& value) {
    icu::UnicodeString u(value.data(), static_cast<int32_t>(value.size()));
    std::vector<std::u16string> out{value};
    icu::UnicodeString upper = u, lower = u;
    out.push_back(U16(upper.toUpper()));
    out.push_back(U16(lower.toLower()));
    UErrorCode status = U_ZERO_ERROR;
    if (const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status); U_SUCCESS(status))
        out.push_back(U16(nfd->normalize(u, status)));
    // A middle piece on code point boundaries, and a prefix.
    const int32_t n = u.countChar32();
    if (n > 3) {
        int32_t from = u.moveIndex32(0, n / 3), to = u.moveIndex32(0, 2 * n / 3);
        icu::UnicodeString piece = u.tempSubStringBetween(from, to);
        out.push_back(U16(piece));
        icu::UnicodeString pieceUpper = piece;
        out.push_back(U16(pieceUpper.toUpper()));
        out.push_back(U16(u.tempSubStringBetween(0, u.moveIndex32(0, n / 2))));
    }
    return out;
}

class PushdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("pushdown.qst");
        ComRef<IMsgStore> store = CreateAndOpen(path_);
        tools::SampleSummary summary{};
        std::string error;
        ASSERT_EQ(
            tools::FillSampleStore(store.get(), tools::SampleOptions{200, 3}, &summary, &error),
            S_OK)
            << error;
        MAPINAMEID name{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {}};
        name.Kind.lpwstrName = const_cast<WCHAR*>(u"Keywords");
        LPMAPINAMEID names[] = {&name};
        LPSPropTagArray tags = nullptr;
        ASSERT_EQ(store->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
        keywords_ = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_MV_UNICODE);
        MAPIFreeBuffer(tags);
        ComRef<IMAPIFolder> scripts = Subfolder(IpmSubtree(store.get()).get(), "Scripts");
        ASSERT_TRUE(scripts);
        AddScriptItems(scripts.get());
        RowSetPtr rows =
            AllRows(Hierarchy(IpmSubtree(store.get()).get(), CONVENIENT_DEPTH).get(), {PR_ENTRYID});
        for (ULONG i = 0; i < rows->cRows; ++i) {
            ParsedEntryId parsed{};
            const SBinary& eid = rows->aRow[i].lpProps[0].Value.bin;
            ASSERT_TRUE(ParseEntryId(eid.lpb, eid.cb, &parsed));
            folders_.push_back(parsed.id);
        }
        CollectValues(store.get());
    }

    void AddScriptItems(IMAPIFolder* folder) {
        const size_t n = std::size(kScripts);
        for (size_t i = 0; i < n; ++i) {
            ComRef<IMessage> message;
            ASSERT_EQ(folder->CreateMessage(nullptr, 0, message.Out()), S_OK);
            std::vector<SPropValue> values;
            SPropValue v{};
            // Every third item has no subject; others alternate the string types.
            if (i % 3 != 2) {
                v.ulPropTag = PR_SUBJECT_W;
                v.Value.lpszW = const_cast<WCHAR*>(kScripts[i]);
                values.push_back(v);
            }
            WCHAR* cats[] = {const_cast<WCHAR*>(kScripts[(i + 1) % n]),
                             const_cast<WCHAR*>(kScripts[(i + 5) % n])};
            if (i % 4 != 3) {
                v.ulPropTag = keywords_;
                v.Value.MVszW = {i % 2 == 0 ? 1u : 2u, cats};
                values.push_back(v);
            }
            v.ulPropTag = PR_IMPORTANCE;
            v.Value.l = static_cast<LONG>(i % 3);
            values.push_back(v);
            const unsigned long long t = 133000000000000000ULL + i * 864000000000ULL;
            v.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
            v.Value.ft = FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
            values.push_back(v);
            // A body large enough to live outside the directory on some items.
            std::u16string body = std::u16string(kScripts[(i + 2) % n]) +
                                  std::u16string(i % 2 == 0 ? 9000 : 10, u'.');
            v.ulPropTag = PR_BODY_W;
            v.Value.lpszW = const_cast<WCHAR*>(body.c_str());
            values.push_back(v);
            ASSERT_EQ(message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr),
                      S_OK);
            ASSERT_EQ(message->SaveChanges(0), S_OK);
        }
    }

    // Values of the store the corpus is built from.
    void CollectValues(IMsgStore* store) {
        std::set<std::u16string> texts;
        RowSetPtr folders =
            AllRows(Hierarchy(IpmSubtree(store).get(), CONVENIENT_DEPTH).get(), {PR_ENTRYID});
        for (ULONG f = 0; f < folders->cRows; ++f) {
            const std::string eid = Binary(folders->aRow[f].lpProps[0]);
            ComRef<IMAPIFolder> folder = OpenById<IMAPIFolder>(store, eid);
            RowSetPtr rows =
                AllRows(Contents(folder.get()).get(), {PR_SUBJECT_W, PR_SENDER_NAME_W, keywords_});
            for (ULONG r = 0; r < rows->cRows && r < 3; ++r)
                for (ULONG c = 0; c < rows->aRow[r].cValues; ++c) {
                    const SPropValue& v = rows->aRow[r].lpProps[c];
                    if (PROP_TYPE(v.ulPropTag) == PT_UNICODE) texts.insert(v.Value.lpszW);
                    if (PROP_TYPE(v.ulPropTag) == PT_MV_UNICODE)
                        for (ULONG k = 0; k < v.Value.MVszW.cValues; ++k)
                            texts.insert(v.Value.MVszW.lppszW[k]);
                }
        }
        // Every script, and sample values spread over the sorted rest.
        values_.assign(std::begin(kScripts), std::end(kScripts));
        size_t step = std::max<size_t>(1, texts.size() / 10), at = 0;
        for (const std::u16string& text : texts)
            if (at++ % step == 0) values_.push_back(text);
    }

    SRestriction Content(ULONG fuzzy, ULONG tag, const std::u16string& text) {
        SPropValue v{CHANGE_PROP_TYPE(tag, PT_UNICODE), 0, {}};
        v.Value.lpszW = const_cast<WCHAR*>(pool_.Text(text));
        SRestriction r{};
        r.rt = RES_CONTENT;
        r.res.resContent = {fuzzy, tag, pool_.Keep(v)};
        return r;
    }
    SRestriction Prop(ULONG relop, ULONG tag, SPropValue v) {
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty = {relop, tag, pool_.Keep(v)};
        return r;
    }
    SRestriction Text(ULONG relop, ULONG tag, const std::u16string& text) {
        SPropValue v{CHANGE_PROP_TYPE(tag, PT_UNICODE), 0, {}};
        v.Value.lpszW = const_cast<WCHAR*>(pool_.Text(text));
        return Prop(relop, tag, v);
    }
    SRestriction Combine(ULONG kind, std::vector<SRestriction> parts) {
        SRestriction r{};
        r.rt = kind;
        r.res.resAnd = {static_cast<ULONG>(parts.size()), pool_.KeepList(std::move(parts))};
        return r;
    }
    SRestriction Sub(ULONG table, const SRestriction& inner) {
        SRestriction r{};
        r.rt = RES_SUBRESTRICTION;
        r.res.resSub = {table, pool_.Keep(inner)};
        return r;
    }
    SRestriction Not(const SRestriction& inner) {
        SRestriction r{};
        r.rt = RES_NOT;
        r.res.resNot.lpRes = pool_.Keep(inner);
        return r;
    }

    TempDir dir_;
    std::string path_;
    ULONG keywords_ = 0;
    std::vector<int64_t> folders_;
    std::vector<std::u16string> values_;
    Pool pool_;
};

TEST_F(PushdownTest, SqlVerdictsAndSelectAgreeWithTheEvaluator) {
    const ULONG keywordText = CHANGE_PROP_TYPE(keywords_, PT_UNICODE);
    const ULONG fuzzies[] = {0, FL_IGNORECASE, FL_IGNORENONSPACE, FL_IGNORECASE | FL_IGNORENONSPACE,
                             FL_LOOSE};
    const ULONG levels[] = {FL_FULLSTRING, FL_SUBSTRING, FL_PREFIX};
    // Leaves the directory decides on its own, then the others.
    std::vector<SRestriction> decided, open;
    size_t seed = 0;
    for (const std::u16string& value : values_) {
        for (const std::u16string& variant : Variants(value)) {
            const ULONG level = levels[seed % 3], fuzzy = fuzzies[(seed / 3) % 5];
            decided.push_back(
                Content(level | fuzzy, seed % 2 ? keywordText : PR_SUBJECT_W, variant));
            if (seed % 3 == 0) decided.push_back(Content(level | fuzzy, PR_SENDER_NAME_W, variant));
            decided.push_back(Text(seed % 6, seed % 2 ? PR_SUBJECT_W : keywords_, variant));
            ++seed;
        }
    }
    for (ULONG relop = RELOP_LT; relop <= RELOP_NE; ++relop) {
        SPropValue importance{PR_IMPORTANCE, 0, {}};
        importance.Value.l = 1;
        decided.push_back(Prop(relop, PR_IMPORTANCE, importance));
        const unsigned long long t = 133000000000000000ULL + 7 * 864000000000ULL;
        SPropValue when{PR_MESSAGE_DELIVERY_TIME, 0, {}};
        when.Value.ft = FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
        decided.push_back(Prop(relop, PR_MESSAGE_DELIVERY_TIME, when));
        // Unspecified type: whatever the row holds, compared if it can be.
        decided.push_back(Text(relop, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_SUBJECT)), u"M"));
    }
    SRestriction exist{};
    exist.rt = RES_EXIST;
    exist.res.resExist.ulPropTag = keywords_;
    decided.push_back(exist);
    exist.res.resExist.ulPropTag = PR_SUBJECT_W;
    decided.push_back(exist);
    SRestriction bits{};
    bits.rt = RES_BITMASK;
    bits.res.resBitMask = {BMR_NEZ, PR_IMPORTANCE, 1};
    decided.push_back(bits);
    // Recipients, kept in their message's row: SQL walks them with the
    // evaluator, PR_ROWID (computed) included.
    SPropValue cc{PR_RECIPIENT_TYPE, 0, {}};
    cc.Value.l = MAPI_CC;
    SPropValue second{PR_ROWID, 0, {}};
    second.Value.l = 1;
    decided.push_back(Sub(PR_MESSAGE_RECIPIENTS,
                          Content(FL_SUBSTRING | FL_IGNORECASE, PR_DISPLAY_NAME_W, u"AN")));
    decided.push_back(
        Sub(PR_MESSAGE_RECIPIENTS, Combine(RES_AND, {Prop(RELOP_EQ, PR_RECIPIENT_TYPE, cc),
                                                     Not(Prop(RELOP_LT, PR_ROWID, second))})));
    // Values outside the directory, computed by the store, or in sub-objects.
    open.push_back(Content(FL_SUBSTRING | FL_IGNORECASE, PR_BODY_W, u"straße"));
    SPropValue read{PR_MESSAGE_FLAGS, 0, {}};
    read.Value.l = MSGFLAG_READ;
    open.push_back(Prop(RELOP_GE, PR_MESSAGE_FLAGS, read));
    SRestriction sub{};
    sub.rt = RES_SUBRESTRICTION;
    sub.res.resSub = {PR_MESSAGE_RECIPIENTS, pool_.Keep(decided[0])};
    open.push_back(sub);
    exist.res.resExist.ulPropTag = PR_ATTACH_LONG_FILENAME_W;
    open.push_back(Sub(PR_MESSAGE_ATTACHMENTS, exist));

    std::vector<SRestriction> corpus = decided;
    const size_t pureLeaves = decided.size();
    // Trees: pairs of leaves under AND/OR/NOT, mixing decided and open ones.
    for (size_t i = 0; i + 7 < pureLeaves; i += 7) {
        const SRestriction& a = decided[i];
        const SRestriction& b = decided[i + 3];
        const SRestriction& o = open[i % open.size()];
        corpus.push_back(Combine(RES_AND, {a, Not(b)}));
        corpus.push_back(Combine(RES_OR, {Not(a), b, Not(Combine(RES_AND, {}))}));
        corpus.push_back(Combine(RES_AND, {o, a}));
        corpus.push_back(Combine(RES_OR, {Not(o), b}));
        corpus.push_back(Not(Combine(RES_OR, {a, Combine(RES_AND, {b, o})})));
    }
    corpus.insert(corpus.end(), open.begin(), open.end());

    std::shared_ptr<StoreCore> core;
    std::string error;
    ASSERT_EQ(StoreCore::Open(path_, "S", &core, &error), S_OK) << error;
    size_t rows = 0, definite = 0, openVerdicts = 0, nonTrivial = 0;
    for (int64_t folder : folders_) {
        std::vector<int64_t> ids;
        ASSERT_EQ(core->Children(folder, ObjectKind::kMessage, 0, &ids), S_OK);
        std::shared_ptr<RowSource> source;
        ASSERT_EQ(NewContentsSource(core, folder, false, &source), S_OK);
        rows += ids.size();
        for (size_t k = 0; k < corpus.size(); ++k) {
            SCOPED_TRACE(::testing::Message() << "folder " << folder << ", restriction " << k);
            ASSERT_EQ(ValidateRestriction(&corpus[k]), S_OK);
            std::vector<ULONG> expected;
            std::vector<bool> truth(ids.size());
            for (ULONG i = 0; i < ids.size(); ++i) {
                truth[i] = EvaluateRestriction(corpus[k], *NewObjectAccessor(core, ids[i]));
                if (truth[i]) expected.push_back(i);
            }
            size_t at = 0;
            HRESULT hr = ScanWithVerdicts(*core, folder, 0, corpus[k], false,
                                          [&](StoreCore::LoadedObject& object, Verdict verdict) {
                                              ASSERT_LT(at, ids.size());
                                              ASSERT_EQ(object.row.id, ids[at]);
                                              if (verdict == Verdict::kMaybe) {
                                                  ++openVerdicts;
                                                  EXPECT_GE(k, pureLeaves) << "a leaf SQL decides";
                                              } else {
                                                  ++definite;
                                                  EXPECT_EQ(verdict == Verdict::kYes, truth[at]);
                                              }
                                              ++at;
                                          });
            // Nothing in it SQL can judge: the scan is left to the evaluator.
            if (hr == MAPI_E_TOO_COMPLEX && corpus[k].rt == RES_SUBRESTRICTION) {
                EXPECT_EQ(at, 0u);
            } else {
                ASSERT_EQ(hr, S_OK);
                EXPECT_EQ(at, ids.size());
            }
            std::vector<ULONG> selected;
            ASSERT_EQ(source->Select(corpus[k], &selected), S_OK);
            EXPECT_EQ(selected, expected);
            // A restricted table then reads its matches, which come in
            // batches: each must be its own row.
            for (ULONG i : selected) {
                std::unique_ptr<RowAccessor> row = source->Row(i);
                ASSERT_TRUE(row);
                const SPropValue* eid = row->GetById(PROP_ID(PR_ENTRYID));
                ASSERT_TRUE(eid != nullptr && PROP_TYPE(eid->ulPropTag) == PT_BINARY);
                EXPECT_EQ(Binary(*eid), core->EntryId(ObjectKind::kMessage, ids[i]));
                EXPECT_TRUE(EvaluateRestriction(corpus[k], *row));
            }
            nonTrivial += !expected.empty() && expected.size() < ids.size();
        }
    }
    // The corpus must tell rows apart and SQL must decide most of them, or
    // agreeing proves nothing.
    EXPECT_GT(rows, 200u);
    EXPECT_GT(nonTrivial, 300u);
    EXPECT_GT(openVerdicts, 0u);
    EXPECT_GT(definite, 10 * openVerdicts);
}

// A tree deeper than one statement can hold is still answered, by the
// evaluator alone.
TEST_F(PushdownTest, TreesTooDeepForSqlFallBackToTheEvaluator) {
    SRestriction r = Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_W, u"e");
    for (int i = 0; i < 500; ++i) r = Not(r);
    SRestriction wide =
        Combine(RES_OR, std::vector<SRestriction>(3000, Content(FL_PREFIX, PR_SUBJECT_W, u"zz")));
    std::shared_ptr<StoreCore> core;
    std::string error;
    ASSERT_EQ(StoreCore::Open(path_, "S", &core, &error), S_OK) << error;
    for (const SRestriction* tree : {&r, &wide}) {
        ASSERT_EQ(ValidateRestriction(tree), S_OK);
        for (int64_t folder : folders_) {
            std::vector<int64_t> ids;
            ASSERT_EQ(core->Children(folder, ObjectKind::kMessage, 0, &ids), S_OK);
            std::vector<ULONG> expected, selected;
            for (ULONG i = 0; i < ids.size(); ++i)
                if (EvaluateRestriction(*tree, *NewObjectAccessor(core, ids[i])))
                    expected.push_back(i);
            std::shared_ptr<RowSource> source;
            ASSERT_EQ(NewContentsSource(core, folder, false, &source), S_OK);
            ASSERT_EQ(source->Select(*tree, &selected), S_OK);
            EXPECT_EQ(selected, expected);
        }
    }
}

}  // namespace
}  // namespace mapi::embedded::test
