// The guard below libetpan: IMAP framing with its limits, and the guard
// on a real socket, where libetpan's own reading meets it.
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <libetpan/libetpan.h>

#include "providers/imap/imap_stream_guard.h"

namespace mapi::imap {
namespace {

// Feeds text whole and byte by byte; both must agree.
StreamFault FeedAll(const std::string& text, size_t maxLine, uint64_t maxLiteral) {
    ResponseFraming whole(maxLine, maxLiteral);
    ResponseFraming bytes(maxLine, maxLiteral);
    const StreamFault once = whole.Feed(text.data(), text.size());
    StreamFault each = StreamFault::kNone;
    for (char c : text) each = bytes.Feed(&c, 1);
    EXPECT_EQ(once, each) << text;
    return once;
}

TEST(ImapStreamGuard, LinesAreBoundedLiteralsAreNotLinesAndBadFlagListsAreStopped) {
    const std::string body(200, 'x');  // no LF: longer than a line may be
    const std::string fetch = "* 1 FETCH (UID 7 BODY[] {200}\r\n" + body + ")\r\nA1 OK\r\n";
    EXPECT_EQ(FeedAll(fetch, 64, 1000), StreamFault::kNone);
    EXPECT_EQ(FeedAll("* 1 FETCH (BODY[] {200+}\r\n" + body + ")\r\n", 64, 1000),
              StreamFault::kNone);
    // The same bytes not announced as a literal are one long line.
    EXPECT_EQ(FeedAll("* OK " + body + "\r\n", 64, 1000), StreamFault::kLineTooLong);
    // A "{N}" inside a line announces nothing; one too large is refused
    // before its first byte, however many digits it has.
    EXPECT_EQ(FeedAll("* OK {5} x\r\n" + std::string(60, 'y') + "\r\n", 64, 1000),
              StreamFault::kNone);
    EXPECT_EQ(FeedAll("* 1 FETCH (BODY[] {1001}\r\n", 64, 1000), StreamFault::kLiteralTooLong);
    EXPECT_EQ(FeedAll("* 1 FETCH (BODY[] {99999999999999999999999}\r\n", 64, 1000),
              StreamFault::kLiteralTooLong);

    // After a greeting; in the greeting itself neither code may come.
    const std::string hello = "* OK [CAPABILITY IMAP4rev1] hi\r\n";
    for (const char* good :
         {"* OK [PERMANENTFLAGS (\\Seen \\Deleted $Junk \\*)] ok\r\n",
          "* OK [PERMANENTFLAGS ()] ok\r\n", "A2 OK [permanentflags ( \\Seen)] ok\r\n",
          "* LIST () \"/\" \"[PERMANENT\"\r\n", "A3 NO [BADCHARSET (UTF-8)] no\r\n"})
        EXPECT_EQ(FeedAll(hello + good, 1000, 1000), StreamFault::kNone) << good;
    for (const char* bad : {"* OK [PERMANENTFLAGS (\r\n", "* OK [PERMANENTFLAGS (\\)]\r\n",
                            "* OK [PERMANENTFLAGS  (\\Seen)]\r\n", "* OK [PERMANENTFLAGS]\r\n",
                            "A2 OK [PermanentFlags ({3}\r\n"})
        EXPECT_EQ(FeedAll(hello + bad, 1000, 1000), StreamFault::kMalformed) << bad;
    for (const char* greeting :
         {"* OK [PERMANENTFLAGS (\\Seen)] hi\r\n", "* PREAUTH [BADCHARSET (x)] hi\r\n"})
        EXPECT_EQ(FeedAll(greeting, 1000, 1000), StreamFault::kMalformed) << greeting;
}

// One end of a socket pair as libetpan's guarded stream, the other as the
// server.
class GuardedSocket {
public:
    GuardedSocket() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        server_ = fds[1];
        low_ = mailstream_low_socket_open(fds[0]);
        mailstream_low_set_timeout(low_, 1);
        EXPECT_TRUE(GuardStream(low_, 64, 1000));
        stream_ = mailstream_new(low_, 16);  // small, so reads are many
        buffer_ = mmap_string_new("");
    }
    ~GuardedSocket() {
        mmap_string_free(buffer_);
        mailstream_close(stream_);
        if (server_ >= 0) ::close(server_);
    }
    void Send(const std::string& text) {
        ASSERT_EQ(::write(server_, text.data(), text.size()), ssize_t(text.size()));
    }
    void Hang() {
        ::close(server_);
        server_ = -1;
    }
    // True when the whole text went out.
    bool Write(const std::string& text) {
        return mailstream_write(stream_, text.data(), text.size()) == ssize_t(text.size()) &&
               mailstream_flush(stream_) == 0;
    }
    bool ReadLine() { return mailstream_read_line_remove_eol(stream_, buffer_) != nullptr; }
    std::string Line() const { return std::string(buffer_->str, buffer_->len); }
    StreamFault Fault() const { return LastStreamFault(low_); }

private:
    int server_ = -1;
    mailstream_low* low_ = nullptr;
    mailstream* stream_ = nullptr;
    MMAPString* buffer_ = nullptr;
};

TEST(ImapStreamGuard, OnASocketItTellsSilenceFromClosingAndStopsALongLine) {
    {
        GuardedSocket s;
        s.Send("* OK hello\r\n");
        ASSERT_TRUE(s.ReadLine());
        EXPECT_EQ(s.Line(), "* OK hello");
        EXPECT_FALSE(s.ReadLine());  // nothing more within the second
        EXPECT_EQ(s.Fault(), StreamFault::kTimedOut);
    }
    {
        GuardedSocket s;
        s.Hang();
        // libetpan gives an empty line at the end of the stream.
        EXPECT_TRUE(!s.ReadLine() || s.Line().empty());
        EXPECT_EQ(s.Fault(), StreamFault::kClosed);
        // Into a connection the server closed: a failed write, not SIGPIPE
        // (which this test program does not ignore).
        EXPECT_FALSE(s.Write("A1 LOGOUT\r\n"));
    }
    {
        GuardedSocket s;
        s.Send("* OK " + std::string(100, 'z') + "\r\n");
        EXPECT_FALSE(s.ReadLine());
        EXPECT_EQ(s.Fault(), StreamFault::kLineTooLong);
    }
}

TEST(ImapStreamGuard, CapabilityAnsweredWithoutDataLeavesTheSessionAlive) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const std::string server = "* OK hi\r\n1 OK no data\r\n";
    ASSERT_EQ(::write(fds[1], server.data(), server.size()), ssize_t(server.size()));
    mailstream_low* low = mailstream_low_socket_open(fds[0]);
    mailstream_low_set_timeout(low, 1);
    ASSERT_TRUE(GuardStream(low));
    mailimap* session = mailimap_new(0, nullptr);
    ASSERT_EQ(mailimap_connect(session, mailstream_new(low, 8192)),
              MAILIMAP_NO_ERROR_NON_AUTHENTICATED);
    // mailimap_capability alone dereferences a null list here.
    EXPECT_EQ(AskCapabilities(session), MAILIMAP_NO_ERROR);
    mailstream_close(session->imap_stream);
    session->imap_stream = nullptr;
    mailimap_free(session);
    ::close(fds[1]);
}

}  // namespace
}  // namespace mapi::imap
