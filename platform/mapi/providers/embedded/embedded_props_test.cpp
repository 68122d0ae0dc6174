// Property values of every type through save and reopen, streams on large
// values, recipients, attachments and embedded messages.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstring>

#include "embedded_test_util.h"
#include "message_recipients.h"
#include "packed_props.h"

namespace mapi::embedded::test {
namespace {

// One value of every storable type, in a test message.
struct TypedValues {
    SHORT shorts[2] = {-3, 7};
    LONG longs[3] = {1, -2, 0x7FFFFFFF};
    float floats[1] = {1.5f};
    double doubles[2] = {-0.25, 1e300};
    CURRENCY currency[1] = {};
    FILETIME times[2] = {{0x11223344, 0x01D00000}, {0, 0x01E00000}};
    LARGE_INTEGER bigs[1] = {};
    GUID guids[2] = {PS_PUBLIC_STRINGS, PSETID_Common};
    char* strings[2] = {const_cast<char*>("één"), const_cast<char*>("")};
    WCHAR* wide[2] = {const_cast<WCHAR*>(u"Grüße 👋"), const_cast<WCHAR*>(u"x")};
    BYTE blob[4] = {0, 1, 0xFE, 0xFF};
    SBinary bins[2] = {{4, blob}, {0, blob}};
    std::vector<SPropValue> values;

    TypedValues() {
        currency[0].int64 = -123456789;
        bigs[0].QuadPart = -9000000000LL;
        auto add = [&](ULONG type, ULONG id, auto fill) {
            SPropValue v{};
            v.ulPropTag = PROP_TAG(type, id);
            fill(v.Value);
            values.push_back(v);
        };
        add(PT_I2, 0x6601, [&](_PV& p) { p.i = -12; });
        add(PT_LONG, 0x6602, [&](_PV& p) { p.l = -100000; });
        add(PT_R4, 0x6603, [&](_PV& p) { p.flt = 2.5f; });
        add(PT_DOUBLE, 0x6604, [&](_PV& p) { p.dbl = 3.141592653589793; });
        add(PT_CURRENCY, 0x6605, [&](_PV& p) { p.cur.int64 = 42; });
        add(PT_APPTIME, 0x6606, [&](_PV& p) { p.at = 45000.5; });
        add(PT_BOOLEAN, 0x6607, [&](_PV& p) { p.b = 1; });
        add(PT_I8, 0x6608, [&](_PV& p) { p.li.QuadPart = 0x0102030405060708LL; });
        add(PT_SYSTIME, 0x6609, [&](_PV& p) { p.ft = times[0]; });
        add(PT_CLSID, 0x660A, [&](_PV& p) { p.lpguid = &guids[1]; });
        add(PT_STRING8, 0x660B, [&](_PV& p) { p.lpszA = strings[0]; });
        add(PT_UNICODE, 0x660C, [&](_PV& p) { p.lpszW = wide[0]; });
        add(PT_BINARY, 0x660D, [&](_PV& p) { p.bin = bins[0]; });
        add(PT_MV_I2, 0x6611, [&](_PV& p) { p.MVi = {2, shorts}; });
        add(PT_MV_LONG, 0x6612, [&](_PV& p) { p.MVl = {3, longs}; });
        add(PT_MV_R4, 0x6613, [&](_PV& p) { p.MVflt = {1, floats}; });
        add(PT_MV_DOUBLE, 0x6614, [&](_PV& p) { p.MVdbl = {2, doubles}; });
        add(PT_MV_CURRENCY, 0x6615, [&](_PV& p) { p.MVcur = {1, currency}; });
        add(PT_MV_APPTIME, 0x6616, [&](_PV& p) { p.MVat = {2, doubles}; });
        add(PT_MV_SYSTIME, 0x6617, [&](_PV& p) { p.MVft = {2, times}; });
        add(PT_MV_I8, 0x6618, [&](_PV& p) { p.MVli = {1, bigs}; });
        add(PT_MV_CLSID, 0x6619, [&](_PV& p) { p.MVguid = {2, guids}; });
        add(PT_MV_STRING8, 0x661A, [&](_PV& p) { p.MVszA = {2, strings}; });
        add(PT_MV_UNICODE, 0x661B, [&](_PV& p) { p.MVszW = {2, wide}; });
        add(PT_MV_BINARY, 0x661C, [&](_PV& p) { p.MVbin = {2, bins}; });
    }
};

// Compares two values of one type byte for byte where it matters.
bool SameValue(const SPropValue& a, const SPropValue& b) {
    if (a.ulPropTag != b.ulPropTag) return false;
    ULONG type = PROP_TYPE(a.ulPropTag);
    auto bin = [](const SBinary& x, const SBinary& y) {
        return x.cb == y.cb && (x.cb == 0 || std::memcmp(x.lpb, y.lpb, x.cb) == 0);
    };
    auto wide = [](const WCHAR* x, const WCHAR* y) {
        return std::u16string(x) == std::u16string(y);
    };
    switch (type) {
        case PT_I2:
            return a.Value.i == b.Value.i;
        case PT_LONG:
            return a.Value.l == b.Value.l;
        case PT_R4:
            return a.Value.flt == b.Value.flt;
        case PT_DOUBLE:
        case PT_APPTIME:
            return a.Value.dbl == b.Value.dbl;
        case PT_CURRENCY:
        case PT_I8:
        case PT_SYSTIME:
            return a.Value.li.QuadPart == b.Value.li.QuadPart;
        case PT_BOOLEAN:
            return (a.Value.b != 0) == (b.Value.b != 0);
        case PT_CLSID:
            return *a.Value.lpguid == *b.Value.lpguid;
        case PT_STRING8:
            return std::strcmp(a.Value.lpszA, b.Value.lpszA) == 0;
        case PT_UNICODE:
            return wide(a.Value.lpszW, b.Value.lpszW);
        case PT_BINARY:
            return bin(a.Value.bin, b.Value.bin);
        default:
            break;
    }
    if (a.Value.MVl.cValues != b.Value.MVl.cValues) return false;
    ULONG n = a.Value.MVl.cValues;
    for (ULONG i = 0; i < n; ++i) {
        bool same = true;
        switch (type) {
            case PT_MV_STRING8:
                same = std::strcmp(a.Value.MVszA.lppszA[i], b.Value.MVszA.lppszA[i]) == 0;
                break;
            case PT_MV_UNICODE:
                same = wide(a.Value.MVszW.lppszW[i], b.Value.MVszW.lppszW[i]);
                break;
            case PT_MV_BINARY:
                same = bin(a.Value.MVbin.lpbin[i], b.Value.MVbin.lpbin[i]);
                break;
            default:
                break;
        }
        if (!same) return false;
    }
    size_t width = 0;
    switch (type) {
        case PT_MV_I2:
            width = 2;
            break;
        case PT_MV_LONG:
        case PT_MV_R4:
            width = 4;
            break;
        case PT_MV_CLSID:
            width = 16;
            break;
        case PT_MV_STRING8:
        case PT_MV_UNICODE:
        case PT_MV_BINARY:
            return true;
        default:
            width = 8;
    }
    return std::memcmp(a.Value.MVl.lpl, b.Value.MVl.lpl, n * width) == 0;
}

TEST(EmbeddedProps, EveryTypeSurvivesSaveAndReopen) {
    TempDir dir;
    TypedValues typed;
    std::string eid;
    {
        ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        IMessage* raw = nullptr;
        ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
        ComRef<IMessage> message(raw);
        ASSERT_EQ(message->SetProps(static_cast<ULONG>(typed.values.size()), typed.values.data(),
                                    nullptr),
                  S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        eid = GetBinary(message.get(), PR_ENTRYID);
    }
    ComRef<IMsgStore> store = OpenStore(dir.File("a.qst"));
    ComRef<IMessage> message = OpenById<IMessage>(store.get(), eid);
    ASSERT_TRUE(message);

    std::vector<ULONG> tags{static_cast<ULONG>(typed.values.size())};
    for (const SPropValue& v : typed.values) tags.push_back(v.ulPropTag);
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(message->GetProps(reinterpret_cast<LPSPropTagArray>(tags.data()), 0, &count, &values),
              S_OK);
    MapiBuffer<SPropValue> hold(values);
    ASSERT_EQ(count, typed.values.size());
    for (ULONG i = 0; i < count; ++i)
        EXPECT_TRUE(SameValue(values[i], typed.values[i])) << std::hex << typed.values[i].ulPropTag;

    // The whole-object read gives the same values in their stored types.
    ULONG all = 0;
    LPSPropValue allValues = nullptr;
    ASSERT_EQ(message->GetProps(nullptr, 0, &all, &allValues), S_OK);
    MapiBuffer<SPropValue> holdAll(allValues);
    for (const SPropValue& expected : typed.values) {
        const SPropValue* found = PpropFindProp(allValues, all, expected.ulPropTag);
        ASSERT_NE(found, nullptr) << std::hex << expected.ulPropTag;
        EXPECT_TRUE(SameValue(*found, expected));
    }
    // Strings convert on request, both ways, multi-valued too.
    EXPECT_EQ(GetString(message.get(), PROP_TAG(PT_UNICODE, 0x660C)), "Grüße 👋");
    SizedSPropTagArray(2, wide) = {2,
                                   {PROP_TAG(PT_UNICODE, 0x660B), PROP_TAG(PT_MV_STRING8, 0x661B)}};
    LPSPropValue converted = nullptr;
    ASSERT_EQ(message->GetProps(reinterpret_cast<LPSPropTagArray>(&wide), 0, &count, &converted),
              S_OK);
    MapiBuffer<SPropValue> holdConverted(converted);
    EXPECT_EQ(std::u16string(converted[0].Value.lpszW), u"één");
    ASSERT_EQ(converted[1].Value.MVszA.cValues, 2u);
    EXPECT_STREQ(converted[1].Value.MVszA.lppszA[0], "Grüße 👋");
}

TEST(EmbeddedProps, DeletedAndMissingPropertiesAreReportedPerValue) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> message(raw);
    ASSERT_EQ(SetString(message.get(), PR_SUBJECT, "s"), S_OK);
    ASSERT_EQ(SetString(message.get(), PR_BODY, "b"), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    SizedSPropTagArray(1, body) = {1, {PR_BODY}};
    ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&body), nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);

    ComRef<IMessage> again = OpenById<IMessage>(store.get(), GetBinary(message.get(), PR_ENTRYID));
    SizedSPropTagArray(3, ask) = {3, {PR_SUBJECT, PR_BODY, PR_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(again->GetProps(reinterpret_cast<LPSPropTagArray>(&ask), 0, &count, &values),
              MAPI_W_ERRORS_RETURNED);
    MapiBuffer<SPropValue> hold(values);
    EXPECT_STREQ(values[0].Value.lpszA, "s");
    EXPECT_EQ(values[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_BODY)));
    EXPECT_EQ(values[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(values[2].ulPropTag, PR_ENTRYID);

    // Identifiers are the store's to give.
    LPSPropProblemArray problems = nullptr;
    SPropValue fake{};
    fake.ulPropTag = PR_ENTRYID;
    fake.Value.bin = SBinary{1, reinterpret_cast<LPBYTE>(const_cast<char*>("x"))};
    ASSERT_EQ(again->SetProps(1, &fake, &problems), S_OK);
    MapiBuffer<SPropProblemArray> holdProblems(problems);
    ASSERT_NE(problems, nullptr);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COMPUTED);
}

// Rewrites the stored id (and, unless type is -1, the type) of property
// propId in every object's directory, as damage on disk would; the number
// of objects changed.
int DamageStoredProp(const std::string& path, ULONG propId, int64_t type, int64_t pid) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return -1;
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, packed FROM objects WHERE packed IS NOT NULL", -1, &read,
                       nullptr);
    sqlite3_prepare_v2(db, "UPDATE objects SET packed=?2 WHERE id=?1", -1, &write, nullptr);
    int changed = 0;
    while (sqlite3_step(read) == SQLITE_ROW) {
        std::string_view blob(static_cast<const char*>(sqlite3_column_blob(read, 1)),
                              static_cast<size_t>(sqlite3_column_bytes(read, 1)));
        PackedDir dir;
        if (Unpack(blob, &dir) != S_OK) continue;
        auto found = dir.find(propId);
        if (found == dir.end()) continue;
        PackedValue v = found->second;
        dir.erase(found);
        if (type >= 0) v.type = static_cast<ULONG>(type);
        dir[static_cast<ULONG>(pid)] = v;
        std::string packed = Pack(dir);
        sqlite3_bind_int64(write, 1, sqlite3_column_int64(read, 0));
        sqlite3_bind_blob(write, 2, packed.data(), static_cast<int>(packed.size()),
                          SQLITE_TRANSIENT);
        if (sqlite3_step(write) == SQLITE_DONE) ++changed;
        sqlite3_reset(write);
    }
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    // Recipients live in their message's row, in a directory each.
    sqlite3_prepare_v2(db, "SELECT id, recipients FROM objects WHERE recipients IS NOT NULL", -1,
                       &read, nullptr);
    sqlite3_prepare_v2(db, "UPDATE objects SET recipients=?2 WHERE id=?1", -1, &write, nullptr);
    while (sqlite3_step(read) == SQLITE_ROW) {
        std::string_view blob(static_cast<const char*>(sqlite3_column_blob(read, 1)),
                              static_cast<size_t>(sqlite3_column_bytes(read, 1)));
        std::vector<RecipientRow> rows;
        if (UnpackRecipients(blob, &rows) != S_OK) continue;
        bool hit = false;
        for (RecipientRow& row : rows) {
            auto found = row.props.find(propId);
            if (found == row.props.end()) continue;
            EncodedProp v = found->second;
            row.props.erase(found);
            if (type >= 0) v.type = static_cast<ULONG>(type);
            row.props[static_cast<ULONG>(pid)] = v;
            hit = true;
        }
        if (!hit) continue;
        uint64_t bytes = 0;
        std::string packed = PackRecipients(rows, &bytes);
        sqlite3_bind_int64(write, 1, sqlite3_column_int64(read, 0));
        sqlite3_bind_blob(write, 2, packed.data(), static_cast<int>(packed.size()),
                          SQLITE_TRANSIENT);
        if (sqlite3_step(write) == SQLITE_DONE) ++changed;
        sqlite3_reset(write);
    }
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    sqlite3_close(db);
    return changed;
}

// A stored type or id that no value can have is damage: it must not pass for
// an object or empty value (which a copy leaves out) or for another property
// (a type above 16 bits spills into the tag's id), so listing the damaged
// object's properties fails and so does the message's copy, instead of the
// copy leaving the value out unnoticed. Damage on a message, then on one of
// its recipients.
TEST(EmbeddedProps, DamagedStoredTypesAndIdsFailTheListAndTheCopy) {
    TempDir dir;
    const std::string path = dir.File("a.qst");
    constexpr ULONG kId = 0x6700;
    const struct {
        int64_t type;  // stored type, or -1 to keep PT_LONG
        int64_t pid;
        bool damaged;
    } cases[] = {
        {-1, kId, false},          {PT_NULL, kId, true}, {PT_OBJECT, kId, true},
        {PT_ERROR, kId, true},     {0x10003, kId, true}, {PT_UNSPECIFIED, kId, true},
        {-1, 0x10000 + kId, true}, {-1, 0, true},
    };
    for (int onRecipient = 0; onRecipient < 2; ++onRecipient)
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << onRecipient << " " << c.type << " " << c.pid);
            ::remove(path.c_str());
            std::string eid;
            {
                ComRef<IMsgStore> store = CreateAndOpen(path);
                ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
                IMessage* raw = nullptr;
                ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
                ComRef<IMessage> message(raw);
                SPropValue value{};
                value.ulPropTag = PROP_TAG(PT_LONG, kId);
                value.Value.l = 42;
                if (onRecipient) {
                    SPropValue props[3] = {
                        {PR_DISPLAY_NAME_A, 0, {}}, {PR_RECIPIENT_TYPE, 0, {}}, value};
                    props[0].Value.lpszA = const_cast<char*>("R");
                    props[1].Value.l = MAPI_TO;
                    ADRLIST list{1, {{0, 3, props}}};
                    ASSERT_EQ(message->ModifyRecipients(MODRECIP_ADD, &list), S_OK);
                } else {
                    ASSERT_EQ(message->SetProps(1, &value, nullptr), S_OK);
                }
                ASSERT_EQ(message->SaveChanges(0), S_OK);
                eid = GetBinary(message.get(), PR_ENTRYID);
            }
            ASSERT_EQ(DamageStoredProp(path, kId, c.type, c.pid), 1);
            ComRef<IMsgStore> store = OpenStore(path);
            ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
            ComRef<IMessage> message = OpenById<IMessage>(store.get(), eid);
            ASSERT_TRUE(message);
            LPSPropTagArray list = nullptr;
            EXPECT_EQ(message->GetPropList(0, &list),
                      c.damaged && !onRecipient ? MAPI_E_CORRUPT_DATA : S_OK);
            MAPIFreeBuffer(list);
            ComRef<IMAPIFolder> target = Subfolder(ipm.get(), "Copies");
            SBinary one = BinaryOf(eid);
            ENTRYLIST entries{1, &one};
            HRESULT copied = ipm->CopyMessages(&entries, nullptr, target.get(), 0, nullptr, 0);
            if (c.damaged)
                EXPECT_NE(copied, S_OK);
            else
                EXPECT_EQ(copied, S_OK);
        }
}

// Attachments are told apart by their number. Two with one number (damage)
// cannot both be shown; the message fails instead of one of them vanishing
// from it and from its copy.
TEST(EmbeddedProps, AttachmentsSharingANumberFailTheMessage) {
    TempDir dir;
    const std::string path = dir.File("a.qst");
    std::string eid;
    {
        ComRef<IMsgStore> store = CreateAndOpen(path);
        ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
        IMessage* raw = nullptr;
        ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
        ComRef<IMessage> message(raw);
        for (const char* name : {"a.txt", "b.txt"}) {
            IAttach* a = nullptr;
            ASSERT_EQ(message->CreateAttach(nullptr, 0, nullptr, &a), S_OK);
            ComRef<IAttach> attach(a);
            ASSERT_EQ(SetString(attach.get(), PR_ATTACH_FILENAME, name), S_OK);
            ASSERT_EQ(attach->SaveChanges(0), S_OK);
        }
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        eid = GetBinary(message.get(), PR_ENTRYID);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE objects SET num=0 WHERE kind=4", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 2);
    sqlite3_close(db);

    ComRef<IMsgStore> store = OpenStore(path);
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    ComRef<IMessage> message = OpenById<IMessage>(store.get(), eid);
    ASSERT_TRUE(message);
    IMAPITable* table = nullptr;
    EXPECT_EQ(message->GetAttachmentTable(0, &table), MAPI_E_CORRUPT_DATA);
    if (table != nullptr) table->Release();
    ComRef<IMAPIFolder> target = Subfolder(ipm.get(), "Copies");
    SBinary one = BinaryOf(eid);
    ENTRYLIST entries{1, &one};
    EXPECT_NE(ipm->CopyMessages(&entries, nullptr, target.get(), 0, nullptr, 0), S_OK);
}

std::string ReadAll(IStream* stream) {
    std::string out;
    char buffer[7000];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0)
        out.append(buffer, read);
    return out;
}

TEST(EmbeddedProps, LargeValuesTravelThroughStreams) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> message(raw);

    std::u16string body;
    for (int i = 0; body.size() < 100000; ++i)
        body += u"Zeile " + std::u16string(1, u'0' + i % 10) + u" äöü\n";
    {
        IUnknown* unk = nullptr;
        ASSERT_EQ(
            message->OpenProperty(PR_BODY_W, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk),
            S_OK);
        ComRef<IStream> stream(static_cast<IStream*>(unk));
        ULONG written = 0;
        ASSERT_EQ(stream->Write(body.data(), static_cast<ULONG>(body.size() * 2), &written), S_OK);
        ASSERT_EQ(stream->Commit(0), S_OK);
    }
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    ComRef<IMessage> again = OpenById<IMessage>(store.get(), GetBinary(message.get(), PR_ENTRYID));

    // Too large for GetProps, as MAPI answers; the size still counts it.
    LPSPropValue value = nullptr;
    EXPECT_EQ(HrGetOneProp(again.get(), PR_BODY_W, &value), MAPI_E_NOT_ENOUGH_MEMORY);
    MAPIFreeBuffer(value);
    EXPECT_GE(GetLong(again.get(), PR_MESSAGE_SIZE), static_cast<LONG>(body.size() * 2));

    IUnknown* unk = nullptr;
    ASSERT_EQ(again->OpenProperty(PR_BODY_W, &IID_IStream, 0, 0, &unk), S_OK);
    ComRef<IStream> wide(static_cast<IStream*>(unk));
    std::string bytes = ReadAll(wide.get());
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(body.data()), body.size() * 2));
    ASSERT_EQ(again->OpenProperty(PR_BODY_A, &IID_IStream, 0, 0, &unk), S_OK);
    ComRef<IStream> narrow(static_cast<IStream*>(unk));
    std::string utf8 = ReadAll(narrow.get());
    EXPECT_EQ(utf8.substr(0, 14), "Zeile 0 äöü");
    // A read-only stream refuses writes; a missing property has no stream.
    EXPECT_EQ(wide->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    EXPECT_EQ(again->OpenProperty(PR_HTML, &IID_IStream, 0, 0, &unk), MAPI_E_NOT_FOUND);
}

// Seeks that leave the representable range, and writes or sizes that no
// value could have, are refused; the stream stays usable afterwards.
TEST(EmbeddedProps, StreamRefusesPositionsAndSizesOutOfRange) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> message(raw);
    IUnknown* unk = nullptr;
    ASSERT_EQ(message->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk),
              S_OK);
    ComRef<IStream> stream(static_cast<IStream*>(unk));
    ASSERT_EQ(stream->Write("abc", 3, nullptr), S_OK);

    constexpr int64_t kMax = INT64_MAX;
    constexpr int64_t kFar = int64_t{1} << 40;
    const struct {
        int64_t start;  // set first, from the beginning
        DWORD origin;
        int64_t move;
        HRESULT seek;
        bool write;  // then write one byte there
        HRESULT written;
    } cases[] = {
        {0, STREAM_SEEK_SET, kFar, S_OK, true, STG_E_MEDIUMFULL},
        {0, STREAM_SEEK_SET, kMax, S_OK, true, STG_E_MEDIUMFULL},
        {kMax, STREAM_SEEK_CUR, kMax, STG_E_INVALIDFUNCTION, false, S_OK},
        {kMax, STREAM_SEEK_CUR, INT64_MIN, STG_E_INVALIDFUNCTION, false, S_OK},
        {0, STREAM_SEEK_END, kMax, STG_E_INVALIDFUNCTION, false, S_OK},
        {0, STREAM_SEEK_END, -4, STG_E_INVALIDFUNCTION, false, S_OK},
        {0, STREAM_SEEK_END, 2, S_OK, true, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.origin << " " << c.move);
        LARGE_INTEGER move{};
        move.QuadPart = c.start;
        ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
        move.QuadPart = c.move;
        ULARGE_INTEGER at{};
        EXPECT_EQ(stream->Seek(move, c.origin, &at), c.seek);
        if (c.write) {
            EXPECT_EQ(stream->Write("d", 1, nullptr), c.written);
        }
    }
    ULARGE_INTEGER huge{};
    huge.QuadPart = uint64_t{1} << 62;
    EXPECT_EQ(stream->SetSize(huge), STG_E_MEDIUMFULL);

    // Only the last case wrote: two bytes of fill past "abc", then "d".
    LARGE_INTEGER start{};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(ReadAll(stream.get()), std::string("abc\0\0d", 6));
}

TEST(EmbeddedProps, RecipientsAttachmentsAndEmbeddedMessagesAreSavedWithTheMessage) {
    TempDir dir;
    ComRef<IMsgStore> store = CreateAndOpen(dir.File("a.qst"));
    ComRef<IMAPIFolder> ipm = IpmSubtree(store.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(ipm->CreateMessage(nullptr, 0, &raw), S_OK);
    ComRef<IMessage> message(raw);
    ASSERT_EQ(SetString(message.get(), PR_SUBJECT, "outer"), S_OK);

    SPropValue alice[3]{}, bob[3]{};
    alice[0].ulPropTag = PR_DISPLAY_NAME_A;
    alice[0].Value.lpszA = const_cast<char*>("Alice");
    alice[1].ulPropTag = PR_EMAIL_ADDRESS_A;
    alice[1].Value.lpszA = const_cast<char*>("alice@example.org");
    alice[2] = SPropValue{PR_RECIPIENT_TYPE, 0, {}};
    alice[2].Value.l = MAPI_TO;
    std::copy(alice, alice + 3, bob);
    bob[0].Value.lpszA = const_cast<char*>("Bob");
    bob[2].Value.l = MAPI_CC;
    struct {
        ULONG cEntries;
        ADRENTRY aEntries[2];
    } list{2, {{0, 3, alice}, {0, 3, bob}}};
    ASSERT_EQ(message->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)), S_OK);

    {
        IAttach* a = nullptr;
        ULONG num = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &num, &a), S_OK);
        ComRef<IAttach> attach(a);
        BYTE data[] = {1, 2, 3, 4, 5};
        SPropValue props[3]{};
        props[0].ulPropTag = PR_ATTACH_METHOD;
        props[0].Value.l = ATTACH_BY_VALUE;
        props[1].ulPropTag = PR_ATTACH_FILENAME_A;
        props[1].Value.lpszA = const_cast<char*>("data.bin");
        props[2].ulPropTag = PR_ATTACH_DATA_BIN;
        props[2].Value.bin = SBinary{5, data};
        ASSERT_EQ(attach->SetProps(3, props, nullptr), S_OK);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
    }
    {
        IAttach* a = nullptr;
        ULONG num = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &num, &a), S_OK);
        ComRef<IAttach> attach(a);
        SPropValue method{PR_ATTACH_METHOD, 0, {}};
        method.Value.l = ATTACH_EMBEDDED_MSG;
        ASSERT_EQ(attach->SetProps(1, &method, nullptr), S_OK);
        IUnknown* unk = nullptr;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0,
                                       MAPI_CREATE | MAPI_MODIFY, &unk),
                  S_OK);
        ComRef<IMessage> inner(static_cast<IMessage*>(static_cast<IMAPIProp*>(unk)));
        ASSERT_EQ(SetString(inner.get(), PR_SUBJECT, "inner"), S_OK);
        ASSERT_EQ(inner->SaveChanges(0), S_OK);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
    }
    {
        // Created but never saved: discarded with the message save.
        IAttach* a = nullptr;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, nullptr, &a), S_OK);
        a->Release();
    }
    ASSERT_EQ(message->SaveChanges(0), S_OK);

    ComRef<IMsgStore> reopened = OpenStore(dir.File("a.qst"));
    ComRef<IMessage> again =
        OpenById<IMessage>(reopened.get(), GetBinary(message.get(), PR_ENTRYID));
    ASSERT_TRUE(again);
    EXPECT_EQ(GetLong(again.get(), PR_HASATTACH), 1);
    EXPECT_NE(GetLong(again.get(), PR_MESSAGE_FLAGS) & MSGFLAG_HASATTACH, 0);

    IMAPITable* t = nullptr;
    ASSERT_EQ(again->GetRecipientTable(0, &t), S_OK);
    ComRef<IMAPITable> recipients(t);
    RowSetPtr rows = AllRows(recipients.get(), {PR_DISPLAY_NAME_A, PR_RECIPIENT_TYPE, PR_ROWID});
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[1].lpProps[0].Value.lpszA, "Bob");
    EXPECT_EQ(rows->aRow[1].lpProps[1].Value.l, static_cast<LONG>(MAPI_CC));
    EXPECT_EQ(rows->aRow[1].lpProps[2].Value.l, 1);

    ASSERT_EQ(again->GetAttachmentTable(0, &t), S_OK);
    ComRef<IMAPITable> attachments(t);
    rows = AllRows(attachments.get(), {PR_ATTACH_NUM, PR_ATTACH_METHOD});
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_EQ(rows->aRow[1].lpProps[1].Value.l, static_cast<LONG>(ATTACH_EMBEDDED_MSG));

    IAttach* a = nullptr;
    ASSERT_EQ(again->OpenAttach(0, nullptr, 0, &a), S_OK);
    ComRef<IAttach> byValue(a);
    EXPECT_EQ(GetBinary(byValue.get(), PR_ATTACH_DATA_BIN), std::string("\1\2\3\4\5", 5));
    ASSERT_EQ(again->OpenAttach(1, nullptr, 0, &a), S_OK);
    ComRef<IAttach> embedded(a);
    IUnknown* unk = nullptr;
    ASSERT_EQ(embedded->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, &unk), S_OK);
    ComRef<IMessage> inner(static_cast<IMessage*>(static_cast<IMAPIProp*>(unk)));
    EXPECT_EQ(GetString(inner.get(), PR_SUBJECT), "inner");
    // An embedded message is not an entry of the folder.
    EXPECT_EQ(GetLong(ipm.get(), PR_CONTENT_COUNT), 1);

    // Removing an attachment and a recipient sticks after the next save.
    ASSERT_EQ(again->DeleteAttach(0, 0, nullptr, 0), S_OK);
    SPropValue rowId{PR_ROWID, 0, {}};
    rowId.Value.l = 0;
    struct {
        ULONG cEntries;
        ADRENTRY aEntries[1];
    } remove{1, {{0, 1, &rowId}}};
    ASSERT_EQ(again->ModifyRecipients(MODRECIP_REMOVE, reinterpret_cast<LPADRLIST>(&remove)), S_OK);
    ASSERT_EQ(again->SaveChanges(0), S_OK);
    ComRef<IMessage> third =
        OpenById<IMessage>(reopened.get(), GetBinary(message.get(), PR_ENTRYID));
    ASSERT_EQ(third->GetAttachmentTable(0, &t), S_OK);
    ComRef<IMAPITable> left(t);
    EXPECT_EQ(AllRows(left.get(), {PR_ATTACH_NUM})->cRows, 1u);
    ASSERT_EQ(third->GetRecipientTable(0, &t), S_OK);
    ComRef<IMAPITable> leftRecipients(t);
    rows = AllRows(leftRecipients.get(), {PR_DISPLAY_NAME_A});
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "Bob");
}

}  // namespace
}  // namespace mapi::embedded::test
