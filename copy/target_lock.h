// One writer per target: an exclusive advisory lock that a copy run holds on
// its target store for as long as it writes, so that two runs into one
// store (two quirnel-copy, a batch, the application) take turns instead of
// copying every item twice.
//
// The lock is a record lock on the whole of a lock file, taken on the open
// file description (F_OFD_SETLK): it is dropped when the holder ends however
// it ends, it works between threads of one process as between processes,
// and lock managers of shared file systems (NFS) honour it. The file holds
// the holder's process id and host name, so a waiter can say whom it waits
// for.
//
// Where the lock file is: a store kept in files (an absolute location) has
// it beside itself, ".NAME.quirnel-lock" in the same folder, so that runs
// on several machines sharing that storage see one another; never inside
// the store's own folder, where a mail server would take a file for a
// folder or a message. Any other store (a mail account) has it in
// ${XDG_RUNTIME_DIR}/quirnel/locks (else ${XDG_STATE_HOME:-~/.local/state}/
// quirnel/locks), named after its location.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace quirnel {

class CTargetLock {
public:
    CTargetLock() = default;
    ~CTargetLock() { Release(); }
    CTargetLock(const CTargetLock&) = delete;
    CTargetLock& operator=(const CTargetLock&) = delete;

    enum class Result { Held, Busy, Stopped, Failed };

    // Takes the lock of location (StoreProvider::WriterLocation). Busy when
    // another holds it and wait is false; with wait, calls onWait once with
    // the holder's description and tries again until it gets the lock or
    // stop is set (Stopped). Failed when no lock file can be made; *detail
    // then says why. *detail names the holder for Busy.
    Result Acquire(const std::string& location, bool wait, const std::atomic<bool>& stop,
                   const std::function<void(const std::string& holder)>& onWait,
                   std::string* detail);

    void Release();
    bool Held() const { return m_fd >= 0; }

    // The lock file of location (see above); for tests and messages.
    static std::string LockFilePath(const std::string& location);

    // How often a waiting run tries again.
    static constexpr std::chrono::milliseconds kRetryInterval{200};

private:
    int m_fd = -1;
};

}  // namespace quirnel
