// The per-kind lists of what a copy keeps, applied to a message's dump.
#include "verify_scope.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>

#include <MapiWrapper.h>
#include <mapiutil.h>
#include <runtime/provider.h>

namespace quirnel {

namespace {

// Property ids (upper 16 bits of the tag) that MIME carries, per block of
// the dump, each with the header or part that carries it.
const std::set<unsigned> kMessageCarried = {
    0x0017,  // PR_IMPORTANCE: Importance
    0x001A,  // PR_MESSAGE_CLASS: the kind of part (see Normalised)
    0x0037,  // PR_SUBJECT: Subject
    0x0039,  // PR_CLIENT_SUBMIT_TIME: Date
    0x0042,  // PR_SENT_REPRESENTING_NAME: From
    0x0C1A,  // PR_SENDER_NAME: Sender, else From
    0x0E07,  // PR_MESSAGE_FLAGS: read and unsent (see Normalised)
    0x1000,  // PR_BODY: text/plain
    0x1013,  // PR_HTML: text/html, when it was UTF-8 (see Normalised)
    0x1035,  // PR_INTERNET_MESSAGE_ID: Message-ID
    0x1039,  // PR_INTERNET_REFERENCES: References
    0x1042,  // PR_IN_REPLY_TO_ID: In-Reply-To
};
const std::set<unsigned> kRecipientCarried = {0x0C15, 0x3001};  // type, display name
const std::set<unsigned> kAttachmentCarried = {
    0x3701,  // PR_ATTACH_DATA_BIN: the part's bytes
    0x3705,  // PR_ATTACH_METHOD: by value or message/rfc822
    0x3707,  // PR_ATTACH_LONG_FILENAME: filename
    0x370E,  // PR_ATTACH_MIME_TAG: Content-Type
    0x3712,  // PR_ATTACH_CONTENT_ID: Content-ID
};
// Contacts travel as vCards: names, organisation, title, telephones.
const std::set<unsigned> kContactCarried = {0x3A06, 0x3A11, 0x3A44, 0x3A45, 0x3A05,
                                            0x3A16, 0x3A17, 0x3A08, 0x3A09, 0x3A1C};
// Addresses travel only when they are Internet addresses: address type id
// and the id of its address.
const std::pair<unsigned, unsigned> kMessageSmtp[] = {{0x0064, 0x0065}, {0x0C1E, 0x0C1F}};
const std::pair<unsigned, unsigned> kRecipientSmtp[] = {{0x3002, 0x3003}};
// Named properties, by the start of their dump key.
const char* const kNamedCarried[] = {
    "{00062004-0000-0000-C000-000000000046}:0x00008083:",  // e-mail 1: EMAIL
    "{00062004-0000-0000-C000-000000000046}:0x00008093:",  // e-mail 2
    "{00062004-0000-0000-C000-000000000046}:0x000080A3:",  // e-mail 3
    "{00020329-0000-0000-C000-000000000046}:\"Keywords\":",  // Keywords
    "{00062002-0000-0000-C000-000000000046}:0x0000820D:",  // appointment start: DTSTART
    "{00062002-0000-0000-C000-000000000046}:0x0000820E:",  // appointment end: DTEND
    "{00062002-0000-0000-C000-000000000046}:0x00008208:",  // location: LOCATION
};

// What a personal folder file sets itself: each attachment's size as
// stored, "not rendered" for an attachment that had no position, and the
// row id and row version of each recipient in its table.
constexpr unsigned kAttachSize = 0x0E20;
constexpr char kNotRendered[] = "0x370B0003=-1";
constexpr unsigned kRowId = 0x67F2, kRowVersion = 0x67F3;

enum class Block { Message, Recipient, Attachment };

struct Line {
    size_t indent = 0;
    std::string text;  // without the indent
};

Line Split(const std::string& line) {
    Line l;
    l.indent = line.find_first_not_of(' ');
    if (l.indent == std::string::npos) l.indent = line.size();
    l.text = line.substr(l.indent);
    return l;
}

bool IsMarker(const std::string& text) {
    return text == "recipient" || text == "attachment" || text == "message";
}

// The property id of a numbered property line ("0xIIIITTTT=..."), or 0.
unsigned IdOf(const std::string& text) {
    if (text.size() < 11 || text.compare(0, 2, "0x") != 0 || text[10] != '=') return 0;
    return static_cast<unsigned>(std::strtoul(text.substr(2, 4).c_str(), nullptr, 16));
}

std::string Payload(const std::string& text) {
    const size_t eq = text.find('=');
    return eq == std::string::npos ? std::string() : text.substr(eq + 1);
}

// 8-bit and Unicode strings are one kind of text for MIME: the Unicode
// type stands for both.
std::string AsUnicode(std::string text) {
    if (text.size() >= 11 && text.compare(0, 2, "0x") == 0) {
        if (text.compare(6, 4, "001E") == 0) text.replace(6, 4, "001F");
        if (text.compare(6, 4, "101E") == 0) text.replace(6, 4, "101F");
    }
    for (const char* from : {":0x001E=", ":0x101E="}) {
        const size_t at = text.find(from);
        if (at != std::string::npos && text[0] == '{') text.replace(at + 6, 1, "F");
    }
    return text;
}

// A quoted payload without the line breaks at its end ("\x0D\x0A" as the
// dump writes them), which belong to the format and not to the text.
std::string WithoutLastBreaks(std::string quoted) {
    if (quoted.size() < 2 || quoted.back() != '"') return quoted;
    quoted.pop_back();
    for (;;) {
        if (quoted.size() >= 4 && (quoted.compare(quoted.size() - 4, 4, "\\x0A") == 0 ||
                                   quoted.compare(quoted.size() - 4, 4, "\\x0D") == 0))
            quoted.resize(quoted.size() - 4);
        else
            break;
    }
    return quoted + "\"";
}

// <HEX> bytes with CR LF as LF and the line breaks at the end dropped.
std::string HexWithoutBreaks(const std::string& hex) {
    if (hex.size() < 2 || hex.front() != '<' || hex.back() != '>') return hex;
    std::string bytes;
    for (size_t i = 1; i + 2 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    std::string lf;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) lf += bytes[i];
    while (!lf.empty() && (lf.back() == '\n' || lf.back() == '\r')) lf.pop_back();
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "<";
    for (unsigned char c : lf) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out + ">";
}

// The properties of one block (text lines at one indent), reduced to what
// MIME carries, in the form the way back gives them.
std::vector<std::string> InternetProps(Block block, const std::vector<std::string>& props,
                                       bool headers) {
    auto find = [&](unsigned id) -> const std::string* {
        for (const std::string& p : props)
            if (IdOf(p) == id) return &p;
        return nullptr;
    };
    const std::string* cls = find(0x001A);
    const bool contact = cls != nullptr && Payload(*cls).rfind("\"IPM.Contact", 0) == 0;
    const std::set<unsigned>& ids = block == Block::Message     ? kMessageCarried
                                    : block == Block::Recipient ? kRecipientCarried
                                                                : kAttachmentCarried;
    std::vector<std::string> out;
    for (const std::string& p : props) {
        const unsigned id = IdOf(p);
        std::string kept;
        if (id == 0) {
            for (const char* named : kNamedCarried)
                if (p.rfind(named, 0) == 0) kept = p;
        } else if (ids.count(id) || (block == Block::Message && contact && kContactCarried.count(id))) {
            kept = p;
        }
        if (kept.empty()) continue;
        kept = AsUnicode(kept);
        const std::string head = kept.substr(0, kept.find('=') + 1);
        std::string value = Payload(kept);
        if (value == "\"\"") continue;  // an empty text says nothing a missing one does not
        if (block == Block::Message) {
            if (id == 0x1000) value = WithoutLastBreaks(value);
            if (id == 0x0E07)
                value = std::to_string(std::strtol(value.c_str(), nullptr, 10) &
                                       (MSGFLAG_READ | MSGFLAG_UNSENT));
            if (id == 0x1013) {
                const std::string* cpid = find(0x3FDE);
                // HTML comes back as UTF-8: it compares only when it was.
                if (cpid != nullptr && Payload(*cpid) != "65001") continue;
                value = HexWithoutBreaks(value);
            }
            if (id == 0x001A && value.rfind("\"IPM.Appointment", 0) != 0 &&
                value.rfind("\"IPM.Note", 0) != 0 && value.rfind("\"IPM.Contact", 0) != 0)
                value = "\"IPM.Note\"";  // anything else comes back as a note
        }
        // Saved transport headers win, and may name a recipient otherwise.
        if (block == Block::Recipient && headers && id == 0x3001) continue;
        out.push_back(head + value);
    }
    const auto* smtp = block == Block::Recipient ? std::begin(kRecipientSmtp) : std::begin(kMessageSmtp);
    const auto* smtpEnd = block == Block::Recipient ? std::end(kRecipientSmtp)
                          : block == Block::Message ? std::end(kMessageSmtp)
                                                    : std::begin(kMessageSmtp);
    for (; smtp != smtpEnd; ++smtp) {
        const std::string* type = find(smtp->first);
        const std::string* address = find(smtp->second);
        if (type == nullptr || address == nullptr) continue;
        std::string t = Payload(*type);
        std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::toupper(c); });
        if (t != "\"SMTP\"") continue;
        out.push_back(AsUnicode(*type));
        out.push_back(AsUnicode(*address));
    }
    return out;
}

std::vector<std::string> PersonalFoldersLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    std::vector<std::pair<size_t, Block>> open;  // markers: indent, block
    for (const std::string& line : lines) {
        const Line l = Split(line);
        while (!open.empty() && open.back().first >= l.indent) open.pop_back();
        if (l.text == "attachment") open.emplace_back(l.indent, Block::Attachment);
        if (l.text == "recipient") open.emplace_back(l.indent, Block::Recipient);
        const bool inBlock = !open.empty() && open.back().first + 2 == l.indent;
        const Block block = inBlock ? open.back().second : Block::Message;
        const unsigned id = IdOf(l.text);
        if (block == Block::Attachment && (id == kAttachSize || l.text == kNotRendered)) continue;
        if (block == Block::Recipient && (id == kRowId || id == kRowVersion)) continue;
        out.push_back(line);
    }
    return out;
}

// Reduces the block that starts at lines[at] (props at indent) and its
// sub-blocks; at ends past the block.
void InternetBlock(Block block, const std::vector<std::string>& lines, size_t& at, size_t indent,
                   bool headers, std::vector<std::string>* out) {
    std::vector<std::string> props;
    const std::string pad(indent, ' ');
    size_t propsAt = out->size();
    bool propsDone = false;
    auto flush = [&]() {
        if (propsDone) return;
        propsDone = true;
        std::vector<std::string> kept = InternetProps(block, props, headers);
        std::sort(kept.begin(), kept.end());
        std::vector<std::string> padded;
        for (const std::string& k : kept) padded.push_back(pad + k);
        out->insert(out->begin() + static_cast<long>(propsAt), padded.begin(), padded.end());
    };
    while (at < lines.size()) {
        const Line l = Split(lines[at]);
        if (l.indent < indent) break;
        if (l.indent == indent && !IsMarker(l.text)) {
            props.push_back(l.text);
            ++at;
            continue;
        }
        if (l.indent == indent && l.text != "message" && block == Block::Attachment) break;
        if (l.indent == indent && block != Block::Attachment) {
            // A recipient or attachment of this message.
            flush();
            out->push_back(lines[at]);
            ++at;
            InternetBlock(l.text == "recipient" ? Block::Recipient : Block::Attachment, lines, at,
                          indent + 2, headers && block == Block::Message, out);
            continue;
        }
        if (l.indent == indent && l.text == "message") {
            // The embedded message of this attachment.
            flush();
            out->push_back(lines[at]);
            ++at;
            InternetBlock(Block::Message, lines, at, indent + 2, false, out);
            continue;
        }
        ++at;  // deeper than a block of this one can be: not from the dump
    }
    flush();
}

}  // namespace

TargetKind TargetKindOf(IMsgStore* store) {
    if (store == nullptr) return TargetKind::Complete;
    LPSPropValue raw = nullptr;
    if (FAILED(HrGetOneProp(store, PR_MDB_PROVIDER, &raw)) || raw == nullptr)
        return TargetKind::Complete;
    MapiBufferPtr<SPropValue> value(raw);
    if (value->Value.bin.cb != sizeof(MAPIUID)) return TargetKind::Complete;
    for (mapi::StoreProvider* provider : mapi::BuiltinProviders()) {
        const MAPIUID uid = provider->ProviderUid();
        if (std::memcmp(uid.ab, value->Value.bin.lpb, sizeof uid.ab) != 0) continue;
        const std::string name = provider->Name();
        // The readers and the writer of .pst files share one provider id.
        if (name == "pst-writer" || name == "pst" || name == "pst-checked")
            return TargetKind::PersonalFolders;
        if (name == "maildir" || name == "mbox" || name == "eml" || name == "imap")
            return TargetKind::Internet;
        return TargetKind::Complete;
    }
    return TargetKind::Complete;
}

const char* ScopeText(TargetKind kind) {
    switch (kind) {
        case TargetKind::PersonalFolders:
            return "every property but those the file sets itself";
        case TargetKind::Internet:
            return "what an Internet message carries";
        case TargetKind::Complete:
            break;
    }
    return "every property";
}

std::vector<std::string> KeptLines(TargetKind kind, const std::vector<std::string>& lines,
                                   bool sourceHeaders) {
    if (kind == TargetKind::PersonalFolders) return PersonalFoldersLines(lines);
    if (kind != TargetKind::Internet) return lines;
    std::vector<std::string> out;
    size_t at = 0;
    InternetBlock(Block::Message, lines, at, 0, sourceHeaders, &out);
    return out;
}

bool HasTransportHeaders(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (IdOf(line) == 0x007D) return true;  // indent 0: the message's own
    return false;
}

bool AddedByTarget(TargetKind kind, const std::string& copyLine) {
    if (kind != TargetKind::Internet) return false;
    // A source value the copy lost or changed shows as a line only the
    // source has; what only the copy has is the conversion's (an address
    // type taken from a header, the type of a forwarded message), unless
    // it is a whole recipient or attachment more.
    return !IsMarker(Split(copyLine).text);
}

}  // namespace quirnel
