// The about box (a picture and OK) and the two web links of the main dialog.
#pragma once

#include "template_dialog.h"

class CAboutDlg : public CTemplateDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// Runs the about box modally; its result does not matter.
void ShowAboutBox();

// Opens the address that the string stringId holds with the desktop's URL
// handler. Failures are not reported. Returns the address it asked for.
QUrl OpenWebPage(int stringId);

// Where a relative address of the string table (a page shipped with the
// program) is found: beside the executable, or in the installed data folder.
QUrl ResolveAddress(const QString& address);
