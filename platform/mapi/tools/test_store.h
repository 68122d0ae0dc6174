// Test support: a new embedded store in a temporary folder, opened through
// its provider as mapiprofile does.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::tools {

class TempStoreDir {
public:
    // tag names the folder; by default the running test's name.
    explicit TempStoreDir(std::string tag = "") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        if (tag.empty() && info != nullptr)
            tag = std::string(info->test_suite_name()) + "_" + info->name();
        dir_ = std::filesystem::temp_directory_path() /
               ("mapi_tools_" + std::to_string(::getpid()) + "_" + tag);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~TempStoreDir() { std::filesystem::remove_all(dir_); }
    TempStoreDir(const TempStoreDir&) = delete;
    TempStoreDir& operator=(const TempStoreDir&) = delete;

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Creates and opens an embedded store; fails the test when it cannot.
    ComRef<IMsgStore> NewStore(const std::string& name) {
        ComRef<IMsgStore> store;
        StoreProvider* provider = FindProvider("embedded");
        EXPECT_NE(provider, nullptr);
        if (provider == nullptr) return store;
        std::string error;
        std::string path = Path(name + ".qdb");
        EXPECT_EQ(provider->CreateStore(path, name, &error), S_OK) << error;
        EXPECT_EQ(provider->OpenStore(ProfileEntry{name, name, provider->Name(), path}, store.Out(),
                                      &error),
                  S_OK)
            << error;
        return store;
    }

private:
    std::filesystem::path dir_;
};

}  // namespace mapi::tools
