// The program's own window for its help pages and its log file, for
// desktops where nothing else opens them (no browser, no URL handler).
#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class QTextBrowser;

// A window over one page: HTML pages with their links followed inside it,
// any other file shown as plain text.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    CHelpWindow(QWidget* owner, const QString& title);
    void Show(const QUrl& file);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

// Opens file with the desktop's handler; false when there is none or it
// refused.
bool OpenExternally(const QUrl& file);
// Replaces the desktop's handler (tests: false says there is none); null
// restores it.
using ExternalViewerHook = std::function<bool(const QUrl&)>;
void SetExternalViewerHook(ExternalViewerHook hook);

// Opens the help page of the running language: with the desktop's viewer,
// else in the window of owner (made at its first use, kept and raised on
// later ones). Returns the page's address.
QUrl ShowHelp(QWidget* owner);
// Opens a text file (the log) the same way.
void ShowTextFile(QWidget* owner, const QUrl& file);
