// The one conversion between MAPI messages and Internet messages (MIME),
// after Microsoft's published [MS-OXCMAIL] mapping. Every mail file store
// uses it, and so will any store that speaks MIME to a server.
//
// Both directions run on GMime: no MIME structure, transfer encoding or
// header encoding is handled here by hand.
#pragma once

#include <string>
#include <string_view>

#include <mapidefs.h>

#include "mime/mail_item.h"
#include "mime/mail_tags.h"

namespace mapi::mime {

struct WriteOptions {
    // Adds the read, replied and flagged states as Status and X-Status
    // headers, for formats that keep no flags of their own (mbox, .eml).
    bool statusHeaders = false;
};

// The Internet message for item. The original transport headers are kept
// where the item has them; what they lack is filled from the properties.
// Provenance (PS_QUIRNEL) travels in an X-Quirnel-Source header.
// Fails only when memory runs out or GMime refuses to write.
HRESULT WriteMime(const MailItem& item, NameResolver& names, const WriteOptions& options,
                  std::string* out);

// The MAPI message for an Internet message. A message/rfc822 attachment
// becomes an embedded message (nested no deeper than 32 levels). Status and
// X-Status headers are applied as flags when present. MAPI_E_CORRUPT_DATA
// when bytes is not a mail message (GMime finds no message, or not one
// header).
HRESULT ReadMime(std::string_view bytes, NameResolver& names, MailItem* out);

// The value of the X-Quirnel-Source header for the provenance properties
// of item, or empty when it has none.
std::string ProvenanceHeader(const MailItem& item, NameResolver& names);
// Sets the provenance properties from such a header value; false when the
// value does not parse.
bool ApplyProvenanceHeader(std::string_view value, NameResolver& names, MailItem& item);

// Charset names for Windows code pages and back (PR_INTERNET_CPID).
const char* CharsetOfCodePage(LONG codePage);
LONG CodePageOfCharset(std::string_view charset);

}  // namespace mapi::mime
