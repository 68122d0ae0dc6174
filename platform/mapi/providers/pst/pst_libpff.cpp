// Text of libpff errors for messages to the user.
#include "providers/pst/pst_libpff.h"

namespace mapi::pst {

std::string PffError::Text() const {
    if (error_ == nullptr) return {};
    char buffer[1024] = {};
    if (libpff_error_sprint(error_, buffer, sizeof buffer) < 0) return "unknown libpff error";
    std::string text(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace mapi::pst
