// What a server may send on one connection, enforced below libetpan.
//
// libetpan gathers a protocol line into one growing buffer until it sees
// its end, so a server that never ends a line grows the process without
// bound. The guard sits between libetpan's buffered stream and its socket
// (or TLS) driver and reads the same bytes libetpan reads: a line outside
// a literal longer than the line limit, or a literal ("{N}" at a line's
// end) larger than the literal limit, fails the read, and the connection
// is lost with a reason the caller can name. It also tells a read that
// waited its whole timeout from a server that closed the connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include <libetpan/libetpan.h>

namespace mapi::imap {

// Why a guarded stream stopped reading.
enum class StreamFault {
    kNone,
    kTimedOut,        // nothing came within the stream's timeout
    kClosed,          // the server closed the connection
    kBroken,          // the socket or TLS layer failed
    kLineTooLong,     // a line passed the line limit
    kLiteralTooLong,  // a literal announced more than the literal limit
    kMalformed,       // a form libetpan's parser is known to crash on
};

// The framing of the server's side of IMAP, byte by byte: lines, and
// literals announced by "{N}" or "{N+}" just before a line's end, whose N
// bytes belong to no line. Pure and allocation-free, so it is cheap enough
// for every byte and can be fuzzed alone.
//
// It also stops what libetpan 1.9 dereferences a null pointer on (found
// by fuzzing): a PERMANENTFLAGS response code whose flag list cannot be
// read from its first element on, and the list of a PERMANENTFLAGS or
// BADCHARSET code in the greeting, where neither belongs. Well-formed
// answers pass untouched.
class ResponseFraming {
public:
    ResponseFraming(size_t maxLine, uint64_t maxLiteral)
        : maxLine_(maxLine), maxLiteral_(maxLiteral) {}

    // Takes the next n bytes; kNone while they are within the limits, else
    // the limit they broke (and every later call says so again).
    StreamFault Feed(const char* data, size_t n);

    size_t LineBytes() const { return lineBytes_; }
    uint64_t LiteralLeft() const { return literalLeft_; }

private:
    enum class Brace { kNone, kDigits, kPlus, kClosed };
    // Looking for '[', reading a response code's name; after
    // "[PERMANENTFLAGS ": the parenthesis, the first element's first
    // byte, the byte after a backslash.
    enum class Code { kWatch, kName, kParen, kFirst, kAfterBackslash };

    bool CodeOk(char c);

    size_t maxLine_;
    uint64_t maxLiteral_;
    size_t lineBytes_ = 0;
    uint64_t literalLeft_ = 0;
    Brace brace_ = Brace::kNone;
    bool digits_ = false;
    uint64_t announced_ = 0;
    StreamFault fault_ = StreamFault::kNone;
    Code code_ = Code::kWatch;
    char name_[16] = {};
    size_t nameLength_ = 0;
    bool greeting_ = true;  // the first line is not over yet
};

// Lines of commands' answers (a UID SEARCH of a very large mailbox is the
// longest we ask for) stay far below this; messages come as literals.
constexpr size_t kMaxResponseLine = 16u << 20;
constexpr uint64_t kMaxResponseLiteral = uint64_t{1} << 30;

// Puts a guard between `low` and its driver; it lives as long as `low`
// (freed with it). Safe to call on a stream whose driver was replaced by
// libetpan since (STARTTLS): each call guards the driver it finds. False
// when memory ran out (the stream is left as it was).
bool GuardStream(mailstream_low* low, size_t maxLine = kMaxResponseLine,
                 uint64_t maxLiteral = kMaxResponseLiteral);

// CAPABILITY, as libetpan's mailimap_capability asks it, without its null
// dereference when a server answers OK but sent no capability data (it
// copies the session's list, which is then missing): the session keeps
// what it knew, or an empty list. A libetpan result code.
int AskCapabilities(mailimap* session);

// Why the guarded stream failed its last read; kNone when it did not, or
// when `low` is null or not guarded.
StreamFault LastStreamFault(mailstream_low* low);

}  // namespace mapi::imap
