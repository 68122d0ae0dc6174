// Typed property access and named-property lookup through the wrappers.
#include <gtest/gtest.h>
#include <runtime/alloc_fault.h>

#include "MapiException.h"
#include "MsgStorePtr.h"
#include "fake_raised.h"
#include "fakes.h"

namespace {

constexpr ULONG kLong = PROP_TAG(PT_LONG, 0x3601);
constexpr ULONG kText = PROP_TAG(PT_STRING8, 0x3613);
constexpr ULONG kBytes = PROP_TAG(PT_BINARY, 0x35E0);
constexpr ULONG kMissingLong = PROP_TAG(PT_LONG, 0x6000);
constexpr ULONG kMissingText = PROP_TAG(PT_STRING8, 0x6001);

// Every test must give back each MAPI buffer it caused, also on throwing paths.
class PropTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.Set(fake::Long(kLong, 2));
        store.Set(fake::Str(kText, "IPF.Note"));
        store.Set(fake::Bin(kBytes, {0, 0xAB}));
        chains = mapi::LiveAllocationChains();
    }
    void TearDown() override {
        mapi::SetAllocationFailureCountdown(-1);
        EXPECT_EQ(mapi::LiveAllocationChains(), chains);
    }
    fake::Store store;
    long chains = 0;
};

using fake::Raised;

TEST_F(PropTest, ReadsTypedValues) {
    IMsgStorePtr p(&store);
    EXPECT_EQ(p.GetLongProp(kLong), 2);
    EXPECT_EQ(p.GetStringProp(kText), "IPF.Note");
    EXPECT_EQ(p.GetStringPropOrEmpty(kText), "IPF.Note");
    const BYTE expected[] = {0, 0xAB};
    EXPECT_TRUE(p.GetBinaryProp(kBytes) == CMapiBinary(2, expected));
    // A value of another type gives the empty text or block, never a raise.
    EXPECT_EQ(p.GetStringProp(CHANGE_PROP_TYPE(kLong, PT_STRING8)), "");
    EXPECT_TRUE(p.GetBinaryProp(CHANGE_PROP_TYPE(kText, PT_BINARY)).Empty());
}

TEST_F(PropTest, MissingPropertiesRaiseWithTheRightContext) {
    IMsgStorePtr p(&store);
    struct Case {
        std::function<void()> read;
        const char* context;
    } cases[] = {
        {[&] { p.GetLongProp(kMissingLong); }, "CGenMapiPropPtr::GetLongProp"},
        {[&] { p.GetStringProp(kMissingText); }, ""},
        {[&] { p.GetBinaryProp(PROP_TAG(PT_BINARY, 0x6002)); }, ""},
    };
    for (const auto& c : cases) {
        const CMAPIException e = Raised(c.read);
        EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
        EXPECT_EQ(e.m_strContext, c.context);
    }
    EXPECT_EQ(p.GetStringPropOrEmpty(kMissingText), "");
}

TEST_F(PropTest, GetStringPropOrEmptySwallowsEveryFailure) {
    IMsgStorePtr p(&store);
    EXPECT_EQ(p.GetStringPropOrEmpty(CHANGE_PROP_TYPE(kText, PT_UNICODE)), "");  // not an 8-bit tag
    store.Fail(fake::Call::GetProps, MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(p.GetStringPropOrEmpty(kText), "");
    store.Fail(fake::Call::GetProps, S_OK);
    mapi::SetAllocationFailureCountdown(0);
    EXPECT_EQ(p.GetStringPropOrEmpty(kText), "");
    EXPECT_EQ(IMsgStorePtr().GetStringPropOrEmpty(kText), "");
}

TEST_F(PropTest, FailingAllocationRaisesAndLeaksNothing) {
    IMsgStorePtr p(&store);
    for (long n : {0L, 1L}) {
        mapi::SetAllocationFailureCountdown(n);
        EXPECT_EQ(Raised([&] { p.GetStringProp(kText); }).m_hr, MAPI_E_NOT_ENOUGH_MEMORY) << n;
    }
}

TEST_F(PropTest, WritesValues) {
    IMsgStorePtr p(&store);
    p.SetStringProp(kText, "IPF.Contact");
    EXPECT_EQ(store.Text(kText), "IPF.Contact");
    const BYTE bytes[] = {1, 2, 3};
    EXPECT_EQ(p.SetBinaryProp(kBytes, CMapiBinary(3, bytes)), S_OK);
    EXPECT_EQ(store.Binary(kBytes), fake::Bytes({1, 2, 3}));
    EXPECT_EQ(p.SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(store.savedFlags, KEEP_OPEN_READWRITE);

    store.Fail(fake::Call::SetProps, MAPI_E_NO_ACCESS);
    p.SetStringProp(kText, nullptr);  // writes nothing, raises nothing
    EXPECT_EQ(store.Text(kText), "IPF.Contact");
    EXPECT_EQ(p.SetBinaryProp(kBytes, CMapiBinary()), MAPI_E_NO_ACCESS);  // unchecked
    EXPECT_EQ(Raised([&] { p.SetStringProp(kText, "x"); }).m_hr, MAPI_E_NO_ACCESS);
    store.Fail(fake::Call::SaveChanges, MAPI_E_NOT_ENOUGH_DISK);
    const CMAPIException e = Raised([&] { p.SaveChanges(0); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_ENOUGH_DISK);
    EXPECT_EQ(e.m_strContext, "");
}

TEST_F(PropTest, GetIDFromNameFormsAddTheType) {
    IMsgStorePtr p(&store);
    const char16_t keywords[] = u"Keywords";
    store.names->nextId = 0x8003;
    EXPECT_EQ(p.GetIDFromName(PS_PUBLIC_STRINGS, keywords, PT_MV_STRING8, MAPI_CREATE),
              0x8003101Eu);
    EXPECT_EQ(store.names->requests.back().kind, static_cast<ULONG>(MNID_STRING));
    EXPECT_EQ(store.names->requests.back().name, u"Keywords");
    EXPECT_EQ(store.names->requests.back().flags, MAPI_CREATE);
    EXPECT_TRUE(store.names->requests.back().guid == PS_PUBLIC_STRINGS);

    store.names->nextId = 0x8004;
    EXPECT_EQ(p.GetIDFromName(PSETID_Common, LONG{0x8580}, 0, MAPI_CREATE), 0x80040000u);
    EXPECT_EQ(store.names->requests.back().kind, static_cast<ULONG>(MNID_ID));
    EXPECT_EQ(store.names->requests.back().id, 0x8580);
    EXPECT_TRUE(store.names->requests.back().guid == PSETID_Common);

    store.names->Pin(PS_PUBLIC_STRINGS, u"Keywords", 0x8005);
    EXPECT_EQ(GetIDFromName(&store, PS_PUBLIC_STRINGS, keywords, PT_LONG, MAPI_CREATE),
              0x80050003u);
    EXPECT_EQ(store.names->requests.back().kind, static_cast<ULONG>(MNID_STRING));
}

TEST_F(PropTest, GetIDFromNameFailures) {
    IMsgStorePtr p(&store);
    const char16_t name[] = u"x";
    store.names->answerWithoutTags = true;
    CMAPIException e = Raised([&] { p.GetIDFromName(PS_PUBLIC_STRINGS, name, 0, MAPI_CREATE); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "CGenMapiPropPtr::GetIDFromName");

    store.names->answerWithoutTags = false;
    store.Fail(fake::Call::GetIDsFromNames, MAPI_E_NO_ACCESS);
    e = Raised([&] { GetIDFromName(&store, PS_PUBLIC_STRINGS, name, 0, MAPI_CREATE); });
    EXPECT_EQ(e.m_hr, MAPI_E_NO_ACCESS);
    EXPECT_EQ(e.m_strContext, "");
}

TEST_F(PropTest, EmptyWrapperFailsWithoutCrashing) {
    IMsgStorePtr empty;
    MapiBufferPtr<SPropValue> value;
    EXPECT_EQ(empty.GetProp(kLong, value), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(empty.SetBinaryProp(kBytes, CMapiBinary()), MAPI_E_INVALID_OBJECT);
    const CMAPIException e = Raised([&] { empty.GetLongProp(kLong); });
    EXPECT_EQ(e.m_hr, MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(e.m_strContext, "CGenMapiPropPtr::GetLongProp");
}

}  // namespace
