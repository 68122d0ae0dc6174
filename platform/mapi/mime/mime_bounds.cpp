// The line-by-line look at a message before it is parsed.
#include "mime/mime_bounds.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace mapi::mime {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// The value of a header field that starts with name (lower case, with
// the colon), blanks before it skipped; empty when it is another field.
std::string_view ValueOf(std::string_view field, std::string_view name) {
    if (!StartsWithNoCase(field, name)) return {};
    field.remove_prefix(name.size());
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
    return field;
}

struct Range {
    size_t begin, end;
};

}  // namespace

void BoundMessage(std::string_view bytes, BoundedBytes* out) {
    out->notes.clear();
    out->kept.clear();
    std::vector<Range> dropped;
    size_t cut = bytes.size();
    size_t multiparts = 0;
    bool inHeader = true;
    bool nextIsMessage = false;  // the header block in hand is a message/rfc822 part's
    size_t fieldStart = std::string_view::npos;

    // Ends the field that began at fieldStart where the next line begins.
    auto endField = [&](size_t end) {
        if (fieldStart == std::string_view::npos) return;
        const std::string_view field = bytes.substr(fieldStart, end - fieldStart);
        fieldStart = std::string_view::npos;
        if (field.size() > kMaxHeaderField) {
            dropped.push_back({end - field.size(), end});
            const size_t colon = std::min<size_t>(field.find(':'), 64);
            std::string name(field.substr(0, colon));
            for (char& c : name)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
            out->notes.push_back("A header field \"" + name + "\" of " +
                                 std::to_string(field.size()) + " bytes was left out (longer than " +
                                 std::to_string(kMaxHeaderField) + " bytes)");
            return;
        }
        std::string_view type = ValueOf(field, "content-type:");
        if (StartsWithNoCase(type, "message/rfc822")) nextIsMessage = true;
        if (StartsWithNoCase(type, "multipart/") && ++multiparts > kMaxMultiparts &&
            cut == bytes.size()) {
            cut = end - field.size();
            out->notes.push_back("The message was cut after its first " +
                                 std::to_string(kMaxMultiparts) +
                                 " multipart parts; the parts after them were left out");
        }
    };

    for (size_t at = 0; at < bytes.size() && at < cut;) {
        const size_t nl = bytes.find('\n', at);
        const size_t next = nl == std::string_view::npos ? bytes.size() : nl + 1;
        std::string_view line = bytes.substr(at, next - at);
        if (inHeader) {
            const bool blank = line == "\n" || line == "\r\n" || line == "\r";
            const bool folded = !line.empty() && (line[0] == ' ' || line[0] == '\t');
            if (!folded) endField(at);
            if (blank) {
                inHeader = nextIsMessage;
                nextIsMessage = false;
            } else if (!folded) {
                fieldStart = at;
            }
        } else if (line.size() >= 2 && line[0] == '-' && line[1] == '-') {
            inHeader = true;
        }
        at = next;
    }
    if (inHeader && cut == bytes.size()) endField(bytes.size());

    if (dropped.empty() && cut == bytes.size()) {
        out->bytes = bytes;
        return;
    }
    size_t at = 0;
    for (const Range& r : dropped) {
        if (r.begin >= cut) break;
        out->kept.append(bytes.substr(at, r.begin - at));
        at = r.end;
    }
    if (at < cut) out->kept.append(bytes.substr(at, cut - at));
    out->bytes = out->kept;
}

}  // namespace mapi::mime
