// Resource identifiers of the application: dialogs, controls, strings,
// pictures and the about command. Code and tests address controls by these.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_QUIRNEL_DIALOG 102
#define IDD_QUERY 4081

// Strings
#define IDS_ABOUTBOX 101
#define IDS_START_MAIL_CLIENT 102
#define IDS_URL_HELP 103
#define IDS_URL_LINK 104
// Shown while a run ends because the dialog was closed
#define IDS_STOPPING 105
// First run, store setup and the run's status line
#define IDS_NO_PROFILE 106
#define IDS_PROFILE_FAILED 107
#define IDS_ADD_STORE_CAPTION 108
#define IDS_ADD_STORE_FILTER 109
#define IDS_NEW_TARGET_CAPTION 110
#define IDS_NEW_TARGET_FILTER 111
#define IDS_REMOVE_STORE 112
#define IDS_STORE_TIP 113
#define IDS_STORE_READONLY 114
#define IDS_STORE_MISSING 115
#define IDS_STORE_UNUSABLE 116
#define IDS_STORES_CAPTION 117
#define IDS_AMBIGUOUS_NAME 118
#define IDS_PROGRESS_ITEMS 119
#define IDS_PROGRESS_FOLDERS 120
#define IDS_NO_STORES 121
#define IDS_YES 122
#define IDS_NO 123
#define IDS_PROGRESS_SUBFOLDERS 124
// How a run ended, the offer to resume, the overall progress
#define IDS_OUTCOME_COMPLETED 125
#define IDS_OUTCOME_STOPPED 127
#define IDS_OUTCOME_FAILED 128
#define IDS_OUTCOME_QUERY 129
#define IDS_RESUME_OFFER 130
#define IDS_RESUME_CONTINUE 131
#define IDS_RESUME_AGAIN 132
#define IDS_CANCEL 133
#define IDS_TIME_LEFT_SECONDS 134
#define IDS_TIME_LEFT_MINUTES 135
#define IDS_TIME_LEFT_HOURS 136
#define IDS_PROGRESS_BAR 137
#define IDS_PROGRESS_ITEM 138
// Kinds of store to add or make, mail accounts, renaming, counting at Start
#define IDS_ADD_MENU_FILE 139
#define IDS_ADD_MENU_FOLDER 140
#define IDS_ADD_MENU_ACCOUNT 141
#define IDS_ADD_FOLDER_CAPTION 142
#define IDS_NEW_MENU_DATAFILE 143
#define IDS_NEW_MENU_MAILDIR 144
#define IDS_NEW_MENU_MBOX 145
#define IDS_NEW_MENU_EML 146
#define IDS_NEW_FOLDER_FILTER 147
#define IDS_ACCOUNT_CAPTION 148
#define IDS_ACCOUNT_SERVER 149
#define IDS_ACCOUNT_PORT 150
#define IDS_ACCOUNT_USER 151
#define IDS_ACCOUNT_SECURITY 152
#define IDS_ACCOUNT_TLS 153
#define IDS_ACCOUNT_STARTTLS 154
#define IDS_ACCOUNT_NOTE 155
#define IDS_PASSWORD_CAPTION 156
#define IDS_PASSWORD_PROMPT 157
#define IDS_NO_PASSWORD 158
#define IDS_OK 159
#define IDS_RENAME_CAPTION 160
#define IDS_RENAME_PROMPT 161
#define IDS_RENAME_TAKEN 162
#define IDS_COUNTING 163
// Reasons the store setup gives
#define IDS_SETUP_PROFILE_UNWRITABLE 164
#define IDS_SETUP_PROFILE_UNREADABLE 165
#define IDS_SETUP_NOT_FOUND 166
#define IDS_SETUP_NOT_A_STORE 167
#define IDS_SETUP_EXISTS 168
#define IDS_SETUP_NO_PROVIDER 169
#define IDS_SETUP_CANNOT_MAKE 170
#define IDS_SETUP_NOT_ACCOUNT 171
#define IDS_SETUP_NEEDS_NAME 172
#define IDS_SETUP_NAME_TAKEN 173
#define IDS_SETUP_NOT_IN_PROFILE 174
// The query builder's saved queries
#define IDS_SAVED_CAPTION 300
#define IDS_SAVED_ARGUMENT 301
#define IDS_SAVED_NAME_PROMPT 302
#define IDS_SAVED_BAD_NAME 303
#define IDS_SAVED_REPLACE 304
#define IDS_SAVED_EMPTY 305
#define IDS_SAVED_REMOVE 306
#define IDS_SAVED_PROBLEMS 307
#define IDS_SAVED_FILE_BROKEN 308
#define IDS_SAVED_NOT_WRITTEN 309
#define IDS_SAVED_QUOTE 310
// Closing during a run, a profile that cannot be read, the end of a run
// with damage, the help window.
#define IDS_STOP_TO_CLOSE 190
#define IDS_PROFILE_BROKEN 191
#define IDS_PROFILE_KEPT_AS 192
#define IDS_NO_PROFILE_END 193
#define IDS_SELECT_STORES 194
#define IDS_OUTCOME_DAMAGE 195
#define IDS_DAMAGE_SALVAGED 196
#define IDS_DAMAGE_FAILED 197
#define IDS_DAMAGE_SKIPPED 198
#define IDS_DAMAGE_SEE_LOG 199
#define IDS_HELP_CAPTION 200
#define IDS_OPEN_LOG 201

// Icon and pictures
#define IDR_MAINFRAME 128
#define IDB_ABOUT_DE 130
#define IDB_ABOUT_EN 131
#define IDB_LOGO 149

// System command of the about entry
#define IDM_ABOUTBOX 0x0010

// Standard commands
#define IDOK 1
#define IDCANCEL 2
// Controls without an id of their own
#define IDC_STATIC (-1)

// Main dialog
#define IDC_LIST_ACTIVITY 1005
#define IDC_START 1006
#define IDC_COMBO_SOURCE 1007
#define IDC_COMBO_TARGET 1008
#define IDC_INFO 1009
#define IDC_STOP 1010
#define IDC_EDIT_QUERY 1011
#define IDC_HELP_PAGE 1012
#define IDC_QUERY 1013
#define IDC_LINK 1014
#define IDC_STATIC_PROGRESS 1015
#define IDC_COMBO_FIELDS 1330
// Store setup beside the two lists
#define IDC_ADD_STORE 1016
#define IDC_REMOVE_SOURCE 1017
#define IDC_NEW_TARGET 1018
#define IDC_REMOVE_TARGET 1019
// Overall progress of a run
#define IDC_PROGRESS_BAR 1020
#define IDC_TIME_LEFT 1021
// Renaming the entry a list shows
#define IDC_RENAME_SOURCE 1022
#define IDC_RENAME_TARGET 1023

// Query builder
#define IDC_CHK_NEWER 4098
#define IDC_CHK_MODIFIED 4099
#define IDC_CALENDAR 4100
#define IDC_CHK_CREATEDBY 4102
#define IDC_EDIT_CATEGORY 4103
#define IDC_CHK_WITH_CATEGORY 4104
#define IDC_CHK_WITHOUT_CATEGORY 4105
#define IDC_COMBO_CREATOR 4106
#define IDC_CHK_SUBJECT 4107
#define IDC_EDIT_SUBJECT 4108
#define IDC_CHK_OLDER 4109
#define IDC_EDIT_DAYS 4110
#define IDC_CHK_SAVED 4111
#define IDC_COMBO_SAVED 4112
#define IDC_SAVED_SAVE 4113
#define IDC_SAVED_REMOVE 4114
