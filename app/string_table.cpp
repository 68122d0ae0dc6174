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
    {IDS_START_MAIL_CLIENT,
     "Die Datendateien des Profils %1 lassen sich nicht öffnen:\n%2\n\nPrüfen Sie das Profil "
     "mit \"mapiprofile list\" und starten Sie Quirnel danach erneut.",
     "The stores of the profile %1 cannot be opened:\n%2\n\nCheck the profile with "
     "\"mapiprofile list\", then start Quirnel again."},
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
    {IDS_NEW_TARGET_FILTER, "Quirnel-Speicher (*.db);;Outlook-Datendatei (*.pst)",
     "Quirnel stores (*.db);;Outlook data files (*.pst)"},
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
    {IDS_OUTCOME_COMPLETED, "Fertig: %1 kopiert, %2 waren schon im Ziel.",
     "Finished: %1 copied, %2 were already in the target."},
    {IDS_OUTCOME_STOPPED, "Angehalten: %1 kopiert. Start setzt dort fort, wo der Lauf endete.",
     "Stopped: %1 copied. Start continues where the run ended."},
    {IDS_OUTCOME_FAILED, "Fehlgeschlagen: der Lauf endete vorzeitig, %1 kopiert.",
     "Failed: the run ended early, %1 copied."},
    {IDS_OUTCOME_QUERY, "Fehler in der Query: der Lauf endete an der Query, %1 kopiert.",
     "Query error: the run ended at the query, %1 copied."},
    {IDS_RESUME_OFFER,
     "Im Ziel \"%2\" sind schon %1 Elemente aus \"%3\".\n\nFortsetzen: es werden nur die "
     "Elemente kopiert, die noch fehlen oder sich seitdem geändert haben.\nErneut kopieren: "
     "jedes Element wird noch einmal kopiert, das Ziel enthält diese dann doppelt.",
     "The target \"%2\" already holds %1 items from \"%3\".\n\nContinue: only the items "
     "still missing or changed since are copied.\nCopy again: every item is copied "
     "once more, so the target then holds these twice."},
    {IDS_RESUME_CONTINUE, "&Fortsetzen", "&Continue"},
    {IDS_RESUME_AGAIN, "&Erneut kopieren", "Copy &again"},
    {IDS_CANCEL, "Abbrechen", "Cancel"},
    {IDS_TIME_LEFT_SECONDS, "noch unter 1 Minute", "less than a minute left"},
    {IDS_TIME_LEFT_MINUTES, "noch etwa %1 Min.", "about %1 min left"},
    {IDS_TIME_LEFT_HOURS, "noch etwa %1 Std. %2 Min.", "about %1 h %2 min left"},
    {IDS_PROGRESS_BAR, "%v von %m", "%v of %m"},
    {IDS_PROGRESS_ITEM, "%1: \"%2\"", "%1: \"%2\""},
    {IDS_ADD_MENU_FILE, "&Datendatei (.pst, .ost, Quirnel-Speicher, mbox-Datei)...",
     "Data &file (.pst, .ost, Quirnel store, mbox file)..."},
    {IDS_ADD_MENU_FOLDER, "&Mailordner (Maildir, mbox, .eml)...",
     "Mail &folder (Maildir, mbox, .eml)..."},
    {IDS_ADD_MENU_ACCOUNT, "Mail&konto (IMAP)...", "Mail &account (IMAP)..."},
    {IDS_ADD_FOLDER_CAPTION, "Mailordner hinzufügen", "Add a mail folder"},
    {IDS_NEW_MENU_DATAFILE, "&Datendatei (Quirnel-Speicher oder .pst)...",
     "Data &file (Quirnel store or .pst)..."},
    {IDS_NEW_MENU_MAILDIR, "&Maildir-Ordner...", "&Maildir folder..."},
    {IDS_NEW_MENU_MBOX, "m&box-Ordner...", "m&box folder..."},
    {IDS_NEW_MENU_EML, "&.eml-Ordner...", "&.eml folder..."},
    {IDS_NEW_FOLDER_FILTER, "Neuer Ordner (*)", "New folder (*)"},
    {IDS_ACCOUNT_CAPTION, "Mailkonto hinzufügen", "Add mail account"},
    {IDS_ACCOUNT_SERVER, "&Server:", "&Server:"},
    {IDS_ACCOUNT_PORT, "&Port:", "&Port:"},
    {IDS_ACCOUNT_USER, "&Benutzer:", "&User:"},
    {IDS_ACCOUNT_SECURITY, "&Verbindung:", "&Connection:"},
    {IDS_ACCOUNT_TLS, "TLS (IMAPS, Port 993)", "TLS (IMAPS, port 993)"},
    {IDS_ACCOUNT_STARTTLS, "STARTTLS (Port 143)", "STARTTLS (port 143)"},
    {IDS_ACCOUNT_NOTE,
     "Das Passwort wird nicht gespeichert: Quirnel fragt einmal pro Sitzung danach.",
     "The password is not stored: Quirnel asks for it once per session."},
    {IDS_PASSWORD_CAPTION, "Passwort", "Password"},
    {IDS_PASSWORD_PROMPT, "Passwort für %1:", "Password for %1:"},
    {IDS_NO_PASSWORD, "kein Passwort eingegeben", "no password given"},
    {IDS_OK, "OK", "OK"},
    {IDS_RENAME_CAPTION, "Umbenennen", "Rename"},
    {IDS_RENAME_PROMPT, "Neuer Name für \"%1\":", "New name for \"%1\":"},
    {IDS_RENAME_TAKEN,
     "Eine andere Datendatei heißt schon \"%1\". Jede braucht einen eigenen Namen.",
     "Another data file is named \"%1\" already. Each needs a name of its own."},
    {IDS_COUNTING, "Es wird gezählt, was schon im Ziel ist...",
     "Counting what the target already holds..."},
    {IDS_YES, "&Ja", "&Yes"},
    {IDS_NO, "&Nein", "&No"},
    {IDS_SETUP_PROFILE_UNWRITABLE, "Das Profil %1 kann nicht geschrieben werden: %2",
     "The profile %1 cannot be written: %2"},
    {IDS_SETUP_PROFILE_UNREADABLE, "Das Profil %1 kann nicht gelesen werden",
     "The profile %1 cannot be read"},
    {IDS_SETUP_NOT_FOUND, "%1 ist weder eine Datei noch ein Ordner.",
     "%1 is not a file or folder."},
    {IDS_SETUP_NOT_A_STORE,
     "%1 ist keine Datendatei, die Quirnel lesen kann (eine .pst- oder .ost-Datei, eine von "
     "Quirnel angelegte Datei, eine mbox-Datei oder ein Maildir-, mbox- oder .eml-Ordner).",
     "%1 is not a message store that Quirnel can read (a .pst or .ost file, a store made by "
     "Quirnel, an mbox file, or a Maildir, mbox or .eml folder)."},
    {IDS_SETUP_EXISTS, "%1 gibt es schon; eine neue Datendatei braucht einen neuen Namen.",
     "%1 exists already; a new store needs a new file."},
    {IDS_SETUP_NO_PROVIDER, "Keine Speicherart kann neue Datendateien anlegen.",
     "No store provider can make new stores."},
    {IDS_SETUP_CANNOT_MAKE, "Unter %1 kann keine Datendatei angelegt werden: %2",
     "A store cannot be made at %1: %2"},
    {IDS_SETUP_NOT_ACCOUNT, "%1 ist nicht die Adresse eines Mailkontos.",
     "%1 is not the address of a mail account."},
    {IDS_SETUP_NEEDS_NAME, "Eine Datendatei braucht einen Namen.", "A store needs a name."},
    {IDS_SETUP_NAME_TAKEN, "Eine andere Datendatei heißt schon \"%1\".",
     "Another store is named \"%1\" already."},
    {IDS_SETUP_NOT_IN_PROFILE, "%1 steht nicht im Profil.", "%1 is not in the profile."},
    {IDS_STOP_TO_CLOSE,
     "Es wird gerade kopiert. Den Lauf anhalten und Quirnel beenden?\n\nDas laufende Element "
     "wird noch fertig kopiert, alles bisher Kopierte bleibt im Ziel; Start setzt beim nächsten "
     "Mal dort fort.",
     "A copy is running. Stop it and close Quirnel?\n\nThe item in progress is still "
     "completed and everything copied so far stays in the target; Start continues from there "
     "next time."},
    {IDS_PROFILE_BROKEN,
     "Das Profil kann nicht gelesen werden:\n%1\n\nMit einem neuen, leeren Profil beginnen? "
     "Die alte Datei bleibt als %2 erhalten; danach fügen Sie die Quelle hinzu und legen ein "
     "Ziel an.",
     "The profile cannot be read:\n%1\n\nStart with a new, empty profile? The old file is kept "
     "as %2; then add the source and create a target."},
    {IDS_PROFILE_KEPT_AS, "Das alte Profil kann nicht beiseitegelegt werden: %1",
     "The old profile cannot be set aside: %1"},
    {IDS_NO_PROFILE_END,
     "Ohne Profil weiß Quirnel nicht, zwischen welchen Datendateien es kopieren soll, und wird "
     "beendet. Beim nächsten Start können Sie das Profil anlegen lassen.",
     "Without a profile Quirnel does not know which stores to copy between, so it ends now. "
     "The next start offers to create the profile again."},
    {IDS_SELECT_STORES, "Bitte wählen Sie Quelle und Ziel", "Please select source and target"},
    {IDS_OUTCOME_DAMAGE, "Fertig mit Schäden: %1 kopiert", "Finished with damage: %1 copied"},
    {IDS_DAMAGE_SALVAGED, ", davon %1 lückenhaft",
     ", %1 of them salvaged with lost parts"},
    {IDS_DAMAGE_FAILED, ", %1 nicht kopiert", ", %1 items not copied"},
    {IDS_DAMAGE_SKIPPED, ", %1 Ordner übersprungen", ", %1 folders skipped"},
    {IDS_DAMAGE_SEE_LOG, "; siehe Protokoll.", "; see the log."},
    {IDS_OPEN_LOG, "Protokoll öffnen", "Open the log"},
    {IDS_HELP_CAPTION, "Quirnel-Hilfe", "Quirnel Help"},
    {IDS_NO_STORES,
     "Noch keine Datendateien: fügen Sie die Quelle hinzu und legen Sie ein Ziel an.",
     "No data files yet: add the source and create a target."},
    {IDS_SAVED_CAPTION, "Gespeicherte Abfragen", "Saved queries"},
    {IDS_SAVED_ARGUMENT, "%1\n\nWert für \"%2\" (mehrere durch ; getrennt, wo es passt):",
     "%1\n\nValue for \"%2\" (several separated by ; where that fits):"},
    {IDS_SAVED_NAME_PROMPT,
     "Unter welchem Namen soll die Abfrage gespeichert werden? Buchstaben und Ziffern, am "
     "Anfang ein Buchstabe:",
     "Save the query under which name? Letters and digits, starting with a letter:"},
    {IDS_SAVED_BAD_NAME,
     "\"%1\" geht nicht als Name: nur Buchstaben und Ziffern, am Anfang ein Buchstabe, höchstens "
     "64 Zeichen, und kein Wort oder Feld der Abfragesprache.",
     "\"%1\" cannot be a name: letters and digits only, starting with a letter, at most 64 of "
     "them, and no word or field of the query language."},
    {IDS_SAVED_REPLACE, "Es gibt schon eine gespeicherte Abfrage %1. Soll sie ersetzt werden?",
     "A saved query named %1 exists already. Replace it?"},
    {IDS_SAVED_EMPTY, "Die Abfrage ist leer, es gibt nichts zu speichern.",
     "The query is empty: there is nothing to save."},
    {IDS_SAVED_REMOVE, "Die gespeicherte Abfrage %1 entfernen?", "Remove the saved query %1?"},
    {IDS_SAVED_PROBLEMS, "Diese Zeilen der gespeicherten Abfragen werden übergangen:\n\n%1",
     "These lines of the saved queries cannot be used and are left out:\n\n%1"},
    {IDS_SAVED_FILE_BROKEN,
     "%1 hat Zeilen, die nicht gelesen werden können. Damit nichts davon verloren geht, ändert "
     "Quirnel die Datei nicht; bitte berichtigen Sie sie zuerst in einem Editor.",
     "%1 has lines that cannot be read. So that nothing of them is lost, Quirnel does not "
     "change the file; please correct it in an editor first."},
    {IDS_SAVED_NOT_WRITTEN, "Die gespeicherten Abfragen konnten nicht geschrieben werden: %1",
     "The saved queries could not be written: %1"},
    {IDS_SAVED_QUOTE, "Ein Wert kann kein doppeltes Anführungszeichen (\") enthalten.",
     "A value cannot hold a double quote (\")."},
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
