// Tests of the text form of values and restrictions that quirnel-query prints.
#include <gtest/gtest.h>

#include "query_date.h"
#include "restriction_text.h"

namespace {

TEST(RestrictionText, QuotedTexts) {
    EXPECT_EQ(QuotedText("abc"), "\"abc\"");
    EXPECT_EQ(QuotedText("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(QuotedText("\n\x1F \x7E\x7F\xC3\xA4"), "\"\\x0A\\x1F ~\\x7F\\xC3\\xA4\"");
    EXPECT_EQ(QuotedText(""), "\"\"");
}

TEST(RestrictionText, ValuesByType) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_LONG, 0x0E08);
    v.Value.l = -5;
    EXPECT_EQ(PropValueText(&v), "0x0E080003=-5");
    v.ulPropTag = PROP_TAG(PT_I2, 1);
    v.Value.i = -2;
    EXPECT_EQ(PropValueText(&v), "0x00010002=-2");
    v.ulPropTag = PROP_TAG(PT_BOOLEAN, 1);
    v.Value.b = 1;
    EXPECT_EQ(PropValueText(&v), "0x0001000B=1");
    char text[] = "say \"hi\"";
    v.ulPropTag = PROP_TAG(PT_STRING8, 0x37);
    v.Value.lpszA = text;
    EXPECT_EQ(PropValueText(&v), "0x0037001E=\"say \\\"hi\\\"\"");
    v.ulPropTag = PROP_TAG(PT_SYSTIME, 0x3008);
    v.Value.ft = QueryDateToFileTime(QueryDateSeconds(2006, 2, 1, 13, 4, 5));
    EXPECT_EQ(PropValueText(&v), "0x30080040=2006-02-01T13:04:05");
    BYTE bytes[] = {0x00, 0xAB, 0x0F};
    v.ulPropTag = PROP_TAG(PT_BINARY, 0x0FFF);
    v.Value.bin = {3, bytes};
    EXPECT_EQ(PropValueText(&v), "0x0FFF0102=<00AB0F>");
    v.Value.bin = {0, nullptr};
    EXPECT_EQ(PropValueText(&v), "0x0FFF0102=<>");
    GUID guid{0x00062004, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    v.ulPropTag = PROP_TAG(PT_CLSID, 1);
    v.Value.lpguid = &guid;
    EXPECT_EQ(PropValueText(&v), "0x00010048={00062004-0000-0000-C000-000000000046}");
    v.ulPropTag = PROP_TAG(PT_DOUBLE, 1);
    EXPECT_EQ(PropValueText(&v), "0x00010005=?");
    EXPECT_EQ(PropValueText(nullptr), "null");
}

TEST(RestrictionText, DatesAtTheEdgesOfTheCalendar) {
    FILETIME ft = QueryDateToFileTime(0);
    EXPECT_EQ(FileTimeText(ft), "1601-01-01T00:00:00");
    ft = QueryDateToFileTime(QueryDateSeconds(2000, 2, 29, 23, 59, 59));
    EXPECT_EQ(FileTimeText(ft), "2000-02-29T23:59:59");
    ft = QueryDateToFileTime(QueryDateSeconds(9999, 12, 31, 0, 0, 0));
    EXPECT_EQ(FileTimeText(ft), "9999-12-31T00:00:00");
    EXPECT_TRUE(IsValidQueryDate(2004, 2, 29));
    EXPECT_FALSE(IsValidQueryDate(1900, 2, 29));
    EXPECT_FALSE(IsValidQueryDate(2006, 13, 1));
    EXPECT_FALSE(IsValidQueryDate(2006, 4, 31));
}

TEST(RestrictionText, KindsWithoutAComparisonValue) {
    SRestriction exist{};
    exist.rt = RES_EXIST;
    exist.res.resExist.ulPropTag = 0x0037001E;
    SRestriction sub{};
    sub.rt = RES_SUBRESTRICTION;
    sub.res.resSub = {0x0E13000D, &exist};
    SRestriction children[2] = {sub, exist};
    SRestriction orNode{};
    orNode.rt = RES_OR;
    orNode.res.resOr = {2, children};
    SRestriction notNode{};
    notNode.rt = RES_NOT;
    notNode.res.resNot.lpRes = &orNode;
    EXPECT_EQ(RestrictionText(&notNode),
              "not(or(sub(0x0E13000D, exist(0x0037001E)), exist(0x0037001E)))");
    SRestriction prop{};
    prop.rt = RES_PROPERTY;
    prop.res.resProperty = {RELOP_RE, 0x0037001E, nullptr};
    EXPECT_EQ(RestrictionText(&prop), "property(RE, 0x0037001E, null)");
    EXPECT_EQ(RestrictionText(nullptr), "none");
}

}  // namespace
