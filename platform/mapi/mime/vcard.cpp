// vCard 3.0 for contact items: names, organisation, telephone numbers and
// up to three e-mail addresses ([MS-OXVCARD] gives the full mapping).
#include "mime/vcard.h"

#include <mapitags.h>

#include <vector>

namespace mapi::mime {

namespace {

// PSETID_Address names of the three e-mail addresses ([MS-OXPROPS]).
constexpr LONG kEmailAddress[] = {0x8083, 0x8093, 0x80A3};
constexpr LONG kEmailDisplay[] = {0x8080, 0x8090, 0x80A0};
constexpr LONG kEmailType[] = {0x8082, 0x8092, 0x80A2};

constexpr ULONG kGivenName = 0x3A06;
constexpr ULONG kBusinessPhone = 0x3A08;
constexpr ULONG kHomePhone = 0x3A09;
constexpr ULONG kSurname = 0x3A11;
constexpr ULONG kCompany = 0x3A16;
constexpr ULONG kTitle = 0x3A17;
constexpr ULONG kMobilePhone = 0x3A1C;
constexpr ULONG kGeneration = 0x3A05;
constexpr ULONG kMiddleName = 0x3A44;
constexpr ULONG kPrefix = 0x3A45;

struct Phone {
    ULONG propId;
    const char* type;
};
constexpr Phone kPhones[] = {
    {kBusinessPhone, "WORK,VOICE"}, {kHomePhone, "HOME,VOICE"}, {kMobilePhone, "CELL"}};

// RFC 2426 3.4: backslash, comma, semicolon and line breaks are escaped.
std::string Escape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == ',' || c == ';') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\\n";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char n = text[++i];
            out += (n == 'n' || n == 'N') ? std::string("\r\n") : std::string(1, n);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// A structured value's components (N), split at unescaped semicolons.
std::vector<std::string> Components(std::string_view value) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value.substr(i, 2);
            ++i;
        } else if (value[i] == ';') {
            parts.emplace_back();
        } else {
            parts.back().push_back(value[i]);
        }
    }
    for (std::string& p : parts) p = Unescape(p);
    return parts;
}

// Lines longer than 75 octets are folded (RFC 2425 5.8.1), never inside a
// UTF-8 sequence.
void AddLine(std::string& out, const std::string& line) {
    size_t at = 0;
    bool first = true;
    while (at < line.size()) {
        size_t take = std::min<size_t>(first ? 75 : 74, line.size() - at);
        while (take > 1 && at + take < line.size() &&
               (static_cast<unsigned char>(line[at + take]) & 0xC0) == 0x80)
            --take;
        if (!first) out += ' ';
        out.append(line, at, take);
        out += "\r\n";
        at += take;
        first = false;
    }
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

bool VCardOf(const MailItem& item, NameResolver& names, std::string* vcard) {
    const PropBag& p = item.props;
    if (p.Text(PROP_ID(PR_MESSAGE_CLASS)).value_or("").rfind("IPM.Contact", 0) != 0) return false;
    std::string out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    auto text = [&](ULONG id) { return p.Text(id).value_or(""); };
    std::string full = text(PROP_ID(PR_DISPLAY_NAME));
    if (full.empty()) full = text(PROP_ID(PR_SUBJECT));
    AddLine(out, "FN:" + Escape(full));
    AddLine(out, "N:" + Escape(text(kSurname)) + ";" + Escape(text(kGivenName)) + ";" +
                     Escape(text(kMiddleName)) + ";" + Escape(text(kPrefix)) + ";" +
                     Escape(text(kGeneration)));
    if (!text(kCompany).empty()) AddLine(out, "ORG:" + Escape(text(kCompany)));
    if (!text(kTitle).empty()) AddLine(out, "TITLE:" + Escape(text(kTitle)));
    for (const Phone& phone : kPhones)
        if (!text(phone.propId).empty())
            AddLine(out, std::string("TEL;TYPE=") + phone.type + ":" + Escape(text(phone.propId)));
    for (int i = 0; i < 3; ++i) {
        const ULONG id = names.IdOf(NamedId(PSETID_Address, kEmailAddress[i]));
        if (id == 0) continue;
        const std::string address = p.Text(id).value_or("");
        if (!address.empty())
            AddLine(out, std::string("EMAIL;TYPE=INTERNET") + (i == 0 ? ",PREF" : "") + ":" +
                             Escape(address));
    }
    out += "END:VCARD\r\n";
    *vcard = std::move(out);
    return true;
}

bool ApplyVCard(std::string_view text, NameResolver& names, MailItem& item) {
    // Unfold: a line that starts with a blank continues the one before.
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line(text.substr(at, end == std::string_view::npos ? std::string_view::npos
                                                                       : end - at));
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty())
            lines.back() += line.substr(1);
        else
            lines.push_back(std::move(line));
    }
    bool inCard = false, seen = false;
    PropBag& p = item.props;
    int email = 0;
    for (const std::string& line : lines) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string head = Upper(line.substr(0, colon));
        const std::string value = line.substr(colon + 1);
        // A group prefix ("item1.EMAIL") says nothing for us.
        if (size_t dot = head.find('.'); dot != std::string::npos && dot < head.find(';'))
            head = head.substr(dot + 1);
        const std::string name = head.substr(0, head.find(';'));
        const std::string params = head.find(';') == std::string::npos ? "" : head.substr(head.find(';'));
        if (name == "BEGIN" && Upper(value) == "VCARD") {
            if (seen) break;
            inCard = seen = true;
            continue;
        }
        if (!inCard) continue;
        if (name == "END") break;
        if (name == "FN") {
            p.SetText(PROP_ID(PR_DISPLAY_NAME), Unescape(value));
            if (!p.Has(PROP_ID(PR_SUBJECT))) p.SetText(PROP_ID(PR_SUBJECT), Unescape(value));
        } else if (name == "N") {
            const std::vector<std::string> n = Components(value);
            const ULONG ids[] = {kSurname, kGivenName, kMiddleName, kPrefix, kGeneration};
            for (size_t i = 0; i < n.size() && i < 5; ++i)
                if (!n[i].empty()) p.SetText(ids[i], n[i]);
        } else if (name == "ORG") {
            p.SetText(kCompany, Components(value).front());
        } else if (name == "TITLE") {
            p.SetText(kTitle, Unescape(value));
        } else if (name == "TEL") {
            ULONG id = kBusinessPhone;
            if (params.find("CELL") != std::string::npos) id = kMobilePhone;
            else if (params.find("HOME") != std::string::npos) id = kHomePhone;
            if (!p.Has(id)) p.SetText(id, Unescape(value));
        } else if (name == "EMAIL" && email < 3) {
            const ULONG addressId = names.IdOf(NamedId(PSETID_Address, kEmailAddress[email]));
            const ULONG displayId = names.IdOf(NamedId(PSETID_Address, kEmailDisplay[email]));
            const ULONG typeId = names.IdOf(NamedId(PSETID_Address, kEmailType[email]));
            ++email;
            if (addressId != 0) p.SetText(addressId, Unescape(value));
            if (typeId != 0) p.SetText(typeId, "SMTP");
            if (displayId != 0) p.SetText(displayId, Unescape(value));
        }
    }
    if (!seen) return false;
    p.SetText(PROP_ID(PR_MESSAGE_CLASS), "IPM.Contact");
    return true;
}

}  // namespace mapi::mime
