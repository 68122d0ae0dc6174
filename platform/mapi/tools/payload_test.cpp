// The PAYLOAD text forms: each type's form and the quoting rules, including
// the edge cases a dump comparison depends on (escapes, non-ASCII, limits).
#include "payload.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(FormatPayload(mvd), "[?, ?]");
}

TEST(PayloadTest, TypesWithoutATextFormAreQuestionMarks) {
    SPropValue d = Value(PROP_TAG(PT_DOUBLE, 0x6603));
    d.Value.dbl = 1.25;
    EXPECT_EQ(FormatPayload(d), "?");
    SPropValue i8 = Value(PROP_TAG(PT_I8, 0x6604));
    EXPECT_EQ(FormatPayload(i8), "?");
    SPropValue err = Value(PROP_TAG(PT_ERROR, 0x0037));
    err.Value.err = MAPI_E_NOT_FOUND;
    EXPECT_EQ(FormatPayload(err), "?");
    EXPECT_EQ(FormatTag(PR_SUBJECT_W), "0x0037001F");
}

}  // namespace
}  // namespace mapi::tools
