// CopyMessages between embedded stores: the copy holds everything the source
// message holds (properties, recipients, attachments, embedded messages,
// named properties by name), and MESSAGE_MOVE removes the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "embedded_test_util.h"
#include "prop_codec.h"
#include "runtime/message_copy.h"
#include "runtime/prop_convert.h"

namespace mapi::embedded::test {
namespace {

// The key of a tag independent of the store: named properties by name.
std::string TagKey(IMAPIProp* obj, ULONG tag) {
    std::ostringstream key;
    key << std::hex << PROP_TYPE(tag) << ':';
    if (PROP_ID(tag) < 0x8000) {
        key << PROP_ID(tag);
        return key.str();
    }
    SizedSPropTagArray(1, one) = {1, {tag}};
    LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&one);
    ULONG count = 0;
    LPMAPINAMEID* names = nullptr;
    obj->GetNamesFromIDs(&tags, nullptr, 0, &count, &names);
    MapiBuffer<LPMAPINAMEID> hold(names);
    if (count != 1 || names[0] == nullptr) return key.str() + "?";
    key << names[0]->lpguid->Data1 << '/';
    if (names[0]->ulKind == MNID_ID)
        key << names[0]->Kind.lID;
    else
        key << Utf16ToUtf8(names[0]->Kind.lpwstrName);
    return key.str();
}

std::string ReadStream(IMAPIProp* obj, ULONG tag) {
    IUnknown* unk = nullptr;
    if (FAILED(obj->OpenProperty(tag, &IID_IStream, 0, 0, &unk))) return "<no stream>";
    ComRef<IStream> stream(static_cast<IStream*>(unk));
    std::string out;
    char buffer[8192];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0)
        out.append(buffer, read);
    return out;
}

// Every property but the store-internal ones, as "key=bytes" lines in key order.
std::string DumpProps(IMAPIProp* obj) {
    ULONG count = 0;
    LPSPropValue values = nullptr;
    EXPECT_TRUE(SUCCEEDED(obj->GetProps(nullptr, 0, &count, &values)));
    MapiBuffer<SPropValue> hold(values);
    std::map<std::string, std::string> lines;
    for (ULONG i = 0; i < count; ++i) {
        ULONG tag = values[i].ulPropTag;
        if (IsStoreInternalProperty(tag) || PROP_ID(tag) == PROP_ID(PR_ATTACH_NUM)) continue;
        std::string bytes;
        if (PROP_TYPE(tag) == PT_ERROR) {
            EXPECT_EQ(values[i].Value.err, MAPI_E_NOT_ENOUGH_MEMORY) << std::hex << tag;
            SizedSPropTagArray(1, one) = {1, {CHANGE_PROP_TYPE(tag, PT_UNSPECIFIED)}};
            LPSPropTagArray list = nullptr;
            obj->GetPropList(0, &list);
            MapiBuffer<SPropTagArray> holdList(list);
            for (ULONG t = 0; t < list->cValues; ++t)
                if (PROP_ID(list->aulPropTag[t]) == PROP_ID(tag)) tag = list->aulPropTag[t];
            (void)one;
            bytes = "stream:" + ReadStream(obj, tag);
        } else {
            EncodedProp encoded;
            EXPECT_EQ(EncodeValue(values[i], &encoded), S_OK) << std::hex << tag;
            bytes = encoded.bytes;
        }
        // Where a copy came from (Quirnel's own set) is the target's
        // bookkeeping and has no counterpart on the source.
        const std::string key = TagKey(obj, tag);
        if (key.find(":f3c4d0d7/Source") != std::string::npos) continue;
        lines[key] = bytes;
    }
    std::string out;
    for (const auto& [key, bytes] : lines) out += key + "=" + bytes + "\n";
    return out;
}

std::string DumpMessage(IMessage* message) {
    std::string out = "message\n" + DumpProps(message);
    IMAPITable* t = nullptr;
    EXPECT_EQ(message->GetRecipientTable(0, &t), S_OK);
    ComRef<IMAPITable> recipients(t);
    RowSetPtr rows = AllRows(recipients.get(), {PR_DISPLAY_NAME_W, PR_EMAIL_ADDRESS_A,
                                                PR_RECIPIENT_TYPE, PR_ADDRTYPE_A});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        out += "recipient\n";
        for (ULONG c = 0; c < rows->aRow[r].cValues; ++c) {
            EncodedProp encoded;
            if (PROP_TYPE(rows->aRow[r].lpProps[c].ulPropTag) != PT_ERROR &&
                SUCCEEDED(EncodeValue(rows->aRow[r].lpProps[c], &encoded)))
                out += encoded.bytes + "\n";
        }
    }
    EXPECT_EQ(message->GetAttachmentTable(0, &t), S_OK);
    ComRef<IMAPITable> attachments(t);
    rows = AllRows(attachments.get(), {PR_ATTACH_NUM});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        IAttach* a = nullptr;
        EXPECT_EQ(message->OpenAttach(rows->aRow[r].lpProps[0].Value.ul, nullptr, 0, &a), S_OK);
        ComRef<IAttach> attach(a);
        out += "attachment\n" + DumpProps(attach.get());
        if (GetLong(attach.get(), PR_ATTACH_METHOD) == ATTACH_EMBEDDED_MSG) {
            IUnknown* unk = nullptr;
            EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, &unk), S_OK);
            ComRef<IMessage> inner(static_cast<IMessage*>(static_cast<IMAPIProp*>(unk)));
            if (inner) out += "embedded " + DumpMessage(inner.get());
        }
    }
    return out;
}

ULONG NamedTag(IMAPIProp* obj, const GUID& guid, const char16_t* name, LONG lid, ULONG type) {
    MAPINAMEID id{};
    id.lpguid = const_cast<GUID*>(&guid);
    if (name != nullptr) {
        id.ulKind = MNID_STRING;
        id.Kind.lpwstrName = const_cast<WCHAR*>(name);
    } else {
        id.ulKind = MNID_ID;
        id.Kind.lID = lid;
    }
    LPMAPINAMEID names[] = {&id};
    LPSPropTagArray tags = nullptr;
    EXPECT_EQ(obj->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
    MapiBuffer<SPropTagArray> hold(tags);
    return CHANGE_PROP_TYPE(tags->aulPropTag[0], type);
}

void WriteStream(IMAPIProp* obj, ULONG tag, const std::string& bytes) {
    IUnknown* unk = nullptr;
    ASSERT_EQ(obj->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk), S_OK);
    ComRef<IStream> stream(static_cast<IStream*>(unk));
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    ASSERT_EQ(stream->Commit(0), S_OK);
}

void AddRecipient(IMessage* message, const char* name, ULONG type) {
    SPropValue props[3]{};
    props[0].ulPropTag = PR_DISPLAY_NAME_A;
    props[0].Value.lpszA = const_cast<char*>(name);
    props[1].ulPropTag = PR_RECIPIENT_TYPE;
    props[1].Value.l = static_cast<LONG>(type);
    props[2].ulPropTag = PR_ADDRTYPE_A;
    props[2].Value.lpszA = const_cast<char*>("SMTP");
    struct {
        ULONG cEntries;
        ADRENTRY aEntries[1];
    } list{1, {{0, 3, props}}};
    ASSERT_EQ(message->ModifyRecipients(MODRECIP_ADD, reinterpret_cast<LPADRLIST>(&list)), S_OK);
}

// A message with something of everything: typed and named properties, a body
// too large for GetProps, recipients, a large attachment and an embedded
// message that has an attachment of its own.
std::string BuildRichMessage(IMAPIFolder* folder, IMsgStore* store) {
    IMessage* raw = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> message(raw);
    SetString(message.get(), PR_SUBJECT, "Quarterly numbers");
    SetString(message.get(), PR_MESSAGE_CLASS, "IPM.Note");
    WCHAR* cats[] = {const_cast<WCHAR*>(u"Finance"), const_cast<WCHAR*>(u"Ärger")};
    SPropValue values[4]{};
    values[0].ulPropTag = NamedTag(store, PS_PUBLIC_STRINGS, u"Keywords", 0, PT_MV_UNICODE);
    values[0].Value.MVszW = {2, cats};
    values[1].ulPropTag = NamedTag(store, PSETID_Common, nullptr, 0x8503, PT_BOOLEAN);
    values[1].Value.b = 1;
    values[2].ulPropTag = PR_MESSAGE_DELIVERY_TIME;
    values[2].Value.ft = FILETIME{0x12345678, 0x01D9ABCD};
    values[3].ulPropTag = PR_MESSAGE_FLAGS;
    values[3].Value.l = MSGFLAG_READ;
    EXPECT_EQ(message->SetProps(4, values, nullptr), S_OK);
    std::string body(150000, 'b');
    for (size_t i = 0; i < body.size(); i += 97) body[i] = '\n';
    WriteStream(message.get(), PR_BODY_A, body);
    AddRecipient(message.get(), "Alice", MAPI_TO);
    AddRecipient(message.get(), "Bob", MAPI_CC);

    IAttach* a = nullptr;
    EXPECT_EQ(message->CreateAttach(nullptr, 0, nullptr, &a), S_OK);
    ComRef<IAttach> data(a);
    SPropValue method{PR_ATTACH_METHOD, 0, {}};
    method.Value.l = ATTACH_BY_VALUE;
    data->SetProps(1, &method, nullptr);
    SetString(data.get(), PR_ATTACH_LONG_FILENAME, "report.pdf");
    std::string blob(200000, '\0');
    for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    WriteStream(data.get(), PR_ATTACH_DATA_BIN, blob);
    EXPECT_EQ(data->SaveChanges(0), S_OK);

    EXPECT_EQ(message->CreateAttach(nullptr, 0, nullptr, &a), S_OK);
    ComRef<IAttach> holder(a);
    method.Value.l = ATTACH_EMBEDDED_MSG;
    holder->SetProps(1, &method, nullptr);
    IUnknown* unk = nullptr;
    EXPECT_EQ(
        holder->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY, &unk),
        S_OK);
    ComRef<IMessage> inner(static_cast<IMessage*>(static_cast<IMAPIProp*>(unk)));
    SetString(inner.get(), PR_SUBJECT, "Fwd: numbers");
    AddRecipient(inner.get(), "Carol", MAPI_TO);
    SPropValue named{NamedTag(store, PS_PUBLIC_STRINGS, u"Inner", 0, PT_LONG), 0, {}};
    named.Value.l = 77;
    inner->SetProps(1, &named, nullptr);
    EXPECT_EQ(inner->CreateAttach(nullptr, 0, nullptr, &a), S_OK);
    ComRef<IAttach> innerData(a);
    method.Value.l = ATTACH_BY_VALUE;
    innerData->SetProps(1, &method, nullptr);
    SetString(innerData.get(), PR_ATTACH_FILENAME, "x.txt");
    EXPECT_EQ(innerData->SaveChanges(0), S_OK);
    EXPECT_EQ(inner->SaveChanges(0), S_OK);
    EXPECT_EQ(holder->SaveChanges(0), S_OK);

    EXPECT_EQ(message->SaveChanges(0), S_OK);
    return GetBinary(message.get(), PR_ENTRYID);
}

HRESULT Copy(IMAPIFolder* from, const std::string& eid, IMAPIFolder* to, ULONG flags = 0) {
    SBinary one = BinaryOf(eid);
    ENTRYLIST list{1, &one};
    return from->CopyMessages(&list, nullptr, to, 0, nullptr, flags);
}

std::string OnlyMessageId(IMAPIFolder* folder) {
    ComRef<IMAPITable> table = Contents(folder);
    RowSetPtr rows = AllRows(table.get(), {PR_ENTRYID});
    EXPECT_EQ(rows->cRows, 1u);
    return rows->cRows == 1 ? Binary(rows->aRow[0].lpProps[0]) : std::string();
}

TEST(EmbeddedCopy, CopyBetweenStoresKeepsEverythingAndRemapsNames) {
    TempDir dir;
    ComRef<IMsgStore> source = CreateAndOpen(dir.File("source.qst"));
    ComRef<IMsgStore> target = CreateAndOpen(dir.File("target.qst"));
    // The target already knows other names, so the copy's ids must differ.
    NamedTag(target.get(), PSETID_Address, u"Busy", 0, PT_LONG);
    NamedTag(target.get(), PSETID_Address, u"Busier", 0, PT_LONG);

    ComRef<IMAPIFolder> from = Subfolder(IpmSubtree(source.get()).get(), "From");
    ComRef<IMAPIFolder> to = Subfolder(IpmSubtree(target.get()).get(), "To");
    std::string eid = BuildRichMessage(from.get(), source.get());
    ASSERT_EQ(Copy(from.get(), eid, to.get()), S_OK);

    ComRef<IMessage> original = OpenById<IMessage>(source.get(), eid);
    ComRef<IMessage> copy = OpenById<IMessage>(target.get(), OnlyMessageId(to.get()));
    ASSERT_TRUE(original);
    ASSERT_TRUE(copy);
    std::string expected = DumpMessage(original.get());
    EXPECT_NE(expected.find("stream:"), std::string::npos);  // the large values were compared
    EXPECT_NE(expected.find("embedded message"), std::string::npos);
    EXPECT_EQ(DumpMessage(copy.get()), expected);

    // The keyword property sits under a different id in the target.
    ULONG keywords = NamedTag(target.get(), PS_PUBLIC_STRINGS, u"Keywords", 0, PT_MV_UNICODE);
    EXPECT_EQ(PROP_ID(keywords), 0x8002u);
    LPSPropValue value = nullptr;
    ASSERT_EQ(HrGetOneProp(copy.get(), keywords, &value), S_OK);
    MapiBuffer<SPropValue> hold(value);
    EXPECT_EQ(value->Value.MVszW.cValues, 2u);
    // The size is the target's own count, and it counts the large values.
    EXPECT_GE(GetLong(copy.get(), PR_MESSAGE_SIZE), 350000);
    EXPECT_EQ(GetLong(from.get(), PR_CONTENT_COUNT), 1);
}

// A multi-valued value cannot be streamed, so however large it is, the
// message must hand it out whole or no client could read or copy it.
TEST(EmbeddedCopy, LargeMultiValuedPropertiesAreReadableAndCopied) {
    TempDir dir;
    ComRef<IMsgStore> source = CreateAndOpen(dir.File("source.qst"));
    ComRef<IMsgStore> target = CreateAndOpen(dir.File("target.qst"));
    ComRef<IMAPIFolder> from = Subfolder(IpmSubtree(source.get()).get(), "From");
    ComRef<IMAPIFolder> to = Subfolder(IpmSubtree(target.get()).get(), "To");

    std::vector<std::string> blobs = {std::string(40000, 'x'), std::string(40000, 'y')};
    SBinary bins[2] = {BinaryOf(blobs[0]), BinaryOf(blobs[1])};
    std::u16string wide(40000, u'w');
    WCHAR* texts[] = {wide.data(), wide.data()};
    SPropValue values[2]{};
    values[0].ulPropTag = PROP_TAG(PT_MV_BINARY, 0x6620);
    values[0].Value.MVbin = {2, bins};
    values[1].ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x6621);
    values[1].Value.MVszW = {2, texts};

    IMessage* raw = nullptr;
    ASSERT_EQ(from->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> message(raw);
    ASSERT_EQ(SetString(message.get(), PR_SUBJECT, "big lists"), S_OK);
    ASSERT_EQ(message->SetProps(2, values, nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    std::string eid = GetBinary(message.get(), PR_ENTRYID);

    ASSERT_EQ(Copy(from.get(), eid, to.get()), S_OK);
    ComRef<IMessage> copy = OpenById<IMessage>(target.get(), OnlyMessageId(to.get()));
    ComRef<IMessage> original = OpenById<IMessage>(source.get(), eid);
    ASSERT_TRUE(copy);
    ASSERT_TRUE(original);
    for (IMessage* m : {original.get(), copy.get()}) {
        LPSPropValue value = nullptr;
        ASSERT_EQ(HrGetOneProp(m, values[0].ulPropTag, &value), S_OK);
        MapiBuffer<SPropValue> hold(value);
        ASSERT_EQ(value->Value.MVbin.cValues, 2u);
        const SBinary& second = value->Value.MVbin.lpbin[1];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(second.lpb), second.cb), blobs[1]);
        LPSPropValue text = nullptr;
        ASSERT_EQ(HrGetOneProp(m, values[1].ulPropTag, &text), S_OK);
        MapiBuffer<SPropValue> holdText(text);
        ASSERT_EQ(text->Value.MVszW.cValues, 2u);
        EXPECT_EQ(std::u16string(text->Value.MVszW.lppszW[0]), wide);
    }
}

TEST(EmbeddedCopy, MoveWithinAStoreAndIntoAnother) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMsgStore> other = CreateAndOpen(dir.File("b.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMAPIFolder> from = Subfolder(ipm.get(), "From");
    ComRef<IMAPIFolder> to = Subfolder(ipm.get(), "To");
    std::string eid = BuildRichMessage(from.get(), store.get());
    std::string before = DumpMessage(OpenById<IMessage>(store.get(), eid).get());

    ASSERT_EQ(Copy(from.get(), eid, to.get(), MESSAGE_MOVE), S_OK);
    EXPECT_EQ(GetLong(from.get(), PR_CONTENT_COUNT), 0);
    std::string moved = OnlyMessageId(to.get());
    EXPECT_EQ(DumpMessage(OpenById<IMessage>(store.get(), moved).get()), before);
    HRESULT hr = S_OK;
    EXPECT_FALSE(OpenById<IMessage>(store.get(), eid, &hr));

    ComRef<IMAPIFolder> away = Subfolder(IpmSubtree(other.get()).get(), "Away");
    ASSERT_EQ(Copy(to.get(), moved, away.get(), MESSAGE_MOVE), S_OK);
    EXPECT_EQ(GetLong(to.get(), PR_CONTENT_COUNT), 0);
    EXPECT_EQ(DumpMessage(OpenById<IMessage>(other.get(), OnlyMessageId(away.get())).get()),
              before);
    // A message that is no longer there fails alone and changes nothing.
    EXPECT_TRUE(FAILED(Copy(to.get(), moved, away.get())));
    EXPECT_EQ(GetLong(away.get(), PR_CONTENT_COUNT), 1);
}

TEST(EmbeddedCopy, AssociatedMessagesStayAssociated) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMAPIFolder> from = Subfolder(ipm.get(), "From");
    ComRef<IMAPIFolder> to = Subfolder(ipm.get(), "To");
    std::string eid = AddMessage(from.get(), "view settings", MAPI_ASSOCIATED);
    ASSERT_EQ(Copy(from.get(), eid, to.get()), S_OK);
    EXPECT_EQ(GetLong(to.get(), PR_CONTENT_COUNT), 0);
    EXPECT_EQ(GetLong(to.get(), PR_ASSOC_CONTENT_COUNT), 1);
    ComRef<IMAPITable> table = Contents(to.get(), MAPI_ASSOCIATED);
    RowSetPtr rows = AllRows(table.get(), {PR_SUBJECT_A, PR_MESSAGE_FLAGS});
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "view settings");
    EXPECT_NE(rows->aRow[0].lpProps[1].Value.l & MSGFLAG_ASSOCIATED, 0);
}

}  // namespace
}  // namespace mapi::embedded::test
