// The German dialog templates.
#include "templates.h"

#include "resource.h"

namespace dlg {

using enum Kind;

// Narrower than the dialog once was, so that it still fits a 1280-pixel
// screen at 150 %; the store buttons stand beside the lists they act on.
const Template kMainDialogDe{
    IDD_QUIRNEL_DIALOG,
    "Quirnel",
    500,
    297,
    {
        {IDC_STATIC, Picture, 0, "", {7, 7, 67, 31}, IDB_LOGO},
        {IDC_LINK, PushButton, kTabStop, kPromoLinkTextDe, {80, 7, 265, 12}},
        {IDC_STATIC, StaticText, 0, kPromoTextDe, {81, 20, 264, 20}},
        {IDC_STATIC, EtchedLine, kSunken, "", {7, 47, 338, 1}},
        {IDC_STATIC, StaticText, 0, "Quelle", {7, 51, 104, 10}},
        {IDC_COMBO_SOURCE, DropList, kSorted | kVScroll | kTabStop, "", {7, 62, 170, 128}},
        {IDC_ADD_STORE, PushButton, kTabStop, "Hinzufügen...", {181, 61, 58, 14}},
        {IDC_RENAME_SOURCE, PushButton, kTabStop, "Umbenennen...", {241, 61, 54, 14}},
        {IDC_REMOVE_SOURCE, PushButton, kTabStop, "Entfernen", {297, 61, 48, 14}},
        {IDC_STATIC, StaticText, 0, "Ziel", {7, 78, 107, 11}},
        {IDC_COMBO_TARGET, DropList, kSorted | kVScroll | kTabStop, "", {7, 89, 170, 112}},
        {IDC_NEW_TARGET, PushButton, kTabStop, "Neues Ziel...", {181, 88, 58, 14}},
        {IDC_RENAME_TARGET, PushButton, kTabStop, "Umbenennen...", {241, 88, 54, 14}},
        {IDC_REMOVE_TARGET, PushButton, kTabStop, "Entfernen", {297, 88, 48, 14}},
        {IDC_STATIC, StaticText, 0, "Query", {7, 110, 40, 10}},
        {IDC_STATIC, StaticText, kHidden, "Felder", {178, 110, 20, 8}},
        {IDC_COMBO_FIELDS, DropDown, kSorted | kHidden, "", {209, 107, 136, 129}},
        {IDC_EDIT_QUERY,
         Edit,
         kMultiLine | kBorder | kAutoHScroll | kTabStop,
         "",
         {7, 123, 338, 39}},
        {IDC_START, PushButton, kTabStop, "Start", {7, 169, 50, 14}},
        {IDC_STOP, PushButton, kTabStop, "Stop", {71, 169, 50, 14}},
        {IDC_INFO, PushButton, kTabStop, "Info", {131, 169, 50, 14}},
        {IDC_HELP_PAGE, PushButton, kTabStop, "Hilfe", {190, 169, 50, 14}},
        {IDC_QUERY, PushButton, kTabStop, "Query", {295, 169, 50, 14}},
        {IDC_STATIC, StaticText, 0, "Aktivitäten", {7, 187, 80, 10}},
        {IDC_LIST_ACTIVITY,
         ListBox,
         kBorder | kVScroll | kNoIntegralHeight | kNotify | kTabStop,
         "",
         {7, 200, 486, 70}},
        {IDC_STATIC, StaticText, 0, "Version 1.5", {7, 274, 70, 9}},
        {IDC_PROGRESS_BAR, ProgressBar, 0, "", {85, 274, 290, 10}},
        {IDC_TIME_LEFT, StaticText, 0, "", {381, 275, 112, 9}},
        {IDC_STATIC_PROGRESS, StaticText, 0, "0 von 0", {85, 287, 408, 9}},
        {IDC_STATIC, GroupBox, 0, "Hinweise", {351, 7, 142, 186}},
        {IDC_STATIC,
         StaticText,
         0,
         "Fügen Sie die alte Datei mit \"Hinzufügen...\" als Quelle hinzu und legen Sie mit "
         "\"Neues Ziel...\" eine neue, leere Datei an; danach wählen Sie beide hier aus. Start "
         "kopiert alle Ordner von einer Datei in die andere.",
         {356, 18, 132, 70}},
        {IDC_STATIC,
         StaticText,
         0,
         "Für Experten: Mit einer Abfrage können nur bestimmte Elemente exportiert werden, z.B. "
         "nur eine Kategorie oder nur Elemente welche nach einem Datum geändert wurden.",
         {356, 92, 132, 50}},
        {IDC_STATIC,
         StaticText,
         0,
         "Die vollständige Anleitung zur Abfragesprache mit allen Feldern und Beispielen öffnet "
         "die Schaltfläche Hilfe.",
         {356, 146, 132, 42}},
    },
};

const Template kQueryDialogDe{
    IDD_QUERY,
    "Query",
    312,
    196,
    {
        {IDOK, DefPushButton, kTabStop, "OK", {7, 176, 50, 14}},
        {IDCANCEL, PushButton, kTabStop, "Abbruch", {255, 176, 50, 14}},
        {IDC_CHK_WITH_CATEGORY, AutoCheckBox, kTabStop, "Elemente mit Kategorie", {145, 7, 90, 10}},
        {IDC_CHK_WITHOUT_CATEGORY,
         AutoCheckBox,
         kTabStop,
         "Elemente ohne Kategorie",
         {145, 19, 95, 10}},
        {IDC_EDIT_CATEGORY, Edit, kBorder | kAutoHScroll | kTabStop, "", {143, 35, 162, 14}},
        {IDC_CHK_NEWER, AutoCheckBox, kTabStop, "Elemente neuer als Datum", {17, 7, 99, 10}},
        {IDC_CALENDAR, MonthCalendar, kNoToday | kTabStop, "", {15, 29, 125, 89}},
        {IDC_CHK_CREATEDBY, AutoCheckBox, kTabStop, "Elemente erstellt von", {144, 54, 81, 10}},
        {IDC_EDIT_QUERY,
         Edit,
         kMultiLine | kBorder | kAutoHScroll | kTabStop,
         "",
         {7, 132, 298, 16}},
        {IDC_COMBO_CREATOR, DropDown, kSorted | kVScroll | kTabStop, "", {142, 67, 163, 30}},
        {IDC_CHK_SUBJECT,
         AutoCheckBox,
         kTabStop,
         "Elemente, deren Betreff enthält",
         {144, 85, 161, 10}},
        {IDC_EDIT_SUBJECT, Edit, kBorder | kAutoHScroll | kTabStop, "", {142, 96, 163, 14}},
        {IDC_CHK_OLDER, AutoCheckBox, kTabStop, "Elemente älter als", {144, 114, 84, 10}},
        {IDC_EDIT_DAYS, Edit, kBorder | kTabStop, "", {230, 112, 30, 14}},
        {IDC_STATIC, StaticText, 0, "Tage", {264, 115, 41, 10}},
        {IDC_STATIC, StaticText, 0, "Query", {7, 122, 40, 10}},
        {IDC_CHK_MODIFIED,
         AutoCheckBox,
         kTabStop,
         "Elemente geändert nach Datum",
         {16, 18, 116, 10}},
        {IDC_CHK_SAVED, AutoCheckBox, kTabStop, "Gespeicherte Abfrage", {7, 156, 88, 10}},
        {IDC_COMBO_SAVED, DropList, kSorted | kVScroll | kTabStop, "", {98, 154, 92, 80}},
        {IDC_SAVED_SAVE, PushButton, kTabStop, "Speichern...", {194, 153, 54, 14}},
        {IDC_SAVED_REMOVE, PushButton, kTabStop, "Entfernen", {251, 153, 54, 14}},
    },
};

const Template kAboutDialogDe{
    IDD_ABOUTBOX,
    "Info über Quirnel",
    263,
    230,
    {
        {IDOK, DefPushButton, kGroup | kTabStop, "OK", {101, 209, 50, 14}},
        {IDC_STATIC, Picture, 0, "", {9, 9, 247, 199}, IDB_ABOUT_DE},
    },
};

}  // namespace dlg
