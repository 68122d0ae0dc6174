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
        SPropValue value;
        std::string text;
    };
    std::vector<Case> cases;
    auto add = [&cases](ULONG type, auto fill, std::string text) {
        SPropValue v = Prop(type);
        fill(v.Value);
        cases.push_back({v, std::move(text)});
    };
    add(
        PT_STRING8, [&](_PV& v) { v.lpszA = abc; }, "abc");
    add(
        PT_STRING8, [](_PV& v) { v.lpszA = nullptr; }, "");
    add(
        PT_UNICODE, [&](_PV& v) { v.lpszW = unicode; },
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\x98\x80");
    add(
        PT_I2, [](_PV& v) { v.i = -5; }, "-5");
    add(
        PT_LONG, [](_PV& v) { v.l = -2147483647 - 1; }, "-2147483648");
    add(
        PT_ERROR, [](_PV& v) { v.err = MAPI_E_NOT_FOUND; }, "NULL");
    add(
        PT_BINARY,
        [&](_PV& v) {
            v.bin = SBinary{2, bytes};
        },
        "00AB");
    add(
        PT_MV_LONG,
        [&](_PV& v) {
            v.MVl = SLongArray{3, longs};
        },
        "1; 2; 3");
    add(
        PT_MV_LONG,
        [&](_PV& v) {
            v.MVl = SLongArray{0, longs};
        },
        "");
    add(
        PT_MV_STRING8,
        [&](_PV& v) {
            v.MVszA = SLPSTRArray{2, strings};
        },
        "a;b");
    add(
        PT_MV_BINARY,
        [&](_PV& v) {
            v.MVbin = SBinaryArray{2, bins};
        },
        "01;FE02");
    // Types without a text form give the empty text.
    for (ULONG type :
         {PT_UNSPECIFIED, PT_NULL, PT_OBJECT, PT_I8, PT_CLSID, PT_MV_I2, PT_MV_UNICODE})
        add(
            type, [](_PV& v) { v.li.QuadPart = 7; }, "");
    // Locale-dependent forms, here in the classic locale.
    add(
        PT_BOOLEAN, [](_PV& v) { v.b = 1; }, "true");
    add(
        PT_BOOLEAN, [](_PV& v) { v.b = 0; }, "false");
    add(
        PT_DOUBLE, [](_PV& v) { v.dbl = 1.5; }, "1.5");
    add(
        PT_DOUBLE, [](_PV& v) { v.dbl = 0.1; }, "0.1");
    add(
        PT_DOUBLE, [](_PV& v) { v.dbl = 1e20; }, "1E+20");
    add(
        PT_R4, [](_PV& v) { v.flt = 0.1f; }, "0.1");
    add(
        PT_CURRENCY, [](_PV& v) { v.cur.int64 = 125000; }, "12.5");
    add(
        PT_CURRENCY, [](_PV& v) { v.cur.int64 = -10000; }, "-1");
    add(
        PT_CURRENCY, [](_PV& v) { v.cur.int64 = 1; }, "0.0001");
    // 2024-03-05 14:07:09 as a FILETIME; no time zone is applied.
    add(
        PT_SYSTIME,
        [](_PV& v) {
            v.ft = FILETIME{1768662144u, 31092486u};
        },
        "03/05/24 14:07:09");
    add(
        PT_APPTIME, [](_PV& v) { v.at = 45356.0; }, "03/05/24");
    add(
        PT_APPTIME, [](_PV& v) { v.at = 45356.5; }, "03/05/24 12:00:00");
    add(
        PT_APPTIME, [](_PV& v) { v.at = -1.25; }, "12/29/99 06:00:00");

    for (const auto& c : cases)
        EXPECT_EQ(CMapiPropValue(&c.value).ToString(), c.text)
            << std::hex << "type 0x" << PROP_TYPE(c.value.ulPropTag);
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
