// An IMAP account as the layout of a mail store: folders are mailboxes,
// items are messages named by "UIDVALIDITY.UID".
#pragma once

#include <memory>

#include "providers/imap/imap_connection.h"
#include "providers/mailfiles/mail_layout.h"

namespace mapi::imap {

std::unique_ptr<mailfiles::MailLayout> ImapLayout(std::unique_ptr<Connection> connection);

}  // namespace mapi::imap
