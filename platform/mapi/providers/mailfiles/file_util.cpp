// File helpers shared by the mail file layouts.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "providers/mailfiles/mail_layout.h"

namespace mapi::mailfiles {

std::string EscapeName(const std::string& name, bool escapeDots) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool special = c < 0x20 || c == 0x7F || c == '%' || c == '/' || c == '\\' ||
                             (escapeDots && c == '.') || (i == 0 && (c == '.' || c == '~'));
        if (special) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string UnescapeName(const std::string& name) {
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && hex(name[i + 1]) >= 0 &&
            hex(name[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(name[i + 1]) * 16 + hex(name[i + 2])));
            i += 2;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

HRESULT WriteNewFile(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? MAPI_E_COLLISION : MAPI_E_DISK_ERROR;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int why = errno;
            const HRESULT hr = why == ENOSPC ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR;
            ::close(fd);
            ::unlink(path.c_str());
            errno = why;  // for FileFailure: the cause, not the clean-up
            return hr;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int why = errno;
        ::unlink(path.c_str());
        errno = why;
        return MAPI_E_DISK_ERROR;
    }
    return S_OK;
}

std::string FileFailure(HRESULT hr, const std::string& where, int error) {
    switch (hr) {
        case MAPI_E_NOT_FOUND:
            return where + " is not there";
        case MAPI_E_TIMEOUT:
            return where + " stays locked by another program";
        default:
            return "cannot write to " + where +
                   (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
    }
}

HRESULT ReadWholeFile(const std::string& path, std::string* bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? MAPI_E_NOT_FOUND : MAPI_E_NO_ACCESS;
    bytes->clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return MAPI_E_DISK_ERROR;
        }
        if (n == 0) break;
        bytes->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return S_OK;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathIsWritable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if ((st.st_mode & 0222) == 0) return false;
    return ::access(path.c_str(), W_OK) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
    std::vector<std::string> out;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return out;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") out.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace mapi::mailfiles
