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
    {IDS_ABOUTBOX, "Inf&o über Quirnel...", "&About Quirnel..."},
    {IDS_START_MAIL_CLIENT, "Bitte starten Sie Outlook danach QUIRNEL",
     "Please start Outlook then QUIRNEL"},
    {IDS_URL_HELP, "help/index.de.html", "help/index.en.html"},
    {IDS_URL_LINK, "https://quirnel.org/de/", "https://quirnel.org/en/"},
    {IDS_STOPPING, "Wird beendet, das laufende Element wird noch kopiert...",
     "Stopping, the item in progress is still being copied..."},
    {IDS_NO_PROFILE,
     "Quirnel kopiert zwischen den Datendateien eines Profils. Das Profil ist die Liste dieser "
     "Dateien (PST-Dateien und Quirnel-Speicher), so wie ein Mailprogramm sie in seinem Profil "
     "führt.\n\nEs gibt noch kein Profil (%1).\n\nSoll ein leeres Profil angelegt "
     "werden? Danach fügen Sie im Hauptfenster die Quelle hinzu und legen ein Ziel an.",
     "Quirnel copies between the data files of a profile. The profile is the list of those "
     "files (.pst files and Quirnel stores), the way a mail program keeps them in its "
     "profile.\n\nThere is no profile yet (%1).\n\nCreate an empty profile now? Then add "
     "the source and create a target in the main window."},
    {IDS_PROFILE_FAILED, "Das Profil kann nicht angelegt werden:\n%1",
     "The profile cannot be created:\n%1"},
    {IDS_ADD_STORE_CAPTION, "Datendatei hinzufügen", "Add a data file"},
    {IDS_ADD_STORE_FILTER, "Datendateien (*.pst *.ost *.db);;Alle Dateien (*)",
     "Data files (*.pst *.ost *.db);;All files (*)"},
    {IDS_NEW_TARGET_CAPTION, "Neues Ziel anlegen", "Create a new target"},
    {IDS_NEW_TARGET_FILTER, "Quirnel-Speicher (*.db)", "Quirnel stores (*.db)"},
    {IDS_REMOVE_STORE, "\"%1\" aus dem Profil entfernen? Die Datei selbst bleibt erhalten:\n%2",
     "Remove \"%1\" from the profile? The file itself is kept:\n%2"},
    {IDS_STORE_TIP, "%1\n%2", "%1\n%2"},
    {IDS_STORE_READONLY, "%1 (nur lesbar)", "%1 (read-only)"},
    {IDS_STORE_MISSING, "%1 (Datei fehlt)", "%1 (file missing)"},
    {IDS_STORE_UNUSABLE, "%1 (nicht lesbar)", "%1 (cannot be opened)"},
    {IDS_STORES_CAPTION, "Datendateien", "Data files"},
    {IDS_AMBIGUOUS_NAME,
     "Mehrere Datendateien heißen \"%1\". Entfernen Sie die überschüssige und fügen "
     "Sie sie wieder hinzu, dann bekommt sie einen eigenen Namen.",
     "More than one data file is named \"%1\". Remove the extra one and add it again; it "
     "then gets a name of its own."},
    {IDS_PROGRESS_ITEMS, "%1: %2 von %3 Elementen", "%1: %2 of %3 items"},
    {IDS_PROGRESS_FOLDERS, "Ordner werden angelegt", "Creating folders"},
    {IDS_PROGRESS_SUBFOLDERS, "%1: Unterordner werden angelegt", "%1: creating its folders"},
    {IDS_YES, "&Ja", "&Yes"},
    {IDS_NO, "&Nein", "&No"},
    {IDS_NO_STORES,
     "Noch keine Datendateien: fügen Sie die Quelle hinzu und legen Sie ein Ziel an.",
     "No data files yet: add the source and create a target."},
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
