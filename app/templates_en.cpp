// The English dialog templates.
#include "templates.h"

#include "resource.h"

namespace dlg {

using enum Kind;

// The query label stands right above its box; the store buttons stand
// beside the lists they act on. "Query", "Start", "Stop", "Info" and "OK"
// read the same in both languages and stay.
const Template kMainDialogEn{
    IDD_QUIRNEL_DIALOG,
    "Quirnel",
    472,
    296,
    {
        {IDC_STATIC, Picture, 0, "", {7, 7, 67, 31}, IDB_LOGO},
        {IDC_LINK, PushButton, kTabStop, kPromoLinkTextEn, {80, 7, 276, 12}},
        {IDC_STATIC, StaticText, 0, kPromoTextEn, {81, 20, 274, 18}},
        {IDC_STATIC,
         StaticText,
         0,
         "This application copies all elements from the source store into the destination "
         "store. If objects are not readable, they will be skipped.",
         {7, 44, 458, 20}},
        {IDC_STATIC, StaticText, 0, "Source", {7, 68, 104, 10}},
        {IDC_COMBO_SOURCE, DropList, kSorted | kVScroll | kTabStop, "", {7, 79, 294, 128}},
        {IDC_ADD_STORE, PushButton, kTabStop, "Add store...", {305, 78, 56, 14}},
        {IDC_RENAME_SOURCE, PushButton, kTabStop, "Rename...", {363, 78, 52, 14}},
        {IDC_REMOVE_SOURCE, PushButton, kTabStop, "Remove", {417, 78, 48, 14}},
        {IDC_STATIC, StaticText, 0, "Target", {7, 98, 107, 10}},
        {IDC_COMBO_TARGET, DropList, kSorted | kVScroll | kTabStop, "", {7, 109, 294, 112}},
        {IDC_NEW_TARGET, PushButton, kTabStop, "New target...", {305, 108, 56, 14}},
        {IDC_RENAME_TARGET, PushButton, kTabStop, "Rename...", {363, 108, 52, 14}},
        {IDC_REMOVE_TARGET, PushButton, kTabStop, "Remove", {417, 108, 48, 14}},
        {IDC_STATIC, StaticText, 0, "Query", {7, 151, 40, 9}},
        {IDC_STATIC, StaticText, kHidden, "Fields", {209, 201, 20, 8}},
        {IDC_COMBO_FIELDS, DropDown, kSorted | kHidden, "", {241, 198, 151, 129}},
        {IDC_EDIT_QUERY,
         Edit,
         kMultiLine | kBorder | kAutoHScroll | kTabStop,
         "",
         {7, 161, 458, 36}},
        {IDC_START, PushButton, kTabStop, "Start", {7, 132, 50, 14}},
        {IDC_STOP, PushButton, kTabStop, "Stop", {64, 132, 50, 14}},
        {IDC_INFO, PushButton, kTabStop, "Info", {120, 132, 50, 14}},
        {IDC_HELP_PAGE, PushButton, kTabStop, "Help", {177, 132, 50, 14}},
        {IDC_QUERY, PushButton, kTabStop, "Query", {233, 132, 50, 14}},
        {IDC_STATIC, StaticText, 0, "Activities", {7, 200, 80, 9}},
        {IDC_LIST_ACTIVITY,
         ListBox,
         kBorder | kVScroll | kNoIntegralHeight | kNotify | kTabStop,
         "",
         {7, 211, 458, 55}},
        {IDC_PROGRESS_BAR, ProgressBar, 0, "", {7, 269, 352, 10}},
        {IDC_TIME_LEFT, StaticText, 0, "", {365, 270, 100, 9}},
        {IDC_STATIC_PROGRESS, StaticText, 0, "0 from 0", {7, 283, 458, 9}},
    },
};

const Template kQueryDialogEn{
    IDD_QUERY,
    "Query",
    312,
    196,
    {
        {IDOK, DefPushButton, kTabStop, "OK", {7, 176, 50, 14}},
        {IDCANCEL, PushButton, kTabStop, "Cancel", {255, 176, 50, 14}},
        {IDC_CHK_WITH_CATEGORY, AutoCheckBox, kTabStop, "Elements with category", {145, 7, 90, 10}},
        {IDC_CHK_WITHOUT_CATEGORY,
         AutoCheckBox,
         kTabStop,
         "Elements without category",
         {145, 19, 99, 10}},
        {IDC_EDIT_CATEGORY, Edit, kBorder | kAutoHScroll | kTabStop, "", {143, 35, 162, 14}},
        {IDC_CHK_NEWER, AutoCheckBox, kTabStop, "Elements newer than", {16, 7, 82, 10}},
        {IDC_CALENDAR, MonthCalendar, kNoToday | kTabStop, "", {13, 33, 125, 89}},
        {IDC_CHK_CREATEDBY, AutoCheckBox, kTabStop, "Elements created by", {144, 54, 80, 10}},
        {IDC_EDIT_QUERY,
         Edit,
         kMultiLine | kBorder | kAutoHScroll | kTabStop,
         "",
         {7, 132, 298, 16}},
        {IDC_COMBO_CREATOR, DropDown, kSorted | kVScroll | kTabStop, "", {142, 67, 163, 30}},
        {IDC_CHK_SUBJECT,
         AutoCheckBox,
         kTabStop,
         "Elements whose subject contains",
         {144, 85, 161, 10}},
        {IDC_EDIT_SUBJECT, Edit, kBorder | kAutoHScroll | kTabStop, "", {142, 96, 163, 14}},
        {IDC_CHK_OLDER, AutoCheckBox, kTabStop, "Elements older than", {144, 114, 84, 10}},
        {IDC_EDIT_DAYS, Edit, kBorder | kTabStop, "", {230, 112, 30, 14}},
        {IDC_STATIC, StaticText, 0, "days", {264, 115, 41, 10}},
        {IDC_STATIC, StaticText, 0, "Query", {7, 122, 40, 10}},
        {IDC_CHK_MODIFIED, AutoCheckBox, kTabStop, "Elements modified after", {16, 18, 92, 10}},
        {IDC_CHK_SAVED, AutoCheckBox, kTabStop, "Saved query", {7, 156, 88, 10}},
        {IDC_COMBO_SAVED, DropList, kSorted | kVScroll | kTabStop, "", {98, 154, 92, 80}},
        {IDC_SAVED_SAVE, PushButton, kTabStop, "Save...", {194, 153, 54, 14}},
        {IDC_SAVED_REMOVE, PushButton, kTabStop, "Remove", {251, 153, 54, 14}},
    },
};

const Template kAboutDialogEn{
    IDD_ABOUTBOX,
    "About Quirnel",
    263,
    230,
    {
        {IDOK, DefPushButton, kGroup | kTabStop, "OK", {101, 209, 50, 14}},
        {IDC_STATIC, Picture, 0, "", {9, 9, 249, 199}, IDB_ABOUT_EN},
    },
};

}  // namespace dlg
