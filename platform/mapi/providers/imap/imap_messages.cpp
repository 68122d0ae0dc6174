// FETCH answers, APPEND arguments and header lookup.
#include "providers/imap/imap_messages.h"

#include <libetpan/libetpan.h>
#include <strings.h>

#include <cstring>

namespace mapi::imap {

Fetched Digest(mailimap_msg_att* att) {
    Fetched out;
    for (clistiter* it = clist_begin(att->att_list); it != nullptr; it = clist_next(it)) {
        auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
        if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC) {
            out.haveFlags = true;
            if (item->att_data.att_dyn->att_list == nullptr) continue;
            for (clistiter* f = clist_begin(item->att_data.att_dyn->att_list); f != nullptr;
                 f = clist_next(f)) {
                auto* fetch = static_cast<mailimap_flag_fetch*>(clist_content(f));
                if (fetch->fl_type != MAILIMAP_FLAG_FETCH_OTHER || fetch->fl_flag == nullptr)
                    continue;
                switch (fetch->fl_flag->fl_type) {
                    case MAILIMAP_FLAG_SEEN:
                        out.flags.seen = true;
                        break;
                    case MAILIMAP_FLAG_ANSWERED:
                        out.flags.answered = true;
                        break;
                    case MAILIMAP_FLAG_FLAGGED:
                        out.flags.flagged = true;
                        break;
                    case MAILIMAP_FLAG_DRAFT:
                        out.flags.draft = true;
                        break;
                    case MAILIMAP_FLAG_KEYWORD:
                        if (fetch->fl_flag->fl_data.fl_keyword != nullptr &&
                            strcasecmp(fetch->fl_flag->fl_data.fl_keyword, "$Forwarded") == 0)
                            out.flags.forwarded = true;
                        break;
                    default:
                        break;
                }
            }
            continue;
        }
        mailimap_msg_att_static* s = item->att_data.att_static;
        if (s->att_type == MAILIMAP_MSG_ATT_UID) out.uid = s->att_data.att_uid;
        if (s->att_type == MAILIMAP_MSG_ATT_RFC822_SIZE) out.size = s->att_data.att_rfc822_size;
        if (s->att_type == MAILIMAP_MSG_ATT_BODY_SECTION &&
            s->att_data.att_body_section != nullptr &&
            s->att_data.att_body_section->sec_body_part != nullptr)
            out.body.assign(s->att_data.att_body_section->sec_body_part,
                            s->att_data.att_body_section->sec_length);
    }
    return out;
}

mailimap_flag_list* FlagList(const mime::MailFlags& flags) {
    mailimap_flag_list* list = mailimap_flag_list_new_empty();
    if (list == nullptr) return nullptr;
    if (flags.seen) mailimap_flag_list_add(list, mailimap_flag_new_seen());
    if (flags.answered) mailimap_flag_list_add(list, mailimap_flag_new_answered());
    if (flags.flagged) mailimap_flag_list_add(list, mailimap_flag_new_flagged());
    if (flags.draft) mailimap_flag_list_add(list, mailimap_flag_new_draft());
    if (flags.forwarded)
        mailimap_flag_list_add(list, mailimap_flag_new_flag_keyword(strdup("$Forwarded")));
    return list;
}

mailimap_date_time* InternalDate(std::string_view message) {
    const std::string date = HeaderValue(message, "Date");
    if (date.empty()) return nullptr;
    size_t index = 0;
    mailimf_date_time* parsed = nullptr;
    if (mailimf_date_time_parse(date.c_str(), date.size(), &index, &parsed) != MAILIMF_NO_ERROR ||
        parsed == nullptr)
        return nullptr;
    mailimap_date_time* out = nullptr;
    if (parsed->dt_day >= 1 && parsed->dt_day <= 31 && parsed->dt_month >= 1 &&
        parsed->dt_month <= 12 && parsed->dt_year >= 1900 && parsed->dt_year <= 9999)
        out = mailimap_date_time_new(parsed->dt_day, parsed->dt_month, parsed->dt_year,
                                     parsed->dt_hour, parsed->dt_min, parsed->dt_sec,
                                     parsed->dt_zone);
    mailimf_date_time_free(parsed);
    return out;
}

std::string HeaderValue(std::string_view message, std::string_view name) {
    std::string value;
    bool inside = false;
    size_t pos = 0;
    while (pos < message.size()) {
        size_t end = message.find('\n', pos);
        if (end == std::string_view::npos) end = message.size();
        std::string_view line = message.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;  // end of the header block
        if (line[0] == ' ' || line[0] == '\t') {
            const size_t text = line.find_first_not_of(" \t");
            if (inside && text != std::string_view::npos)
                value += " " + std::string(line.substr(text));
            continue;
        }
        if (inside) break;
        const size_t colon = line.find(':');
        if (colon != name.size() || strncasecmp(line.data(), name.data(), name.size()) != 0)
            continue;
        inside = true;
        std::string_view rest = line.substr(colon + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        value = rest;
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    return value;
}

}  // namespace mapi::imap
