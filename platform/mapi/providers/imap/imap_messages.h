// What travels with a message to and from the server: the parts of a FETCH
// answer, the flags and internal date of an APPEND, header lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mime/mail_item.h"

struct mailimap_msg_att;
struct mailimap_flag_list;
struct mailimap_date_time;

namespace mapi::imap {

// One message of a FETCH answer.
struct Fetched {
    uint32_t uid = 0;
    uint64_t size = 0;
    bool haveFlags = false;
    mime::MailFlags flags;
    std::string body;  // the one body section asked for
};
Fetched Digest(mailimap_msg_att* att);

// The flags of an APPEND (null when out of memory); the caller frees it.
mailimap_flag_list* FlagList(const mime::MailFlags& flags);
// The internal date of a new message: its Date header, as mail clients show
// it; null without a usable one (the server then takes the time of the
// APPEND). The caller frees it.
mailimap_date_time* InternalDate(std::string_view message);

// The value of header name in a message's header block, unfolded, or empty
// (only the first header block is looked at; names compare without case).
std::string HeaderValue(std::string_view message, std::string_view name);

}  // namespace mapi::imap
