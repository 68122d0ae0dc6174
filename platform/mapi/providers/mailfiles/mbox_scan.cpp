// Splitting an mbox file into messages and quoting messages into one.
#include "providers/mailfiles/mbox_scan.h"

#include <string_view>

namespace mapi::mailfiles {

namespace {

bool StartsWithFrom(const std::string& text, size_t at) {
    return text.compare(at, 5, "From ") == 0;
}

}  // namespace

void MboxScanner::Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i, ++offset_) {
        const char c = data[i];
        if (lineStart_) {
            line_.clear();
            lineStart_ = false;
        }
        if (line_.size() < 5) {
            line_.push_back(c);
            if (line_ == "From ") starts_.push_back(offset_ - 4);
        }
        // Anything but blanks before the first "From " is text that
        // belongs to no message.
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        const bool fromSoFar =
            line_.size() <= 5 && std::string_view("From ").substr(0, line_.size()) == line_;
        if (starts_.empty() && !blank && !fromSoFar) text_ = true;
        if (c == '\n') lineStart_ = true;
    }
}

MboxScanner::Layout MboxScanner::Finish() const {
    Layout layout;
    layout.size = offset_;
    layout.starts = starts_;
    if (text_) {
        layout.starts.insert(layout.starts.begin(), 0);
        layout.garbage = true;
    }
    for (size_t i = 0; i < layout.starts.size(); ++i)
        layout.ends.push_back(i + 1 < layout.starts.size() ? layout.starts[i + 1] : offset_);
    return layout;
}

bool IsQuotedFromLine(const std::string& text, size_t at) {
    while (at < text.size() && text[at] == '>') ++at;
    return StartsWithFrom(text, at);
}

std::string MboxQuote(const std::string& message) {
    std::string out;
    out.reserve(message.size() + 64);
    size_t at = 0;
    while (at < message.size()) {
        size_t nl = message.find('\n', at);
        const size_t end = nl == std::string::npos ? message.size() : nl + 1;
        if (IsQuotedFromLine(message, at)) out.push_back('>');
        out.append(message, at, end - at);
        at = end;
    }
    if (out.empty() || out.back() != '\n') out.push_back('\n');
    out.push_back('\n');  // the blank line before the next "From "
    return out;
}

std::string MboxUnquote(const std::string& text, uint64_t start, uint64_t end) {
    size_t at = static_cast<size_t>(start);
    if (StartsWithFrom(text, at)) {
        size_t nl = text.find('\n', at);
        at = nl == std::string::npos || nl >= end ? end : nl + 1;
    }
    size_t stop = static_cast<size_t>(end);
    if (stop >= at + 2 && text[stop - 1] == '\n' && text[stop - 2] == '\n') --stop;
    std::string out;
    out.reserve(stop - at);
    while (at < stop) {
        size_t nl = text.find('\n', at);
        const size_t lineEnd = nl == std::string::npos || nl >= stop ? stop : nl + 1;
        if (text[at] == '>' && IsQuotedFromLine(text, at)) ++at;
        out.append(text, at, lineEnd - at);
        at = lineEnd;
    }
    return out;
}

}  // namespace mapi::mailfiles
