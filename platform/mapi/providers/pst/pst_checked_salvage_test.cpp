// Second chances for items the checked reader would otherwise lose: an
// item whose own property context fails its checks comes back from its
// folder's contents table row and its sound subnodes, with a note; a block
// whose B-tree entry is lost is found by its trailer and read as whole.
#include <gtest/gtest.h>

#include <mapiutil.h>
#include <mapix.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "providers/providers.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

ComRef<IMsgStore> OpenChecked(const std::string& path) {
    ProfileEntry entry{"test", "Sample", "pst-checked", path};
    ComRef<IMsgStore> store;
    std::string error;
    EXPECT_EQ(PstCheckedStoreProvider()->OpenStore(entry, store.Out(), &error), S_OK) << error;
    return store;
}

std::string Write(const std::string& dir, const char* name, const fmt::Bytes& image) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                 static_cast<std::streamsize>(image.size()));
    return path;
}

// The entry id (hex, as FingerprintStore keys it) that ends in nid.
std::string IdOf(const std::map<std::string, std::string>& prints, uint32_t nid) {
    char tail[9];
    std::snprintf(tail, sizeof tail, "%02X%02X%02X%02X", nid & 0xFF, (nid >> 8) & 0xFF, (nid >> 16) & 0xFF, nid >> 24);
    for (const auto& [id, print] : prints)
        if (id.ends_with(tail)) return id;
    return {};
}

ComRef<IMessage> OpenItem(IMsgStore* store, const std::string& hex) {
    std::vector<BYTE> id;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) id.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    ComRef<IUnknown> object;
    ULONG type = 0;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr, 0, &type,
                               object.Out()),
              S_OK);
    return ComRef<IMessage>(reinterpret_cast<IMessage*>(object.Detach()));
}

std::string Subject(IMessage* m) {
    LPSPropValue v = nullptr;
    if (HrGetOneProp(m, PR_SUBJECT_A, &v) != S_OK) return "<none>";
    MapiBuffer<SPropValue> held(v);
    return v->Value.lpszA;
}

ULONG Rows(IMessage* m, bool recipients) {
    ComRef<IMAPITable> table;
    ULONG count = 0;
    HRESULT hr = recipients ? m->GetRecipientTable(0, table.Out()) : m->GetAttachmentTable(0, table.Out());
    if (hr != S_OK || table->GetRowCount(0, &count) != S_OK) return 9999;
    return count;
}

TEST(CheckedSalvage, LostPropertiesComeFromTheRowAndLostIndexEntriesFromTheTrailers) {
    std::string source = testing::SamplePath("support.pst");
    std::ifstream in(source, std::ios::binary);
    fmt::Bytes image((std::istreambuf_iterator<char>(in)), {});
    fmt::CheckedFile file;
    std::string error;
    ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
    // Two messages with recipients: the first loses its property context,
    // the second the block B-tree entry of its property context.
    std::vector<uint32_t> picked;
    for (const auto& [nid, entry] : file.Nodes()) {
        if (fmt::NidType(nid) != fmt::kNidTypeNormalMessage || fmt::IsInternalBid(entry.bidData)) continue;
        if (file.ReadNode(entry).subnodes.count(fmt::kNidRecipientTable) != 0) picked.push_back(nid);
        if (picked.size() == 2) break;
    }
    ASSERT_EQ(picked.size(), 2u);
    fmt::Bytes lostProps = image, lostEntry = image;
    uint64_t ib = 0;
    uint16_t cb = 0;
    ASSERT_TRUE(file.BlockPlace(file.Nodes().at(picked[0]).bidData, &ib, &cb));
    lostProps[ib + 40] ^= 0x5A;
    // The entry is wiped from its leaf in place (the leaf's CRC then fails,
    // and the tree walk drops the leaf: only the scans find its blocks).
    uint64_t bid = file.Nodes().at(picked[1]).bidData;
    size_t wiped = 0;
    for (size_t page = 512; page + 512 <= lostEntry.size(); page += 512) {
        uint8_t* p = lostEntry.data() + page;
        if (p[496] != 0x80 || p[497] != 0x80 || p[488 + 3] != 0) continue;
        for (size_t e = 0; e < p[488]; ++e)
            if (fmt::Get64(p + e * 24) == bid) {
                std::memset(p + e * 24, 0, 24);
                ++wiped;
            }
    }
    ASSERT_EQ(wiped, 1u);

    std::string dir = testing::MakeTempDir();
    ComRef<IMsgStore> intact = OpenChecked(source);
    ComRef<IMsgStore> first = OpenChecked(Write(dir, "props.pst", lostProps));
    ComRef<IMsgStore> second = OpenChecked(Write(dir, "entry.pst", lostEntry));
    ASSERT_TRUE(intact && first && second);
    auto intactPrints = testing::FingerprintStore(intact.get());
    auto firstPrints = testing::FingerprintStore(first.get());
    auto secondPrints = testing::FingerprintStore(second.get());

    // Salvaged: listed where it was, opens, carries its subject from the
    // row, its recipients and attachments from its subnodes, and the note.
    std::string id = IdOf(intactPrints, picked[0]);
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(firstPrints.count(id), 1u);
    EXPECT_NE(firstPrints[id], "fail");
    EXPECT_NE(firstPrints[id], intactPrints[id]);
    ComRef<IMessage> was = OpenItem(intact.get(), id), now = OpenItem(first.get(), id);
    ASSERT_TRUE(was && now);
    EXPECT_EQ(Subject(now.get()), Subject(was.get()));
    EXPECT_EQ(Rows(now.get(), true), Rows(was.get(), true));
    EXPECT_EQ(Rows(now.get(), false), Rows(was.get(), false) + 1) << "the damage report is one attachment more";
    GUID set;
    std::memcpy(&set, fmt::kPsQuirnel.data(), 16);
    std::u16string name = fmt::kDamageReportName;
    std::vector<WCHAR> wide(name.begin(), name.end());
    wide.push_back(0);
    MAPINAMEID mapiName{&set, MNID_STRING, {}};
    mapiName.Kind.lpwstrName = wide.data();
    LPMAPINAMEID names[1] = {&mapiName};
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(first->GetIDsFromNames(1, names, 0, &tags), S_OK);
    ULONG reportTag = PROP_TAG(PT_UNICODE, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);
    LPSPropValue report = nullptr;
    ASSERT_EQ(HrGetOneProp(now.get(), reportTag, &report), S_OK);
    MapiBuffer<SPropValue> heldReport(report);
    std::u16string text(reinterpret_cast<const char16_t*>(report->Value.lpszW));
    EXPECT_NE(text.find(u"contents table"), std::u16string::npos);
    // Nothing else changed.
    for (const auto& [other, print] : intactPrints)
        if (other != id) {
            EXPECT_EQ(firstPrints[other], print) << other;
        }

    // The lost index entry costs nothing: the block is found by its
    // trailer and the whole store reads as the intact one.
    EXPECT_EQ(secondPrints, intactPrints);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst
