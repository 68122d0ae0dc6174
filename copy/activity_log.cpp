// Formats activity lines and writes them to the host's list and the log file.
#include "activity_log.h"

#include <cstdarg>

#include "copy_host.h"

namespace quirnel {

bool CActivityLog::Open(const std::string& path) {
    m_file.reset(std::fopen(path.c_str(), "a"));
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
