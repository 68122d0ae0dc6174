// The checked reader's store ("pst-checked") against the libpff store on
// the samples, and what it makes of damage at the levels above the items.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mapi::pst
