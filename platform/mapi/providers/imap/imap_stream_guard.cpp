// The guard between libetpan's buffered stream and its socket driver.
#include "providers/imap/imap_stream_guard.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string_view>

namespace mapi::imap {

namespace {

// ATOM-CHAR of RFC 3501: no atom-specials.
bool IsAtomChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
    return std::strchr("(){%*\"\\]", c) == nullptr;
}

}  // namespace

bool ResponseFraming::CodeOk(char c) {
    switch (code_) {
        case Code::kWatch:
            break;
        case Code::kName: {
            if (std::isalpha(static_cast<unsigned char>(c)) || c == '-') {
                if (nameLength_ < sizeof name_)
                    name_[nameLength_++] = static_cast<char>(std::toupper(c));
                else
                    code_ = Code::kWatch;
                return true;
            }
            code_ = Code::kWatch;
            const std::string_view name(name_, nameLength_);
            if (name != "PERMANENTFLAGS" && name != "BADCHARSET") break;
            if (greeting_) return false;
            if (name == "PERMANENTFLAGS") {
                code_ = Code::kParen;
                return c == ' ';
            }
            break;
        }
        case Code::kParen:
            code_ = Code::kFirst;
            return c == '(';
        case Code::kFirst:
            if (c == ' ') return true;
            if (c == '\\') {
                code_ = Code::kAfterBackslash;
                return true;
            }
            code_ = Code::kWatch;
            return c == ')' || IsAtomChar(c);
        case Code::kAfterBackslash:
            code_ = Code::kWatch;
            return c == '*' || IsAtomChar(c);
    }
    if (c == '[') {
        code_ = Code::kName;
        nameLength_ = 0;
    }
    return true;
}

StreamFault ResponseFraming::Feed(const char* data, size_t n) {
    size_t i = 0;
    while (i < n && fault_ == StreamFault::kNone) {
        if (literalLeft_ > 0) {
            const uint64_t take = std::min<uint64_t>(literalLeft_, n - i);
            literalLeft_ -= take;
            i += static_cast<size_t>(take);
            continue;
        }
        const char c = data[i++];
        if (++lineBytes_ > maxLine_) {
            fault_ = StreamFault::kLineTooLong;
            break;
        }
        if (!CodeOk(c)) {
            fault_ = StreamFault::kMalformed;
            break;
        }
        if (c == '\n') {
            if (brace_ == Brace::kClosed) {
                if (announced_ > maxLiteral_) {
                    fault_ = StreamFault::kLiteralTooLong;
                    break;
                }
                literalLeft_ = announced_;
            }
            lineBytes_ = 0;
            brace_ = Brace::kNone;
            code_ = Code::kWatch;
            greeting_ = false;
        } else if (c == '\r') {
            // The CR of CRLF keeps a "{N}" just before it.
        } else if (c == '{') {
            brace_ = Brace::kDigits;
            digits_ = false;
            announced_ = 0;
        } else if (brace_ == Brace::kDigits && c >= '0' && c <= '9') {
            digits_ = true;
            // Saturates past the limit: a longer number is refused anyway.
            if (announced_ <= maxLiteral_) announced_ = announced_ * 10 + uint64_t(c - '0');
        } else if (brace_ == Brace::kDigits && digits_ && c == '+') {
            brace_ = Brace::kPlus;
        } else if ((brace_ == Brace::kDigits && digits_) || brace_ == Brace::kPlus) {
            brace_ = c == '}' ? Brace::kClosed : Brace::kNone;
        } else {
            brace_ = Brace::kNone;
        }
    }
    return fault_;
}

namespace {

// What a guarded stream keeps: the driver and data it replaced, the framing
// of what came so far and why the last read failed.
struct Guard {
    Guard(mailstream_low_driver* d, void* p, size_t maxLine, uint64_t maxLiteral)
        : driver(d), data(p), framing(maxLine, maxLiteral) {}
    mailstream_low_driver* driver;
    void* data;
    ResponseFraming framing;
    StreamFault fault = StreamFault::kNone;
};

extern mailstream_low_driver g_guardDriver;

// Gives the stream its own driver and data back for one call: the socket
// and TLS drivers find their state through s->data.
class Unwrapped {
public:
    explicit Unwrapped(mailstream_low* s) : s_(s), guard_(static_cast<Guard*>(s->data)) {
        s_->data = guard_->data;
        s_->driver = guard_->driver;
    }
    ~Unwrapped() {
        if (s_ == nullptr) return;
        // The call may have changed the driver's data pointer (it never has,
        // but what it left is what it owns).
        guard_->data = s_->data;
        s_->data = guard_;
        s_->driver = &g_guardDriver;
    }
    Unwrapped(const Unwrapped&) = delete;
    Unwrapped& operator=(const Unwrapped&) = delete;
    Guard* guard() const { return guard_; }
    mailstream_low_driver* driver() const { return guard_->driver; }
    // The call freed the stream: nothing is put back.
    void Forget() { s_ = nullptr; }

private:
    mailstream_low* s_;
    Guard* guard_;
};

ssize_t GuardRead(mailstream_low* s, void* buf, size_t count) {
    Unwrapped u(s);
    Guard* g = u.guard();
    if (g->fault != StreamFault::kNone && g->fault != StreamFault::kTimedOut) return -1;
    const auto started = std::chrono::steady_clock::now();
    errno = 0;
    const ssize_t r = u.driver()->mailstream_read(s, buf, count);
    if (r > 0) {
        g->fault = g->framing.Feed(static_cast<const char*>(buf), static_cast<size_t>(r));
        return g->fault == StreamFault::kNone ? r : -1;
    }
    if (r == 0 || errno == ECONNRESET) {
        // libetpan parses what it holds of a line cut by the end of the
        // stream, and crashes on some cut lines (a PERMANENTFLAGS code cut
        // after its parenthesis, found by fuzzing): the end is a failure,
        // and what came before it is not parsed.
        g->fault = StreamFault::kClosed;
        return -1;
    } else {
        // The drivers say -1 for a timeout as for a failure; the clock
        // tells them apart.
        const time_t wait = mailstream_low_get_timeout(s);
        const auto waited = std::chrono::steady_clock::now() - started;
        g->fault = wait > 0 && waited >= std::chrono::seconds(wait) - std::chrono::milliseconds(200)
                       ? StreamFault::kTimedOut
                       : StreamFault::kBroken;
    }
    return r;
}

// A plain socket is written here, with MSG_NOSIGNAL: libetpan's own send
// would raise SIGPIPE when the server has gone, and end a host that did
// not ignore it. TLS writes stay with GnuTLS.
ssize_t SendNoSignal(int fd, const void* buf, size_t count, time_t wait) {
    pollfd p{fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, static_cast<int>(wait > 0 ? wait * 1000 : -1));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    ssize_t r = 0;
    do {
        r = ::send(fd, buf, count, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t GuardWrite(mailstream_low* s, const void* buf, size_t count) {
    Unwrapped u(s);
    const int fd = u.driver()->mailstream_get_fd(s);
    errno = 0;
    const ssize_t r = u.driver() == mailstream_socket_driver && fd >= 0
                          ? SendNoSignal(fd, buf, count, mailstream_low_get_timeout(s))
                          : u.driver()->mailstream_write(s, buf, count);
    // A server that closed before it read our command: the same as one
    // that closed before it answered.
    if (r < 0 && (errno == EPIPE || errno == ECONNRESET) && u.guard()->fault == StreamFault::kNone)
        u.guard()->fault = StreamFault::kClosed;
    return r;
}

int GuardClose(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_close(s);
}

int GuardGetFd(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_get_fd(s);
}

void GuardFree(mailstream_low* s) {
    Unwrapped u(s);
    Guard* g = u.guard();
    // The driver's free releases s itself.
    u.driver()->mailstream_free(s);
    u.Forget();
    delete g;
}

void GuardCancel(mailstream_low* s) {
    Unwrapped u(s);
    if (u.driver()->mailstream_cancel != nullptr) u.driver()->mailstream_cancel(s);
}

struct mailstream_cancel* GuardGetCancel(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_get_cancel != nullptr ? u.driver()->mailstream_get_cancel(s)
                                                        : nullptr;
}

carray* GuardCertificates(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_get_certificate_chain != nullptr
               ? u.driver()->mailstream_get_certificate_chain(s)
               : nullptr;
}

int GuardSetupIdle(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_setup_idle != nullptr ? u.driver()->mailstream_setup_idle(s)
                                                        : -1;
}

int GuardUnsetupIdle(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_unsetup_idle != nullptr ? u.driver()->mailstream_unsetup_idle(s)
                                                          : -1;
}

int GuardInterruptIdle(mailstream_low* s) {
    Unwrapped u(s);
    return u.driver()->mailstream_interrupt_idle != nullptr
               ? u.driver()->mailstream_interrupt_idle(s)
               : -1;
}

mailstream_low_driver g_guardDriver = {
    GuardRead,      GuardWrite,        GuardClose,       GuardGetFd,
    GuardFree,      GuardCancel,       GuardGetCancel,   GuardCertificates,
    GuardSetupIdle, GuardUnsetupIdle,  GuardInterruptIdle,
};

}  // namespace

bool GuardStream(mailstream_low* low, size_t maxLine, uint64_t maxLiteral) {
    if (low == nullptr) return false;
    if (low->driver == &g_guardDriver) return true;
    auto* guard = new (std::nothrow) Guard(low->driver, low->data, maxLine, maxLiteral);
    if (guard == nullptr) return false;
    low->data = guard;
    low->driver = &g_guardDriver;
    return true;
}

int AskCapabilities(mailimap* session) {
    mailimap_connection_info* info = session->imap_connection_info;
    if (info == nullptr) return MAILIMAP_ERROR_BAD_STATE;
    if (info->imap_capability == nullptr) {
        clist* none = clist_new();
        info->imap_capability = none != nullptr ? mailimap_capability_data_new(none) : nullptr;
        if (info->imap_capability == nullptr) {
            if (none != nullptr) clist_free(none);
            return MAILIMAP_ERROR_MEMORY;
        }
    }
    mailimap_capability_data* caps = nullptr;
    const int r = mailimap_capability(session, &caps);
    if (caps != nullptr) mailimap_capability_data_free(caps);
    return r;
}

StreamFault LastStreamFault(mailstream_low* low) {
    if (low == nullptr || low->driver != &g_guardDriver) return StreamFault::kNone;
    return static_cast<Guard*>(low->data)->fault;
}

}  // namespace mapi::imap
