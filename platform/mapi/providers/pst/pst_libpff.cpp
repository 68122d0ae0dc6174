// Text of libpff errors for messages to the user.
#include "providers/pst/pst_libpff.h"

namespace mapi::pst {

std::string PffError::Text() const {
    if (error_ == nullptr) return {};
    // The first entry of libpff's backtrace is the innermost cause ("mismatch
    // in file header checksum"); the rest only repeats where it was noticed.
    char buffer[4096] = {};
    if (libpff_error_backtrace_sprint(error_, buffer, sizeof buffer) < 0)
        return "unknown libpff error";
    std::string text(buffer);
    text = text.substr(0, text.find('\n'));
    if (size_t colon = text.find(": "); colon != std::string::npos) text = text.substr(colon + 2);
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "unknown libpff error" : text;
}

}  // namespace mapi::pst
