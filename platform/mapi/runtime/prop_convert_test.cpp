// Tests of text conversion, value copies and conversions, the published
// utility functions and the FILETIME calendar.
#include "prop_convert.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "alloc_fault.h"
#include "mapi_ptr.h"
#include "fakes.h"

namespace mapi {
namespace {

TEST(Utf8Test, InvalidInputIsReplaced) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"plain", u"plain"},
        {"caf\xC3\xA9", u"café"},
        {"a\xF0\x9F\x98\x80z", u"a\U0001F600z"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},                      // overlong NUL
        {"\xE2\x82", u"\uFFFD"},                            // cut short
        {"\xE2\x82x", u"\uFFFDx"},                          // cut short before ASCII
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xFF", u"\uFFFD"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Utf8ToUtf16(in), out) << in;
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xD800x")), "\xEF\xBF\xBDx");  // lone surrogate
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xDC00")), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(static_cast<const WCHAR*>(nullptr)), "");
}

// One value of every type, for copies.
struct Samples {
    GUID guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    BYTE bytes[3] = {1, 0, 2};
    char text[7] = "h\xC3\xA9llo";
    WCHAR wide[4] = u"wid";
    LONG longs[2] = {-1, 7};
    SBinary bins[2] = {{3, bytes}, {0, nullptr}};
    char* texts[2] = {text, text};
    WCHAR* wides[1] = {wide};
    GUID guids[2] = {guid, guid};
    FILETIME times[1] = {{5, 6}};
    std::vector<SPropValue> values;

    Samples() {
        auto add = [&](ULONG type, auto fill) {
            SPropValue v{};
            v.ulPropTag = PROP_TAG(type, 0x6000 + values.size());
            fill(v.Value);
            values.push_back(v);
        };
        add(PT_I2, [](_PV& v) { v.i = -3; });
        add(PT_LONG, [](_PV& v) { v.l = 1 << 30; });
        add(PT_R4, [](_PV& v) { v.flt = 1.5f; });
        add(PT_DOUBLE, [](_PV& v) { v.dbl = 2.25; });
        add(PT_CURRENCY, [](_PV& v) { v.cur.int64 = 123456; });
        add(PT_APPTIME, [](_PV& v) { v.at = 40000.5; });
        add(PT_ERROR, [](_PV& v) { v.err = MAPI_E_CORRUPT_DATA; });
        add(PT_BOOLEAN, [](_PV& v) { v.b = 1; });
        add(PT_I8, [](_PV& v) { v.li.QuadPart = -(1LL << 40); });
        add(PT_SYSTIME, [](_PV& v) { v.ft = {1, 2}; });
        add(PT_STRING8, [&](_PV& v) { v.lpszA = text; });
        add(PT_UNICODE, [&](_PV& v) { v.lpszW = wide; });
        add(PT_CLSID, [&](_PV& v) { v.lpguid = &guid; });
        add(PT_BINARY, [&](_PV& v) { v.bin = {3, bytes}; });
        add(PT_MV_LONG, [&](_PV& v) { v.MVl = {2, longs}; });
        add(PT_MV_BINARY, [&](_PV& v) { v.MVbin = {2, bins}; });
        add(PT_MV_STRING8, [&](_PV& v) { v.MVszA = {2, texts}; });
        add(PT_MV_UNICODE, [&](_PV& v) { v.MVszW = {1, wides}; });
        add(PT_MV_CLSID, [&](_PV& v) { v.MVguid = {2, guids}; });
        add(PT_MV_SYSTIME, [&](_PV& v) { v.MVft = {1, times}; });
    }
};

// Equal content, and no pointer of the copy into the original.
void ExpectDeepEqual(const SPropValue& a, const SPropValue& b) {
    ASSERT_EQ(a.ulPropTag, b.ulPropTag);
    switch (PROP_TYPE(a.ulPropTag)) {
        case PT_STRING8:
            EXPECT_STREQ(a.Value.lpszA, b.Value.lpszA);
            EXPECT_NE(a.Value.lpszA, b.Value.lpszA);
            break;
        case PT_UNICODE:
            EXPECT_EQ(std::u16string(a.Value.lpszW), std::u16string(b.Value.lpszW));
            EXPECT_NE(a.Value.lpszW, b.Value.lpszW);
            break;
        case PT_CLSID:
            EXPECT_EQ(*a.Value.lpguid, *b.Value.lpguid);
            EXPECT_NE(a.Value.lpguid, b.Value.lpguid);
            break;
        case PT_BINARY:
            ASSERT_EQ(a.Value.bin.cb, b.Value.bin.cb);
            EXPECT_EQ(std::memcmp(a.Value.bin.lpb, b.Value.bin.lpb, a.Value.bin.cb), 0);
            EXPECT_NE(a.Value.bin.lpb, b.Value.bin.lpb);
            break;
        case PT_MV_LONG:
            ASSERT_EQ(a.Value.MVl.cValues, b.Value.MVl.cValues);
            EXPECT_EQ(a.Value.MVl.lpl[1], b.Value.MVl.lpl[1]);
            EXPECT_NE(a.Value.MVl.lpl, b.Value.MVl.lpl);
            break;
        case PT_MV_BINARY:
            ASSERT_EQ(a.Value.MVbin.cValues, b.Value.MVbin.cValues);
            EXPECT_EQ(a.Value.MVbin.lpbin[0].cb, b.Value.MVbin.lpbin[0].cb);
            EXPECT_EQ(b.Value.MVbin.lpbin[0].lpb[2], 2);
            EXPECT_NE(a.Value.MVbin.lpbin[0].lpb, b.Value.MVbin.lpbin[0].lpb);
            EXPECT_EQ(b.Value.MVbin.lpbin[1].cb, 0u);
            break;
        case PT_MV_STRING8:
            ASSERT_EQ(a.Value.MVszA.cValues, b.Value.MVszA.cValues);
            EXPECT_STREQ(a.Value.MVszA.lppszA[1], b.Value.MVszA.lppszA[1]);
            EXPECT_NE(a.Value.MVszA.lppszA[1], b.Value.MVszA.lppszA[1]);
            break;
        case PT_MV_UNICODE:
            EXPECT_EQ(std::u16string(a.Value.MVszW.lppszW[0]),
                      std::u16string(b.Value.MVszW.lppszW[0]));
            break;
        case PT_MV_CLSID:
            EXPECT_EQ(a.Value.MVguid.lpguid[1], b.Value.MVguid.lpguid[1]);
            EXPECT_NE(a.Value.MVguid.lpguid, b.Value.MVguid.lpguid);
            break;
        case PT_MV_SYSTIME:
            EXPECT_EQ(b.Value.MVft.lpft[0].dwHighDateTime, 6u);
            break;
        default:
            EXPECT_EQ(std::memcmp(&a.Value, &b.Value, sizeof(a.Value)), 0);
    }
}

TEST(ConvertValueTest, CopiesEveryTypeDeeply) {
    Samples s;
    LPSPropValue raw = nullptr;
    ASSERT_EQ(
        ScDupPropset(static_cast<int>(s.values.size()), s.values.data(), MAPIAllocateBuffer, &raw),
        S_OK);
    MapiBuffer<SPropValue> dup(raw);
    for (size_t i = 0; i < s.values.size(); ++i) ExpectDeepEqual(s.values[i], dup.get()[i]);

    auto parent = AllocateMapi<void>(8);
    for (const SPropValue& v : s.values) {
        SPropValue out{};
        ASSERT_EQ(ConvertValue(v, PT_UNSPECIFIED, parent.get(), &out), S_OK);
        ExpectDeepEqual(v, out);
        SPropValue copy{};
        ASSERT_EQ(PropCopyMore(&copy, const_cast<SPropValue*>(&v), MAPIAllocateMore, parent.get()),
                  S_OK);
        ExpectDeepEqual(v, copy);
    }
    SPropValue unknown{};
    unknown.ulPropTag = PROP_TAG(0x77, 1);
    SPropValue out{};
    EXPECT_EQ(PropCopyMore(&out, &unknown, MAPIAllocateMore, parent.get()), MAPI_E_INVALID_TYPE);
    SPropValue broken{};
    broken.ulPropTag = PROP_TAG(PT_BINARY, 1);
    broken.Value.bin = {4, nullptr};
    EXPECT_EQ(PropCopyMore(&out, &broken, MAPIAllocateMore, parent.get()),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(PROP_TYPE(out.ulPropTag), PT_ERROR);
}

TEST(ConvertValueTest, ConvertsBetweenStringWidths) {
    auto parent = AllocateMapi<void>(8);
    SPropValue a{};
    a.ulPropTag = PR_SUBJECT_A;
    a.Value.lpszA = const_cast<char*>("Gr\xC3\xBC\xC3\x9F \xFF");
    SPropValue w{};
    ASSERT_EQ(ConvertValue(a, PT_UNICODE, parent.get(), &w), S_OK);
    EXPECT_EQ(w.ulPropTag, PR_SUBJECT_W);
    EXPECT_EQ(std::u16string(w.Value.lpszW), u"Grüß \uFFFD");
    SPropValue back{};
    ASSERT_EQ(ConvertValue(w, PT_STRING8, parent.get(), &back), S_OK);
    EXPECT_STREQ(back.Value.lpszA, "Gr\xC3\xBC\xC3\x9F \xEF\xBF\xBD");

    WCHAR one[] = u"Ωmega";
    WCHAR* list[] = {one, one};
    SPropValue mv{};
    mv.ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x8001);
    mv.Value.MVszW = {2, list};
    SPropValue mv8{};
    ASSERT_EQ(ConvertValue(mv, PT_MV_STRING8, parent.get(), &mv8), S_OK);
    EXPECT_EQ(mv8.ulPropTag, PROP_TAG(PT_MV_STRING8, 0x8001));
    ASSERT_EQ(mv8.Value.MVszA.cValues, 2u);
    EXPECT_STREQ(mv8.Value.MVszA.lppszA[1], "\xCE\xA9mega");
    SPropValue mvw{};
    ASSERT_EQ(ConvertValue(mv8, PT_MV_UNICODE, parent.get(), &mvw), S_OK);
    EXPECT_EQ(std::u16string(mvw.Value.MVszW.lppszW[0]), u"Ωmega");

    SPropValue number{};
    number.ulPropTag = PR_MESSAGE_SIZE;
    SPropValue refused{};
    EXPECT_EQ(ConvertValue(number, PT_STRING8, parent.get(), &refused), MAPI_E_INVALID_TYPE);
    EXPECT_EQ(refused.ulPropTag, CHANGE_PROP_TYPE(PR_MESSAGE_SIZE, PT_ERROR));
    EXPECT_EQ(refused.Value.err, MAPI_E_INVALID_TYPE);

    SPropValue damaged = ErrorValue(PR_BODY, MAPI_E_CORRUPT_DATA);
    SPropValue passed{};
    ASSERT_EQ(ConvertValue(damaged, PT_UNICODE, parent.get(), &passed), S_OK);
    EXPECT_EQ(passed.Value.err, MAPI_E_CORRUPT_DATA);

    SetAllocationFailureCountdown(0);
    EXPECT_EQ(ConvertValue(a, PT_UNICODE, parent.get(), &w), MAPI_E_NOT_ENOUGH_MEMORY);
    SetAllocationFailureCountdown(-1);
    EXPECT_EQ(w.ulPropTag, CHANGE_PROP_TYPE(PR_SUBJECT, PT_ERROR));
}

TEST(MapiUtilTest, FindGetAndSetOneProperty) {
    SPropValue values[2] = {};
    values[0].ulPropTag = PR_SUBJECT_W;
    values[1].ulPropTag = PR_MESSAGE_SIZE;
    EXPECT_EQ(PpropFindProp(values, 2, PR_MESSAGE_SIZE), &values[1]);
    EXPECT_EQ(PpropFindProp(values, 2, PR_SUBJECT_A), nullptr);
    EXPECT_EQ(PpropFindProp(values, 2, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_SUBJECT))), &values[0]);
    EXPECT_EQ(PpropFindProp(nullptr, 2, PR_SUBJECT_A), nullptr);

    const long baseline = LiveAllocationChains();
    {
        ComRef<fake::Message> message = fake::Make<fake::Message>();
        SPropValue subject{};
        subject.ulPropTag = PR_SUBJECT_W;
        subject.Value.lpszW = const_cast<WCHAR*>(u"Hello");
        ASSERT_EQ(HrSetOneProp(message.get(), &subject), S_OK);
        LPSPropValue raw = nullptr;
        ASSERT_EQ(HrGetOneProp(message.get(), PR_SUBJECT_A, &raw), S_OK);
        MapiBuffer<SPropValue> got(raw);
        EXPECT_STREQ(got->Value.lpszA, "Hello");
        raw = reinterpret_cast<LPSPropValue>(1);
        EXPECT_EQ(HrGetOneProp(message.get(), PR_BODY_A, &raw), MAPI_E_NOT_FOUND);
        EXPECT_EQ(raw, nullptr);
        message->valueErrors[PROP_ID(PR_SUBJECT)] = MAPI_E_CORRUPT_DATA;
        EXPECT_EQ(HrGetOneProp(message.get(), PR_SUBJECT_A, &raw), MAPI_E_CORRUPT_DATA);
        EXPECT_EQ(HrGetOneProp(nullptr, PR_SUBJECT_A, &raw), MAPI_E_INVALID_PARAMETER);
    }
    EXPECT_EQ(LiveAllocationChains(), baseline);

    FreeProws(nullptr);
    FreePadrlist(nullptr);
    auto list = AllocateMapi<ADRLIST>(CbNewADRLIST(2));
    list->cEntries = 2;
    for (ADRENTRY& e : {std::ref(list->aEntries[0]), std::ref(list->aEntries[1])}) {
        ASSERT_EQ(ScDupPropset(2, values, MAPIAllocateBuffer, &e.rgPropVals), S_OK);
        e.cValues = 2;
    }
    FreePadrlist(list.release());
    EXPECT_EQ(LiveAllocationChains(), baseline);
}

TEST(FileTimeTest, CalendarConversionsRoundTrip) {
    struct Case {
        SYSTEMTIME st;
        unsigned long long ticks;
    };
    const Case cases[] = {
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},  // the epoch, a Monday
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ULL},
        {{2000, 2, 2, 29, 23, 59, 59, 999}, 125963423999990000ULL},  // leap day
        {{2006, 2, 3, 1, 0, 0, 0, 0}, 127832256000000000ULL},
        {{9999, 12, 5, 31, 23, 59, 59, 999}, 2650467743999990000ULL},
    };
    for (const Case& c : cases) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << c.st.wYear;
        const unsigned long long ticks =
            (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        EXPECT_EQ(ticks, c.ticks) << c.st.wYear;
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(std::memcmp(&back, &c.st, sizeof back), 0)
            << c.st.wYear << " weekday " << back.wDayOfWeek;
    }
    SYSTEMTIME last = {30827, 12, 0, 31, 23, 59, 59, 999};
    FILETIME lastFt{};
    EXPECT_TRUE(SystemTimeToFileTime(&last, &lastFt));
    SYSTEMTIME bad = {2023, 2, 0, 29, 0, 0, 0, 0};
    FILETIME ft{};
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    bad = {1600, 12, 0, 31, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    FILETIME tooLate = {0, 0x80000000};
    SYSTEMTIME st{};
    EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &st));
}

}  // namespace
}  // namespace mapi
