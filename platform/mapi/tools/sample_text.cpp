// Word tables and the text generators of the sample store.
#include "sample_text.h"

#include <algorithm>

namespace mapi::tools {
namespace {

const char* const kGiven[] = {"Anna",   "Ben",    "Clara", "David",  "Elena", "Felix", "Greta",
                              "Hugo",   "Ines",   "Jonas", "Karin",  "Lukas", "Maria", "Niklas",
                              "Olga",   "Paul",   "Rita",  "Stefan", "Tanja", "Uwe",   "Vera",
                              "Walter", "Yvonne", "Zoe",   "Amelie", "Bruno", "Chiara"};
const char* const kSurname[] = {"Adler",   "Becker",   "Claussen", "Dietrich", "Engel",  "Fischer",
                                "Graf",    "Hartmann", "Jansen",   "Keller",   "Lang",   "Meyer",
                                "Neumann", "Otto",     "Peters",   "Roth",     "Schulz", "Vogel",
                                "Wagner",  "Ziegler",  "Brandt",   "Kramer",   "Lorenz", "Seidel"};
const char* const kCompany[] = {"Nordwind AG",      "Alpenblick GmbH", "Kestrel Systems",
                                "Harbor Logistics", "Lindqvist & Co",  "Meridian Labs",
                                "Tessaro Bau",      "Quellwerk KG"};
const char* const kDomain[] = {"nordwind.example", "alpenblick.example", "kestrel.example",
                               "harbor.example",   "lindqvist.example",  "meridian.example",
                               "tessaro.example",  "quellwerk.example"};

const char* const kTopic[] = {
    "budget review",  "project kickoff", "quarterly report", "travel plans",   "server upgrade",
    "contract draft", "team offsite",    "invoice 2231",     "release notes",  "design feedback",
    "hiring update",  "customer visit",  "holiday schedule", "security audit", "price list",
    "weekly status",  "migration plan",  "training session", "board meeting",  "shipping delay"};
const char* const kSubjectFrame[] = {"%s",
                                     "Question about the %s",
                                     "Update: %s",
                                     "%s - draft",
                                     "Minutes of the %s",
                                     "Reminder: %s",
                                     "Your %s",
                                     "%s (urgent)"};
const char* const kUnicodeSubject[] = {
    "Grüße aus München",      "Réunion à Genève",    "Отчёт за квартал",
    "会議の議事録",           "Ελληνικά νέα",        "Smørrebrød på fredag",
    "Żółta łódź na jeziorze", "Café ☕ am Freitag",   "Straße gesperrt – Umleitung",
    "Año nuevo, señal nueva", "Prüfung bestanden ✓", "Tschüss und danke für alles"};
const char* const kMeeting[] = {
    "Team meeting",  "1:1",           "Planning poker", "Lunch",      "Dentist",
    "Sprint review", "Customer call", "Budget round",   "Yoga class", "Architecture review"};
const char* const kLocation[] = {"Room 2.14", "Online",          "Cafeteria", "Main office",
                                 "Berlin",    "Conference Hall", "Zürich",    "Home"};
const char* const kCategory[] = {"Red Category", "Blue Category", "Green Category", "Important",
                                 "Personal",     "Travel",        "Projects",       "Waiting"};
const char* const kTitle[] = {"Engineer", "Manager",  "Consultant", "Accountant",
                              "Designer", "Director", "Buyer",      "Technician"};
const char* const kWord[] = {
    "the",     "report", "meeting", "we",       "should",    "schedule", "next",     "week",
    "please",  "review", "numbers", "attached", "before",    "friday",   "thanks",   "for",
    "your",    "help",   "with",    "project",  "team",      "agreed",   "on",       "new",
    "plan",    "budget", "is",      "still",    "open",      "let",      "me",       "know",
    "if",      "you",    "have",    "any",      "questions", "about",    "delivery", "customer",
    "invoice", "update", "draft",   "final",    "version",   "server",   "today",    "tomorrow"};
const char* const kFileStem[] = {"report", "invoice",  "minutes", "photo",  "plan",
                                 "notes",  "contract", "slides",  "budget", "data"};

struct FileKind {
    const char* extension;
    const char* mime;
    bool text;
};
const FileKind kFileKind[] = {{".txt", "text/plain", true},
                              {".csv", "text/csv", true},
                              {".pdf", "application/pdf", false},
                              {".jpg", "image/jpeg", false},
                              {".docx",
                               "application/vnd.openxmlformats-officedocument."
                               "wordprocessingml.document",
                               false}};

std::string Format(const char* frame, const std::string& topic) {
    std::string out(frame);
    size_t at = out.find("%s");
    out.replace(at, 2, topic);
    return out;
}

std::string Capitalised(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
}

std::string Sentence(SampleRandom& rng) {
    int words = rng.Between(5, 12);
    std::string out;
    for (int i = 0; i < words; ++i) {
        if (i > 0) out += ' ';
        out += rng.Pick(kWord);
    }
    return Capitalised(out) + (rng.Chance(15) ? "?" : ".");
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

SamplePerson PickPerson(SampleRandom& rng) {
    SamplePerson p;
    p.given = rng.Pick(kGiven);
    p.surname = rng.Pick(kSurname);
    uint32_t company = rng.Below(static_cast<uint32_t>(std::size(kCompany)));
    p.company = kCompany[company];
    p.email = Lower(p.given) + "." + Lower(p.surname) + "@" + kDomain[company];
    return p;
}

std::string MailSubject(SampleRandom& rng) {
    std::string subject = Capitalised(Format(rng.Pick(kSubjectFrame), rng.Pick(kTopic)));
    uint32_t prefix = rng.Below(10);
    if (prefix < 3) return "RE: " + subject;
    if (prefix == 3) return "FW: " + subject;
    return subject;
}

std::string UnicodeSubject(SampleRandom& rng) {
    return rng.Pick(kUnicodeSubject);
}
std::string MeetingSubject(SampleRandom& rng) {
    return rng.Pick(kMeeting);
}
std::string MeetingLocation(SampleRandom& rng) {
    return rng.Pick(kLocation);
}
std::string PhoneNumber(SampleRandom& rng) {
    return "+49 " + std::to_string(rng.Between(30, 899)) + " " +
           std::to_string(rng.Between(100000, 9999999));
}
std::string JobTitle(SampleRandom& rng) {
    return rng.Pick(kTitle);
}

std::string BodyText(SampleRandom& rng, const std::string& signer) {
    std::string body = "Hello,\r\n\r\n";
    int paragraphs = rng.Between(1, 4);
    for (int p = 0; p < paragraphs; ++p) {
        int sentences = rng.Between(1, 5);
        for (int s = 0; s < sentences; ++s) {
            if (s > 0) body += ' ';
            body += Sentence(rng);
        }
        body += "\r\n\r\n";
    }
    return body + "Best regards\r\n" + signer + "\r\n";
}

std::string BodyHtml(const std::string& text) {
    std::string html = "<html><head><meta charset=\"utf-8\"></head><body><p>";
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') continue;
        if (c == '\n') {
            bool paragraphEnd = i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n';
            html += paragraphEnd ? "</p><p>" : "<br>";
            if (paragraphEnd) i += 2;
        } else if (c == '<') {
            html += "&lt;";
        } else if (c == '>') {
            html += "&gt;";
        } else if (c == '&') {
            html += "&amp;";
        } else {
            html += c;
        }
    }
    return html + "</p></body></html>\r\n";
}

std::vector<std::string> PickCategories(SampleRandom& rng) {
    std::vector<std::string> out;
    int count = rng.Between(1, 3);
    while (static_cast<int>(out.size()) < count) {
        std::string c = rng.Pick(kCategory);
        if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
    }
    return out;
}

SampleFile MakeFile(SampleRandom& rng) {
    const FileKind& kind = rng.Pick(kFileKind);
    SampleFile file;
    file.extension = kind.extension;
    file.mimeType = kind.mime;
    file.name = std::string(rng.Pick(kFileStem)) + "_" + std::to_string(rng.Between(1, 999)) +
                file.extension;
    size_t size = static_cast<size_t>(rng.Between(64, 24 * 1024));
    if (kind.text) {
        while (file.data.size() < size) file.data += Sentence(rng) + "\r\n";
    } else {
        // A recognisable header, then noise, like the real thing.
        file.data = file.extension == ".pdf" ? "%PDF-1.4\n" : "\xFF\xD8\xFF\xE0";
        file.data.reserve(size);
        while (file.data.size() < size) file.data += static_cast<char>(rng.Byte());
    }
    return file;
}

}  // namespace mapi::tools
