// Mailbox names on the wire and folder names in MAPI.
//
// IMAP names travel in modified UTF-7 (RFC 3501 section 5.1.3). A folder
// name may hold characters a mailbox name cannot carry as they are: the
// server's hierarchy delimiter, the LIST wildcards and control characters.
// Those are written %XX (and '%' itself as %25), so every MAPI name comes
// back unchanged from the server.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mapi::imap {

// UTF-8 to modified UTF-7. Ill-formed UTF-8 becomes U+FFFD.
std::string EncodeMailboxName(std::string_view utf8);
// Modified UTF-7 to UTF-8; nullopt when the text is not valid modified UTF-7.
std::optional<std::string> DecodeMailboxName(std::string_view mutf7);

// One level of a folder name as one level of a mailbox name (UTF-8, not yet
// encoded). strict also escapes '.' and leading '~', which some server
// layouts refuse.
std::string EscapeLevel(std::string_view name, char delimiter, bool strict);
// The folder name of one decoded mailbox level.
std::string UnescapeLevel(std::string_view level);

// Text from a server as it may reach a terminal or a log: bytes below 0x20
// and 0x7F written \xHH, so that a reply cannot move the cursor, change
// colours or forge a line. Longer texts are cut at maxBytes with "...".
std::string EscapeServerText(std::string_view text, size_t maxBytes = 1000);

}  // namespace mapi::imap
