// The comparison behind --verify, on messages of two real embedded stores:
// a faithful copy compares clean (provenance and all), and a difference in
// a property, a recipient or an attachment's data is reported.
#include "item_compare.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <mapix.h>
#include <mapiutil.h>
#include <runtime/mapi_ptr.h>
#include <runtime/message_copy.h>
#include <runtime/provenance.h>
#include <runtime/provider.h>

namespace {

namespace fs = std::filesystem;
using mapi::ComRef;

class ItemCompareTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        m_dir = fs::path(QUIRNEL_BINARY_DIR) / ("item_compare_" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_a = Store("a");
        m_b = Store("b");
    }
    void TearDown() override {
        m_a.Reset();
        m_b.Reset();
        fs::remove_all(m_dir);
    }

    ComRef<IMsgStore> Store(const std::string& name) {
        mapi::StoreProvider* provider = mapi::FindProvider("embedded");
        EXPECT_NE(provider, nullptr);
        mapi::ProfileEntry entry{name, name, "embedded", (m_dir / (name + ".qdb")).string()};
        std::string error;
        EXPECT_EQ(provider->CreateStore(entry.path, name, &error), S_OK) << error;
        ComRef<IMsgStore> store;
        EXPECT_EQ(provider->OpenStore(entry, store.Out(), &error), S_OK) << error;
        return store;
    }

    static ComRef<IMAPIFolder> Root(IMsgStore* store) {
        LPSPropValue raw = nullptr;
        EXPECT_EQ(HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, &raw), S_OK);
        mapi::MapiBuffer<SPropValue> eid(raw);
        ULONG type = 0;
        ComRef<IMAPIFolder> folder;
        EXPECT_EQ(store->OpenEntry(eid->Value.bin.cb, reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb),
                                   &IID_IMAPIFolder, MAPI_MODIFY, &type, folder.OutAs<IUnknown>()),
                  S_OK);
        return folder;
    }

    static ComRef<IMessage> NewMessage(IMsgStore* store) {
        ComRef<IMessage> message;
        EXPECT_EQ(Root(store)->CreateMessage(nullptr, 0, message.Out()), S_OK);
        return message;
    }

    static void SetString(IMAPIProp* object, ULONG tag, const char* text) {
        SPropValue value;
        value.ulPropTag = tag;
        value.Value.lpszA = const_cast<char*>(text);
        ASSERT_EQ(object->SetProps(1, &value, nullptr), S_OK);
    }

    // A message with a property, a named property, a recipient and an
    // attachment with data.
    ComRef<IMessage> Original() {
        ComRef<IMessage> message = NewMessage(m_a.get());
        SetString(message.get(), PR_SUBJECT_A, "Quarterly report");
        GUID guid = mapi::PS_QUIRNEL;  // any set will do for a named property
        guid.Data1 ^= 1;
        MAPINAMEID name{&guid, MNID_STRING, {}};
        name.Kind.lpwstrName = const_cast<LPWSTR>(u"Colour");
        LPMAPINAMEID names[] = {&name};
        LPSPropTagArray raw = nullptr;
        EXPECT_EQ(message->GetIDsFromNames(1, names, MAPI_CREATE, &raw), S_OK);
        mapi::MapiBuffer<SPropTagArray> tags(raw);
        SetString(message.get(), CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_STRING8), "blue");

        ADRLIST list{};
        SPropValue recipient[2];
        recipient[0].ulPropTag = PR_DISPLAY_NAME_A;
        recipient[0].Value.lpszA = const_cast<char*>("Rita Lorenz");
        recipient[1].ulPropTag = PR_RECIPIENT_TYPE;
        recipient[1].Value.l = MAPI_TO;
        list.cEntries = 1;
        list.aEntries[0].cValues = 2;
        list.aEntries[0].rgPropVals = recipient;
        EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD, reinterpret_cast<LPADRLIST>(&list)), S_OK);

        ULONG number = 0;
        ComRef<IAttach> attach;
        EXPECT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        SPropValue data[2];
        data[0].ulPropTag = PR_ATTACH_METHOD;
        data[0].Value.l = ATTACH_BY_VALUE;
        data[1].ulPropTag = PR_ATTACH_DATA_BIN;
        data[1].Value.bin.cb = 5;
        data[1].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>("12345"));
        EXPECT_EQ(attach->SetProps(2, data, nullptr), S_OK);
        EXPECT_EQ(attach->SaveChanges(0), S_OK);
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return message;
    }

    ComRef<IMessage> CopyOf(IMessage* original) {
        ComRef<IMessage> copy = NewMessage(m_b.get());
        EXPECT_EQ(mapi::CopyMessageContents(original, copy.get()), S_OK);
        return copy;
    }

    fs::path m_dir;
    ComRef<IMsgStore> m_a;
    ComRef<IMsgStore> m_b;
};

TEST_F(ItemCompareTest, AFaithfulCopyIsCleanAndEachKindOfDifferenceIsReported) {
    ComRef<IMessage> original = Original();

    // Named ids differ between the stores, the provenance is the copy's own.
    ComRef<IMessage> copy = CopyOf(original.get());
    LPSPropValue raw = nullptr;
    ASSERT_EQ(HrGetOneProp(original.get(), PR_ENTRYID, &raw), S_OK);
    mapi::MapiBuffer<SPropValue> eid(raw);
    ASSERT_EQ(mapi::StampProvenance(original.get(), eid->Value.bin, copy.get()), S_OK);
    EXPECT_EQ(quirnel::CompareMessages(original.get(), copy.get()), std::vector<std::string>{});

    // A property.
    SetString(copy.get(), PR_SUBJECT_A, "Quarterly rep0rt");
    EXPECT_EQ(quirnel::CompareMessages(original.get(), copy.get()),
              (std::vector<std::string>{"- 0x0037001E=\"Quarterly report\"",
                                        "+ 0x0037001E=\"Quarterly rep0rt\""}));

    // A recipient missing.
    copy = CopyOf(original.get());
    ADRLIST none{};
    none.cEntries = 0;
    ASSERT_EQ(copy->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&none)), S_OK);
    std::vector<std::string> differences = quirnel::CompareMessages(original.get(), copy.get());
    ASSERT_FALSE(differences.empty());
    for (const std::string& line : differences) EXPECT_EQ(line.rfind("- ", 0), 0u) << line;
    EXPECT_NE(differences[0].find("recipient"), std::string::npos) << differences[0];

    // An attachment's data.
    copy = CopyOf(original.get());
    ComRef<IAttach> attach;
    ASSERT_EQ(copy->OpenAttach(0, nullptr, MAPI_MODIFY, attach.Out()), S_OK);
    SPropValue data;
    data.ulPropTag = PR_ATTACH_DATA_BIN;
    data.Value.bin.cb = 5;
    data.Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>("12346"));
    ASSERT_EQ(attach->SetProps(1, &data, nullptr), S_OK);
    ASSERT_EQ(attach->SaveChanges(0), S_OK);
    differences = quirnel::CompareMessages(original.get(), copy.get());
    ASSERT_EQ(differences.size(), 2u);
    EXPECT_NE(differences[0].find("3132333435"), std::string::npos) << differences[0];
    EXPECT_NE(differences[1].find("3132333436"), std::string::npos) << differences[1];
}

// What each kind of target is held to, on the lines of one message's dump.
TEST(VerifyScope, EachKindOfTargetIsHeldToWhatItKeeps) {
    using quirnel::TargetKind;
    const std::vector<std::string> source = {
        "0x001A001E=\"IPM.Note\"",
        "0x0037001E=\"Hi\"",
        "0x0E070003=9",
        "0x1000001E=\"text\\x0D\\x0A\"",
        "0x30070040=2020-01-01T00:00:00",
        "{00020329-0000-0000-C000-000000000046}:\"Keywords\":0x101E=[\"a\"]",
        "recipient",
        "  0x0C150003=1",
        "  0x3001001E=\"Rita\"",
        "  0x3002001E=\"SMTP\"",
        "  0x3003001E=\"rita@example.com\"",
        "attachment",
        "  0x0E200003=5",
        "  0x37010102=<3132>",
        "  0x37050003=1",
        "  0x370B0003=-1",
    };
    EXPECT_EQ(quirnel::KeptLines(TargetKind::Complete, source, false), source);

    std::vector<std::string> pst = source;
    pst.erase(pst.begin() + 15);  // the rendering position a .pst sets itself
    pst.erase(pst.begin() + 12);  // and the size it computes
    EXPECT_EQ(quirnel::KeptLines(TargetKind::PersonalFolders, source, false), pst);

    // Through MIME: text types alike, the body's last line break and the
    // creation time dropped, flags cut to read and unsent.
    const std::vector<std::string> mime = {
        "0x001A001F=\"IPM.Note\"",
        "0x0037001F=\"Hi\"",
        "0x0E070003=9",
        "0x1000001F=\"text\"",
        "{00020329-0000-0000-C000-000000000046}:\"Keywords\":0x101F=[\"a\"]",
        "recipient",
        "  0x0C150003=1",
        "  0x3001001F=\"Rita\"",
        "  0x3002001F=\"SMTP\"",
        "  0x3003001F=\"rita@example.com\"",
        "attachment",
        "  0x37010102=<3132>",
        "  0x37050003=1",
    };
    EXPECT_EQ(quirnel::KeptLines(TargetKind::Internet, source, false), mime);
    // With transport headers in the source, they name the recipients.
    std::vector<std::string> headed = source;
    headed.insert(headed.begin() + 5, "0x007D001E=\"To: R <r@example.com>\"");
    std::vector<std::string> mimeHeaded = mime;
    mimeHeaded.erase(mimeHeaded.begin() + 7);
    EXPECT_EQ(quirnel::KeptLines(TargetKind::Internet, headed, true), mimeHeaded);

    // Through MIME, what only the copy has is the conversion's (a
    // Message-ID it made up, an address type from a header), unless it is
    // a recipient or attachment more; a changed value shows on the
    // source's side.
    EXPECT_TRUE(quirnel::AddedByTarget(TargetKind::Internet, "0x1035001F=\"<x@y>\""));
    EXPECT_TRUE(quirnel::AddedByTarget(TargetKind::Internet, "  0x3002001F=\"SMTP\""));
    EXPECT_FALSE(quirnel::AddedByTarget(TargetKind::Internet, "recipient"));
    EXPECT_FALSE(quirnel::AddedByTarget(TargetKind::Complete, "0x1035001F=\"<x@y>\""));
}

}  // namespace
