// The writer lock between two holders in one process (open file
// descriptions conflict like processes do): who waits, who is named, where
// the lock file goes.
#include "target_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace {

using quirnel::CTargetLock;
namespace fs = std::filesystem;

TEST(TargetLockTest, ASecondHolderIsRefusedOrWaitsNamingTheFirst) {
    const fs::path dir = fs::path(QUIRNEL_BINARY_DIR) / "target_lock_test";
    fs::remove_all(dir);
    fs::create_directories(dir / "Maildir");
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    const std::string store = (dir / "Maildir").string();
    const std::string holder = "process " + std::to_string(getpid()) + " on host ";
    std::atomic<bool> stop{false};
    std::string detail;

    CTargetLock first, second;
    ASSERT_EQ(first.Acquire(store, false, stop, {}, &detail), CTargetLock::Result::Held);
    // Beside the directory, never inside it.
    EXPECT_TRUE(fs::exists(dir / ".Maildir.quirnel-lock"));
    EXPECT_TRUE(fs::is_empty(dir / "Maildir"));
    EXPECT_EQ(second.Acquire(store, false, stop, {}, &detail), CTargetLock::Result::Busy);
    EXPECT_EQ(detail.rfind(holder, 0), 0u) << detail;

    // A waiter says once whom it waits for, and gets the lock when the
    // holder lets go.
    std::vector<std::string> waits;
    std::thread releaser([&] {
        std::this_thread::sleep_for(3 * CTargetLock::kRetryInterval);
        first.Release();
    });
    EXPECT_EQ(second.Acquire(
                  store, true, stop, [&](const std::string& h) { waits.push_back(h); }, &detail),
              CTargetLock::Result::Held);
    releaser.join();
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].rfind(holder, 0), 0u) << waits[0];

    // A stop ends the wait; an account's lock is keyed in the runtime folder.
    stop = true;
    EXPECT_EQ(first.Acquire(store, true, stop, {}, &detail), CTargetLock::Result::Stopped);
    const std::string account = "imap:box@127.0.0.1:143";
    EXPECT_EQ(CTargetLock::LockFilePath(account),
              (dir / "run/quirnel/locks/imap:box@127.0.0.1:143.lock").string());
    ASSERT_EQ(first.Acquire(account, false, stop, {}, &detail), CTargetLock::Result::Held);
    EXPECT_EQ(second.Acquire(account, false, stop, {}, &detail), CTargetLock::Result::Busy);
}

}  // namespace
