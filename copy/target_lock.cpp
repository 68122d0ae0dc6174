// The lock file of a target and the record lock on it.
#include "target_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace quirnel {

namespace {

// Lock file names of accounts stay well below any file system's limit.
constexpr size_t kMaxKeyedName = 160;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string LockFolder() {
    std::string base = Env("XDG_RUNTIME_DIR");
    if (base.empty()) base = Env("XDG_STATE_HOME");
    if (base.empty() && !Env("HOME").empty()) base = Env("HOME") + "/.local/state";
    if (base.empty()) base = "/tmp";
    return base + "/quirnel/locks";
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// location as a file name: safe characters kept, the rest %XX; a long one
// cut and told apart by a hash of the whole.
std::string KeyedName(const std::string& location) {
    std::string name;
    for (unsigned char c : location) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '@' || c == ':') {
            name.push_back(static_cast<char>(c));
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            name += escaped;
        }
    }
    if (name.size() > kMaxKeyedName) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "-%016llx",
                      static_cast<unsigned long long>(Fnv1a(location)));
        name = name.substr(0, kMaxKeyedName) + hash;
    }
    return name + ".lock";
}

std::string BesidePath(const std::string& location) {
    if (location.empty() || location[0] != '/') return {};
    const std::filesystem::path path(location);
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") return {};
    return (path.parent_path() / ("." + name + ".quirnel-lock")).string();
}

std::string KeyedPath(const std::string& location) {
    return LockFolder() + "/" + KeyedName(location);
}

int OpenLockFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

int OpenKeyed(const std::string& location, std::string* why) {
    const std::string folder = LockFolder();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // Only its owner needs to see whom another run waits for.
    ::chmod(folder.c_str(), 0700);
    const std::string path = KeyedPath(location);
    const int fd = OpenLockFile(path);
    if (fd < 0) *why = path + ": " + std::strerror(errno);
    return fd;
}

bool TryLock(int fd, int* error) {
    struct flock whole;
    std::memset(&whole, 0, sizeof whole);
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) return true;
    *error = errno;
    return false;
}

std::string HolderOf(int fd) {
    char text[256];
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string holder(text, n > 0 ? static_cast<size_t>(n) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
    // The file is written by the holder; what a waiter prints of it stays
    // printable.
    for (char& c : holder)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return holder.empty() ? std::string("another run") : holder;
}

void WriteHolder(int fd) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "?");
    char text[320];
    const int n = std::snprintf(text, sizeof text, "process %ld on host %s\n",
                                static_cast<long>(::getpid()), host);
    if (::ftruncate(fd, 0) == 0 && n > 0) (void)!::pwrite(fd, text, static_cast<size_t>(n), 0);
}

}  // namespace

std::string CTargetLock::LockFilePath(const std::string& location) {
    const std::string beside = BesidePath(location);
    return beside.empty() ? KeyedPath(location) : beside;
}

CTargetLock::Result CTargetLock::Acquire(
    const std::string& location, bool wait, const std::atomic<bool>& stop,
    const std::function<void(const std::string& holder)>& onWait, std::string* detail) {
    Release();
    detail->clear();
    const std::string beside = BesidePath(location);
    int fd = beside.empty() ? -1 : OpenLockFile(beside);
    // A store in a folder this user may not write beside (a share mounted
    // read-only above the store) is still locked, on this machine.
    if (fd < 0) fd = OpenKeyed(location, detail);
    if (fd < 0) return Result::Failed;
    bool waited = false;
    for (;;) {
        int error = 0;
        if (TryLock(fd, &error)) {
            detail->clear();
            WriteHolder(fd);
            m_fd = fd;
            return Result::Held;
        }
        if (error != EAGAIN && error != EACCES) {
            *detail = std::strerror(error);
            ::close(fd);
            return Result::Failed;
        }
        *detail = HolderOf(fd);
        if (!wait) {
            ::close(fd);
            return Result::Busy;
        }
        if (!waited && onWait) onWait(*detail);
        waited = true;
        if (stop.load()) {
            ::close(fd);
            return Result::Stopped;
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
}

void CTargetLock::Release() {
    if (m_fd < 0) return;
    // The holder's words go with the lock: a later waiter must not name a
    // process that has finished.
    (void)!::ftruncate(m_fd, 0);
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace quirnel
