// The locks mail clients and delivery agents take on an mbox file: a
// dot-lock file beside it and an fcntl lock on it. Both are held by RAII
// objects for the span of one read or one append.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include <mapidefs.h>

namespace mapi::mailfiles {

// A dot-lock older than this was left by a crashed writer.
inline constexpr std::chrono::seconds kStaleLock{300};
inline constexpr int kLockAttempts = 200;  // 50 ms apart: ten seconds

class FileLock {
public:
    FileLock(int fd, short type) : fd_(fd) {
        struct flock fl {};
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        while ((ok_ = ::fcntl(fd_, F_SETLKW, &fl) == 0) == false && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (!ok_) return;
        struct flock fl {};
        fl.l_type = F_UNLCK;
        fl.l_whence = SEEK_SET;
        ::fcntl(fd_, F_SETLK, &fl);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool ok() const { return ok_; }

private:
    int fd_;
    bool ok_ = false;
};

class DotLock {
public:
    explicit DotLock(std::string path) : path_(std::move(path)) {
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::close(fd);
                held_ = true;
                return;
            }
            if (errno != EEXIST) return;
            struct stat st {};
            if (::stat(path_.c_str(), &st) == 0 &&
                std::time(nullptr) - st.st_mtime > kStaleLock.count())
                ::unlink(path_.c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~DotLock() {
        if (held_) ::unlink(path_.c_str());
    }
    DotLock(const DotLock&) = delete;
    DotLock& operator=(const DotLock&) = delete;
    bool held() const { return held_; }

private:
    std::string path_;
    bool held_ = false;
};

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

inline HRESULT WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == ENOSPC ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR;
        }
        done += static_cast<size_t>(n);
    }
    return S_OK;
}

}  // namespace mapi::mailfiles
