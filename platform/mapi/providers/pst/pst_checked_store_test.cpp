// The checked reader's store ("pst-checked") against the libpff store on
// the samples, and what it makes of damage at the levels above the items.
#include <gtest/gtest.h>

#include <mapiutil.h>
#include <mapix.h>

#include <algorithm>
#include <iostream>
#include <set>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <thread>

#include "providers/providers.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_file_writer.h"
#include "providers/pst/pst_file.h"
#include "providers/pst/pst_test_support.h"
#include "providers/pst/pstw_values.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

ComRef<IMsgStore> OpenChecked(const std::string& path, HRESULT* hr, std::string* error) {
    ProfileEntry entry{"test", "Sample", "pst-checked", path};
    ComRef<IMsgStore> store;
    *hr = PstCheckedStoreProvider()->OpenStore(entry, store.Out(), error);
    return store;
}

ComRef<IMAPIFolder> Root(IMsgStore* store) {
    ComRef<IUnknown> root;
    ULONG type = 0;
    EXPECT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()), S_OK);
    return ComRef<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(root.Detach()));
}

ULONG DamageReportTag(IMsgStore* store) {
    GUID set;
    std::memcpy(&set, fmt::kPsQuirnel.data(), 16);
    std::u16string text = fmt::kDamageReportName;
    std::vector<WCHAR> wide(text.begin(), text.end());
    wide.push_back(0);
    MAPINAMEID name{};
    name.lpguid = &set;
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = wide.data();
    LPMAPINAMEID names[1] = {&name};
    LPSPropTagArray tags = nullptr;
    ULONG tag = 0;
    if (store->GetIDsFromNames(1, names, 0, &tags) == S_OK) tag = PROP_TAG(PT_UNICODE, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);
    return tag;
}

bool SameNode(const fmt::Node& a, const fmt::Node& b) {
    if (a.data != b.data || a.subnodes.size() != b.subnodes.size()) return false;
    for (auto i = a.subnodes.begin(), k = b.subnodes.begin(); i != a.subnodes.end(); ++i, ++k)
        if (i->first != k->first || !SameNode(i->second, k->second)) return false;
    return true;
}

bool SameProps(const std::vector<fmt::PropValue>& a, const std::vector<fmt::PropValue>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].tag != b[i].tag || a[i].bytes != b[i].bytes) return false;
    return true;
}

// Every folder with its messages and associated messages, from the root.
std::vector<uint32_t> Listed(const fmt::StoreModel& model) {
    std::vector<uint32_t> out;
    std::function<void(uint32_t, int)> walk = [&](uint32_t nid, int depth) {
        const fmt::StoreModel::Folder* f = model.FindFolder(nid);
        if (f == nullptr || depth > 64) return;
        out.push_back(nid);
        out.insert(out.end(), f->messages.begin(), f->messages.end());
        out.insert(out.end(), f->associated.begin(), f->associated.end());
        for (uint32_t child : f->children) walk(child, depth + 1);
    };
    walk(fmt::kNidRootFolder, 0);
    return out;
}

// Same folders with the same counts, every item opens and reads, and the
// checked reader claims .pst files before libpff does.
TEST(CheckedStore, SamplesServeWhatLibpffServes) {
    for (const std::string& name : testing::SampleNames()) {
        SCOPED_TRACE(name);
        std::string path = testing::SamplePath(name), error;
        HRESULT hr = S_OK;
        EXPECT_STREQ(ProviderForFile(path)->Name(), "pst-checked");
        ComRef<IMsgStore> checked = OpenChecked(path, &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        ComRef<IMsgStore> pff = testing::OpenStoreFile(path, &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        std::vector<std::string> failures;
        auto ours = testing::WalkFolders(Root(checked.get()).get(), &failures);
        auto theirs = testing::WalkFolders(Root(pff.get()).get(), &failures);
        EXPECT_TRUE(failures.empty()) << failures.front();
        // Older revisions the file still holds (found by their blocks'
        // trailers) are ours alone: libpff does not look for them.
        size_t recovered = 0;
        for (auto f = ours.begin(); f != ours.end();) {
            // Nor has an intact file a folder to recover.
            EXPECT_EQ(f->path.find(fmt::kRecoveredFoldersName), std::string::npos) << f->path;
            bool extra = f->path.size() >= std::strlen(fmt::kRecoveredItemsName) &&
                         f->path.ends_with(fmt::kRecoveredItemsName);
            if (!extra) {
                ++f;
                continue;
            }
            recovered += f->items + f->associated;
            f = ours.erase(f);
        }
        ASSERT_EQ(ours.size(), theirs.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(ours[i].path, theirs[i].path);
            EXPECT_EQ(ours[i].items, theirs[i].items) << ours[i].path;
            EXPECT_EQ(ours[i].associated, theirs[i].associated) << ours[i].path;
        }
        size_t items = 0;
        for (const auto& f : ours) items += f.items + f.associated;
        std::cout << name << ": " << ours.size() << " folders, " << items << " items\n";
        // An intact file raises no alarm above its items.
        LPSPropValue ipmId = nullptr;
        ASSERT_EQ(HrGetOneProp(checked.get(), PR_IPM_SUBTREE_ENTRYID, &ipmId), S_OK);
        MapiBuffer<SPropValue> heldId(ipmId);
        ComRef<IUnknown> ipm;
        ULONG type = 0;
        ASSERT_EQ(checked->OpenEntry(ipmId->Value.bin.cb, reinterpret_cast<LPENTRYID>(ipmId->Value.bin.lpb), nullptr, 0,
                                     &type, ipm.Out()),
                  S_OK);
        ULONG reportTag = DamageReportTag(checked.get());
        ASSERT_NE(reportTag, 0u);
        LPSPropValue report = nullptr;
        EXPECT_NE(HrGetOneProp(reinterpret_cast<IMAPIProp*>(ipm.get()), reportTag, &report), S_OK);
        MapiBuffer<SPropValue> heldReport(report);
        auto fingerprints = testing::FingerprintStore(checked.get());
        auto pffPrints = testing::FingerprintStore(pff.get());
        EXPECT_EQ(fingerprints.size(), pffPrints.size() + recovered);
        for (const auto& [id, print] : fingerprints) EXPECT_NE(print, "fail") << id;
        for (const auto& [id, print] : pffPrints) EXPECT_EQ(fingerprints.count(id), 1u) << id;

        // A file whose header names the cyclic encoding is read here as
        // well, not left to libpff, which would hand on whatever a damaged
        // block of it decodes to.
        const std::string dir = testing::MakeTempDir();
        ASSERT_FALSE(dir.empty());
        const std::string cyclic = dir + "/cyclic.pst";
        std::filesystem::copy_file(path, cyclic);
        {
            std::fstream file(cyclic, std::ios::binary | std::ios::in | std::ios::out);
            char head[12] = {};
            file.read(head, sizeof head);
            const bool unicode = (static_cast<uint8_t>(head[10]) | (head[11] << 8)) == 23;
            file.seekp(unicode ? 513 : 461);
            file.put('\x02');
        }
        const StoreProvider* reader = ProviderForFile(cyclic);
        ASSERT_NE(reader, nullptr);
        EXPECT_STREQ(reader->Name(), "pst-checked");
        std::filesystem::remove_all(dir);
    }
}

// Every multi-valued value of every item arrives through MAPI with its
// values ([MS-PST] 2.3.3.4: a count, offsets, the values; the stored bytes
// are checked against libpff by the reader test). The distribution list's
// members (multi-valued binary named properties), which libpff reports with
// no values, are among them.
TEST(CheckedStore, MultiValuedValuesArrive) {
    std::string path = testing::SamplePath("passworded.pst"), error;
    HRESULT hr = S_OK;
    ComRef<IMsgStore> store = OpenChecked(path, &hr, &error);
    ASSERT_EQ(hr, S_OK) << error;
    size_t checked = 0, members = 0;
    std::vector<ComRef<IMAPIFolder>> pending = {Root(store.get())};
    while (!pending.empty()) {
        ComRef<IMAPIFolder> folder = pending.back();
        pending.pop_back();
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_MESSAGE_CLASS_A}};
        for (int kind = 0; kind < 2; ++kind) {
            ComRef<IMAPITable> table;
            LPSRowSet raw = nullptr;
            HRESULT got = kind == 0 ? folder->GetContentsTable(0, table.Out()) : folder->GetHierarchyTable(0, table.Out());
            if (got != S_OK ||
                HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw) != S_OK)
                continue;
            RowSetPtr rows(raw);
            for (ULONG i = 0; i < rows->cRows; ++i) {
                const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
                ComRef<IUnknown> object;
                ULONG type = 0;
                ASSERT_EQ(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type, object.Out()),
                          S_OK);
                if (kind == 1) {
                    pending.push_back(ComRef<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(object.Detach())));
                    continue;
                }
                bool distList = PROP_TYPE(rows->aRow[i].lpProps[1].ulPropTag) == PT_STRING8 &&
                                std::string(rows->aRow[i].lpProps[1].Value.lpszA) == "IPM.DistList";
                ULONG count = 0;
                LPSPropValue values = nullptr;
                ASSERT_EQ(reinterpret_cast<IMAPIProp*>(object.get())->GetProps(nullptr, 0, &count, &values), S_OK);
                MapiBuffer<SPropValue> held(values);
                for (ULONG k = 0; k < count; ++k) {
                    const SPropValue& v = values[k];
                    if ((PROP_TYPE(v.ulPropTag) & MV_FLAG) == 0) continue;
                    // Every multi-valued array shares its count's place.
                    EXPECT_GT(v.Value.MVl.cValues, 0u) << std::hex << v.ulPropTag;
                    ++checked;
                    if (distList && PROP_TYPE(v.ulPropTag) == PT_MV_BINARY) members += v.Value.MVbin.cValues;
                }
            }
        }
    }
    EXPECT_GE(checked, 5u);
    // The sample's list has members, one-off and by entry id.
    EXPECT_GT(members, 0u);
    std::cout << checked << " multi-valued values, " << members << " distribution list member values\n";
}

// Each of tags of object as the writer stores it (absent when the object
// has none), so two readers' values compare byte for byte.
std::map<ULONG, fmt::Bytes> StoredForm(IMAPIProp* object, const std::vector<ULONG>& tags) {
    std::map<ULONG, fmt::Bytes> out;
    for (ULONG tag : tags) {
        LPSPropValue raw = nullptr;
        if (HrGetOneProp(object, tag, &raw) != S_OK) continue;
        MapiBuffer<SPropValue> held(raw);
        fmt::PropValue stored;
        EXPECT_EQ(EncodeValue(*raw, &stored), S_OK) << std::hex << tag;
        out[tag] = stored.bytes;
    }
    return out;
}

// A file the writer makes with multi-valued values of every type and a
// subject with a prefix, and the ANSI sample whose appointment Outlook
// stored with one: both readers serve every value as written, the subject
// without the file's prefix marker and with its prefix and normalized
// subject (derived where the file does not store them), while the bytes
// in the file carry the marker, as libpff reads them.
TEST(CheckedStore, BothReadersServeSubjectsAndMultiValuedValuesAsWritten) {
    const fmt::StoreUid uid = {7, 7, 7, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    short i2[] = {1, -2};
    LONG l[] = {3, -4, 5};
    float r4[] = {1.5f, -2.25f};
    double dbl[] = {3.125, -1e10};
    CURRENCY cur[2];
    cur[0].int64 = 12345;
    cur[1].int64 = -1;
    double at[] = {45000.5};
    LARGE_INTEGER i8[2];
    i8[0].QuadPart = 1ll << 40;
    i8[1].QuadPart = -7;
    FILETIME ft[] = {{1, 2}, {0x12345678, 0x01D00000}};
    WCHAR alpha[] = u"alpha", beta[] = u"b\u00e9ta";
    LPWSTR wide[] = {alpha, beta};
    char gamma[] = "gamma", delta[] = "delta";
    LPSTR narrow[] = {gamma, delta};
    BYTE b1[] = {0, 1, 2}, b2[] = {0xFF};
    SBinary bins[] = {{3, b1}, {1, b2}};
    GUID guids[2];
    std::memcpy(&guids[0], fmt::kPsQuirnel.data(), 16);
    std::memset(&guids[1], 0xA5, 16);
    std::vector<SPropValue> multi(12);
    ULONG id = 0x6701;
    auto next = [&](ULONG type) { return PROP_TAG(type, id++); };
    multi[0].ulPropTag = next(PT_MV_I2), multi[0].Value.MVi = {2, i2};
    multi[1].ulPropTag = next(PT_MV_LONG), multi[1].Value.MVl = {3, l};
    multi[2].ulPropTag = next(PT_MV_R4), multi[2].Value.MVflt = {2, r4};
    multi[3].ulPropTag = next(PT_MV_DOUBLE), multi[3].Value.MVdbl = {2, dbl};
    multi[4].ulPropTag = next(PT_MV_CURRENCY), multi[4].Value.MVcur = {2, cur};
    multi[5].ulPropTag = next(PT_MV_APPTIME), multi[5].Value.MVat = {1, at};
    multi[6].ulPropTag = next(PT_MV_I8), multi[6].Value.MVli = {2, i8};
    multi[7].ulPropTag = next(PT_MV_SYSTIME), multi[7].Value.MVft = {2, ft};
    multi[8].ulPropTag = next(PT_MV_UNICODE), multi[8].Value.MVszW = {2, wide};
    multi[9].ulPropTag = next(PT_MV_STRING8), multi[9].Value.MVszA = {2, narrow};
    multi[10].ulPropTag = next(PT_MV_BINARY), multi[10].Value.MVbin = {2, bins};
    multi[11].ulPropTag = next(PT_MV_CLSID), multi[11].Value.MVguid = {2, guids};

    fmt::StoreModel model = fmt::StoreModel::NewStore(uid, "Values");
    fmt::MessageContent m;
    m.props = {fmt::UnicodeValue(0x001A001F, "IPM.Note"), fmt::UnicodeValue(0x0037001F, "RE: Hello there"),
               fmt::UnicodeValue(0x003D001F, "RE: "), fmt::UnicodeValue(0x1000001F, "the body")};
    std::map<ULONG, fmt::Bytes> written;
    std::vector<ULONG> tags;
    for (const SPropValue& v : multi) {
        fmt::PropValue stored;
        ASSERT_EQ(EncodeValue(v, &stored), S_OK) << std::hex << v.ulPropTag;
        written[stored.tag] = stored.bytes;
        tags.push_back(stored.tag);
        m.props.push_back(stored);
    }
    uint32_t nid = model.AddMessage(model.inbox(), m);
    const std::string dir = testing::MakeTempDir();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/values.pst";
    fmt::Header header;
    std::string error;
    ASSERT_TRUE(fmt::WriteFile(path, model.Build(&header), header, &error)) << error;

    const std::vector<ULONG> subjectTags = {PR_SUBJECT_W, PR_SUBJECT_PREFIX_W, PR_NORMALIZED_SUBJECT_W};
    const std::map<ULONG, fmt::Bytes> subjects = {{PR_SUBJECT_W, fmt::UnicodeValue(0, "RE: Hello there").bytes},
                                                  {PR_SUBJECT_PREFIX_W, fmt::UnicodeValue(0, "RE: ").bytes},
                                                  {PR_NORMALIZED_SUBJECT_W, fmt::UnicodeValue(0, "Hello there").bytes}};
    fmt::Bytes entryId = fmt::EntryIdBytes(uid, nid);
    HRESULT hr = S_OK;
    for (bool checked : {true, false}) {
        SCOPED_TRACE(checked ? "pst-checked" : "pst (libpff)");
        ComRef<IMsgStore> store = checked ? OpenChecked(path, &hr, &error) : testing::OpenStoreFile(path, &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        auto message = testing::OpenById<IMessage>(store.get(), std::vector<BYTE>(entryId.begin(), entryId.end()));
        ASSERT_TRUE(message);
        EXPECT_EQ(StoredForm(message.get(), tags), written);
        EXPECT_EQ(StoredForm(message.get(), subjectTags), subjects);
        // The whole list names the derived values too, for a copy to take.
        LPSPropTagArray list = nullptr;
        ASSERT_EQ(message->GetPropList(0, &list), S_OK);
        MapiBuffer<SPropTagArray> heldList(list);
        std::set<ULONG> listed(list->aulPropTag, list->aulPropTag + list->cValues);
        for (ULONG tag : tags) EXPECT_EQ(listed.count(tag), 1u) << std::hex << tag;
        EXPECT_EQ(listed.count(PR_NORMALIZED_SUBJECT_W), 1u);
        // Contents table rows carry the subject as the message does.
        ComRef<IUnknown> inbox;
        ULONG type = 0;
        fmt::Bytes inboxId = fmt::EntryIdBytes(uid, model.inbox());
        ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(inboxId.size()), reinterpret_cast<LPENTRYID>(inboxId.data()),
                                   nullptr, 0, &type, inbox.Out()),
                  S_OK);
        ComRef<IMAPITable> contents;
        ASSERT_EQ(reinterpret_cast<IMAPIFolder*>(inbox.get())->GetContentsTable(0, contents.Out()), S_OK);
        SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
        LPSRowSet raw = nullptr;
        ASSERT_EQ(HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw),
                  S_OK);
        RowSetPtr rows(raw);
        ASSERT_EQ(rows->cRows, 1u);
        EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "RE: Hello there");
    }
    {
        std::shared_ptr<PstFile> pff = PstFile::Open(path, &error);
        ASSERT_TRUE(pff) << error;
        SharedItem item;
        ASSERT_EQ(pff->ItemById(nid, &item), S_OK);
        std::lock_guard<std::recursive_mutex> lock(pff->Lock());
        std::vector<uint8_t> stored;
        ASSERT_TRUE(ReadRawEntry(item.get(), 0, 0x0037, &stored));
        fmt::Bytes marked = {1, 0, 5, 0};
        fmt::Bytes text = subjects.at(PR_SUBJECT_W);
        marked.insert(marked.end(), text.begin(), text.end());
        EXPECT_EQ(stored, marked);
    }

    // Outlook's own marker, on an 8-bit subject that stores neither part.
    for (bool checked : {true, false}) {
        SCOPED_TRACE(checked ? "32-bit.pst, pst-checked" : "32-bit.pst, pst (libpff)");
        std::string sample = testing::SamplePath("32-bit.pst");
        ComRef<IMsgStore> store = checked ? OpenChecked(sample, &hr, &error) : testing::OpenStoreFile(sample, &hr, &error);
        ASSERT_EQ(hr, S_OK) << error;
        size_t found = 0;
        for (const auto& [hex, print] : testing::FingerprintStore(store.get())) {
            std::vector<BYTE> id;
            for (size_t i = 0; i + 1 < hex.size(); i += 2) id.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
            auto message = testing::OpenById<IMessage>(store.get(), id);
            ASSERT_TRUE(message);
            std::string subject = testing::StringProp(message.get(), PR_SUBJECT_A);
            EXPECT_TRUE(std::none_of(subject.begin(), subject.end(), [](char c) { return c > 0 && c < 0x20; }))
                << subject;
            if (subject != "Updated: Olympus training for new hires") continue;
            ++found;
            EXPECT_EQ(testing::StringProp(message.get(), PR_SUBJECT_PREFIX_A), "Updated: ");
            EXPECT_EQ(testing::StringProp(message.get(), PR_NORMALIZED_SUBJECT_A), "Olympus training for new hires");
        }
        EXPECT_EQ(found, 1u);
    }
    std::filesystem::remove_all(dir);
}

// Damage placed on purpose in support.pst: the message store object, a
// folder's properties and one message's recipient table. The store still
// opens (under a new store id), the folder is offered as a recovered folder
// with all its items, the message arrives without its recipients but with
// both notes, and every other item of the folder arrives without one.
TEST(CheckedStore, DamageAboveAndWithinAnItem) {
    std::string source = testing::SamplePath("support.pst");
    std::ifstream in(source, std::ios::binary);
    fmt::Bytes image((std::istreambuf_iterator<char>(in)), {});
    fmt::CheckedFile file;
    std::string error;
    ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
    uint32_t message = 0, folder = 0;
    uint64_t recipients = 0;
    for (const auto& [nid, entry] : file.Nodes()) {
        if (fmt::NidType(nid) != fmt::kNidTypeNormalMessage) continue;
        fmt::CheckedNode node = file.ReadNode(entry);
        auto r = node.subnodes.find(fmt::kNidRecipientTable);
        if (r == node.subnodes.end() || r->second.dataBid == 0 || fmt::IsInternalBid(r->second.dataBid)) continue;
        message = nid;
        folder = entry.nidParent;
        recipients = r->second.dataBid;
        break;
    }
    ASSERT_NE(message, 0u);
    fmt::Bytes damaged = image;
    for (uint64_t bid : {recipients, file.Nodes().at(folder).bidData, file.Nodes().at(fmt::kNidMessageStore).bidData}) {
        uint64_t ib = 0;
        uint16_t cb = 0;
        ASSERT_TRUE(file.BlockPlace(bid, &ib, &cb));
        damaged[ib + cb / 2] ^= 0x5A;
    }
    std::string dir = testing::MakeTempDir(), path = dir + "/damaged.pst";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()),
                                                 static_cast<std::streamsize>(damaged.size()));
    HRESULT hr = S_OK;
    ComRef<IMsgStore> store = OpenChecked(path, &hr, &error);
    ASSERT_EQ(hr, S_OK) << error;
    ComRef<IMsgStore> intact = OpenChecked(source, &hr, &error);
    ASSERT_EQ(hr, S_OK) << error;
    std::vector<std::string> failures;
    auto folders = testing::WalkFolders(Root(store.get()).get(), &failures);
    auto intactFolders = testing::WalkFolders(Root(intact.get()).get(), &failures);
    ASSERT_TRUE(failures.empty()) << failures.front();
    ASSERT_EQ(folders.size(), intactFolders.size());
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", folder);
    const testing::FolderSummary* recovered = nullptr;
    for (size_t i = 0; i < folders.size(); ++i) {
        if (folders[i].path.find(std::string("Recovered folder ") + hex) == std::string::npos) {
            EXPECT_EQ(folders[i].path, intactFolders[i].path);
            continue;
        }
        recovered = &folders[i];
        EXPECT_EQ(folders[i].items, intactFolders[i].items);
    }
    ASSERT_NE(recovered, nullptr) << "no folder named Recovered folder " << hex;

    ULONG reportTag = DamageReportTag(store.get());
    ASSERT_NE(reportTag, 0u);
    ComRef<IUnknown> opened;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(recovered->entryId.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(recovered->entryId.data())), nullptr, 0,
                               &type, opened.Out()),
              S_OK);
    auto* f = reinterpret_cast<IMAPIFolder*>(opened.get());
    ComRef<IMAPITable> contents;
    ASSERT_EQ(f->GetContentsTable(0, contents.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet raw = nullptr;
    ASSERT_EQ(HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw), S_OK);
    RowSetPtr rows(raw);
    int noted = 0;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
        ComRef<IUnknown> object;
        ASSERT_EQ(f->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type, object.Out()), S_OK);
        auto* m = reinterpret_cast<IMessage*>(object.get());
        LPSPropValue report = nullptr;
        if (HrGetOneProp(m, reportTag, &report) != S_OK) continue;
        MapiBuffer<SPropValue> held(report);
        ++noted;
        std::u16string text(reinterpret_cast<const char16_t*>(report->Value.lpszW));
        EXPECT_NE(text.find(u"the recipients"), std::u16string::npos);
        ComRef<IMAPITable> table;
        ULONG count = 99;
        ASSERT_EQ(m->GetRecipientTable(0, table.Out()), S_OK);
        ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
        EXPECT_EQ(count, 0u);
        ASSERT_EQ(m->GetAttachmentTable(0, table.Out()), S_OK);
        SizedSPropTagArray(1, names) = {1, {PR_ATTACH_LONG_FILENAME_A}};
        LPSRowSet attachRaw = nullptr;
        ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&names), nullptr, nullptr, 0, &attachRaw),
                  S_OK);
        RowSetPtr attachments(attachRaw);
        bool found = false;
        for (ULONG k = 0; k < attachments->cRows; ++k)
            found = found || (PROP_TYPE(attachments->aRow[k].lpProps[0].ulPropTag) == PT_STRING8 &&
                              std::string(attachments->aRow[k].lpProps[0].Value.lpszA) == fmt::kDamageAttachmentName);
        EXPECT_TRUE(found);
    }
    EXPECT_EQ(noted, 1);

    // The damage above the items is told on the IPM subtree.
    LPSPropValue ipmId = nullptr;
    ASSERT_EQ(HrGetOneProp(store.get(), PR_IPM_SUBTREE_ENTRYID, &ipmId), S_OK);
    MapiBuffer<SPropValue> heldId(ipmId);
    ComRef<IUnknown> ipm;
    ASSERT_EQ(store->OpenEntry(ipmId->Value.bin.cb, reinterpret_cast<LPENTRYID>(ipmId->Value.bin.lpb), nullptr, 0, &type,
                               ipm.Out()),
              S_OK);
    LPSPropValue above = nullptr;
    ASSERT_EQ(HrGetOneProp(reinterpret_cast<IMAPIProp*>(ipm.get()), reportTag, &above), S_OK);
    MapiBuffer<SPropValue> heldAbove(above);
    std::u16string aboveText(reinterpret_cast<const char16_t*>(above->Value.lpszW));
    EXPECT_NE(aboveText.find(u"message store"), std::u16string::npos);
    std::u16string folderHex(hex, hex + std::strlen(hex));
    EXPECT_NE(aboveText.find(u"folder " + folderHex), std::u16string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst

namespace mapi::pst {
namespace {

// A whole message is left in the file at logon and made again when opened:
// it must be the node and row the rescue that holds everything makes, on
// the samples and on copies with damaged message blocks (which salvage
// some items and must keep those in memory, with their notes).
TEST(CheckedStore, MessagesLeftInTheFileAreMadeOnOpenAsTheRescueMadeThem) {
    std::mt19937 random(4242);
    size_t left = 0, salvaged = 0;
    for (const std::string& name : testing::SampleNames()) {
        std::ifstream in(testing::SamplePath(name), std::ios::binary);
        const fmt::Bytes intact((std::istreambuf_iterator<char>(in)), {});
        for (int variant = 0; variant < 4; ++variant) {
            SCOPED_TRACE(name + " variant " + std::to_string(variant));
            fmt::Bytes image = intact;
            std::string error;
            if (variant > 0) {
                // A byte flipped in the data block of some messages.
                fmt::CheckedFile file;
                ASSERT_TRUE(file.Open(intact.data(), intact.size(), &error)) << error;
                for (const auto& [nid, entry] : file.Nodes()) {
                    if (fmt::NidType(nid) != fmt::kNidTypeNormalMessage || random() % 3 != 0) continue;
                    uint64_t ib = 0;
                    uint16_t cb = 0;
                    if (!file.BlockPlace(entry.bidData, &ib, &cb) || cb == 0) continue;
                    image[ib + random() % cb] ^= 0x21;
                }
            }
            fmt::CheckedFile file;
            ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
            const fmt::StoreUid uid = {1, 2, 3};
            fmt::StoreModel full, lazy;
            fmt::RescueStats fullStats, lazyStats;
            fmt::MessagesInFile inFile;
            ASSERT_TRUE(fmt::RescueStore(file, uid, &full, &fullStats, &error)) << error;
            ASSERT_TRUE(fmt::RescueStore(file, uid, &lazy, &lazyStats, &error, &inFile)) << error;
            EXPECT_EQ(lazyStats.whole, fullStats.whole);
            EXPECT_EQ(lazyStats.salvaged, fullStats.salvaged);
            EXPECT_EQ(lazyStats.failed, fullStats.failed);
            salvaged += fullStats.salvaged;
            const std::vector<uint32_t> listed = Listed(full);
            ASSERT_EQ(Listed(lazy), listed);
            for (uint32_t nid : listed) {
                const fmt::StoreModel::StoredMessage* was = full.FindMessage(nid);
                const fmt::StoreModel::StoredMessage* now = lazy.FindMessage(nid);
                if (was == nullptr) continue;
                ASSERT_NE(now, nullptr) << nid;
                if (!inFile.Has(nid)) {
                    EXPECT_TRUE(SameNode(now->node, was->node)) << nid;
                    EXPECT_TRUE(SameProps(now->props, was->props)) << nid;
                    continue;
                }
                ++left;
                EXPECT_TRUE(now->rowOnly && now->node.data.empty()) << nid;
                EXPECT_TRUE(SameProps(now->props, fmt::StoreModel::RowCells(was->props, was->associated))) << nid;
                fmt::Node made;
                ASSERT_TRUE(inFile.Make(file, nid, &made, &error)) << error;
                EXPECT_TRUE(SameNode(made, was->node)) << nid;
                std::vector<fmt::PropValue> props;
                ASSERT_TRUE(inFile.Props(file, nid, &props, &error)) << error;
                EXPECT_TRUE(SameProps(props, was->props)) << nid;
            }
            EXPECT_EQ(inFile.size(), fullStats.whole) << "every whole message, and only those, is left";
        }
    }
    EXPECT_GT(left, 30u);
    EXPECT_GT(salvaged, 0u) << "the damage reached no message";
}

// A disk whose sectors under one message's block fail to read, as a failing
// disk's do: that block is reported unreadable where it is needed, that
// message alone loses the part, and every other item reads whole.
TEST(CheckedStore, AnUnreadableBlockCostsOnlyItsItem) {
    std::ifstream in(testing::SamplePath("support.pst"), std::ios::binary);
    const fmt::Bytes image((std::istreambuf_iterator<char>(in)), {});
    using testing::BadSectors;
    std::string error;
    fmt::CheckedFile intact;
    ASSERT_TRUE(intact.Open(image.data(), image.size(), &error)) << error;
    uint32_t victim = 0;
    uint64_t ib = 0;
    uint16_t cb = 0;
    for (const auto& [nid, entry] : intact.Nodes())
        if (fmt::NidType(nid) == fmt::kNidTypeNormalMessage && intact.BlockPlace(entry.bidData, &ib, &cb)) {
            victim = nid;
            break;
        }
    ASSERT_NE(victim, 0u);
    const fmt::StoreUid uid = {5};
    fmt::StoreModel before, after;
    fmt::RescueStats was, now;
    ASSERT_TRUE(fmt::RescueStore(intact, uid, &before, &was, &error)) << error;
    fmt::CheckedFile failing;
    ASSERT_TRUE(failing.Open(std::make_unique<BadSectors>(image, ib, ib + cb), &error)) << error;
    fmt::CheckedNode node = failing.ReadNode(failing.Nodes().at(victim));
    EXPECT_NE(node.DataProblem().find("cannot be read"), std::string::npos) << node.DataProblem();
    fmt::MessagesInFile inFile;
    ASSERT_TRUE(fmt::RescueStore(failing, uid, &after, &now, &error, &inFile)) << error;
    EXPECT_EQ(now.whole + 1, was.whole);
    EXPECT_EQ(now.salvaged + now.failed, was.salvaged + was.failed + 1);
    EXPECT_FALSE(inFile.Has(victim));
    for (uint32_t nid : Listed(before)) {
        if (nid == victim || !inFile.Has(nid)) continue;
        fmt::Node made;
        EXPECT_TRUE(inFile.Make(failing, nid, &made, &error)) << error;
    }
}

// The file cut short under an open store (another program, or a disk
// whose end can no longer be read): the items whose blocks are gone fail
// to open with MAPI_E_CORRUPT_DATA, still listed; the others read as they
// did, and nothing ends the process.
TEST(CheckedStore, AFileCutShortAfterLogonFailsOnlyTheItemsBeyondTheCut) {
    std::string dir = testing::MakeTempDir(), path = dir + "/cut.pst";
    std::filesystem::copy_file(testing::SamplePath("support.pst"), path);
    HRESULT hr = S_OK;
    std::string error;
    ComRef<IMsgStore> store = OpenChecked(path, &hr, &error);
    ASSERT_EQ(hr, S_OK) << error;
    // Read from a second thread at once, as the copy engine's worker does
    // while the session's thread lists: the same items either way.
    std::map<std::string, std::string> elsewhere;
    std::thread worker([&] { elsewhere = testing::FingerprintStore(store.get()); });
    const auto before = testing::FingerprintStore(store.get());
    worker.join();
    EXPECT_EQ(elsewhere, before);
    for (const auto& [id, print] : before) ASSERT_NE(print, "fail") << id;
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    const auto after = testing::FingerprintStore(store.get());
    ASSERT_EQ(after.size(), before.size()) << "every item is still listed";
    size_t same = 0, failed = 0;
    for (const auto& [id, print] : after) {
        if (print != "fail") {
            EXPECT_EQ(print, before.at(id));
            ++same;
            continue;
        }
        ++failed;
        std::vector<BYTE> bytes;
        for (size_t i = 0; i + 1 < id.size(); i += 2) bytes.push_back(static_cast<BYTE>(std::stoi(id.substr(i, 2), nullptr, 16)));
        ComRef<IUnknown> object;
        ULONG type = 0;
        EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(bytes.size()), reinterpret_cast<LPENTRYID>(bytes.data()), nullptr, 0,
                                   &type, object.Out()),
                  MAPI_E_CORRUPT_DATA);
    }
    EXPECT_GT(same, 0u);
    EXPECT_GT(failed, 0u);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst
