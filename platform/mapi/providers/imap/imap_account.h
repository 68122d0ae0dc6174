// An IMAP account as a profile names it, and where its password comes from.
//
// imap://user@host[:port]  only to a loopback address, without TLS (even
//                          when the server offers STARTTLS); any other
//                          host is refused before a connection is made
// imap://user@host[:port]?starttls
//                          STARTTLS (port 143), required, to any host
// imaps://user@host[:port] TLS from the first byte (port 993)
// The user part is percent-decoded (user%40example.org for an address).
// An address holding a password (user:pw@) is refused with a reason that
// does not repeat it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace mapi::imap {

struct Account {
    std::string url;  // as the profile keeps it
    bool implicitTls = false;
    bool requireStartTls = false;  // "?starttls"
    std::string user;
    std::string host;
    uint16_t port = 0;
};

bool IsAccountUrl(const std::string& text);
// False with a reason in *error when url is not an account address.
bool ParseAccountUrl(const std::string& url, Account* out, std::string* error);
// 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(const std::string& host);

// The password, never from the profile: $QUIRNEL_IMAP_PASSWORD, else the
// file $QUIRNEL_IMAP_PASSWORD_FILE (refused unless only its owner, who must
// be this user, can read it), else asked on the terminal without echo.
// False with a reason when none is to be had.
//
// The file holds one line per account (for batches of many mailboxes):
// "user@host password", the user as in the address (percent-decoded), the
// password the rest of the line after one blank; or its first line is the
// password itself, when that line names no account (no '@' before its
// first blank).
bool AccountPassword(const Account& account, std::string* password, std::string* error);

// A program without a terminal (the desktop application) asks in the
// terminal's place: when set, prompt answers after the environment and the
// file and the terminal is not used. It is called on the thread that opens
// the store; false with a reason when the user gave no password. Null
// removes it.
using PasswordPrompt =
    std::function<bool(const Account& account, std::string* password, std::string* error)>;
void SetPasswordPrompt(PasswordPrompt prompt);

// A directory of this user's own for what the platform keeps about the
// account (its store identity, special folders set by a copy): beside the
// profile, under imap/ and a name made from user, host and port.
std::string AccountStateDirectory(const Account& account);

}  // namespace mapi::imap
