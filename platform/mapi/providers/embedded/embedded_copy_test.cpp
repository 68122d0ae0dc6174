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
        lines[TagKey(obj, tag)] = bytes;
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

// SCRATCH-FUZZ-BEGIN
}  // namespace
}  // namespace mapi::embedded::test
#include <sqlite3.h>
#include <cstdio>
namespace mapi::embedded::test {
namespace {
void Exercise(IMessage* m, int depth) {
    ULONG n = 0;
    LPSPropValue v = nullptr;
    m->GetProps(nullptr, 0, &n, &v);
    MAPIFreeBuffer(v);
    LPSPropTagArray list = nullptr;
    if (m->GetPropList(MAPI_UNICODE, &list) == S_OK) {
        for (ULONG t = 0; t < list->cValues; ++t) {
            for (ULONG type : {PT_UNSPECIFIED, PT_STRING8, PT_UNICODE, PT_BINARY, PT_LONG}) {
                SizedSPropTagArray(1, one) = {1, {CHANGE_PROP_TYPE(list->aulPropTag[t], type)}};
                v = nullptr;
                m->GetProps(reinterpret_cast<LPSPropTagArray>(&one), 0, &n, &v);
                MAPIFreeBuffer(v);
                ReadStream(m, CHANGE_PROP_TYPE(list->aulPropTag[t], type));
            }
        }
        MAPIFreeBuffer(list);
    }
    IMAPITable* t = nullptr;
    if (m->GetRecipientTable(0, &t) == S_OK) {
        LPSRowSet rows = nullptr;
        HrQueryAllRows(t, nullptr, nullptr, nullptr, 0, &rows);
        FreeProws(rows);
        t->Release();
    }
    if (m->GetAttachmentTable(0, &t) == S_OK) {
        LPSRowSet rows = nullptr;
        HrQueryAllRows(t, nullptr, nullptr, nullptr, 0, &rows);
        FreeProws(rows);
        t->Release();
    }
    for (ULONG a = 0; a < 3; ++a) {
        IAttach* at = nullptr;
        if (m->OpenAttach(a, nullptr, 0, &at) != S_OK) continue;
        ComRef<IAttach> hold(at);
        v = nullptr;
        at->GetProps(nullptr, 0, &n, &v);
        MAPIFreeBuffer(v);
        ReadStream(at, PR_ATTACH_DATA_BIN);
        IUnknown* unk = nullptr;
        if (depth < 3 && at->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, &unk) == S_OK) {
            ComRef<IMessage> inner(static_cast<IMessage*>(static_cast<IMAPIProp*>(unk)));
            Exercise(inner.get(), depth + 1);
        }
    }
}

TEST(ScratchFuzz, CorruptValues) {
    TempDir dir;
    std::string src = dir.File("a.qst"), dst = dir.File("b.qst");
    std::string eid;
    {
        ComRef<IMsgStore> store = CreateAndOpen(src);
        ComRef<IMAPIFolder> root = IpmSubtree(store.get());
        eid = BuildRichMessage(root.get(), store.get());
        LONG longs[] = {1, 2, 3};
        SBinary bins[] = {{2, (LPBYTE) "ab"}, {0, nullptr}};
        GUID g[2]{};
        SPropValue more[5]{};
        more[0].ulPropTag = PROP_TAG(PT_MV_LONG, 0x6700);
        more[0].Value.MVl = {3, longs};
        more[1].ulPropTag = PROP_TAG(PT_MV_BINARY, 0x6701);
        more[1].Value.MVbin = {2, bins};
        more[2].ulPropTag = PROP_TAG(PT_CLSID, 0x6702);
        more[2].Value.lpguid = &g[0];
        more[3].ulPropTag = PROP_TAG(PT_MV_CLSID, 0x6703);
        more[3].Value.MVguid = {2, g};
        more[4].ulPropTag = PROP_TAG(PT_DOUBLE, 0x6704);
        more[4].Value.dbl = 1.5;
        ComRef<IMessage> m = OpenById<IMessage>(store.get(), eid);
        ASSERT_EQ(m->SetProps(5, more, nullptr), S_OK);
        ASSERT_EQ(m->SaveChanges(0), S_OK);
    }
    {
        std::string e;
        ASSERT_EQ(EmbeddedStoreProvider()->CreateStore(dst, "B", &e), S_OK);
    }
    struct Mut {
        int type;
        const char* hex;
        int keep;
    };
    std::vector<Mut> muts = {
        {-1, "", 0},
        {-1, "", 3},
        {-1, "", -1},
        {0x1003, "", 1},
        {0x101F, "FFFFFFFF", 0},
        {0x1102, "0200000005000000", 0},
        {0x0048, "", 1},
        {0x1048, "01000000", 0},
        {0x001F, "616263", 0},
        {0x0001, "", 1},
        {0xFFFF, "", 1},
        {0x000D, "", 1},
        {0x101E, "030000000000000000000000", 0},
        {0x1002, "FFFFFF7F", 0},
        {0x1014, "FFFFFFFF", 0},
        {0x0102, "", 1},
        {0x001E, "", 1},
        {0x001F, "", 1},
        {0x0003, "", 1},
        {0x1003, "0000000000", 0},
        {0x1102, "01000000FFFFFFFF", 0},
        {0x101F, "0100000003000000616263", 0},
        {0x1003, "00000000", 0},
        {0x0040, "", 1},
        {0x000B, "", 1},
    };
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(src.c_str(), &db), SQLITE_OK);
    std::vector<std::tuple<int64_t, int64_t, std::string, int64_t>> rows;
    {
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "SELECT rowid, type, value, pid FROM props WHERE obj > 8", -1, &q,
                           nullptr);
        while (sqlite3_step(q) == SQLITE_ROW)
            rows.emplace_back(sqlite3_column_int64(q, 0), sqlite3_column_int64(q, 1),
                              std::string((const char*)sqlite3_column_blob(q, 2) ?: "",
                                          sqlite3_column_bytes(q, 2)),
                              sqlite3_column_int64(q, 3));
        sqlite3_finalize(q);
    }
    sqlite3_close(db);
    fprintf(stderr, "rows %zu\n", rows.size());
    auto set = [&](int64_t rowid, int64_t type, const std::string& value) {
        sqlite3* d = nullptr;
        sqlite3_open(src.c_str(), &d);
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(d, "UPDATE props SET type=?1, value=?2 WHERE rowid=?3", -1, &q, nullptr);
        sqlite3_bind_int64(q, 1, type);
        sqlite3_bind_blob(q, 2, value.data(), (int)value.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int64(q, 3, rowid);
        sqlite3_step(q);
        sqlite3_finalize(q);
        sqlite3_close(d);
    };
    for (auto& [rowid, type, value, pid] : rows) {
        for (const Mut& mu : muts) {
            std::string nv;
            for (size_t i = 0; mu.hex[i]; i += 2)
                nv.push_back((char)std::stoi(std::string(mu.hex + i, 2), nullptr, 16));
            if (mu.keep == 1)
                nv = value;
            else if (mu.keep == -1)
                nv = value + "x";
            else if (mu.keep > 1)
                nv = value.substr(0, mu.keep);
            set(rowid, mu.type < 0 ? type : mu.type, nv);
            {
                ComRef<IMsgStore> a = OpenStore(src), b = OpenStore(dst);
                HRESULT hr = S_OK;
                ComRef<IMessage> m = OpenById<IMessage>(a.get(), eid, &hr);
                if (m) Exercise(m.get(), 0);
                ComRef<IMAPIFolder> from = IpmSubtree(a.get()), to = IpmSubtree(b.get());
                ComRef<IMAPITable> ct = Contents(from.get());
                LPSRowSet rs = nullptr;
                HrQueryAllRows(ct.get(), nullptr, nullptr, nullptr, 0, &rs);
                FreeProws(rs);
                HRESULT chr = Copy(from.get(), eid, to.get());
                fprintf(stderr, "row %lld pid %llx type %llx -> %x open %x copy %x\n",
                        (long long)rowid, (long long)pid, (long long)type, mu.type, hr, chr);
            }
            set(rowid, type, value);
        }
    }
}

TEST(ScratchFuzz, EntryIdsAndStreams) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> root = IpmSubtree(store.get());
    std::string eid = AddMessage(root.get(), "x");
    std::string fid = GetBinary(root.get(), PR_ENTRYID);
    srand(5);
    for (int i = 0; i < 20000; ++i) {
        std::string id = (i % 2) ? eid : fid;
        int what = rand() % 4;
        if (what == 0)
            id = id.substr(0, rand() % (id.size() + 1));
        else if (what == 1)
            id[20] = (char)(rand() % 8);
        else if (what == 2)
            for (int k = 21; k < 29; ++k) id[k] = (char)rand();
        else
            id += std::string(rand() % 4, 'z');
        IUnknown* unk = nullptr;
        ULONG type = 0;
        HRESULT hr =
            store->OpenEntry((ULONG)id.size(), (LPENTRYID)id.data(), nullptr, 0, &type, &unk);
        if (hr == S_OK) {
            IMAPIProp* p = static_cast<IMAPIProp*>(unk);
            ULONG n = 0;
            LPSPropValue v = nullptr;
            p->GetProps(nullptr, 0, &n, &v);
            MAPIFreeBuffer(v);
            unk->Release();
        }
        hr = root->OpenEntry((ULONG)id.size(), (LPENTRYID)id.data(), nullptr, 0, &type, &unk);
        if (hr == S_OK) unk->Release();
        ULONG same = 0;
        store->CompareEntryIDs((ULONG)id.size(), (LPENTRYID)id.data(), (ULONG)eid.size(),
                               (LPENTRYID)eid.data(), 0, &same);
    }
    ComRef<IMessage> m = OpenById<IMessage>(store.get(), eid);
    IUnknown* unk = nullptr;
    ASSERT_EQ(m->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk), S_OK);
    ComRef<IStream> s(static_cast<IStream*>(unk));
    LARGE_INTEGER far;
    far.QuadPart = INT64_MAX;
    ULARGE_INTEGER pos{};
    fprintf(stderr, "seek %x\n", s->Seek(far, STREAM_SEEK_SET, &pos));
    fprintf(stderr, "seek2 %x\n", s->Seek(far, STREAM_SEEK_CUR, &pos));
    char b[4] = {};
    ULONG got = 0;
    fprintf(stderr, "read %x %u\n", s->Read(b, 4, &got), got);
    far.QuadPart = int64_t{1} << 40;
    fprintf(stderr, "seek3 %x\n", s->Seek(far, STREAM_SEEK_SET, &pos));
    HRESULT whr = E_FAIL;
    try {
        whr = s->Write("a", 1, &got);
    } catch (const std::exception& e) {
        fprintf(stderr, "THROWN %s\n", e.what());
    }
    fprintf(stderr, "write %x\n", whr);
    ULARGE_INTEGER big;
    big.QuadPart = uint64_t{1} << 62;
    try {
        whr = s->SetSize(big);
    } catch (const std::exception& e) {
        fprintf(stderr, "THROWN2 %s\n", e.what());
    }
    fprintf(stderr, "setsize %x\n", whr);
}
// SCRATCH-FUZZ-END
}  // namespace
}  // namespace mapi::embedded::test
