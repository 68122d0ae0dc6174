// How an mbox file splits into messages, and how a message is quoted into
// one and taken out again (mboxrd: a line that starts with any number of
// '>' and "From " gets one more '>' on the way in, loses one on the way
// out). Pure functions over bytes, so that the file code stays thin and the
// splitting can be fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mapi::mailfiles {

// Where the messages of an mbox file lie, found from its bytes fed in
// pieces of any size (an mbox export can be larger than memory). Every
// line that starts with "From " begins a message, as in every mbox reader;
// text other than blanks before the first one is kept as a damaged first
// item (garbage) rather than dropped.
class MboxScanner {
public:
    struct Layout {
        uint64_t size = 0;     // bytes fed
        bool garbage = false;  // starts[0] is 0 and begins no message
        // Message i is [starts[i], ends[i]); ends[i] is the next start, the
        // last one the end of the file.
        std::vector<uint64_t> starts, ends;
    };

    void Feed(const char* data, size_t size);
    // The layout of everything fed so far.
    Layout Finish() const;

private:
    std::vector<uint64_t> starts_;
    std::string line_;  // the start of the current line, up to 5 bytes
    bool lineStart_ = true;
    bool text_ = false;
    uint64_t offset_ = 0;
};

// "From " at at, after any number of '>'.
bool IsQuotedFromLine(const std::string& text, size_t at);

// message as it stands in the file after its "From " line: quoted lines
// get a '>', the text ends with a line break and then a blank line.
std::string MboxQuote(const std::string& message);

// The message in [start, end) of text: without its "From " line and the
// blank line that separates it from the next, one '>' taken from quoted
// "From " lines. MboxUnquote of a From line and MboxQuote(m) is m with a
// line break added when it ended without one.
std::string MboxUnquote(const std::string& text, uint64_t start, uint64_t end);

}  // namespace mapi::mailfiles
