// An IMAP account as the layout of a mail store: folders are mailboxes,
// items are messages named by "UIDVALIDITY.UID".
#pragma once

#include <memory>

#include "providers/imap/imap_connection.h"
#include "providers/mailfiles/mail_layout.h"

namespace mapi::imap {

std::unique_ptr<mailfiles::MailLayout> ImapLayout(std::unique_ptr<Connection> connection);

// The value of the X-Quirnel-Source header in a message's header block, or
// empty (unfolded; only the first header block is looked at).
std::string HeaderValue(std::string_view message, std::string_view name);

}  // namespace mapi::imap
