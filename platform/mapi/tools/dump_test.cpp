// The dump format against a small hand-built store: folder lines, specials,
// item sorting, property lines and their order, named properties by name,
// recipient/attachment/embedded blocks, and that two stores with the same
// content but different named-property ids dump alike.
#include "dump.h"

#include <gtest/gtest.h>

#include <mapiguid.h>
#include <mapiutil.h>

#include <sstream>
#include <vector>

#include "prop_bag.h"
#include "runtime/alloc_fault.h"
#include "sample_time.h"
#include "store_folders.h"
#include "test_store.h"

namespace mapi::tools {
namespace {

std::string Dump(IMsgStore* store, bool props) {
    std::ostringstream out;
    DumpResult result;
    std::string error;
    EXPECT_EQ(DumpStore(store, DumpOptions{props}, out, &result, &error), S_OK) << error;
    EXPECT_EQ(result.unreadable, 0u) << out.str();
    return out.str();
}

ULONG NamedTag(IMAPIProp* object, const GUID& set, const WCHAR* name, LONG id, ULONG type) {
    GUID copy = set;
    std::u16string text = name != nullptr ? name : u"";
    MAPINAMEID nameId{&copy, static_cast<ULONG>(name != nullptr ? MNID_STRING : MNID_ID), {}};
    if (name != nullptr)
        nameId.Kind.lpwstrName = text.data();
    else
        nameId.Kind.lID = id;
    LPMAPINAMEID list[] = {&nameId};
    LPSPropTagArray raw = nullptr;
    EXPECT_EQ(object->GetIDsFromNames(1, list, MAPI_CREATE, &raw), S_OK);
    MapiBuffer<SPropTagArray> tags(raw);
    return tags ? PROP_TAG(type, PROP_ID(tags->aulPropTag[0])) : 0;
}

ComRef<IMAPIFolder> Child(IMAPIFolder* parent, const char* name) {
    ComRef<IMAPIFolder> child;
    std::string text = name;
    EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, text.data(), nullptr, nullptr, 0, child.Out()),
              S_OK);
    return child;
}

void Recipient(IMessage* message, const char* name, const char* address) {
    PropBag one;
    one.Text(PR_DISPLAY_NAME, name);
    one.Text(PR_EMAIL_ADDRESS, address);
    one.Text(PR_ADDRTYPE, "SMTP");
    one.Long(PR_RECIPIENT_TYPE, MAPI_TO);
    LPADRLIST list = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void**>(&list)), S_OK);
    list->cEntries = 1;
    list->aEntries[0].ulReserved1 = 0;
    list->aEntries[0].cValues = one.Count();
    ASSERT_EQ(ScDupPropset(static_cast<int>(one.Count()), one.Values(), MAPIAllocateBuffer,
                           &list->aEntries[0].rgPropVals),
              S_OK);
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD, list), S_OK);
    FreePadrlist(list);
}

// Alpha (created first) and Beta "quoted" with a recipient, a file and an
// embedded message. With otherNamesFirst the store maps two unrelated names
// first, so the same properties get different ids than in a fresh store.
void BuildStore(IMsgStore* store, bool otherNamesFirst) {
    if (otherNamesFirst) {
        NamedTag(store, PS_PUBLIC_STRINGS, u"Unrelated", 0, PT_LONG);
        NamedTag(store, PSETID_Task, nullptr, 0x8101, PT_LONG);
    }
    EntryIdBytes rootId;
    ComRef<IMAPIFolder> root;
    ASSERT_EQ(GetIpmSubtreeId(store, &rootId), S_OK);
    ASSERT_EQ(OpenFolder(store, rootId, true, &root), S_OK);
    ComRef<IMAPIFolder> x = Child(root.get(), "Xylophone");
    Child(x.get(), "Yak");
    Child(root.get(), "Zebra");

    ComRef<IMessage> alpha;
    ASSERT_EQ(x->CreateMessage(nullptr, 0, alpha.Out()), S_OK);
    PropBag a;
    a.Text(PR_MESSAGE_CLASS, "IPM.Note");
    a.Text(PR_SUBJECT, "Alpha");
    ASSERT_EQ(a.ApplyTo(alpha.get()), S_OK);
    ASSERT_EQ(alpha->SaveChanges(0), S_OK);

    ComRef<IMessage> beta;
    ASSERT_EQ(x->CreateMessage(nullptr, 0, beta.Out()), S_OK);
    PropBag b;
    b.Text(PR_MESSAGE_CLASS, "IPM.Note");
    b.Text(PR_SUBJECT, "Beta \"quoted\"");
    b.Long(PR_IMPORTANCE, 2);
    b.Time(PR_CLIENT_SUBMIT_TIME, FileTimeFromUnix(UnixYearStart(2021) + 62 * 86400 + 18367));
    b.TextList(NamedTag(store, PS_PUBLIC_STRINGS, u"Keywords", 0, PT_MV_STRING8), {"Red", "Blue"});
    b.Bool(NamedTag(store, PSETID_Common, nullptr, 0x8503, PT_BOOLEAN), true);
    ASSERT_EQ(b.ApplyTo(beta.get()), S_OK);
    Recipient(beta.get(), "Ann", "ann@x.example");

    ULONG number = 0;
    ComRef<IAttach> file;
    ASSERT_EQ(beta->CreateAttach(nullptr, 0, &number, file.Out()), S_OK);
    PropBag f;
    f.Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    f.Text(PR_ATTACH_LONG_FILENAME, "a.txt");
    f.Binary(PR_ATTACH_DATA_BIN, "hi");
    ASSERT_EQ(f.ApplyTo(file.get()), S_OK);
    ASSERT_EQ(file->SaveChanges(0), S_OK);

    ComRef<IAttach> wrapper;
    ASSERT_EQ(beta->CreateAttach(nullptr, 0, &number, wrapper.Out()), S_OK);
    PropBag w;
    w.Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG);
    ASSERT_EQ(w.ApplyTo(wrapper.get()), S_OK);
    ComRef<IMessage> inner;
    ASSERT_EQ(wrapper->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                    inner.OutAs<IUnknown>()),
              S_OK);
    PropBag i;
    i.Text(PR_SUBJECT_W, "Grüße");
    ASSERT_EQ(i.ApplyTo(inner.get()), S_OK);
    ASSERT_EQ(inner->SaveChanges(0), S_OK);
    ASSERT_EQ(wrapper->SaveChanges(0), S_OK);
    ASSERT_EQ(beta->SaveChanges(0), S_OK);
}

// Each of expected occurs in text, in this order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const std::string& e : expected) {
        size_t found = text.find(e, at);
        ASSERT_NE(found, std::string::npos)
            << "missing after offset " << at << ": " << e << "\nin:\n"
            << text;
        at = found + e.size();
    }
}

class DumpTest : public ::testing::Test {
protected:
    TempStoreDir dir_;
};

TEST_F(DumpTest, FolderLinesAreDepthFirstWithSpecialFolders) {
    ComRef<IMsgStore> store = dir_.NewStore("folders");
    BuildStore(store.get(), false);
    std::string dump = Dump(store.get(), false);
    for (const char* line :
         {"folder \\Inbox items=0 special=inbox\n", "folder \\Outbox items=0 special=outbox\n",
          "folder \\Deleted Items items=0 special=wastebasket\n",
          "folder \\Sent Items items=0 special=sentmail\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
    ExpectInOrder(dump, {"folder \\Xylophone items=2\n", "folder \\Xylophone\\Yak items=0\n",
                         "folder \\Zebra items=0\n"});
    EXPECT_EQ(dump.find("  item"), std::string::npos);
    EXPECT_EQ(dump.find("Top of"), std::string::npos);  // the subtree root itself is no line
}

TEST_F(DumpTest, ItemsArePrintedSortedWithEveryBlock) {
    ComRef<IMsgStore> store = dir_.NewStore("items");
    BuildStore(store.get(), false);
    std::string dump = Dump(store.get(), true);
    size_t start = dump.find("folder \\Xylophone items=2\n");
    ASSERT_NE(start, std::string::npos);
    std::string section = dump.substr(start, dump.find("folder \\Xylophone\\Yak") - start);

    // Beta sorts first: its importance line (0x0017...) precedes the
    // message class line (0x001A...) that Alpha starts with.
    ExpectInOrder(
        section,
        {
            "  item\n",
            "    0x00170003=2\n",
            "    0x001A001E=\"IPM.Note\"\n",
            "    0x0037001E=\"Beta \\\"quoted\\\"\"\n",
            "    0x00390040=2021-03-04T05:06:07\n",
            "    {00020329-0000-0000-C000-000000000046}:\"Keywords\":0x101E=[\"Red\", \"Blue\"]\n",
            "    {00062008-0000-0000-C000-000000000046}:0x00008503:0x000B=1\n",
            "    recipient\n",
            "      0x0C150003=1\n",
            "      0x3001001E=\"Ann\"\n",
            "      0x3003001E=\"ann@x.example\"\n",
            "    attachment\n",
            "      0x37010102=<6869>\n",
            "      0x37050003=1\n",
            "      0x3707001E=\"a.txt\"\n",
            "    attachment\n",
            "      0x37050003=5\n",
            "      message\n",
            "        0x0037001F=\"Gr\\xC3\\xBC\\xC3\\x9Fe\"\n",
            "  item\n",
            "    0x001A001E=\"IPM.Note\"\n",
            "    0x0037001E=\"Alpha\"\n",
        });
    // Store-internal properties and sub-object values stay out.
    for (const char* tag :
         {"0x0FFF0102=", "0x0E080003=", "0x0E090102=", "0x0FFB0102=", "0x0FF60102=", "0x3701000D="})
        EXPECT_EQ(section.find(tag), std::string::npos) << tag;
}

TEST_F(DumpTest, NamedPropertiesCompareAcrossStoresWithOtherIds) {
    ComRef<IMsgStore> fresh = dir_.NewStore("fresh");
    ComRef<IMsgStore> shifted = dir_.NewStore("shifted");
    BuildStore(fresh.get(), false);
    BuildStore(shifted.get(), true);
    ULONG freshId = NamedTag(fresh.get(), PS_PUBLIC_STRINGS, u"Keywords", 0, PT_MV_STRING8);
    ULONG shiftedId = NamedTag(shifted.get(), PS_PUBLIC_STRINGS, u"Keywords", 0, PT_MV_STRING8);
    ASSERT_NE(PROP_ID(freshId), PROP_ID(shiftedId));
    EXPECT_EQ(Dump(fresh.get(), true), Dump(shifted.get(), true));
}

// A store names its folders as it likes: a line break or an escape sequence
// in a name must not make two lines or reach the terminal, and numbers of
// every fixed-size type print exactly.
TEST_F(DumpTest, ControlCharactersInNamesAreEscapedAndNumbersPrintExactly) {
    ComRef<IMsgStore> store = dir_.NewStore("escapes");
    EntryIdBytes rootId;
    ComRef<IMAPIFolder> root;
    ASSERT_EQ(GetIpmSubtreeId(store.get(), &rootId), S_OK);
    ASSERT_EQ(OpenFolder(store.get(), rootId, true, &root), S_OK);
    ComRef<IMAPIFolder> odd = Child(root.get(), "Two\nlines\x1B[2J");
    Child(odd.get(), "Tab\there");

    ComRef<IMessage> message;
    ASSERT_EQ(odd->CreateMessage(nullptr, 0, message.Out()), S_OK);
    SPropValue values[5]{};
    values[0].ulPropTag = PROP_TAG(PT_I8, 0x6610);
    values[0].Value.li.QuadPart = -9000000000123LL;
    values[1].ulPropTag = PROP_TAG(PT_DOUBLE, 0x6611);
    values[1].Value.dbl = 0.1;
    values[2].ulPropTag = PROP_TAG(PT_CURRENCY, 0x6612);
    values[2].Value.cur.int64 = 199900;
    values[3].ulPropTag = PROP_TAG(PT_APPTIME, 0x6613);
    values[3].Value.at = 45292.5;
    values[4].ulPropTag = PR_SUBJECT_A;
    char subject[] = "Bell\a";
    values[4].Value.lpszA = subject;
    ASSERT_EQ(message->SetProps(5, values, nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);

    const std::string dump = Dump(store.get(), true);
    ExpectInOrder(
        dump,
        {"folder \\Two\\x0Alines\\x1B[2J items=1\n", "  item\n", "    0x0037001E=\"Bell\\x07\"\n",
         "    0x66100014=-9000000000123\n", "    0x66110005=0.1\n", "    0x66120006=19.9900\n",
         "    0x66130007=45292.5\n", "folder \\Two\\x0Alines\\x1B[2J\\Tab\\x09here items=0\n"});
    EXPECT_EQ(dump.find('\x1B'), std::string::npos);
    EXPECT_EQ(dump.find('\t'), std::string::npos);
    for (const std::string& line : {std::string("lines"), std::string("here")})
        EXPECT_EQ(dump.find("\n" + line), std::string::npos) << line;
}

// Every MAPI allocation of a dump failing in turn: the dump reports a
// failure or marks items unreadable, never crashes, and frees everything.
TEST_F(DumpTest, AllocationFailuresAnywhereLeakNothing) {
    ComRef<IMsgStore> store = dir_.NewStore("faults");
    BuildStore(store.get(), false);
    const std::string reference = Dump(store.get(), true);
    const long baseline = LiveAllocationChains();
    bool completed = false;
    long attempts = 0;
    for (long n = 0; n < 20000 && !completed; ++n, ++attempts) {
        std::ostringstream out;
        DumpResult result;
        std::string error;
        SetAllocationFailureCountdown(n);
        HRESULT hr = DumpStore(store.get(), DumpOptions{true}, out, &result, &error);
        SetAllocationFailureCountdown(-1);
        ASSERT_EQ(LiveAllocationChains(), baseline) << "after failing allocation " << n;
        if (FAILED(hr)) {
            EXPECT_FALSE(error.empty());
        }
        completed = hr == S_OK && result.unreadable == 0;
        if (completed) {
            EXPECT_EQ(out.str(), reference) << "with " << n << " allocations";
        }
    }
    EXPECT_TRUE(completed);
    RecordProperty("allocations_before_success", static_cast<int>(attempts));
}

}  // namespace
}  // namespace mapi::tools
