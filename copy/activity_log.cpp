// Formats activity lines and writes them to the host's list and the log file.
#include "activity_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>

#include "copy_host.h"

namespace quirnel {

bool CActivityLog::Open(const std::string& path) {
    // The log names subjects and senders: readable by its owner alone.
    m_file.reset();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    m_file.reset(::fdopen(fd, "a"));
    if (!m_file) ::close(fd);
    return IsOpen();
}

std::string CActivityLog::Cut(std::string line) {
    if (line.size() <= kMaxLine) return line;
    size_t end = kMaxLine;
    // A cut inside a multi-byte sequence would leave a broken character at
    // the end of the line; drop its bytes (a UTF-8 sequence is at most four
    // bytes long, so text that is not UTF-8 loses at most three).
    auto continuation = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    while (end > kMaxLine - 3 && continuation(static_cast<unsigned char>(line[end]))) --end;
    line.resize(end);
    return line;
}

std::string CActivityLog::Fit(const std::string& head, const std::string& middle,
                              const std::string& tail) {
    constexpr char kMark[] = "...";
    if (head.size() + middle.size() + tail.size() <= kMaxLine) return head + middle + tail;
    // The tail is ours and short; should head and tail alone be too long,
    // the ordinary cut still applies.
    const size_t fixed = head.size() + tail.size() + sizeof kMark - 1;
    if (fixed >= kMaxLine) return Cut(head + middle + tail);
    // Cut back to the start of a character that the cut would split.
    const size_t room = kMaxLine - fixed;
    std::string shortened = middle.substr(0, room);
    auto continuation = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    size_t end = shortened.size();
    while (end > 0 && end < middle.size() && continuation(static_cast<unsigned char>(middle[end])))
        --end;
    shortened.resize(end);
    return head + shortened + kMark + tail;
}

void CActivityLog::LogFitted(const std::string& head, const std::string& middle,
                             const std::string& tail) {
    Write(Fit(head, middle, tail));
}

std::string CActivityLog::Escaped(const std::string& storeText) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(storeText.size());
    for (char c : storeText) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

void CActivityLog::LogLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogLineV(format, args);
    va_end(args);
}

void CActivityLog::LogLineV(const char* format, va_list args) {
    // One byte more than a line may hold, so a longer one is seen and cut
    // at a character boundary rather than blindly by vsnprintf.
    char buffer[kMaxLine + 2];
    if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0) return;
    Write(Cut(buffer));
}

void CActivityLog::Write(const std::string& line) {
    m_host.AppendActivityLine(line);
    if (m_file) {
        std::fputs(line.c_str(), m_file.get());
        std::fputc('\n', m_file.get());
        std::fflush(m_file.get());
    }
}

}  // namespace quirnel
