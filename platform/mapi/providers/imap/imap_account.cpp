// Account addresses, passwords and the local state directory.
#include "providers/imap/imap_account.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

#include "providers/imap/imap_secret.h"
#include "runtime/profile.h"

namespace mapi::imap {

namespace {

bool PercentDecode(const std::string& in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out->push_back(in[i]);
            continue;
        }
        if (i + 2 >= in.size()) return false;
        char hex[3] = {in[i + 1], in[i + 2], 0};
        char* end = nullptr;
        const long v = std::strtol(hex, &end, 16);
        if (end != hex + 2) return false;
        out->push_back(static_cast<char>(v));
        i += 2;
    }
    return true;
}

std::string ReadTerminalLine(int fd) {
    std::string line;
    // Room for the longest line at once: a growing string would leave
    // copies of the password behind in what it gives back.
    line.reserve(4097);
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n' && line.size() < 4096) line.push_back(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Every line of text is looked at in place: no copy of a password is
// made but the one that is returned.
bool PasswordFromFile(std::string_view text, const Account& account, std::string* password,
                      std::string* error, const char* file) {
    const std::string key = account.user + "@" + account.host + " ";
    std::string_view first;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        if (line.empty()) continue;
        if (first.empty()) first = line;
        if (line.substr(0, key.size()) == key) {
            password->assign(line.substr(key.size()));
            return true;
        }
    }
    // A first line that names no account (no '@' before its first blank)
    // is the password itself, blanks and all.
    if (!first.empty() && first.substr(0, first.find(' ')).find('@') == std::string_view::npos) {
        password->assign(first);
        return true;
    }
    *error = std::string("the password file ") + file + " has no line for " + account.user + "@" +
             account.host;
    return false;
}

}  // namespace

bool IsAccountUrl(const std::string& text) {
    return text.rfind("imap://", 0) == 0 || text.rfind("imaps://", 0) == 0;
}

bool ParseAccountUrl(const std::string& url, Account* out, std::string* error) {
    Account a;
    a.url = url;
    std::string rest;
    if (url.rfind("imaps://", 0) == 0) {
        a.implicitTls = true;
        rest = url.substr(8);
    } else if (url.rfind("imap://", 0) == 0) {
        rest = url.substr(7);
    } else {
        *error = url + " is not an imap:// or imaps:// address";
        return false;
    }
    if (!a.implicitTls && rest.size() > 9 && rest.compare(rest.size() - 9, 9, "?starttls") == 0) {
        a.requireStartTls = true;
        rest.resize(rest.size() - 9);
    }
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    const size_t at = rest.rfind('@');
    // Checked before anything else, and said without the address: the text
    // after the colon is a password, and error texts reach terminals, logs
    // and bug reports.
    std::string userPart = at == std::string::npos ? std::string() : rest.substr(0, at);
    if (std::string decoded;
        userPart.find(':') != std::string::npos ||
        (PercentDecode(userPart, &decoded) && decoded.find(':') != std::string::npos)) {
        const std::string user = userPart.find(':') != std::string::npos
                                     ? userPart.substr(0, userPart.find(':'))
                                     : decoded.substr(0, decoded.find(':'));
        *error = url.substr(0, url.find("://") + 3) + user + "@" + rest.substr(at + 1) +
                 ": the address holds a password, which was not used; give it in "
                 "QUIRNEL_IMAP_PASSWORD, QUIRNEL_IMAP_PASSWORD_FILE or at the prompt instead";
        WipeString(&decoded);
        WipeString(&userPart);
        return false;
    }
    WipeString(&userPart);
    if (at == std::string::npos || at == 0) {
        *error = url + " names no user (imap://user@host)";
        return false;
    }
    if (!PercentDecode(rest.substr(0, at), &a.user) || a.user.empty()) {
        *error = url + ": the user name is not well formed";
        return false;
    }

    std::string hostPort = rest.substr(at + 1);
    if (hostPort.find('/') != std::string::npos || hostPort.find('?') != std::string::npos) {
        *error = url + ": only imap://user@host[:port] is understood";
        return false;
    }
    std::string port;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string::npos) {
            *error = url + ": unclosed [ in the host";
            return false;
        }
        a.host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':') {
                *error = url + ": unexpected text after the host";
                return false;
            }
            port = hostPort.substr(close + 2);
        }
    } else if (const size_t colon = hostPort.find(':'); colon != std::string::npos) {
        a.host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
    } else {
        a.host = hostPort;
    }
    if (a.host.empty()) {
        *error = url + " names no host";
        return false;
    }
    a.port = a.implicitTls ? 993 : 143;
    if (!port.empty()) {
        char* end = nullptr;
        const long p = std::strtol(port.c_str(), &end, 10);
        if (*end != 0 || p <= 0 || p > 65535) {
            *error = url + ": the port is not a number from 1 to 65535";
            return false;
        }
        a.port = static_cast<uint16_t>(p);
    }
    // Refused before any connection is made: nothing, not even the user
    // name, may leave for another host in clear because of a short address.
    if (!a.implicitTls && !a.requireStartTls && !IsLoopbackHost(a.host)) {
        *error = url + ": imap:// without TLS is only for this machine (a loopback address); for " +
                 a.host + " use imaps://" + rest + " (TLS from the start, port 993) or imap://" +
                 rest + "?starttls (STARTTLS, port 143)";
        return false;
    }
    *out = std::move(a);
    return true;
}

bool IsLoopbackHost(const std::string& host) {
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

namespace {

std::mutex g_promptMutex;
PasswordPrompt g_prompt;

// A copy, so that the prompt runs without the lock and may be replaced meanwhile.
PasswordPrompt CurrentPasswordPrompt() {
    std::lock_guard<std::mutex> lock(g_promptMutex);
    return g_prompt;
}

}  // namespace

void SetPasswordPrompt(PasswordPrompt prompt) {
    std::lock_guard<std::mutex> lock(g_promptMutex);
    g_prompt = std::move(prompt);
}

namespace {

// The password from the environment, moved into protected pages at its
// first use: the environment block of a process is plain memory that
// stays readable for its whole life. The variable stays, empty, so that
// a later store of this process still finds that one was given.
std::mutex g_environmentMutex;
Secret g_environmentPassword;

void PasswordFromEnvironment(char* value, std::string* password) {
    std::lock_guard<std::mutex> lock(g_environmentMutex);
    if (*value != 0) {
        std::string taken(value);
        explicit_bzero(value, std::strlen(value));
        g_environmentPassword.Take(&taken);
    }
    password->assign(g_environmentPassword.c_str(), g_environmentPassword.size());
}

}  // namespace

bool AccountPassword(const Account& account, std::string* password, std::string* error) {
    if (char* env = std::getenv("QUIRNEL_IMAP_PASSWORD"); env != nullptr) {
        PasswordFromEnvironment(env, password);
        return true;
    }
    if (const char* file = std::getenv("QUIRNEL_IMAP_PASSWORD_FILE");
        file != nullptr && *file != 0) {
        const int fd = ::open(file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) ::close(fd);
            *error =
                std::string("cannot read the password file ") + file + ": " + std::strerror(errno);
            return false;
        }
        // A password others can read is no secret: refuse it rather than
        // spread it further.
        if (st.st_uid != ::getuid() || (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            ::close(fd);
            *error = std::string("the password file ") + file +
                     " must belong to you and be readable by you alone (chmod 600)";
            return false;
        }
        // Read into one buffer of its final size, wiped afterwards: the
        // file holds passwords, and a buffer that grew would leave copies.
        std::string text;
        text.resize(static_cast<size_t>(std::min<off_t>(st.st_size, 1 << 20)));
        size_t got = 0;
        ssize_t n = 0;
        while (got < text.size() && (n = ::read(fd, text.data() + got, text.size() - got)) > 0)
            got += static_cast<size_t>(n);
        ::close(fd);
        const bool found =
            PasswordFromFile(std::string_view(text.data(), got), account, password, error, file);
        WipeString(&text);
        return found;
    }
    if (PasswordPrompt prompt = CurrentPasswordPrompt()) return prompt(account, password, error);
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) {
        *error = "no password for " + account.user + "@" + account.host +
                 ": set QUIRNEL_IMAP_PASSWORD or QUIRNEL_IMAP_PASSWORD_FILE, or run on a terminal";
        return false;
    }
    const std::string prompt = "Password for " + account.user + "@" + account.host + ": ";
    (void)!::write(tty, prompt.data(), prompt.size());
    termios saved{};
    const bool restore = ::tcgetattr(tty, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    *password = ReadTerminalLine(tty);
    if (restore) ::tcsetattr(tty, TCSAFLUSH, &saved);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return true;
}

std::string AccountStateDirectory(const Account& account) {
    std::string name = account.user + "@" + account.host + "_" + std::to_string(account.port);
    for (char& c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '@' || c == '.' || c == '_' ||
              c == '-'))
            c = '_';
    const std::filesystem::path profile(Profile::DefaultPath());
    return (profile.parent_path() / "imap" / name).string();
}

}  // namespace mapi::imap
