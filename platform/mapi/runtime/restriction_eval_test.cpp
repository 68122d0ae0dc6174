// Tests of the restriction evaluator against three hand-checked rows.
#include "restriction_eval.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapix.h>

#include "memory_rows.h"
#include "utf.h"

namespace mapi {
namespace {

constexpr ULONG kCategories = PROP_TAG(PT_MV_STRING8, 0x8001);
constexpr ULONG kCategoriesW = PROP_TAG(PT_MV_UNICODE, 0x8001);

// Owns the pieces restrictions and values point at.
class Builder {
public:
    SPropValue* Str(ULONG tag, const char* s) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.lpszA = const_cast<char*>(s);
        return &v;
    }
    SPropValue* WStr(ULONG tag, const char16_t* s) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.lpszW = const_cast<char16_t*>(s);
        return &v;
    }
    SPropValue* Long(ULONG tag, LONG l) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.l = l;
        return &v;
    }
    SPropValue* Time(ULONG tag, unsigned long long t) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.ft.dwLowDateTime = static_cast<DWORD>(t);
        v.Value.ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
        return &v;
    }
    SPropValue* Bin(ULONG tag, std::vector<BYTE> bytes) {
        auto& b = bytes_.emplace_back(std::move(bytes));
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.bin.cb = static_cast<ULONG>(b.size());
        v.Value.bin.lpb = b.data();
        return &v;
    }
    SPropValue* MvStr(ULONG tag, std::vector<const char*> items) {
        auto& list = strings_.emplace_back(items.begin(), items.end());
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.MVszA.cValues = static_cast<ULONG>(list.size());
        v.Value.MVszA.lppszA = const_cast<char**>(list.data());
        return &v;
    }
    SPropValue* MvWStr(ULONG tag, std::vector<const char16_t*> items) {
        auto& list = wstrings_.emplace_back(items.begin(), items.end());
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.MVszW.cValues = static_cast<ULONG>(list.size());
        v.Value.MVszW.lppszW = const_cast<char16_t**>(list.data());
        return &v;
    }
    SPropValue* Error(ULONG tag, SCODE code) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        v.Value.err = code;
        return &v;
    }

    SRestriction Property(ULONG relop, ULONG tag, SPropValue* value) {
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty = {relop, tag, value};
        return r;
    }
    SRestriction Content(ULONG fuzzy, ULONG tag, SPropValue* value) {
        SRestriction r{};
        r.rt = RES_CONTENT;
        r.res.resContent = {fuzzy, tag, value};
        return r;
    }
    SRestriction CompareProps(ULONG relop, ULONG tag1, ULONG tag2) {
        SRestriction r{};
        r.rt = RES_COMPAREPROPS;
        r.res.resCompareProps = {relop, tag1, tag2};
        return r;
    }
    SRestriction Bitmask(ULONG rel, ULONG tag, ULONG mask) {
        SRestriction r{};
        r.rt = RES_BITMASK;
        r.res.resBitMask = {rel, tag, mask};
        return r;
    }
    SRestriction Size(ULONG relop, ULONG tag, ULONG cb) {
        SRestriction r{};
        r.rt = RES_SIZE;
        r.res.resSize = {relop, tag, cb};
        return r;
    }
    SRestriction Exist(ULONG tag) {
        SRestriction r{};
        r.rt = RES_EXIST;
        r.res.resExist = {0, tag, 0};
        return r;
    }
    SRestriction List(ULONG rt, std::vector<SRestriction> children) {
        auto& stored = nodes_.emplace_back(std::move(children));
        SRestriction r{};
        r.rt = rt;
        r.res.resAnd.cRes = static_cast<ULONG>(stored.size());
        r.res.resAnd.lpRes = stored.empty() ? nullptr : stored.data();
        return r;
    }
    SRestriction Not(SRestriction inner) {
        SRestriction r{};
        r.rt = RES_NOT;
        r.res.resNot.lpRes = &nodes_.emplace_back(1, inner)[0];
        return r;
    }
    SRestriction Sub(ULONG object, SRestriction inner) {
        SRestriction r{};
        r.rt = RES_SUBRESTRICTION;
        r.res.resSub.ulSubObject = object;
        r.res.resSub.lpRes = &nodes_.emplace_back(1, inner)[0];
        return r;
    }

private:
    std::deque<SPropValue> values_;
    std::deque<std::vector<BYTE>> bytes_;
    std::deque<std::vector<const char*>> strings_;
    std::deque<std::vector<const char16_t*>> wstrings_;
    std::deque<std::vector<SRestriction>> nodes_;
};

class RestrictionEvalTest : public ::testing::Test {
protected:
    void SetUp() override {
        Builder& b = values_;
        // Row A: a Unicode subject, two categories, read and with attachments.
        std::vector<SPropValue> a = {*b.WStr(PR_SUBJECT_W, u"Größe Δ Report"),
                                     *b.Long(PR_MESSAGE_SIZE, 1500),
                                     *b.MvStr(kCategories, {"Work", "Urgent"}),
                                     *b.Long(PR_MESSAGE_FLAGS, 0x11),
                                     *b.Time(PR_CREATION_TIME, 0x01D0000000000000ULL),
                                     *b.Bin(PR_ENTRYID, {1, 2, 3}),
                                     *b.Long(PR_IMPORTANCE, 2),
                                     *b.Long(PR_PRIORITY, 2)};
        // Row B: an 8-bit subject, a time with the top bit set.
        std::vector<SPropValue> bRow = {*b.Str(PR_SUBJECT_A, "re: caf\xC3\xA9 meeting"),
                                        *b.Long(PR_MESSAGE_SIZE, 200),
                                        *b.Long(PR_MESSAGE_FLAGS, 0),
                                        *b.Time(PR_CREATION_TIME, 0x8000000000000000ULL),
                                        *b.Bin(PR_ENTRYID, {1, 2}),
                                        *b.Long(PR_IMPORTANCE, 1),
                                        *b.Long(PR_PRIORITY, 2)};
        // Row C: no subject, a negative size, Cyrillic category, damaged body.
        std::vector<SPropValue> c = {*b.Long(PR_MESSAGE_SIZE, -5),
                                     *b.MvWStr(kCategoriesW, {u"ПРИВЕТ"}),
                                     *b.Error(PR_BODY, MAPI_E_CORRUPT_DATA)};
        ASSERT_EQ(rows_.AddRow(a.data(), static_cast<ULONG>(a.size())), S_OK);
        ASSERT_EQ(rows_.AddRow(bRow.data(), static_cast<ULONG>(bRow.size())), S_OK);
        ASSERT_EQ(rows_.AddRow(c.data(), static_cast<ULONG>(c.size())), S_OK);

        auto recipientsA = std::make_shared<MemoryRows>();
        ASSERT_EQ(recipientsA->AddRow(b.Str(PR_EMAIL_ADDRESS, "bob@x"), 1), S_OK);
        rows_.SetSubRows(0, PR_MESSAGE_RECIPIENTS, recipientsA);
        rows_.SetSubRows(1, PR_MESSAGE_RECIPIENTS, std::make_shared<MemoryRows>());
    }

    // The names of the rows that satisfy r, e.g. "AC".
    std::string Matching(const SRestriction& r) {
        EXPECT_EQ(ValidateRestriction(&r), S_OK);
        std::string out;
        for (ULONG i = 0; i < rows_.Count(); ++i)
            if (EvaluateRestriction(r, *rows_.Row(i))) out += static_cast<char>('A' + i);
        return out;
    }

    Builder values_;
    MemoryRows rows_;
};

TEST_F(RestrictionEvalTest, EveryKindAgainstHandCheckedRows) {
    Builder& b = values_;
    struct Case {
        const char* name;
        SRestriction restriction;
        const char* expected;
    };
    const Case cases[] = {
        {"simple folding keeps sharp s apart from ss",
         b.Property(RELOP_EQ, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "GRÖSSE")), ""},
        {"folds umlaut and Greek",
         b.Property(RELOP_EQ, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "grÖße δ report")), "A"},
        {"folds accented capital",
         b.Property(RELOP_EQ, PR_SUBJECT_W, b.WStr(PR_SUBJECT_W, u"RE: CAFÉ MEETING")), "B"},
        {"not-equal is false on a missing property",
         b.Property(RELOP_NE, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "x")), "AB"},
        {"not inverts the missing case",
         b.Not(b.Property(RELOP_EQ, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "x"))), "ABC"},
        {"numbers signed", b.Property(RELOP_LT, PR_MESSAGE_SIZE, b.Long(PR_MESSAGE_SIZE, 0)), "C"},
        {"greater or equal", b.Property(RELOP_GE, PR_MESSAGE_SIZE, b.Long(PR_MESSAGE_SIZE, 200)),
         "AB"},
        {"time unsigned",
         b.Property(RELOP_GT, PR_CREATION_TIME, b.Time(PR_CREATION_TIME, 0x01D0000000000000ULL)),
         "B"},
        {"multi-valued any value, tag keeps MV type",
         b.Property(RELOP_EQ, kCategories, b.Str(PROP_TAG(PT_STRING8, 0x8001), "urgent")), "A"},
        {"Cyrillic folding on MV Unicode",
         b.Property(RELOP_EQ, kCategories, b.Str(PROP_TAG(PT_STRING8, 0x8001), "привет")), "C"},
        {"binary shorter first", b.Property(RELOP_GT, PR_ENTRYID, b.Bin(PR_ENTRYID, {1, 2})), "A"},
        {"binary less", b.Property(RELOP_LT, PR_ENTRYID, b.Bin(PR_ENTRYID, {1, 2, 3})), "B"},
        {"property on damaged value is false", b.Property(RELOP_NE, PR_BODY, b.Str(PR_BODY_A, "")),
         ""},
        {"content keeps accents",
         b.Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "CAFE")), ""},
        {"content ignoring non-spacing marks",
         b.Content(FL_SUBSTRING | FL_IGNORECASE | FL_IGNORENONSPACE, PR_SUBJECT_A,
                   b.Str(PR_SUBJECT_A, "CAFE")),
         "B"},
        {"marks dropped from decomposed pattern",
         b.Content(FL_SUBSTRING | FL_IGNORENONSPACE, PR_SUBJECT_A,
                   b.Str(PR_SUBJECT_A, "cafe\xCC\x81")),
         "B"},
        {"content is case-sensitive by default",
         b.Content(FL_SUBSTRING, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "report")), ""},
        {"content substring", b.Content(FL_SUBSTRING, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "Report")),
         "A"},
        {"loose prefix", b.Content(FL_PREFIX | FL_LOOSE, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "RE:")),
         "B"},
        {"full string",
         b.Content(FL_FULLSTRING, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "re: caf\xC3\xA9 meeting")),
         "B"},
        {"full string must be whole",
         b.Content(FL_FULLSTRING, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "re:")), ""},
        {"binary prefix", b.Content(FL_PREFIX, PR_ENTRYID, b.Bin(PR_ENTRYID, {1, 2})), "AB"},
        {"binary full", b.Content(FL_FULLSTRING, PR_ENTRYID, b.Bin(PR_ENTRYID, {1, 2})), "B"},
        {"content on multi-valued",
         b.Content(FL_SUBSTRING | FL_IGNORECASE, kCategories,
                   b.Str(PROP_TAG(PT_STRING8, 0x8001), "RG")),
         "A"},
        {"bitmask not zero", b.Bitmask(BMR_NEZ, PR_MESSAGE_FLAGS, 0x10), "A"},
        {"bitmask zero, missing is false", b.Bitmask(BMR_EQZ, PR_MESSAGE_FLAGS, 0x10), "B"},
        {"size of Unicode string", b.Size(RELOP_EQ, PR_SUBJECT_A, 30), "A"},
        {"size of 8-bit string", b.Size(RELOP_EQ, PR_SUBJECT_A, 18), "B"},
        {"size of MV strings", b.Size(RELOP_EQ, kCategories, 12), "A"},
        {"size of MV Unicode", b.Size(RELOP_EQ, kCategories, 14), "C"},
        {"size of a long", b.Size(RELOP_EQ, PR_MESSAGE_SIZE, 4), "ABC"},
        {"size of binary", b.Size(RELOP_LT, PR_ENTRYID, 3), "B"},
        {"exist", b.Exist(PR_SUBJECT_A), "AB"},
        {"damaged value exists", b.Exist(PR_BODY), "C"},
        {"compare props equal", b.CompareProps(RELOP_EQ, PR_IMPORTANCE, PR_PRIORITY), "A"},
        {"compare props less", b.CompareProps(RELOP_LT, PR_IMPORTANCE, PR_PRIORITY), "B"},
        {"compare props with missing", b.CompareProps(RELOP_NE, PR_MESSAGE_SIZE, PR_IMPORTANCE),
         "AB"},
        {"and",
         b.List(RES_AND, {b.Property(RELOP_GT, PR_MESSAGE_SIZE, b.Long(PR_MESSAGE_SIZE, 100)),
                          b.Exist(PR_SUBJECT_A)}),
         "AB"},
        {"or",
         b.List(RES_OR,
                {b.Property(RELOP_LT, PR_MESSAGE_SIZE, b.Long(PR_MESSAGE_SIZE, 0)),
                 b.Property(RELOP_EQ, kCategories, b.Str(PROP_TAG(PT_STRING8, 0x8001), "work"))}),
         "AC"},
        {"empty and", b.List(RES_AND, {}), "ABC"},
        {"empty or", b.List(RES_OR, {}), ""},
        {"recipient subrestriction",
         b.Sub(PR_MESSAGE_RECIPIENTS,
               b.Property(RELOP_EQ, PR_EMAIL_ADDRESS, b.Str(PR_EMAIL_ADDRESS, "BOB@X"))),
         "A"},
        {"no attachment table", b.Sub(PR_MESSAGE_ATTACHMENTS, b.List(RES_AND, {})), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Matching(c.restriction), c.expected) << c.name;

    SRestriction comment{};
    comment.rt = RES_COMMENT;
    EXPECT_EQ(Matching(comment), "ABC");
}

TEST_F(RestrictionEvalTest, ValidationRefusesWhatCannotBeEvaluated) {
    Builder& b = values_;
    SPropValue object{};
    object.ulPropTag = PROP_TAG(PT_OBJECT, 0x3701);
    SRestriction broken = b.List(RES_AND, {});
    broken.res.resAnd.cRes = 2;
    SRestriction unknown{};
    unknown.rt = 99;
    struct Case {
        const char* name;
        SRestriction restriction;
        HRESULT expected;
    };
    const Case cases[] = {
        {"value missing", b.Property(RELOP_EQ, PR_SUBJECT_A, nullptr), MAPI_E_INVALID_PARAMETER},
        {"long against string", b.Property(RELOP_EQ, PR_MESSAGE_SIZE, b.Str(PR_SUBJECT_A, "1")),
         MAPI_E_TOO_COMPLEX},
        {"object value", b.Property(RELOP_EQ, PR_ATTACH_DATA_OBJ, &object), MAPI_E_TOO_COMPLEX},
        {"regular expression", b.Property(RELOP_RE, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "a")),
         MAPI_E_TOO_COMPLEX},
        {"unknown relop", b.Property(17, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "a")),
         MAPI_E_INVALID_PARAMETER},
        {"content on a number",
         b.Content(FL_SUBSTRING, PR_MESSAGE_SIZE, b.Long(PR_MESSAGE_SIZE, 1)), MAPI_E_TOO_COMPLEX},
        {"bitmask on a string", b.Bitmask(BMR_NEZ, PR_SUBJECT_A, 1), MAPI_E_TOO_COMPLEX},
        {"compare string with time", b.CompareProps(RELOP_EQ, PR_SUBJECT_A, PR_CREATION_TIME),
         MAPI_E_TOO_COMPLEX},
        {"sub-object that is no table", b.Sub(PR_SUBJECT_A, b.Exist(PR_SUBJECT_A)),
         MAPI_E_TOO_COMPLEX},
        {"children missing", broken, MAPI_E_INVALID_PARAMETER},
        {"unknown kind", unknown, MAPI_E_INVALID_PARAMETER},
        {"fault deep inside",
         b.List(RES_OR, {b.Exist(PR_SUBJECT_A),
                         b.Not(b.Property(RELOP_RE, PR_SUBJECT_A, b.Str(PR_SUBJECT_A, "a")))}),
         MAPI_E_TOO_COMPLEX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValidateRestriction(&c.restriction), c.expected) << c.name;
    EXPECT_EQ(ValidateRestriction(nullptr), MAPI_E_INVALID_PARAMETER);

    // Trees deeper than the evaluator is willing to recurse are refused.
    SRestriction deep = b.Exist(PR_SUBJECT_A);
    for (int i = 0; i < 100; ++i) deep = b.Not(deep);
    EXPECT_EQ(ValidateRestriction(&deep), S_OK);
    for (int i = 0; i < 1000; ++i) deep = b.Not(deep);
    EXPECT_EQ(ValidateRestriction(&deep), MAPI_E_TOO_COMPLEX);
}

// ASCII text is matched where it lies, other text through full folding.
// A non-ASCII letter added at the end cannot change whether an ASCII
// pattern is contained in or starts the value, so both paths must agree on
// every case; and full-string matches must agree with their ASCII-only twin.
TEST(ContentMatching, AsciiTextMatchesAsTheFullFoldingDoes) {
    const char* const values[] = {
        "",   "a",      "Report",       "weekly REPORT draft", "re: re: RE:",
        "xX", "abcabd", "[Q] 50% off!", "ZZ Top @ Zoo"};
    const char* const patterns[] = {
        "",  "a",    "report", "RE:", "abd", "ABCABD",
        "x", "q] 5", "zz",     "@ z", "ZOO", "longer than any value here"};
    const ULONG levels[] = {FL_SUBSTRING, FL_PREFIX};
    const ULONG loosenesses[] = {0, FL_IGNORECASE, FL_LOOSE, FL_IGNORECASE | FL_IGNORENONSPACE};
    int matched = 0;
    for (const char* value : values)
        for (const char* pattern : patterns)
            for (ULONG level : levels)
                for (ULONG loose : loosenesses) {
                    std::string accented = std::string(value) + "\xC3\xA9";  // é
                    SPropValue plain{PR_SUBJECT_A, 0, {}}, mixed{PR_SUBJECT_A, 0, {}};
                    plain.Value.lpszA = const_cast<char*>(value);
                    mixed.Value.lpszA = accented.data();
                    std::u16string wide(pattern, pattern + std::strlen(pattern));
                    SPropValue narrowPattern{PR_SUBJECT_A, 0, {}}, widePattern{PR_SUBJECT_W, 0, {}};
                    narrowPattern.Value.lpszA = const_cast<char*>(pattern);
                    widePattern.Value.lpszW = wide.data();
                    for (const SPropValue* p : {&narrowPattern, &widePattern}) {
                        SRestriction r{};
                        r.rt = RES_CONTENT;
                        r.res.resContent = {level | loose, PR_SUBJECT_A,
                                            const_cast<SPropValue*>(p)};
                        MemoryRows rows;
                        ASSERT_EQ(rows.AddRow(&plain, 1), S_OK);
                        ASSERT_EQ(rows.AddRow(&mixed, 1), S_OK);
                        bool fast = EvaluateRestriction(r, *rows.Row(0));
                        EXPECT_EQ(fast, EvaluateRestriction(r, *rows.Row(1)))
                            << value << " / " << pattern << " / " << (level | loose);
                        matched += fast;
                    }
                }
    EXPECT_GT(matched, 40);
}

TEST(CaseFoldTest, FoldsAndStripsLikeUnicode) {
    const std::pair<char32_t, char32_t> folds[] = {
        {U'A', U'a'},   {U'Ä', U'ä'}, {U'Ÿ', U'ÿ'}, {U'ſ', U's'},   {U'Σ', U'σ'}, {U'ς', U'σ'},
        {U'Ё', U'ё'},   {U'Я', U'я'}, {U'Ԁ', U'ԁ'}, {U'İ', U'İ'},   {U'ẞ', U'ß'}, {0x2126, U'ω'},
        {0x212A, U'k'}, {U'Ա', U'ա'}, {U'Ǆ', U'ǆ'}, {U'ǅ', U'ǆ'},   {U'Ł', U'ł'}, {U'Ő', U'ő'},
        {U'Ž', U'ž'},   {U'Ά', U'ά'}, {U'Ώ', U'ώ'}, {U'Ѳ', U'ѳ'},   {U'Ӂ', U'ӂ'}, {U'Ạ', U'ạ'},
        {U'ÿ', U'ÿ'},   {U'×', U'×'}, {U'µ', U'μ'}, {U'Ｚ', U'ｚ'}, {U'Ϊ', U'ϊ'}, {U'ĸ', U'ĸ'},
    };
    for (auto [in, out] : folds) EXPECT_EQ(FoldCase(in), out) << std::hex << uint32_t(in);

    const std::pair<char32_t, char32_t> bases[] = {
        {U'é', U'e'}, {U'Ř', U'R'}, {U'ệ', U'e'}, {U'ǖ', U'u'}, {U'Ё', U'Е'}, {U'й', U'и'},
        {U'ά', U'α'}, {U'ø', U'ø'}, {U'ı', U'ı'}, {U'ñ', U'n'}, {U'Ş', U'S'}, {U'ț', U't'},
        {U'İ', U'I'}, {U'ŀ', U'ŀ'}, {U'ź', U'z'}, {U'Ỹ', U'Y'}, {U'ḉ', U'c'}, {U'ÿ', U'y'},
    };
    for (auto [in, out] : bases) EXPECT_EQ(BaseLetter(in), out) << std::hex << uint32_t(in);

    EXPECT_EQ(PrepareForCompare(U"E\u0301TE\u0300", true, true), U"ete");
    EXPECT_EQ(PrepareForCompare(U"E\u0301", true, false), U"e\u0301");

    // Scripts beyond the European ones fold and lose their marks too.
    const std::pair<char32_t, char32_t> more[] = {
        {0x1C90, 0x10D0},    // Georgian Mtavruli to Mkhedruli
        {0x2C00, 0x2C30},    // Glagolitic
        {0x2C80, 0x2C81},    // Coptic
        {0xAB70, 0x13A0},    // Cherokee small letters fold to the capitals
        {0x1E900, 0x1E922},  // Adlam
        {0x1F88, 0x1F80},    // Greek with prosgegrammeni, simple folding only
    };
    for (auto [in, out] : more) EXPECT_EQ(FoldCase(in), out) << std::hex << uint32_t(in);
    // Hebrew points, Arabic harakat and a Devanagari nukta are non-spacing;
    // a Hangul syllable decomposes into letters, not marks, and stays whole.
    EXPECT_EQ(PrepareForCompare(U"\u05E9\u05B8\u05C1\u05DC\u05D5\u05B9\u05DD", false, true),
              U"\u05E9\u05DC\u05D5\u05DD");
    EXPECT_EQ(PrepareForCompare(U"\u0643\u064E\u062A\u064E\u0628\u064E", false, true),
              U"\u0643\u062A\u0628");
    EXPECT_EQ(PrepareForCompare(U"\u0958", false, true), U"\u0915");
    EXPECT_EQ(PrepareForCompare(U"\uAC01", true, true), U"\uAC01");
    EXPECT_EQ(PrepareForCompare(U"\u1EC6\u0110", true, true), U"e\u0111");
}

}  // namespace
}  // namespace mapi
