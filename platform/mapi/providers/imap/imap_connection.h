// One logged-in IMAP connection over libetpan, with the TLS and login
// policy of the platform, and a bounded reconnect for commands that lose
// the connection.
//
// TLS: imaps:// speaks TLS from the first byte; imap://...?starttls
// upgrades with STARTTLS and refuses a server that does not offer it;
// plain imap:// (only to a loopback address) stays without TLS. The server's certificate chain is checked against the
// system's authorities (or the PEM file in $QUIRNEL_IMAP_CA_FILE, which
// tests use for an authority of their own) and against the host name.
// Login: the LOGIN command, or SASL PLAIN, else SASL LOGIN, where the
// server allows no LOGIN (LOGINDISABLED).
//
// Bounds: connecting, the greeting and every answer have a timeout
// ($QUIRNEL_IMAP_WAIT_SECONDS shortens them all), and what the server sends
// is held to the line and literal limits of imap_stream_guard.h; a server
// that breaks one is named with what it did not do. The password lives in
// protected pages (imap_secret.h) from the first Ensure to the end.
//
// Not thread-safe: the store's lock serialises every use.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>

#include <mapidefs.h>

#include "providers/imap/imap_account.h"
#include "providers/imap/imap_secret.h"

struct mailimap;

namespace mapi::imap {

class Connection {
public:
    // Nothing is asked or sent before the first Ensure: the password comes
    // then (AccountPassword), so a store that is never used never asks.
    explicit Connection(Account account);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects and logs in when not connected. MAPI_E_LOGON_FAILED when no
    // password is to be had, the server refuses the login or TLS cannot be
    // trusted (said once on standard error, and final for this connection);
    // MAPI_E_NETWORK_ERROR when the server cannot be reached. *error says
    // which, in words. announce false: the caller says it, not stderr.
    HRESULT Ensure(std::string* error, bool announce = true);
    void Close();
    bool IsOpen() const { return session_ != nullptr; }

    // The session of an open connection.
    mailimap* Session() { return session_; }
    // The server's hierarchy delimiter (0 for a flat namespace).
    char Delimiter() const { return delimiter_; }
    bool HasCapability(const char* name) const;

    // The HRESULT for a libetpan result; a lost or garbled stream closes the
    // connection and gives MAPI_E_NETWORK_ERROR, a refused command
    // MAPI_E_CALL_FAILED. *error gets the server's words.
    HRESULT Result(int code, const char* command, std::string* error);

    // Runs op on a connection, reconnecting and running it again while it
    // fails with MAPI_E_NETWORK_ERROR, at most kAttempts times in all, with a
    // growing pause between attempts. retrying is true on every run but the
    // first, so op can look whether its earlier run took effect. After a
    // call that used up its attempts, calls try once until one gets through.
    static constexpr int kAttempts = 6;
    HRESULT Run(const std::function<HRESULT(bool retrying, std::string* error)>& op,
                std::string* error);

    // The mailbox selected last in this connection ("" after a reconnect).
    std::string& Selected() { return selected_; }

    // How long the server may send nothing while a command waits for it
    // (each read and each write waits at most this long; a transfer that
    // keeps moving is never cut). Past it the connection counts as lost,
    // and Run reconnects and retries: an answer lost on the way, or a
    // server that stopped answering one connection, costs under a minute.
    // Commands a server answers at once wait kReplySeconds: more than the
    // 30 s between the notices a server sends while it works on a command
    // (Dovecot's "* OK Mailbox is locked" while it waits for a lock), so
    // a server that says it is busy is waited for, not left.
    static constexpr time_t kReplySeconds = 45;
    // A server is reached, and greets, within these or not at all.
    static constexpr time_t kConnectSeconds = 30;
    static constexpr time_t kGreetingSeconds = 30;
    static constexpr time_t kPatientSeconds = 120;
    // The slowest line an APPEND allows for: its last bytes may still sit in
    // the send buffers when the wait for the answer begins.
    static constexpr size_t kSlowLineBytesPerSecond = 32 * 1024;

    // While it lives, the server may stay silent for longer: kPatientSeconds
    // for a server-side COPY, which may take its time and is not sent twice;
    // for an APPEND of `bytes`, kReplySeconds plus the time a slow line takes
    // to carry them, at most kPatientSeconds.
    class Patience {
    public:
        explicit Patience(Connection& conn);
        Patience(Connection& conn, size_t bytes);
        ~Patience();
        Patience(const Patience&) = delete;
        Patience& operator=(const Patience&) = delete;

    private:
        Connection& conn_;
    };

private:
    HRESULT Connect(std::string* error);
    HRESULT CheckPeer(std::string* error);
    std::string Where() const;  // host:port
    HRESULT Login(std::string* error);
    void SetWait(time_t seconds);
    void Abandon();

    Account account_;
    Secret password_;
    bool havePassword_ = false;
    bool loggedInOnce_ = false;
    bool announcedLoss_ = false;
    std::string refused_;  // why the login failed for good
    mailimap* session_ = nullptr;
    char delimiter_ = '/';
    std::string selected_;
    bool unreachable_ = false;
};

}  // namespace mapi::imap
