// The activity log of a copy run: each entry is one line at the end of the
// host's activity list and, at the same moment, one line of the log file.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

namespace quirnel {

class CCopyHost;

// Owned by the copy engine and used by its worker thread alone.
class CActivityLog {
public:
    // Longest line in bytes; longer output is cut (see Write).
    static constexpr size_t kMaxLine = 511;

    explicit CActivityLog(CCopyHost& host) : m_host(host) {}
    CActivityLog(const CActivityLog&) = delete;
    CActivityLog& operator=(const CActivityLog&) = delete;

    // Opens path for appending (created when missing); closes a file opened
    // before. False when it cannot be opened: lines then go to the host alone.
    bool Open(const std::string& path);
    void Close() { m_file.reset(); }
    bool IsOpen() const { return static_cast<bool>(m_file); }

    // printf-style: texts from the stores must be arguments, never the format.
    // The line is cut after kMaxLine bytes (back to the start of a UTF-8
    // sequence that the cut would split), then handed to the host and
    // written to the file followed by "\n" and flushed. Write errors are
    // ignored: the log never stops a run.
    void LogLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogLineV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

    // The cut that LogLine applies, for lines built elsewhere.
    static std::string Cut(std::string line);

    // head + middle + tail as one line, with middle (a path or a subject)
    // shortened so that the tail (the reason) survives the cut; the
    // shortening is marked with "...".
    void LogFitted(const std::string& head, const std::string& middle, const std::string& tail);
    static std::string Fit(const std::string& head, const std::string& middle,
                           const std::string& tail);

    // A text from a store (folder name, subject) made safe for one line:
    // control characters (below 0x20 and 0x7F) are written \xHH, so that a
    // store can neither break a line in two nor drive a terminal.
    static std::string Escaped(const std::string& storeText);

private:
    void Write(const std::string& line);

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    CCopyHost& m_host;
    std::unique_ptr<std::FILE, FileCloser> m_file;
};

}  // namespace quirnel
