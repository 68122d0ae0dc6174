// Limits on what one message may ask of the reader. GMime keeps a header
// field whole in memory several times over (raw, unfolded, decoded, and
// again in the transport headers), and builds the MIME part tree in
// recursion; a field of a hundred megabytes or a tree of thousands of
// nested parts would cost many times the message. The bytes are looked at
// before GMime sees them, line by line, without a parse.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mapi::mime {

// One header field, its folded lines included.
constexpr size_t kMaxHeaderField = 1 << 20;
// Multipart containers in one message (each adds a level or a sibling
// to the tree).
constexpr size_t kMaxMultiparts = 256;

struct BoundedBytes {
    // The bytes to parse: the input itself when it is within the limits,
    // else a view of kept.
    std::string_view bytes;
    std::string kept;
    // One line per limit met, for the item's conversion notes.
    std::vector<std::string> notes;
};

// A header field longer than kMaxHeaderField is left out (the rest of its
// header stays); the message is cut before the header field that declares
// a multipart beyond kMaxMultiparts, keeping what came before. Header
// blocks are the message's own, those after a line that starts with "--"
// (a part's) and those after a message/rfc822 part's header.
void BoundMessage(std::string_view bytes, BoundedBytes* out);

}  // namespace mapi::mime
