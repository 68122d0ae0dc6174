// The main dialog's status line during a run, made from what the copy
// engine reports: the folder of its last "Copy folder" line and its
// progress text.
#pragma once

#include <QString>

// The source folder path of an activity line "Copy folder PATH to NAME",
// or the empty text for any other line. The target NAME is the source
// folder's own name or that name made unique, which tells the " to " that
// separates them from one inside a folder name.
QString FolderOfCopyLine(const QString& line);

// The status line in the resource language: "PATH: item N of M" for the
// engine's "N vom M", the folder step for "Folder creation" (naming the
// folder whose subfolders are being made, once there is one), any other
// text as it is.
QString StatusText(const QString& folder, const QString& progress);
