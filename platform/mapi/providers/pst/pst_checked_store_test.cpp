// The checked reader's store ("pst-checked") against the libpff store on
// the samples, and what it makes of damage at the levels above the items.
#include <gtest/gtest.h>

#include <mapiutil.h>
#include <mapix.h>

#include <iostream>

#include "providers/providers.h"
#include "providers/pst/pst_test_support.h"
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
        ASSERT_EQ(ours.size(), theirs.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(ours[i].path, theirs[i].path);
            EXPECT_EQ(ours[i].items, theirs[i].items) << ours[i].path;
            EXPECT_EQ(ours[i].associated, theirs[i].associated) << ours[i].path;
        }
        size_t items = 0;
        for (const auto& f : ours) items += f.items + f.associated;
        std::cout << name << ": " << ours.size() << " folders, " << items << " items\n";
        auto fingerprints = testing::FingerprintStore(checked.get());
        auto pffPrints = testing::FingerprintStore(pff.get());
        EXPECT_EQ(fingerprints.size(), pffPrints.size());
        for (const auto& [id, print] : fingerprints) {
            EXPECT_NE(print, "fail") << id;
            EXPECT_EQ(pffPrints.count(id), 1u) << id;
        }
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

}  // namespace
}  // namespace mapi::pst
