// Internet message to MAPI message ([MS-OXCMAIL] section 2.4, the inbound
// direction).
#include <cstdlib>
#include <cstring>
#include <string>

#include <mapitags.h>

#include "mime/calendar.h"
#include "mime/gmime_util.h"
#include "mime/mime_bounds.h"
#include "mime/mime_convert.h"
#include "mime/vcard.h"

namespace mapi::mime {

namespace {

constexpr int kMaxDepth = 32;

std::string Trim(std::string s) {
    const char* space = " \t\r\n";
    s.erase(0, s.find_first_not_of(space));
    s.erase(s.find_last_not_of(space) + 1);
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const char* Header(GMimeObject* object, const char* name) {
    return g_mime_object_get_header(object, name);
}

struct Mailbox {
    std::string name;
    std::string address;
};

// Mailboxes of a list with groups flattened; an empty group gives its name
// alone, which is how a recipient without an address is written.
void Flatten(InternetAddressList* list, std::vector<Mailbox>* out) {
    if (list == nullptr) return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        const char* name = internet_address_get_name(a);
        if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
            out->push_back({name != nullptr ? name : "", addr != nullptr ? addr : ""});
        } else if (INTERNET_ADDRESS_IS_GROUP(a)) {
            InternetAddressList* members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a));
            if (members == nullptr || internet_address_list_length(members) == 0) {
                if (name != nullptr && *name != '\0') out->push_back({name, ""});
            } else {
                Flatten(members, out);
            }
        }
    }
}

void SetPerson(PropBag& p, const Mailbox& m, ULONG nameTag, ULONG emailTag, ULONG typeTag,
               ULONG smtpTag) {
    p.SetText(PROP_ID(nameTag), m.name.empty() ? m.address : m.name);
    if (m.address.empty()) return;
    p.SetText(PROP_ID(emailTag), m.address);
    p.SetText(PROP_ID(typeTag), "SMTP");
    p.SetText(PROP_ID(smtpTag), m.address);
}

std::string Bytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) return {};
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.get());
    return StreamBytes(stream.get());
}

// The text of a text part in UTF-8. GMime converts from the declared
// charset; a charset iconv does not know leaves the bytes as they are,
// and those that are not UTF-8 are then read as Windows-1252, the charset
// mislabelled mail most often is in. *guessed (when given) tells whether
// that happened.
std::string Text(GMimeTextPart* part, bool* guessed = nullptr) {
    if (guessed != nullptr) *guessed = false;
    GString8 text(g_mime_text_part_get_text(part));
    std::string out = text ? text.get() : "";
    if (g_utf8_validate(out.data(), static_cast<gssize>(out.size()), nullptr)) return out;
    if (guessed != nullptr) *guessed = true;
    gsize written = 0;
    GString8 converted(g_convert_with_fallback(out.data(), static_cast<gssize>(out.size()), "UTF-8",
                                               "WINDOWS-1252", "?", nullptr, &written, nullptr));
    if (converted) return std::string(converted.get(), written);
    GString8 valid(g_utf8_make_valid(out.data(), static_cast<gssize>(out.size())));
    return valid ? valid.get() : "";
}

// Text in MIME has CRLF line ends, which GMime hands out as LF; MAPI
// bodies keep CRLF, as the mail they came from had it.
std::string ToCrlf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

HRESULT ReadMessage(GMimeMessage* message, NameResolver& names, MailItem& item, int depth);

class BodyWalker {
public:
    BodyWalker(NameResolver& names, MailItem& item, int depth)
        : names_(names), item_(item), depth_(depth) {}

    // The text of a body part; one whose charset had to be guessed leaves
    // a line in the item's conversion notes, so the guess can be found.
    std::string BodyText(GMimeObject* object) {
        bool guessed = false;
        std::string text = Text(GMIME_TEXT_PART(object), &guessed);
        if (guessed) {
            const char* declared = g_mime_object_get_content_type_parameter(object, "charset");
            GMimeContentType* type = g_mime_object_get_content_type(object);
            GString8 mime(type != nullptr ? g_mime_content_type_get_mime_type(type) : nullptr);
            AddConversionNote(names_, item_,
                              std::string(mime ? mime.get() : "text") + " in charset \"" +
                                  (declared != nullptr ? declared : "") +
                                  "\", which is unknown here, was read as Windows-1252");
        }
        return text;
    }

    HRESULT Walk(GMimeObject* object) {
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i) {
                HRESULT hr = Walk(g_mime_multipart_get_part(multipart, i));
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        }
        if (GMIME_IS_MESSAGE_PART(object)) return Embedded(object);
        if (!GMIME_IS_PART(object)) return S_OK;
        GMimePart* part = GMIME_PART(object);
        GMimeContentType* type = g_mime_object_get_content_type(object);
        GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
        const bool attachment =
            disposition != nullptr && g_mime_content_disposition_is_attachment(disposition);
        if (!attachment && GMIME_IS_TEXT_PART(object)) {
            if (g_mime_content_type_is_type(type, "text", "plain") && !item_.props.Has(PROP_ID(PR_BODY))) {
                item_.props.SetText(PROP_ID(PR_BODY), ToCrlf(BodyText(object)));
                return S_OK;
            }
            if (g_mime_content_type_is_type(type, "text", "html") && !item_.props.Has(PROP_ID(PR_HTML))) {
                item_.props.SetBinary(PROP_ID(PR_HTML), ToCrlf(BodyText(object)));
                item_.props.SetLong(PROP_ID(PR_INTERNET_CPID), 65001);
                return S_OK;
            }
            if (g_mime_content_type_is_type(type, "text", "calendar") && !calendarApplied_ &&
                ApplyCalendar(Text(GMIME_TEXT_PART(object)), names_, item_)) {
                calendarApplied_ = true;
                return S_OK;
            }
            if ((g_mime_content_type_is_type(type, "text", "vcard") ||
                 g_mime_content_type_is_type(type, "text", "x-vcard")) &&
                !vcardApplied_ && ApplyVCard(Text(GMIME_TEXT_PART(object)), names_, item_)) {
                vcardApplied_ = true;
                return S_OK;
            }
        }
        return Attachment(part, type, attachment);
    }

private:
    HRESULT Embedded(GMimeObject* object) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        MailAttachment attachment;
        attachment.props.SetLong(PROP_ID(PR_ATTACH_METHOD), ATTACH_EMBEDDED_MSG);
        attachment.props.SetText(PROP_ID(PR_ATTACH_MIME_TAG), "message/rfc822");
        attachment.embedded = std::make_unique<MailItem>();
        if (inner != nullptr) {
            HRESULT hr = ReadMessage(inner, names_, *attachment.embedded, depth_ + 1);
            if (FAILED(hr)) return hr;
        }
        const char* filename =
            g_mime_object_get_content_disposition_parameter(object, "filename");
        std::string display = filename != nullptr
                                  ? filename
                                  : attachment.embedded->props.Text(PROP_ID(PR_SUBJECT)).value_or("");
        if (!display.empty()) attachment.props.SetText(PROP_ID(PR_DISPLAY_NAME), display);
        item_.attachments.push_back(std::move(attachment));
        return S_OK;
    }

    HRESULT Attachment(GMimePart* part, GMimeContentType* type, bool isAttachment) {
        MailAttachment attachment;
        PropBag& p = attachment.props;
        p.SetLong(PROP_ID(PR_ATTACH_METHOD), ATTACH_BY_VALUE);
        p.SetBinary(PROP_ID(PR_ATTACH_DATA_BIN), Bytes(part));
        GString8 mimeType(g_mime_content_type_get_mime_type(type));
        if (mimeType) p.SetText(PROP_ID(PR_ATTACH_MIME_TAG), Lower(mimeType.get()));
        if (const char* filename = g_mime_part_get_filename(part); filename != nullptr && *filename) {
            p.SetText(PROP_ID(PR_ATTACH_LONG_FILENAME), filename);
            p.SetText(PROP_ID(PR_ATTACH_FILENAME), filename);
            p.SetText(PROP_ID(PR_DISPLAY_NAME), filename);
            const char* dot = std::strrchr(filename, '.');
            if (dot != nullptr && dot[1] != '\0') p.SetText(PROP_ID(PR_ATTACH_EXTENSION), dot);
        }
        if (const char* cid = g_mime_part_get_content_id(part); cid != nullptr && *cid) {
            p.SetText(PROP_ID(PR_ATTACH_CONTENT_ID), cid);
            if (!isAttachment) p.SetLong(PROP_ID(PR_ATTACH_FLAGS), kAttMhtmlRef);
        }
        item_.attachments.push_back(std::move(attachment));
        return S_OK;
    }

    NameResolver& names_;
    MailItem& item_;
    int depth_;
    bool calendarApplied_ = false;
    bool vcardApplied_ = false;
};

void ReadImportance(GMimeObject* object, PropBag& p) {
    if (const char* importance = Header(object, "Importance")) {
        const std::string v = Lower(Trim(importance));
        if (v == "high") p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_HIGH);
        else if (v == "low") p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_LOW);
        else if (v == "normal") p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_NORMAL);
        return;
    }
    if (const char* priority = Header(object, "X-Priority")) {
        const std::string v = Trim(priority);
        if (v.empty()) return;
        if (v[0] == '1' || v[0] == '2') p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_HIGH);
        else if (v[0] == '4' || v[0] == '5') p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_LOW);
        else if (v[0] == '3') p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_NORMAL);
    }
}

void ReadKeywords(GMimeObject* object, NameResolver& names, PropBag& p) {
    const char* keywords = Header(object, "Keywords");
    if (keywords == nullptr) return;
    std::vector<std::string> list;
    std::string rest = keywords;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t comma = rest.find(',', start);
        std::string word = Trim(rest.substr(start, comma == std::string::npos ? std::string::npos
                                                                             : comma - start));
        if (!word.empty()) list.push_back(word);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (list.empty()) return;
    if (ULONG id = names.IdOf(KeywordsName()); id != 0) p.SetTextList(id, list);
}

// Thunderbird's own status word: read, replied, marked, forwarded.
constexpr unsigned long kMozillaRead = 0x0001;
constexpr unsigned long kMozillaReplied = 0x0002;
constexpr unsigned long kMozillaMarked = 0x0004;
constexpr unsigned long kMozillaForwarded = 0x1000;

// Status and X-Status, as mbox readers and writers keep them, and
// X-Mozilla-Status, which Thunderbird writes; a state any of them shows
// counts.
void ReadStatus(GMimeObject* object, MailItem& item) {
    const char* status = Header(object, "Status");
    const char* xStatus = Header(object, "X-Status");
    const char* mozilla = Header(object, "X-Mozilla-Status");
    if (status == nullptr && xStatus == nullptr && mozilla == nullptr) return;
    MailFlags flags;
    if (status != nullptr) flags.seen = std::strchr(status, 'R') != nullptr;
    if (xStatus != nullptr) {
        flags.answered = std::strchr(xStatus, 'A') != nullptr;
        flags.flagged = std::strchr(xStatus, 'F') != nullptr;
        flags.draft = std::strchr(xStatus, 'T') != nullptr;
    }
    if (mozilla != nullptr) {
        char* end = nullptr;
        const unsigned long word = std::strtoul(mozilla, &end, 16);
        if (end != mozilla) {
            flags.seen |= (word & kMozillaRead) != 0;
            flags.answered |= (word & kMozillaReplied) != 0;
            flags.flagged |= (word & kMozillaMarked) != 0;
            flags.forwarded |= (word & kMozillaForwarded) != 0;
        }
    }
    ApplyFlags(item, flags);
}

HRESULT ReadMessage(GMimeMessage* message, NameResolver& names, MailItem& item, int depth) {
    if (depth > kMaxDepth) return MAPI_E_CORRUPT_DATA;
    GMimeObject* object = GMIME_OBJECT(message);
    PropBag& p = item.props;
    p.SetText(PROP_ID(PR_MESSAGE_CLASS), "IPM.Note");
    if (GString8 headers{g_mime_object_get_headers(object, nullptr)}; headers && *headers)
        p.SetText(PROP_ID(PR_TRANSPORT_MESSAGE_HEADERS), headers.get());
    if (const char* subject = g_mime_message_get_subject(message))
        p.SetText(PROP_ID(PR_SUBJECT), subject);

    std::vector<Mailbox> from, sender;
    Flatten(g_mime_message_get_from(message), &from);
    Flatten(g_mime_message_get_sender(message), &sender);
    if (sender.empty()) sender = from;
    if (!from.empty())
        SetPerson(p, from.front(), PR_SENT_REPRESENTING_NAME, PR_SENT_REPRESENTING_EMAIL_ADDRESS,
                  PR_SENT_REPRESENTING_ADDRTYPE, kPrSentRepresentingSmtpAddress);
    if (!sender.empty())
        SetPerson(p, sender.front(), PR_SENDER_NAME, PR_SENDER_EMAIL_ADDRESS, PR_SENDER_ADDRTYPE,
                  PR_SENDER_SMTP_ADDRESS);

    struct Kind {
        GMimeAddressType type;
        LONG recipientType;
        ULONG displayTag;
    };
    const Kind kinds[] = {{GMIME_ADDRESS_TYPE_TO, MAPI_TO, PR_DISPLAY_TO},
                          {GMIME_ADDRESS_TYPE_CC, MAPI_CC, PR_DISPLAY_CC},
                          {GMIME_ADDRESS_TYPE_BCC, MAPI_BCC, PR_DISPLAY_BCC}};
    for (const Kind& kind : kinds) {
        std::vector<Mailbox> list;
        Flatten(g_mime_message_get_addresses(message, kind.type), &list);
        std::string display;
        for (const Mailbox& m : list) {
            PropBag r;
            r.SetLong(PROP_ID(PR_RECIPIENT_TYPE), kind.recipientType);
            SetPerson(r, m, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_SMTP_ADDRESS);
            r.SetLong(PROP_ID(PR_OBJECT_TYPE), MAPI_MAILUSER);
            r.SetLong(PROP_ID(PR_DISPLAY_TYPE), DT_MAILUSER);
            if (!display.empty()) display += "; ";
            display += m.name.empty() ? m.address : m.name;
            item.recipients.push_back(std::move(r));
        }
        if (!display.empty()) p.SetText(PROP_ID(kind.displayTag), display);
    }

    if (GDateTime* date = g_mime_message_get_date(message)) {
        const FILETIME when = FileTimeFromUnix(g_date_time_to_unix(date));
        p.SetTime(PROP_ID(PR_CLIENT_SUBMIT_TIME), when);
        p.SetTime(PROP_ID(PR_MESSAGE_DELIVERY_TIME), when);
    }
    // The topmost Received header was added by the last server on the way:
    // its date, after the last ';', is when the message arrived.
    if (const char* received = Header(object, "Received")) {
        const char* semicolon = std::strrchr(received, ';');
        if (semicolon != nullptr) {
            GDatePtr arrived(g_mime_utils_header_decode_date(semicolon + 1));
            if (arrived)
                p.SetTime(PROP_ID(PR_MESSAGE_DELIVERY_TIME),
                          FileTimeFromUnix(g_date_time_to_unix(arrived.get())));
        }
    }
    if (const char* id = g_mime_message_get_message_id(message); id != nullptr && *id)
        p.SetText(PROP_ID(PR_INTERNET_MESSAGE_ID), std::string("<") + id + ">");
    if (const char* v = Header(object, "In-Reply-To")) p.SetText(PROP_ID(kPrInReplyToId), Trim(v));
    if (const char* v = Header(object, "References"))
        p.SetText(PROP_ID(kPrInternetReferences), Trim(v));
    ReadImportance(object, p);
    ReadKeywords(object, names, p);
    if (const char* v = Header(object, "X-Quirnel-Source")) ApplyProvenanceHeader(v, names, item);
    ReadStatus(object, item);

    GMimeObject* body = g_mime_message_get_mime_part(message);
    if (body != nullptr) {
        BodyWalker walker(names, item, depth);
        HRESULT hr = walker.Walk(body);
        if (FAILED(hr)) return hr;
    }
    LONG flags = p.Long(PROP_ID(PR_MESSAGE_FLAGS)).value_or(0);
    if (!item.attachments.empty()) flags |= MSGFLAG_HASATTACH;
    p.SetLong(PROP_ID(PR_MESSAGE_FLAGS), flags);
    return S_OK;
}

}  // namespace

HRESULT ReadMime(std::string_view bytes, NameResolver& names, MailItem* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    EnsureGMime();
    // Mail saved by hand sometimes starts with a stray blank before its
    // first header, which would make that header a continuation of nothing
    // and the whole message a body without headers.
    size_t skip = 0;
    while (skip < bytes.size() && (bytes[skip] == ' ' || bytes[skip] == '\t')) ++skip;
    bytes.remove_prefix(skip);
    BoundedBytes bounded;
    BoundMessage(bytes, &bounded);
    bytes = bounded.bytes;
    // GMime copies the bytes into the stream it parses.
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) return MAPI_E_CORRUPT_DATA;
    // Text without a single header is not mail. A MIME entity that has only
    // its Content-* headers (a saved part) is, and GMime keeps those with the
    // body, not the message.
    auto count = [](GMimeObject* object) {
        GMimeHeaderList* list = object != nullptr ? g_mime_object_get_header_list(object) : nullptr;
        return list != nullptr ? g_mime_header_list_get_count(list) : 0;
    };
    if (count(GMIME_OBJECT(message.get())) == 0 &&
        count(g_mime_message_get_mime_part(message.get())) == 0)
        return MAPI_E_CORRUPT_DATA;
    MailItem item;
    HRESULT hr = ReadMessage(message.get(), names, item, 0);
    if (FAILED(hr)) return hr;
    for (const std::string& note : bounded.notes) AddConversionNote(names, item, note);
    *out = std::move(item);
    return S_OK;
}

}  // namespace mapi::mime
