// MAPI message to Internet message ([MS-OXCMAIL] section 2.2, the
// outbound direction).
#include <algorithm>
#include <cstdio>

#include <mapitags.h>

#include "mime/calendar.h"
#include "mime/gmime_util.h"
#include "mime/mime_convert.h"
#include "mime/rtf.h"
#include "mime/vcard.h"

namespace mapi::mime {

namespace {

constexpr int kMaxDepth = 32;

// Headers that describe the body GMime writes for us, or that the store
// writes itself; the copies in saved transport headers would lie.
constexpr const char* kReplacedHeaders[] = {
    "Content-Type", "Content-Transfer-Encoding", "Content-Disposition", "Content-ID",
    "Content-Length", "MIME-Version", "X-Quirnel-Source", "Status", "X-Status", "Lines",
    "X-Mozilla-Status", "X-Mozilla-Status2",
};

// A subject as RFC 2047 encoded words (UTF-8, "Q"), folded one word a
// line, in the form GMime keeps a raw header value: leading blank, line
// end. Each word holds whole characters and stays within 75 characters.
// "Q" rather than base64: readers (GMime too) join the payloads of
// adjacent words before decoding, which padding in the middle would break.
std::string EncodedWords(const std::string& text) {
    constexpr size_t kPayload = 75 - 12;  // "=?UTF-8?Q?" and "?="
    static const char kHex[] = "0123456789ABCDEF";
    std::string out, word;
    auto flush = [&] {
        if (word.empty()) return;
        out += (out.empty() ? " " : "\n ") + std::string("=?UTF-8?Q?") + word + "?=";
        word.clear();
    };
    for (size_t i = 0; i < text.size();) {
        // One character: its lead byte and the continuation bytes after it.
        size_t end = i + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
        std::string encoded;
        for (size_t k = i; k < end; ++k) {
            const auto c = static_cast<unsigned char>(text[k]);
            if (c == ' ') {
                encoded += '_';
            } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '!' || c == '*' || c == '+' || c == '-' || c == '/') {
                encoded += static_cast<char>(c);
            } else {
                encoded += '=';
                encoded += kHex[c >> 4];
                encoded += kHex[c & 0x0F];
            }
        }
        if (word.size() + encoded.size() > kPayload) flush();
        word += encoded;
        i = end;
    }
    flush();
    return out + "\n";
}

// GMime writes a word such as "=?:" as it is, and a reader (GMime's own
// too) then takes it for the start of an encoded word and leaves the rest
// of the line undecoded. A subject with "=?" in it is written whole as
// encoded words instead, which every reader decodes to the same text.
void SetSubject(GMimeMessage* message, const std::string& subject) {
    g_mime_message_set_subject(message, subject.c_str(), "utf-8");
    if (subject.find("=?") == std::string::npos) return;
    GMimeHeader* header = g_mime_header_list_get_header(
        g_mime_object_get_header_list(GMIME_OBJECT(message)), "Subject");
    if (header != nullptr) g_mime_header_set_raw_value(header, EncodedWords(subject).c_str());
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string AddressOf(const PropBag& props, ULONG smtpTag, ULONG emailTag, ULONG typeTag) {
    if (auto smtp = props.Text(PROP_ID(smtpTag)); smtp && !smtp->empty()) return *smtp;
    auto email = props.Text(PROP_ID(emailTag));
    if (!email) return {};
    auto type = props.Text(PROP_ID(typeTag));
    if ((type && Lower(*type) == "smtp") || email->find('@') != std::string::npos) return *email;
    // An Exchange distinguished name is no Internet address; the display
    // name alone is what can honestly be said.
    return {};
}

GPtr<InternetAddress> Mailbox(const std::string& name, const std::string& address) {
    return GPtr<InternetAddress>(
        internet_address_mailbox_new(name.empty() ? nullptr : name.c_str(), address.c_str()));
}

void AddMailbox(InternetAddressList* list, const std::string& name, const std::string& address) {
    if (name.empty() && address.empty()) return;
    if (address.empty()) {
        // A name without an address becomes an empty group, which RFC 5322
        // allows and every reader accepts.
        GPtr<InternetAddress> group(internet_address_group_new(name.c_str()));
        internet_address_list_add(list, group.get());
        return;
    }
    GPtr<InternetAddress> mailbox = Mailbox(name, address);
    internet_address_list_add(list, mailbox.get());
}

bool HasHeader(GMimeMessage* message, const char* name) {
    return g_mime_object_get_header(GMIME_OBJECT(message), name) != nullptr;
}

bool ListEmpty(InternetAddressList* list) {
    return list == nullptr || internet_address_list_length(list) == 0;
}

// The message whose headers the output starts from: the saved transport
// headers when GMime can read them, else a new one.
GPtr<GMimeMessage> StartMessage(const MailItem& item) {
    auto saved = item.props.Text(PROP_ID(PR_TRANSPORT_MESSAGE_HEADERS));
    if (saved && saved->find(':') != std::string::npos) {
        std::string block = *saved;
        while (!block.empty() && (block.back() == '\n' || block.back() == '\r')) block.pop_back();
        block += "\n\n";
        GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(block.data(), block.size()));
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
        if (message) {
            for (const char* name : kReplacedHeaders)
                while (g_mime_object_remove_header(GMIME_OBJECT(message.get()), name)) {
                }
            return message;
        }
    }
    return GPtr<GMimeMessage>(g_mime_message_new(TRUE));
}

void FillHeaders(const MailItem& item, GMimeMessage* message, NameResolver& names) {
    const PropBag& p = item.props;
    GMimeObject* object = GMIME_OBJECT(message);
    InternetAddressList* from = g_mime_message_get_from(message);
    if (ListEmpty(from)) {
        AddMailbox(from, p.Text(PROP_ID(PR_SENT_REPRESENTING_NAME)).value_or(""),
                   AddressOf(p, kPrSentRepresentingSmtpAddress, PR_SENT_REPRESENTING_EMAIL_ADDRESS,
                             PR_SENT_REPRESENTING_ADDRTYPE));
        if (ListEmpty(from))
            AddMailbox(from, p.Text(PROP_ID(PR_SENDER_NAME)).value_or(""),
                       AddressOf(p, PR_SENDER_SMTP_ADDRESS, PR_SENDER_EMAIL_ADDRESS,
                                 PR_SENDER_ADDRTYPE));
    }
    InternetAddressList* sender = g_mime_message_get_sender(message);
    if (ListEmpty(sender) && p.Has(PROP_ID(PR_SENT_REPRESENTING_NAME))) {
        std::string senderAddress =
            AddressOf(p, PR_SENDER_SMTP_ADDRESS, PR_SENDER_EMAIL_ADDRESS, PR_SENDER_ADDRTYPE);
        std::string fromAddress = AddressOf(p, kPrSentRepresentingSmtpAddress,
                                            PR_SENT_REPRESENTING_EMAIL_ADDRESS,
                                            PR_SENT_REPRESENTING_ADDRTYPE);
        if (!senderAddress.empty() && Lower(senderAddress) != Lower(fromAddress))
            AddMailbox(sender, p.Text(PROP_ID(PR_SENDER_NAME)).value_or(""), senderAddress);
    }

    // Each recipient kind the headers lack comes from the recipient table:
    // saved transport headers of sent mail never name the Bcc recipients.
    const bool haveTo = HasHeader(message, "To"), haveCc = HasHeader(message, "Cc"),
               haveBcc = HasHeader(message, "Bcc");
    for (const PropBag& r : item.recipients) {
        GMimeAddressType type = GMIME_ADDRESS_TYPE_TO;
        bool have = haveTo;
        switch (r.Long(PROP_ID(PR_RECIPIENT_TYPE)).value_or(MAPI_TO) & 0xFF) {
            case MAPI_CC: type = GMIME_ADDRESS_TYPE_CC, have = haveCc; break;
            case MAPI_BCC: type = GMIME_ADDRESS_TYPE_BCC, have = haveBcc; break;
            default: break;
        }
        if (have) continue;
        AddMailbox(g_mime_message_get_addresses(message, type),
                   r.Text(PROP_ID(PR_DISPLAY_NAME)).value_or(""),
                   AddressOf(r, PR_SMTP_ADDRESS, PR_EMAIL_ADDRESS, PR_ADDRTYPE));
    }
    if (!HasHeader(message, "Subject"))
        if (auto subject = p.Text(PROP_ID(PR_SUBJECT)))
            SetSubject(message, *subject);
    if (!HasHeader(message, "Date")) {
        std::optional<FILETIME> when = p.Time(PROP_ID(PR_CLIENT_SUBMIT_TIME));
        if (!when) when = p.Time(PROP_ID(PR_MESSAGE_DELIVERY_TIME));
        if (!when) when = p.Time(PROP_ID(PR_CREATION_TIME));
        if (when) {
            GDatePtr date(g_date_time_new_from_unix_utc(UnixFromFileTime(*when)));
            if (date) g_mime_message_set_date(message, date.get());
        }
    }
    if (!HasHeader(message, "Message-ID"))
        if (auto id = p.Text(PROP_ID(PR_INTERNET_MESSAGE_ID)); id && !id->empty()) {
            std::string bare = *id;
            if (bare.front() == '<' && bare.back() == '>') bare = bare.substr(1, bare.size() - 2);
            if (!bare.empty()) g_mime_message_set_message_id(message, bare.c_str());
        }
    if (!HasHeader(message, "In-Reply-To"))
        if (auto v = p.Text(PROP_ID(kPrInReplyToId)); v && !v->empty())
            g_mime_object_set_header(object, "In-Reply-To", v->c_str(), nullptr);
    if (!HasHeader(message, "References"))
        if (auto v = p.Text(PROP_ID(kPrInternetReferences)); v && !v->empty())
            g_mime_object_set_header(object, "References", v->c_str(), nullptr);
    if (!HasHeader(message, "Importance"))
        if (auto importance = p.Long(PROP_ID(PR_IMPORTANCE))) {
            const char* text = *importance == IMPORTANCE_HIGH  ? "high"
                               : *importance == IMPORTANCE_LOW ? "low"
                                                               : "normal";
            g_mime_object_set_header(object, "Importance", text, nullptr);
            if (*importance != IMPORTANCE_NORMAL)
                g_mime_object_set_header(object, "X-Priority",
                                         *importance == IMPORTANCE_HIGH ? "1" : "5", nullptr);
        }
    if (!HasHeader(message, "Keywords"))
        if (ULONG id = names.IdOf(KeywordsName()); id != 0)
            if (auto keywords = p.TextList(id); keywords && !keywords->empty()) {
                std::string joined;
                for (const std::string& k : *keywords) {
                    if (!joined.empty()) joined += ", ";
                    joined += k;
                }
                g_mime_object_set_header(object, "Keywords", joined.c_str(), "utf-8");
            }
    std::string provenance = ProvenanceHeader(item, names);
    if (!provenance.empty())
        g_mime_object_set_header(object, "X-Quirnel-Source", provenance.c_str(), nullptr);
}

// Bodies get the most readable 7-bit encoding; attachments always base64,
// because quoted-printable text lets readers change its line ends and an
// attachment must come back byte for byte.
void SetBytes(GMimePart* part, const std::string& bytes, bool exact = false) {
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GPtr<GMimeDataWrapper> wrapper(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, wrapper.get());
    g_mime_part_set_content_encoding(
        part, exact ? GMIME_CONTENT_ENCODING_BASE64
                    : g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
}

GPtr<GMimeObject> TextPart(const char* subtype, const std::string& bytes, const char* charset) {
    GPtr<GMimeTextPart> part(g_mime_text_part_new_with_subtype(subtype));
    SetBytes(GMIME_PART(part.get()), bytes);
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.get()), "charset", charset);
    return GPtr<GMimeObject>(GMIME_OBJECT(part.release()));
}

// The body: plain text, HTML, both as alternatives, and a calendar part for
// appointments or a vCard for contacts. An RTF-only body is decompressed; HTML it wraps comes back
// as HTML, other RTF goes along as text plus the RTF itself.
GPtr<GMimeObject> BodyPart(const MailItem& item, NameResolver& names,
                           std::vector<GPtr<GMimeObject>>* extra) {
    const PropBag& p = item.props;
    std::optional<std::string> text = p.Text(PROP_ID(PR_BODY));
    std::optional<std::string> html = p.Binary(PROP_ID(PR_HTML));
    const char* htmlCharset = "utf-8";
    if (html) {
        LONG cpid = p.Long(PROP_ID(PR_INTERNET_CPID)).value_or(65001);
        if (const char* name = CharsetOfCodePage(cpid)) htmlCharset = name;
    } else if (auto htmlText = p.Text(PROP_ID(PR_BODY_HTML))) {
        html = *htmlText;
    }
    if (!html && !text) {
        if (auto rtf = p.Binary(PROP_ID(PR_RTF_COMPRESSED))) {
            std::string plain;
            if (DecompressRtf(*rtf, &plain) == S_OK) {
                std::string fromHtml;
                if (HtmlFromRtf(plain, &fromHtml)) {
                    html = fromHtml;
                } else {
                    text = TextFromRtf(plain);
                    GPtr<GMimePart> rtfPart(g_mime_part_new_with_type("application", "rtf"));
                    SetBytes(rtfPart.get(), plain, true);
                    g_mime_part_set_filename(rtfPart.get(), "body.rtf");
                    extra->emplace_back(GMIME_OBJECT(rtfPart.release()));
                }
            }
        }
    }
    std::vector<GPtr<GMimeObject>> alternatives;
    if (text || !html) alternatives.push_back(TextPart("plain", text.value_or(""), "utf-8"));
    if (html) alternatives.push_back(TextPart("html", *html, htmlCharset));
    std::string calendar;
    if (CalendarOf(item, names, &calendar)) {
        GPtr<GMimeObject> cal = TextPart("calendar", calendar, "utf-8");
        g_mime_object_set_content_type_parameter(cal.get(), "method", "PUBLISH");
        alternatives.push_back(std::move(cal));
    }
    std::string vcard;
    if (VCardOf(item, names, &vcard)) alternatives.push_back(TextPart("vcard", vcard, "utf-8"));
    if (alternatives.size() == 1) return std::move(alternatives.front());
    GPtr<GMimeMultipart> alt(g_mime_multipart_new_with_subtype("alternative"));
    for (auto& part : alternatives) g_mime_multipart_add(alt.get(), part.get());
    return GPtr<GMimeObject>(GMIME_OBJECT(alt.release()));
}

HRESULT BuildMessage(const MailItem& item, NameResolver& names, const WriteOptions& options,
                     int depth, GPtr<GMimeMessage>* out);

HRESULT AttachmentPart(const MailAttachment& attachment, NameResolver& names, int depth,
                       GPtr<GMimeObject>* out) {
    const PropBag& p = attachment.props;
    std::string filename = p.Text(PROP_ID(PR_ATTACH_LONG_FILENAME))
                               .value_or(p.Text(PROP_ID(PR_ATTACH_FILENAME))
                                             .value_or(p.Text(PROP_ID(PR_DISPLAY_NAME)).value_or("")));
    const LONG method = p.Long(PROP_ID(PR_ATTACH_METHOD)).value_or(ATTACH_BY_VALUE);
    if (method == ATTACH_EMBEDDED_MSG && attachment.embedded) {
        GPtr<GMimeMessage> inner;
        // An embedded message has no file name or mailbox entry to keep its
        // read state beside it; its own Status header carries it.
        WriteOptions innerOptions;
        innerOptions.statusHeaders = true;
        HRESULT hr = BuildMessage(*attachment.embedded, names, innerOptions, depth + 1, &inner);
        if (FAILED(hr)) return hr;
        GPtr<GMimeMessagePart> part(g_mime_message_part_new_with_message("rfc822", inner.get()));
        g_mime_object_set_disposition(GMIME_OBJECT(part.get()), "attachment");
        if (!filename.empty())
            g_mime_object_set_content_disposition_parameter(GMIME_OBJECT(part.get()), "filename",
                                                            filename.c_str());
        out->reset(GMIME_OBJECT(part.release()));
        return S_OK;
    }
    std::string type = p.Text(PROP_ID(PR_ATTACH_MIME_TAG)).value_or("");
    GPtr<GMimeContentType> contentType;
    if (!type.empty()) contentType.reset(g_mime_content_type_parse(nullptr, type.c_str()));
    if (!contentType || g_mime_content_type_get_media_subtype(contentType.get()) == nullptr ||
        g_mime_content_type_is_type(contentType.get(), "multipart", "*") ||
        g_mime_content_type_is_type(contentType.get(), "message", "*"))
        contentType.reset(g_mime_content_type_new("application", "octet-stream"));
    GPtr<GMimePart> part(g_mime_part_new());
    g_mime_object_set_content_type(GMIME_OBJECT(part.get()), contentType.get());
    SetBytes(part.get(), p.Binary(PROP_ID(PR_ATTACH_DATA_BIN)).value_or(""), true);
    const std::string contentId = p.Text(PROP_ID(PR_ATTACH_CONTENT_ID)).value_or("");
    const bool inlined = !contentId.empty() &&
                         ((p.Long(PROP_ID(PR_ATTACH_FLAGS)).value_or(0) & kAttMhtmlRef) != 0 ||
                          p.Bool(PROP_ID(kPrAttachmentHidden)).value_or(false));
    g_mime_object_set_disposition(GMIME_OBJECT(part.get()), inlined ? "inline" : "attachment");
    if (!filename.empty()) g_mime_part_set_filename(part.get(), filename.c_str());
    if (!contentId.empty()) {
        std::string bare = contentId;
        if (bare.size() > 2 && bare.front() == '<' && bare.back() == '>')
            bare = bare.substr(1, bare.size() - 2);
        g_mime_part_set_content_id(part.get(), bare.c_str());
    }
    out->reset(GMIME_OBJECT(part.release()));
    return S_OK;
}

HRESULT BuildMessage(const MailItem& item, NameResolver& names, const WriteOptions& options,
                     int depth, GPtr<GMimeMessage>* out) {
    if (depth > kMaxDepth) return MAPI_E_CORRUPT_DATA;
    GPtr<GMimeMessage> message = StartMessage(item);
    FillHeaders(item, message.get(), names);
    if (options.statusHeaders) {
        MailFlags flags = FlagsOf(item);
        GMimeObject* object = GMIME_OBJECT(message.get());
        g_mime_object_set_header(object, "Status", flags.seen ? "RO" : "O", nullptr);
        std::string x;
        if (flags.answered) x += 'A';
        if (flags.flagged) x += 'F';
        if (flags.draft) x += 'T';
        if (!x.empty()) g_mime_object_set_header(object, "X-Status", x.c_str(), nullptr);
        // Thunderbird reads its own word, which alone can say forwarded.
        char mozilla[8];
        std::snprintf(mozilla, sizeof mozilla, "%04X",
                      (flags.seen ? 0x0001u : 0u) | (flags.answered ? 0x0002u : 0u) |
                          (flags.flagged ? 0x0004u : 0u) | (flags.forwarded ? 0x1000u : 0u));
        g_mime_object_set_header(object, "X-Mozilla-Status", mozilla, nullptr);
    }
    std::vector<GPtr<GMimeObject>> extra;  // the RTF of an RTF-only body
    std::vector<GPtr<GMimeObject>> parts;
    parts.push_back(BodyPart(item, names, &extra));
    for (auto& part : extra) parts.push_back(std::move(part));
    for (const MailAttachment& attachment : item.attachments) {
        GPtr<GMimeObject> part;
        HRESULT hr = AttachmentPart(attachment, names, depth, &part);
        if (FAILED(hr)) return hr;
        parts.push_back(std::move(part));
    }
    if (parts.size() == 1) {
        g_mime_message_set_mime_part(message.get(), parts.front().get());
    } else {
        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        for (auto& part : parts) g_mime_multipart_add(mixed.get(), part.get());
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }
    *out = std::move(message);
    return S_OK;
}

}  // namespace

HRESULT WriteMime(const MailItem& item, NameResolver& names, const WriteOptions& options,
                  std::string* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    EnsureGMime();
    GPtr<GMimeMessage> message;
    HRESULT hr = BuildMessage(item, names, options, 0, &message);
    if (FAILED(hr)) return hr;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    if (g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), nullptr, stream.get()) < 0)
        return MAPI_E_CALL_FAILED;
    *out = StreamBytes(stream.get());
    return S_OK;
}

}  // namespace mapi::mime
