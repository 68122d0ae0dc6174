// String table of both languages.
#include "string_table.h"

#include "resource.h"

namespace {

struct Entry {
    int id;
    const char* german;
    const char* english;
};

// The help addresses name the query language guide that is installed with
// the program; OpenWebPage finds it beside the executable.
constexpr Entry kStrings[] = {
    {IDS_ABOUTBOX, "Inf&o über Quirnel...", "Inf&o über Quirnel..."},
    {IDS_START_MAIL_CLIENT, "Bitte starten Sie Outlook danach QUIRNEL",
     "Please start Outlook then QUIRNEL"},
    {IDS_URL_HELP, "help/query-language.de.html", "help/query-language.en.html"},
    {IDS_URL_LINK, "https://quirnel.org/de/", "https://quirnel.org/en/"},
    {IDS_STOPPING, "Wird beendet, das laufende Element wird noch kopiert...",
     "Stopping, the item in progress is still being copied..."},
};

}  // namespace

QString LoadString(int id, Language language) {
    for (const Entry& e : kStrings) {
        if (e.id == id) {
            return QString::fromUtf8(language == Language::German ? e.german : e.english);
        }
    }
    return {};
}

QString LoadString(int id) {
    return LoadString(id, ResourceLanguage());
}
