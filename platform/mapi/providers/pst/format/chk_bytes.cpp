#include "providers/pst/format/chk_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace mapi::pst::fmt {
namespace {

constexpr size_t kUnit = 512;

class Memory final : public ByteSource {
public:
    Memory(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t at, size_t n, uint8_t* out, std::string* why) const override {
        if (at > size_ || size_ - at < n) {
            *why = "the file ends before offset " + std::to_string(at + n);
            return false;
        }
        std::memcpy(out, data_ + at, n);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

class File final : public ByteSource {
public:
    File(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~File() override { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t at, size_t n, uint8_t* out, std::string* why) const override {
        size_t done = 0;
        while (done < n) {
            ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(at + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                *why = std::string("a read error (") + std::strerror(errno) + ") at offset " + std::to_string(at + done);
                return false;
            }
            if (got == 0) {
                *why = "the file ends before offset " + std::to_string(at + n) + " (cut short since it was opened)";
                return false;
            }
            done += static_cast<size_t>(got);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

}  // namespace

size_t ByteSource::ReadLenient(uint64_t at, size_t n, uint8_t* out, uint64_t* firstBad) const {
    std::string why;
    if (Read(at, n, out, &why)) return 0;
    // Unit by unit, so that one bad sector costs its own bytes only.
    size_t lost = 0;
    for (size_t done = 0; done < n; done += kUnit) {
        size_t len = std::min(kUnit, n - done);
        if (!Read(at + done, len, out + done, &why)) {
            std::memset(out + done, 0, len);
            if (lost++ == 0 && firstBad != nullptr) *firstBad = at + done;
        }
    }
    return lost;
}

std::unique_ptr<ByteSource> MemoryBytes(const uint8_t* data, size_t size) {
    return std::make_unique<Memory>(data, size);
}

std::unique_ptr<ByteSource> FileBytes(const std::string& path, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = path + " cannot be opened: " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        ::close(fd);
        if (error != nullptr) *error = path + " is empty or cannot be read";
        return nullptr;
    }
    return std::make_unique<File>(fd, static_cast<uint64_t>(st.st_size));
}

}  // namespace mapi::pst::fmt
