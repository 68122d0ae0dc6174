// The file dialogs of the program, with a hook through which tests answer
// them the way a user would.
#pragma once

#include <QString>

#include <functional>

class QWidget;

struct FilePickRequest {
    QWidget* owner;
    QString caption;
    QString filter;  // "Text (*.a *.b);;All files (*)"
    bool forSaving;  // a new file's name rather than an existing file
    // An existing folder rather than a file (a Maildir, mbox or .eml store).
    bool folder = false;
    // Receives the filter the user left chosen (one entry of filter), when set.
    QString* chosenFilter = nullptr;
};

// The name picked with the extension of the filter chosen ("Outlook data
// files (*.pst)" makes "name" into "name.pst") when it has none of its own;
// a filter of several or of any extension adds none.
QString WithFilterExtension(const QString& picked, const QString& chosenFilter);

// Asks for a file; the empty text when the user cancelled.
QString PickFile(const FilePickRequest& request);

// Replaces the dialog by hook (null restores the real dialog).
using FilePickHook = std::function<QString(const FilePickRequest&)>;
void SetFilePickHook(FilePickHook hook);
