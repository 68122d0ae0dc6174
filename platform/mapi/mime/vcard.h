// Contacts as vCard 3.0 (RFC 2426, text/vcard). No library in the platform
// reads vCards, and the format is a list of lines, not MIME: it is read
// and written here, for the fields a contact item is made of.
#pragma once

#include <string>
#include <string_view>

#include "mime/mail_item.h"
#include "mime/mail_tags.h"

namespace mapi::mime {

// The vCard of a contact item (message class IPM.Contact...); false for
// any other item.
bool VCardOf(const MailItem& item, NameResolver& names, std::string* vcard);

// Makes item the contact the first vCard in text describes; false when
// text holds no vCard (item unchanged).
bool ApplyVCard(std::string_view text, NameResolver& names, MailItem& item);

}  // namespace mapi::mime
