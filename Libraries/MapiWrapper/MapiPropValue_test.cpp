// Tests of a property value's text.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MapiPropValue.h"

namespace {

// Locale-dependent texts are checked in the classic locale; the layer reads
// the user's locale once, on first use, so this must happen before it.
const bool kClassicLocale = (setenv("LC_ALL", "C", 1), true);

SPropValue Prop(ULONG type) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(type, 0x6700);
    return v;
}

TEST(CMapiPropValue, ToStringByType) {
    ASSERT_TRUE(kClassicLocale);
    char abc[] = "abc", a[] = "a", b[] = "b";
    char16_t unicode[] = u"Gr\u00FC\u00DFe \U0001F600";
    BYTE bytes[] = {0x00, 0xAB}, one[] = {0x01}, two[] = {0xFE, 0x02};
    LONG longs[] = {1, 2, 3};
    LPSTR strings[] = {a, b};
    SBinary bins[] = {{1, one}, {2, two}};

    struct Case {
        ULONG type;
        _PV value;
        std::string text;
    };
    const Case cases[] = {
        {PT_STRING8, {.lpszA = abc}, "abc"},
        {PT_STRING8, {.lpszA = nullptr}, ""},
        {PT_UNICODE,
         {.lpszW = unicode},
         "Gr\xC3\xBC\xC3\x9F"
         "e \xF0\x9F\x98\x80"},
        {PT_I2, {.i = -5}, "-5"},
        {PT_LONG, {.l = -2147483647 - 1}, "-2147483648"},
        {PT_ERROR, {.err = MAPI_E_NOT_FOUND}, "NULL"},
        {PT_BINARY, {.bin = {2, bytes}}, "00AB"},
        {PT_MV_LONG, {.MVl = {3, longs}}, "1; 2; 3"},
        {PT_MV_LONG, {.MVl = {0, longs}}, ""},
        {PT_MV_STRING8, {.MVszA = {2, strings}}, "a;b"},
        {PT_MV_BINARY, {.MVbin = {2, bins}}, "01;FE02"},
        // Types without a text form.
        {PT_UNSPECIFIED, {.l = 7}, ""},
        {PT_NULL, {.l = 7}, ""},
        {PT_OBJECT, {.l = 7}, ""},
        {PT_I8, {.li = {.QuadPart = 7}}, ""},
        {PT_CLSID, {.lpguid = nullptr}, ""},
        {PT_MV_I2, {.MVl = {3, longs}}, ""},
        {PT_MV_UNICODE, {.MVl = {3, longs}}, ""},
        // Locale-dependent forms, here in the classic locale.
        {PT_BOOLEAN, {.b = 1}, "true"},
        {PT_BOOLEAN, {.b = 0}, "false"},
        {PT_DOUBLE, {.dbl = 1.5}, "1.5"},
        {PT_DOUBLE, {.dbl = 0.1}, "0.1"},
        {PT_DOUBLE, {.dbl = 1e20}, "1E+20"},
        {PT_R4, {.flt = 0.1f}, "0.1"},
        {PT_CURRENCY, {.cur = {.int64 = 125000}}, "12.5"},
        {PT_CURRENCY, {.cur = {.int64 = -10000}}, "-1"},
        {PT_CURRENCY, {.cur = {.int64 = 1}}, "0.0001"},
        // 2024-03-05 14:07:09 as a FILETIME; no time zone is applied.
        {PT_SYSTIME, {.ft = {1768662144u, 31092486u}}, "03/05/24 14:07:09"},
        {PT_SYSTIME, {.ft = {0xFFFFFFFFu, 0xFFFFFFFFu}}, ""},  // no date stands for it
        {PT_APPTIME, {.at = 45356.0}, "03/05/24"},
        {PT_APPTIME, {.at = 45356.5}, "03/05/24 12:00:00"},
        {PT_APPTIME, {.at = -1.25}, "12/29/99 06:00:00"},
    };
    for (const auto& c : cases) {
        SPropValue value = Prop(c.type);
        value.Value = c.value;
        EXPECT_EQ(CMapiPropValue(&value).ToString(), c.text) << std::hex << "type 0x" << c.type;
    }
    EXPECT_EQ(CMapiPropValue().ToString(), "");
}

TEST(CMapiPropValue, String8OnlyForStrings) {
    char abc[] = "abc";
    SPropValue text = Prop(PT_STRING8);
    text.Value.lpszA = abc;
    SPropValue number = Prop(PT_LONG);
    EXPECT_STREQ(CMapiPropValue(&text).String8(), "abc");
    EXPECT_EQ(CMapiPropValue(&number).String8(), nullptr);
    EXPECT_EQ(CMapiPropValue().String8(), nullptr);
    EXPECT_EQ(CMapiPropValue().Type(), PT_UNSPECIFIED);
}

}  // namespace
