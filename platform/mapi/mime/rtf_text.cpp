// Reading text out of RTF: the de-encapsulation of HTML after [MS-OXRTFEX]
// section 2, and plain text for bodies that never were HTML.
//
// The reader walks the RTF once as tokens (groups, control words, control
// symbols, text) and keeps per group whether its text is shown. HTML mode
// shows the text of \*\htmltag groups and the text outside \htmlrtf ...
// \htmlrtf0 runs; text mode shows what is not inside a destination.
#include <cctype>
#include <cstdlib>
#include <vector>

#include <glib.h>

#include "mime/rtf.h"

namespace mapi::mime {

namespace {

struct GroupState {
    bool skip = false;      // a destination whose text is not shown
    bool suppress = false;  // inside \htmlrtf (HTML mode)
    bool htmlTag = false;   // a \*\htmltag group (HTML mode)
    int unicodeSkip = 1;    // \ucN: characters that stand in for each \uN
};

// Destinations never shown in either mode.
bool IsHiddenDestination(std::string_view word) {
    static const char* const kHidden[] = {
        "fonttbl", "colortbl", "stylesheet", "info", "pict", "object", "header", "footer",
        "headerl", "headerr", "footerl", "footerr", "listtable", "listoverridetable",
        "rsidtbl", "generator", "xmlnstbl", "themedata", "datastore", "latentstyles"};
    for (const char* h : kHidden)
        if (word == h) return true;
    return false;
}

class RtfReader {
public:
    RtfReader(std::string_view rtf, bool html) : rtf_(rtf), html_(html) {}

    std::string Run() {
        std::vector<GroupState> stack{GroupState{}};
        bool groupStart = false;  // the last token opened a group
        bool starred = false;     // \* seen at the start of this group
        int pendingSkip = 0;      // characters after \uN still to drop
        size_t i = 0;
        while (i < rtf_.size()) {
            const char c = rtf_[i];
            if (c == '{') {
                Flush();
                stack.push_back(stack.back());
                stack.back().htmlTag = false;
                groupStart = true;
                starred = false;
                ++i;
                continue;
            }
            if (c == '}') {
                Flush();
                if (stack.size() > 1) stack.pop_back();
                groupStart = false;
                ++i;
                continue;
            }
            if (c == '\r' || c == '\n') {
                ++i;
                continue;
            }
            GroupState& g = stack.back();
            if (c != '\\') {
                if (pendingSkip > 0) {
                    --pendingSkip;
                } else {
                    Flush();
                    if (Shown(g)) out_.push_back(c);
                }
                groupStart = false;
                ++i;
                continue;
            }
            // A control word or symbol.
            if (i + 1 >= rtf_.size()) break;
            const char next = rtf_[i + 1];
            if (!std::isalpha(static_cast<unsigned char>(next))) {
                i += 2;
                switch (next) {
                    case '*':
                        if (groupStart) starred = true;
                        continue;
                    case '\'': {
                        if (i + 2 > rtf_.size()) return out_;
                        const std::string hex(rtf_.substr(i, 2));
                        i += 2;
                        char* end = nullptr;
                        const long value = std::strtol(hex.c_str(), &end, 16);
                        if (end != hex.c_str() + 2) continue;
                        if (pendingSkip > 0) {
                            --pendingSkip;
                        } else if (Shown(g)) {
                            bytes_.push_back(static_cast<char>(value));
                        }
                        continue;
                    }
                    case '\r':
                    case '\n':
                        Emit(g, "\r\n");
                        continue;
                    case '~':
                        Emit(g, "\xC2\xA0");
                        continue;
                    case '_':
                        Emit(g, "-");
                        continue;
                    case '-':
                        continue;
                    default:
                        Emit(g, std::string(1, next));
                        continue;
                }
            }
            size_t start = ++i;
            while (i < rtf_.size() && std::isalpha(static_cast<unsigned char>(rtf_[i]))) ++i;
            const std::string_view word = rtf_.substr(start, i - start);
            bool hasParam = false;
            long param = 0;
            size_t paramStart = i;
            if (i < rtf_.size() && (rtf_[i] == '-' || std::isdigit(static_cast<unsigned char>(rtf_[i])))) {
                ++i;
                while (i < rtf_.size() && std::isdigit(static_cast<unsigned char>(rtf_[i])) &&
                       i - paramStart < 10)
                    ++i;
                param = std::strtol(std::string(rtf_.substr(paramStart, i - paramStart)).c_str(),
                                    nullptr, 10);
                hasParam = true;
            }
            if (i < rtf_.size() && rtf_[i] == ' ') ++i;
            Control(stack, word, hasParam, param, groupStart, starred, &pendingSkip);
            groupStart = false;
        }
        Flush();
        return out_;
    }

    bool SawFromHtml() const { return fromHtml_; }

private:
    bool Shown(const GroupState& g) const {
        if (g.skip) return false;
        if (html_) return g.htmlTag || !g.suppress;
        return true;
    }

    void Emit(const GroupState& g, const std::string& text) {
        Flush();
        if (Shown(g)) out_ += text;
    }

    // \'hh bytes are text in the document's code page; they are turned into
    // UTF-8 a run at a time so double-byte code pages come out whole.
    void Flush() {
        if (bytes_.empty()) return;
        gsize written = 0;
        gchar* converted = g_convert_with_fallback(bytes_.data(), static_cast<gssize>(bytes_.size()),
                                                   "UTF-8", charset_.c_str(), "?", nullptr,
                                                   &written, nullptr);
        if (converted != nullptr) {
            out_.append(converted, written);
            g_free(converted);
        } else {
            for (unsigned char b : bytes_) {
                if (b < 0x80) {
                    out_.push_back(static_cast<char>(b));
                } else {  // Latin-1 as the last resort
                    out_.push_back(static_cast<char>(0xC0 | (b >> 6)));
                    out_.push_back(static_cast<char>(0x80 | (b & 0x3F)));
                }
            }
        }
        bytes_.clear();
    }

    void Control(std::vector<GroupState>& stack, std::string_view word, bool hasParam, long param,
                 bool groupStart, bool starred, int* pendingSkip) {
        GroupState& g = stack.back();
        if (word == "fromhtml" && param == 1) fromHtml_ = true;
        if (word == "ansicpg" && hasParam && param > 0)
            charset_ = "CP" + std::to_string(param);
        if (groupStart) {
            if (html_ && word == "htmltag" && starred) {
                g.htmlTag = true;
                return;
            }
            if (starred || IsHiddenDestination(word)) {
                g.skip = true;
                return;
            }
        }
        if (word == "htmlrtf") {
            g.suppress = !hasParam || param != 0;
            return;
        }
        if (word == "uc" && hasParam) {
            g.unicodeSkip = static_cast<int>(param < 0 ? 0 : param > 8 ? 8 : param);
            return;
        }
        if (word == "u" && hasParam) {
            Flush();
            unsigned long cp = static_cast<unsigned long>(param < 0 ? param + 65536 : param);
            if (Shown(g) && cp > 0 && cp < 0x110000) {
                char buffer[8];
                const int n = g_unichar_to_utf8(static_cast<gunichar>(cp), buffer);
                out_.append(buffer, static_cast<size_t>(n));
            }
            *pendingSkip = g.unicodeSkip;
            return;
        }
        if (word == "par" || word == "line") Emit(g, "\r\n");
        else if (word == "tab") Emit(g, "\t");
        else if (word == "lquote") Emit(g, "\xE2\x80\x98");
        else if (word == "rquote") Emit(g, "\xE2\x80\x99");
        else if (word == "ldblquote") Emit(g, "\xE2\x80\x9C");
        else if (word == "rdblquote") Emit(g, "\xE2\x80\x9D");
        else if (word == "bullet") Emit(g, "\xE2\x80\xA2");
        else if (word == "emdash") Emit(g, "\xE2\x80\x94");
        else if (word == "endash") Emit(g, "\xE2\x80\x93");
    }

    std::string_view rtf_;
    bool html_;
    bool fromHtml_ = false;
    std::string charset_ = "CP1252";
    std::string bytes_;
    std::string out_;
};

}  // namespace

bool HtmlFromRtf(std::string_view rtf, std::string* html) {
    // [MS-OXRTFEX] 2.1.3: \fromhtml1 must come in the header, before any
    // text; looking at the first kilobyte is enough and cheap.
    if (rtf.substr(0, 1024).find("\\fromhtml1") == std::string_view::npos) return false;
    RtfReader reader(rtf, true);
    *html = reader.Run();
    return reader.SawFromHtml();
}

std::string TextFromRtf(std::string_view rtf) {
    RtfReader reader(rtf, false);
    return reader.Run();
}

}  // namespace mapi::mime
