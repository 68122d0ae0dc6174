// Connecting, TLS checks and login over libetpan.
#include "providers/imap/imap_connection.h"

#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <libetpan/libetpan.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "providers/imap/imap_names.h"
#include "providers/imap/imap_secret.h"
#include "providers/imap/imap_stream_guard.h"

namespace mapi::imap {

namespace {

std::string ServerWords(mailimap* session) {
    if (session == nullptr || session->imap_response == nullptr) return {};
    return EscapeServerText(session->imap_response);
}

// How many seconds a wait of `normal` lasts: $QUIRNEL_IMAP_WAIT_SECONDS,
// when set, shortens every wait to at most that (tests of a server that
// never answers need not take minutes).
time_t Wait(time_t normal) {
    static const time_t shorter = [] {
        const char* text = std::getenv("QUIRNEL_IMAP_WAIT_SECONDS");
        if (text == nullptr) return time_t{0};
        char* end = nullptr;
        const long v = std::strtol(text, &end, 10);
        return *end == 0 && v > 0 ? static_cast<time_t>(v) : time_t{0};
    }();
    return shorter > 0 && shorter < normal ? shorter : normal;
}

std::string Megabytes(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MB";
}

// What a guarded stream's fault says about the server, or "" when the
// stream is not to blame (or was not guarded).
std::string DescribeFault(mailstream* stream, const std::string& where, const char* awaited) {
    if (stream == nullptr) return {};
    mailstream_low* low = mailstream_get_low(stream);
    switch (LastStreamFault(low)) {
        case StreamFault::kTimedOut:
            return where + " sent no " + awaited + " within " +
                   std::to_string(mailstream_low_get_timeout(low)) + " s";
        case StreamFault::kClosed:
            return where + " closed the connection before its " + awaited;
        case StreamFault::kLineTooLong:
            return where + " sent a line longer than " + Megabytes(kMaxResponseLine) +
                   " in its " + awaited + "; the connection was dropped";
        case StreamFault::kLiteralTooLong:
            return where + " announced more than " + Megabytes(kMaxResponseLiteral) +
                   " at once in its " + awaited + "; the connection was dropped";
        case StreamFault::kMalformed:
            return where + " sent a malformed " + awaited + "; the connection was dropped";
        case StreamFault::kBroken:
        case StreamFault::kNone:
            break;
    }
    return {};
}

// A connected TCP socket to host:port within `seconds`, or -1 with a reason.
int ConnectSocket(const std::string& host, uint16_t port, time_t seconds, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int g = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); g != 0) {
        *error = "cannot find the address of " + host + ": " + gai_strerror(g);
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int fd = -1;
    std::string why = "no address to try";
    for (addrinfo* ai = found; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                      ai->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLOUT, 0};
            int ready = 0;
            do {
                ready = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
            } while (ready < 0 && errno == EINTR);
            int soError = 0;
            socklen_t len = sizeof soError;
            if (ready == 0) {
                why = "no answer within " + std::to_string(seconds) + " s";
                errno = ETIMEDOUT;
            } else if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0) {
                errno = soError;
                r = soError == 0 ? 0 : -1;
                if (r != 0) why = std::strerror(soError);
            } else {
                why = std::strerror(errno);
            }
        } else if (r != 0) {
            why = std::strerror(errno);
        }
        if (r != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        *error = why;
        return -1;
    }
    // libetpan's drivers wait with poll themselves and expect a blocking socket.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// libetpan leaves what it sent in the stream's write buffer: after a
// login, that is the password.
void WipeSent(mailimap* session) {
    if (session == nullptr || session->imap_stream == nullptr) return;
    mailstream* stream = session->imap_stream;
    if (stream->write_buffer != nullptr)
        explicit_bzero(stream->write_buffer, stream->buffer_max_size);
}

// The certificates the server sent, leaf first, checked with GnuTLS against
// the trusted authorities and the host the user named.
HRESULT CheckChain(carray* chain, const std::string& host, std::string* error) {
    if (chain == nullptr || carray_count(chain) == 0) {
        *error = "the server sent no certificate";
        return MAPI_E_LOGON_FAILED;
    }
    std::vector<gnutls_x509_crt_t> certs;
    HRESULT hr = S_OK;
    for (unsigned i = 0; i < carray_count(chain); ++i) {
        auto* der = static_cast<MMAPString*>(carray_get(chain, i));
        gnutls_x509_crt_t crt = nullptr;
        gnutls_datum_t datum{reinterpret_cast<unsigned char*>(der->str),
                             static_cast<unsigned>(der->len)};
        if (gnutls_x509_crt_init(&crt) != 0) return MAPI_E_NOT_ENOUGH_MEMORY;
        if (gnutls_x509_crt_import(crt, &datum, GNUTLS_X509_FMT_DER) != 0) {
            gnutls_x509_crt_deinit(crt);
            *error = "the server's certificate cannot be read";
            hr = MAPI_E_LOGON_FAILED;
            break;
        }
        certs.push_back(crt);
    }
    gnutls_x509_trust_list_t trust = nullptr;
    if (hr == S_OK && gnutls_x509_trust_list_init(&trust, 0) != 0) hr = MAPI_E_NOT_ENOUGH_MEMORY;
    if (hr == S_OK) {
        const char* caFile = std::getenv("QUIRNEL_IMAP_CA_FILE");
        const int added = caFile != nullptr && *caFile != 0
                              ? gnutls_x509_trust_list_add_trust_file(trust, caFile, nullptr,
                                                                      GNUTLS_X509_FMT_PEM, 0, 0)
                              : gnutls_x509_trust_list_add_system_trust(trust, 0, 0);
        if (added <= 0) {
            *error = caFile != nullptr && *caFile != 0
                         ? std::string("no certificate authority could be read from ") + caFile
                         : "no trusted certificate authorities are installed (ca-certificates)";
            hr = MAPI_E_LOGON_FAILED;
        }
    }
    if (hr == S_OK) {
        unsigned status = 0;
        if (gnutls_x509_trust_list_verify_crt(trust, certs.data(),
                                              static_cast<unsigned>(certs.size()), 0, &status,
                                              nullptr) != 0 ||
            status != 0) {
            gnutls_datum_t why{};
            std::string text = "untrusted";
            if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &why, 0) ==
                0) {
                text = reinterpret_cast<const char*>(why.data);
                gnutls_free(why.data);
            }
            *error = "the server's certificate is not trusted: " + text;
            hr = MAPI_E_LOGON_FAILED;
        }
    }
    if (hr == S_OK) {
        unsigned char ip[16];
        int matches = 0;
        if (inet_pton(AF_INET, host.c_str(), ip) == 1)
            matches = gnutls_x509_crt_check_ip(certs[0], ip, 4, 0);
        else if (inet_pton(AF_INET6, host.c_str(), ip) == 1)
            matches = gnutls_x509_crt_check_ip(certs[0], ip, 16, 0);
        else
            matches = gnutls_x509_crt_check_hostname2(certs[0], host.c_str(), 0);
        if (!matches) {
            *error = "the server's certificate is not made out to " + host;
            hr = MAPI_E_LOGON_FAILED;
        }
    }
    if (trust != nullptr) gnutls_x509_trust_list_deinit(trust, 1);
    for (gnutls_x509_crt_t crt : certs) gnutls_x509_crt_deinit(crt);
    return hr;
}

// libetpan keeps what CAPABILITY answered in the session.
void RefreshCapabilities(mailimap* session) {
    (void)AskCapabilities(session);
}

struct SniTarget {
    std::string host;
};

extern "C" void SetServerName(struct mailstream_ssl_context* context, void* data) {
    auto* target = static_cast<SniTarget*>(data);
    // Names only: an address in SNI is not allowed (RFC 6066).
    unsigned char ip[16];
    if (inet_pton(AF_INET, target->host.c_str(), ip) == 1 ||
        inet_pton(AF_INET6, target->host.c_str(), ip) == 1)
        return;
    mailstream_ssl_set_server_name(context, const_cast<char*>(target->host.c_str()));
}

}  // namespace

Connection::Connection(Account account) : account_(std::move(account)) {}

Connection::~Connection() {
    Close();
}

void Connection::Close() {
    if (session_ != nullptr) {
        mailimap_free(session_);
        session_ = nullptr;
    }
    selected_.clear();
}

void Connection::Abandon() {
    // mailimap_free says LOGOUT first and waits for the answer: on a
    // connection that stopped answering, that is one more timeout.
    if (session_ != nullptr && session_->imap_stream != nullptr) {
        mailstream_close(session_->imap_stream);
        session_->imap_stream = nullptr;
    }
    Close();
}

bool Connection::HasCapability(const char* name) const {
    return session_ != nullptr && mailimap_has_extension(session_, const_cast<char*>(name)) != 0;
}

HRESULT Connection::Result(int code, const char* command, std::string* error) {
    switch (code) {
        case MAILIMAP_NO_ERROR:
        case MAILIMAP_NO_ERROR_AUTHENTICATED:
        case MAILIMAP_NO_ERROR_NON_AUTHENTICATED:
            return S_OK;
        case MAILIMAP_ERROR_MEMORY:
            return MAPI_E_NOT_ENOUGH_MEMORY;
        case MAILIMAP_ERROR_STREAM:
        case MAILIMAP_ERROR_PARSE:
        case MAILIMAP_ERROR_FATAL:
        case MAILIMAP_ERROR_BAD_STATE:
        case MAILIMAP_ERROR_CONNECTION_REFUSED: {
            const std::string why =
                session_ != nullptr ? DescribeFault(session_->imap_stream, Where(), "answer") : "";
            *error = std::string(command) + ": " +
                     (why.empty() ? "the connection to " + account_.host + " was lost" : why);
            Abandon();
            return MAPI_E_NETWORK_ERROR;
        }
        default: {
            const std::string words = ServerWords(session_);
            *error = std::string(command) + " refused by the server" +
                     (words.empty() ? std::string() : ": " + words);
            return MAPI_E_CALL_FAILED;
        }
    }
}

HRESULT Connection::Ensure(std::string* error, bool announce) {
    if (session_ != nullptr) return S_OK;
    // A refused login or an untrusted server stays so for the run: asking
    // again would only ask for the password again, or lock the account.
    if (!refused_.empty()) {
        *error = refused_;
        return MAPI_E_LOGON_FAILED;
    }
    HRESULT hr = S_OK;
    if (password_.empty() && !havePassword_) {
        // Before the password comes in, not after: a core file or a
        // debugger attached in between would find it.
        MakeProcessUndumpable();
        std::string given;
        if (AccountPassword(account_, &given, error)) {
            havePassword_ = true;
            if (!password_.Take(&given)) hr = MAPI_E_NOT_ENOUGH_MEMORY;
        } else {
            WipeString(&given);
            *error = account_.url + ": " + *error;
            hr = MAPI_E_LOGON_FAILED;
        }
    }
    if (hr == S_OK) hr = Connect(error);
    if (hr == S_OK) hr = Login(error);
    if (hr == MAPI_E_NETWORK_ERROR)
        Abandon();
    else if (hr != S_OK)
        Close();
    if (hr == S_OK) loggedInOnce_ = true;
    if (hr == MAPI_E_LOGON_FAILED) {
        // Final: the password is not needed any more.
        password_.Wipe();
        refused_ = *error;
        if (!announce) return hr;
        // The copy ends on this code with no room for words: the one line
        // that says why goes to standard error, once.
        std::fprintf(stderr, "imap: %s\n", refused_.c_str());
    }
    return hr;
}

std::string Connection::Where() const {
    return account_.host + ":" + std::to_string(account_.port);
}

HRESULT Connection::Connect(std::string* error) {
    session_ = mailimap_new(0, nullptr);
    if (session_ == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    // libetpan gives this wait to the stream it makes for STARTTLS.
    mailimap_set_timeout(session_, Wait(kReplySeconds));
    const std::string where = Where();
    const int fd = ConnectSocket(account_.host, account_.port, Wait(kConnectSeconds), error);
    if (fd < 0) {
        *error = "cannot connect to the IMAP server " + where + ": " + *error;
        return MAPI_E_NETWORK_ERROR;
    }
    SniTarget sni{account_.host};
    mailstream_low* low =
        account_.implicitTls
            ? mailstream_low_ssl_open_with_callback_timeout(fd, Wait(kReplySeconds),
                                                            SetServerName, &sni)
            : mailstream_low_socket_open(fd);
    if (low == nullptr) {
        ::close(fd);
        *error = "cannot connect to the IMAP server " + where +
                 (account_.implicitTls ? " (the TLS handshake failed)" : "");
        return MAPI_E_NETWORK_ERROR;
    }
    // Every read of the connection goes through the guard, the greeting's
    // first byte included.
    mailstream_low_set_timeout(low, Wait(kGreetingSeconds));
    mailstream* stream = GuardStream(low) ? mailstream_new(low, 8192) : nullptr;
    if (stream == nullptr) {
        mailstream_low_close(low);
        mailstream_low_free(low);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    const int r = mailimap_connect(session_, stream);
    if (r != MAILIMAP_NO_ERROR && r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED &&
        r != MAILIMAP_NO_ERROR_AUTHENTICATED) {
        *error = DescribeFault(stream, where, "greeting");
        if (error->empty()) {
            const std::string words = ServerWords(session_);
            *error = r == MAILIMAP_ERROR_DONT_ACCEPT_CONNECTION
                         ? where + " refused the connection" + (words.empty() ? "" : ": " + words)
                         : where + " sent no IMAP greeting";
        }
        return MAPI_E_NETWORK_ERROR;
    }
    SetWait(Wait(kReplySeconds));
    // The greeting may carry them already; asking does no harm.
    RefreshCapabilities(session_);
    if (account_.implicitTls) return CheckPeer(error);
    // Plain stays plain: only an address that asks for STARTTLS gets it,
    // so that what the user named is what is spoken.
    if (!account_.requireStartTls) return S_OK;
    if (!HasCapability("STARTTLS")) {
        *error = where + " offers no STARTTLS (use imaps:// for TLS from the start)";
        return MAPI_E_LOGON_FAILED;
    }
    const int t = mailimap_socket_starttls_with_callback(session_, SetServerName, &sni);
    if (t != MAILIMAP_NO_ERROR) {
        *error = "STARTTLS with " + where + " failed";
        return MAPI_E_LOGON_FAILED;
    }
    // libetpan put a TLS stream in the plain one's place: guard it too.
    if (!GuardStream(mailstream_get_low(session_->imap_stream))) return MAPI_E_NOT_ENOUGH_MEMORY;
    SetWait(Wait(kReplySeconds));
    // Capabilities learnt before TLS must not be trusted (RFC 3501).
    RefreshCapabilities(session_);
    return CheckPeer(error);
}

HRESULT Connection::CheckPeer(std::string* error) {
    carray* chain = mailstream_get_certificate_chain(session_->imap_stream);
    HRESULT hr = CheckChain(chain, account_.host, error);
    if (chain != nullptr) mailstream_certificate_chain_free(chain);
    return hr;
}

HRESULT Connection::Login(std::string* error) {
    int r = MAILIMAP_ERROR_LOGIN;
    // The LOGIN command first: the password then passes only through the
    // stream's write buffer, which is wiped below. A SASL library keeps
    // copies of its own that nobody can wipe, so SASL is for servers that
    // allow no LOGIN.
    if (!mailimap_has_extension(session_, const_cast<char*>("LOGINDISABLED"))) {
        r = mailimap_login(session_, account_.user.c_str(), password_.c_str());
    } else {
        bool tried = false;
        for (const char* mechanism : {"PLAIN", "LOGIN"}) {
            if (!mailimap_has_authentication(session_, const_cast<char*>(mechanism))) continue;
            r = mailimap_authenticate(session_, mechanism, account_.host.c_str(), nullptr,
                                      nullptr, account_.user.c_str(), account_.user.c_str(),
                                      password_.c_str(), nullptr);
            tried = true;
            // A missing SASL plug-in is ours, not the server's answer: try on.
            if (r != MAILIMAP_ERROR_SASL) break;
        }
        if (!tried || r == MAILIMAP_ERROR_SASL) {
            *error = account_.host + " allows no login this client can make";
            return MAPI_E_LOGON_FAILED;
        }
    }
    WipeSent(session_);
    if (r == MAILIMAP_NO_ERROR || r == MAILIMAP_NO_ERROR_AUTHENTICATED) {
        RefreshCapabilities(session_);
        // The delimiter of the personal namespace: LIST "" "".
        clist* list = nullptr;
        if (mailimap_list(session_, "", "", &list) == MAILIMAP_NO_ERROR && list != nullptr) {
            if (clist_begin(list) != nullptr) {
                auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(clist_begin(list)));
                delimiter_ = mb->mb_delimiter;
            }
            mailimap_list_result_free(list);
        }
        return S_OK;
    }
    if (r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_PARSE) {
        *error = DescribeFault(session_->imap_stream, Where(), "answer to the login");
        if (error->empty())
            *error = "the connection to " + account_.host + " was lost while logging in";
        return MAPI_E_NETWORK_ERROR;
    }
    const std::string words = ServerWords(session_);
    *error = "the IMAP server " + account_.host + " refused the login of " + account_.user +
             (words.empty() ? std::string() : ": " + words);
    return MAPI_E_LOGON_FAILED;
}

void Connection::SetWait(time_t seconds) {
    if (session_ != nullptr && session_->imap_stream != nullptr)
        mailstream_low_set_timeout(mailstream_get_low(session_->imap_stream), seconds);
}

Connection::Patience::Patience(Connection& conn) : conn_(conn) {
    conn_.SetWait(Wait(kPatientSeconds));
}

Connection::Patience::Patience(Connection& conn, size_t bytes) : conn_(conn) {
    const size_t carry = bytes / kSlowLineBytesPerSecond;
    conn_.SetWait(Wait(carry >= static_cast<size_t>(kPatientSeconds - kReplySeconds)
                           ? kPatientSeconds
                           : kReplySeconds + static_cast<time_t>(carry)));
}

Connection::Patience::~Patience() {
    // A command that lost the connection closed it: a new one starts with
    // the short wait anyway.
    conn_.SetWait(Wait(kReplySeconds));
}

HRESULT Connection::Run(const std::function<HRESULT(bool, std::string*)>& op, std::string* error) {
    HRESULT hr = MAPI_E_NETWORK_ERROR;
    // Once a server stayed away through every attempt, each later item
    // tries once: a run against a server that is gone ends in minutes, not
    // in hours of pauses, and picks up again when the server answers.
    const int attempts = unreachable_ ? 1 : kAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(250 << std::min(attempt, 5)));
        hr = Ensure(error);
        if (hr == S_OK) {
            unreachable_ = false;
            hr = op(attempt > 0, error);
        } else if (hr == MAPI_E_NETWORK_ERROR && !loggedInOnce_) {
            // A server that never let this run in is not coming back in
            // the next seconds: say so at once instead of asking again.
            Abandon();
            break;
        }
        if (hr != MAPI_E_NETWORK_ERROR) return hr;
        Abandon();
    }
    unreachable_ = true;
    // The copy ends on this code with no room for words: say once why.
    if (!announcedLoss_) {
        announcedLoss_ = true;
        std::fprintf(stderr, "imap: %s\n", error->c_str());
    }
    return hr;
}

}  // namespace mapi::imap
