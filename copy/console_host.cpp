// Writes what the main dialog would show to the standard streams.
#include "console_host.h"

#include <utility>

namespace quirnel {

namespace {

// Erases the terminal line the cursor is on.
constexpr char kClearLine[] = "\r\033[K";

std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += ' ';
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            // A store name or a server's words must not drive the terminal.
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[c & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

CConsoleHost::CConsoleHost(ConsoleOptions options, std::atomic<bool>& stop,
                           std::atomic<bool>& interrupted, std::FILE* out, std::FILE* err)
    : m_options(std::move(options)),
      m_stop(stop),
      m_interrupted(interrupted),
      m_out(out),
      m_err(err) {}

void CConsoleHost::SetProgressText(const std::string& text) {
    const std::string shown = m_folder.empty() ? text : m_folder + ": " + text;
    if (!m_options.liveStatus) {
        if (!m_options.progress) return;
        std::fprintf(m_err, "%s\n", shown.c_str());
        std::fflush(m_err);
        return;
    }
    m_status = shown;
    ShowStatus();
}

void CConsoleHost::AppendActivityLine(const std::string& line) {
    HideStatus();
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
    ShowStatus();
}

void CConsoleHost::ShowMessageBox(const std::string& caption, const std::string& text) {
    HideStatus();
    const std::string& shown = caption.empty() ? m_options.appName : caption;
    std::fprintf(m_err, "%s: %s\n", OneLine(shown).c_str(), OneLine(text).c_str());
    std::fflush(m_err);
    ShowStatus();
}

void CConsoleHost::FinishStatus() {
    if (m_statusShown) {
        std::fputc('\n', m_err);
        std::fflush(m_err);
        m_statusShown = false;
    }
}

void CConsoleHost::HideStatus() {
    if (!m_statusShown) return;
    std::fputs(kClearLine, m_err);
    std::fflush(m_err);
    m_statusShown = false;
}

void CConsoleHost::ShowStatus() {
    if (!m_options.liveStatus || m_status.empty()) return;
    std::fprintf(m_err, "%s%s", kClearLine, m_status.c_str());
    std::fflush(m_err);
    m_statusShown = true;
}

}  // namespace quirnel
