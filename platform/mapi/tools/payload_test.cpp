// The PAYLOAD text forms: each type's form and the quoting rules, including
// the edge cases a dump comparison depends on (escapes, non-ASCII, limits).
#include "payload.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include <mapitags.h>

#include "sample_time.h"

namespace mapi::tools {
namespace {

SPropValue Value(ULONG tag) {
    SPropValue v{};
    v.ulPropTag = tag;
    return v;
}

TEST(PayloadTest, NumbersAreSignedDecimal) {
    SPropValue l = Value(PR_IMPORTANCE);
    l.Value.l = -2147483647 - 1;
    EXPECT_EQ(FormatPayload(l), "-2147483648");
    SPropValue i = Value(PROP_TAG(PT_I2, 0x6601));
    i.Value.i = -7;
    EXPECT_EQ(FormatPayload(i), "-7");
    SPropValue b = Value(PR_HASATTACH);
    b.Value.b = 1;
    EXPECT_EQ(FormatPayload(b), "1");
}

TEST(PayloadTest, QuotingEscapesQuotesBackslashesAndBytesOutsidePrintableAscii) {
    EXPECT_EQ(QuoteText("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(QuoteText("tab\tnl\n\x7F~ "), "\"tab\\x09nl\\x0A\\x7F~ \"");
    // UTF-8 bytes, upper-case hex.
    EXPECT_EQ(QuoteText("Grüße"), "\"Gr\\xC3\\xBC\\xC3\\x9Fe\"");
    EXPECT_EQ(QuoteText(""), "\"\"");
}

TEST(PayloadTest, UnicodeAndString8PrintAlike) {
    SPropValue a = Value(PR_SUBJECT_A);
    char narrow[] = "Café";
    a.Value.lpszA = narrow;
    SPropValue w = Value(PR_SUBJECT_W);
    char16_t wide[] = u"Café";
    w.Value.lpszW = wide;
    EXPECT_EQ(FormatPayload(a), "\"Caf\\xC3\\xA9\"");
    EXPECT_EQ(FormatPayload(w), FormatPayload(a));
}

TEST(PayloadTest, TimesAreCalendarDatesInUtc) {
    SPropValue t = Value(PR_CREATION_TIME);
    t.Value.ft = FileTimeFromUnix(0);
    EXPECT_EQ(FormatPayload(t), "1970-01-01T00:00:00");
    t.Value.ft = FileTimeFromUnix(UnixYearStart(2024) + 59 * 86400 + 23 * 3600 + 59 * 60 + 59);
    EXPECT_EQ(FormatPayload(t), "2024-02-29T23:59:59");  // leap day
    t.Value.ft = FILETIME{0, 0};
    EXPECT_EQ(FormatPayload(t), "1601-01-01T00:00:00");
    t.Value.ft = FILETIME{0xFFFFFFFF, 0x7FFFFFFF};  // the largest time Windows shows
    EXPECT_EQ(FormatPayload(t), "30828-09-14T02:48:05");
}

TEST(PayloadTest, BinaryAndGuid) {
    BYTE bytes[] = {0x00, 0xAB, 0x7F};
    SPropValue bin = Value(PR_HTML);
    bin.Value.bin = SBinary{3, bytes};
    EXPECT_EQ(FormatPayload(bin), "<00AB7F>");
    bin.Value.bin = SBinary{0, nullptr};
    EXPECT_EQ(FormatPayload(bin), "<>");
    GUID g = {0x00062004, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    SPropValue clsid = Value(PROP_TAG(PT_CLSID, 0x6602));
    clsid.Value.lpguid = &g;
    EXPECT_EQ(FormatPayload(clsid), "{00062004-0000-0000-C000-000000000046}");
}

TEST(PayloadTest, MultiValuedListsUseTheSingleValuedForms) {
    char a[] = "Red", b[] = "Blue \"x\"";
    LPSTR strings[] = {a, b};
    SPropValue mv = Value(PROP_TAG(PT_MV_STRING8, 0x8000));
    mv.Value.MVszA = SLPSTRArray{2, strings};
    EXPECT_EQ(FormatPayload(mv), "[\"Red\", \"Blue \\\"x\\\"\"]");
    LONG longs[] = {1, -1};
    SPropValue mvl = Value(PROP_TAG(PT_MV_LONG, 0x8001));
    mvl.Value.MVl = SLongArray{2, longs};
    EXPECT_EQ(FormatPayload(mvl), "[1, -1]");
    SPropValue empty = Value(PROP_TAG(PT_MV_UNICODE, 0x8002));
    empty.Value.MVszW = SWStringArray{0, nullptr};
    EXPECT_EQ(FormatPayload(empty), "[]");
    double doubles[] = {1.5, 2.5};
    SPropValue mvd = Value(PROP_TAG(PT_MV_DOUBLE, 0x8003));
    mvd.Value.MVdbl = SDoubleArray{2, doubles};
    EXPECT_EQ(FormatPayload(mvd), "[1.5, 2.5]");
    LARGE_INTEGER bigs[2];
    bigs[0].QuadPart = -1;
    bigs[1].QuadPart = 1LL << 40;
    SPropValue mvi8 = Value(PROP_TAG(PT_MV_I8, 0x8004));
    mvi8.Value.MVli = SLargeIntegerArray{2, bigs};
    EXPECT_EQ(FormatPayload(mvi8), "[-1, 1099511627776]");
    CURRENCY money[1];
    money[0].int64 = 5;
    SPropValue mvc = Value(PROP_TAG(PT_MV_CURRENCY, 0x8005));
    mvc.Value.MVcur = SCurrencyArray{1, money};
    EXPECT_EQ(FormatPayload(mvc), "[0.0005]");
    float floats[] = {0.1f};
    SPropValue mvf = Value(PROP_TAG(PT_MV_R4, 0x8006));
    mvf.Value.MVflt = SRealArray{1, floats};
    EXPECT_EQ(FormatPayload(mvf), "[0.1]");
}

// Fixed-size values print exactly: two dumps agree only when the values do.
TEST(PayloadTest, FixedSizeNumbersPrintExactly) {
    SPropValue i8 = Value(PROP_TAG(PT_I8, 0x6604));
    i8.Value.li.QuadPart = INT64_MIN;
    EXPECT_EQ(FormatPayload(i8), "-9223372036854775808");
    i8.Value.li.QuadPart = 1234567890123LL;
    EXPECT_EQ(FormatPayload(i8), "1234567890123");

    SPropValue d = Value(PROP_TAG(PT_DOUBLE, 0x6603));
    d.Value.dbl = 1.25;
    EXPECT_EQ(FormatPayload(d), "1.25");
    d.Value.dbl = 0.1 + 0.2;  // not 0.3: the form keeps every bit
    EXPECT_EQ(FormatPayload(d), "0.30000000000000004");
    d.Value.dbl = -0.0;
    EXPECT_EQ(FormatPayload(d), "-0");
    d.Value.dbl = 1e300 * 1e10;
    EXPECT_EQ(FormatPayload(d), "inf");
    uint64_t nanBits = 0x7FF8000000000123ull;
    std::memcpy(&d.Value.dbl, &nanBits, sizeof nanBits);
    EXPECT_EQ(FormatPayload(d), "nan:0x7FF8000000000123");

    SPropValue at = Value(PROP_TAG(PT_APPTIME, 0x6605));
    at.Value.at = 45000.75;
    EXPECT_EQ(FormatPayload(at), "45000.75");
    SPropValue f = Value(PROP_TAG(PT_R4, 0x6606));
    f.Value.flt = 0.1f;
    EXPECT_EQ(FormatPayload(f), "0.1");
    uint32_t floatNan = 0x7FC00001u;
    std::memcpy(&f.Value.flt, &floatNan, sizeof floatNan);
    EXPECT_EQ(FormatPayload(f), "nan:0x7FC00001");

    SPropValue cur = Value(PROP_TAG(PT_CURRENCY, 0x6607));
    cur.Value.cur.int64 = 123400;
    EXPECT_EQ(FormatPayload(cur), "12.3400");
    cur.Value.cur.int64 = -1;
    EXPECT_EQ(FormatPayload(cur), "-0.0001");
    cur.Value.cur.int64 = INT64_MIN;
    EXPECT_EQ(FormatPayload(cur), "-922337203685477.5808");

    SPropValue err = Value(PROP_TAG(PT_ERROR, 0x0037));
    err.Value.err = MAPI_E_NOT_FOUND;
    EXPECT_EQ(FormatPayload(err), "0x8004010F");
}

TEST(PayloadTest, TypesWithoutATextFormAreQuestionMarks) {
    for (ULONG type : {PT_NULL, PT_OBJECT, PT_UNSPECIFIED}) {
        SPropValue v = Value(PROP_TAG(type, 0x6608));
        EXPECT_EQ(FormatPayload(v), "?") << type;
    }
    SPropValue mvObject = Value(PROP_TAG(MV_FLAG | PT_OBJECT, 0x6609));
    mvObject.Value.MVl = SLongArray{2, nullptr};
    EXPECT_EQ(FormatPayload(mvObject), "[?, ?]");
    EXPECT_EQ(FormatTag(PR_SUBJECT_W), "0x0037001F");
}

TEST(PayloadTest, ControlCharactersOfUnquotedTextsAreEscaped) {
    EXPECT_EQ(EscapeControls("Inbox"), "Inbox");
    EXPECT_EQ(EscapeControls("a\nb\rc\x1B[31md\x7F"), "a\\x0Ab\\x0Dc\\x1B[31md\\x7F");
    // Non-ASCII names and quotes stay readable; only what breaks a line goes.
    EXPECT_EQ(EscapeControls("M\xC3\xBCller \"GmbH\""), "M\xC3\xBCller \"GmbH\"");
    EXPECT_EQ(EscapeControls(std::string_view("\0x", 2)), "\\x00x");
}

}  // namespace
}  // namespace mapi::tools
