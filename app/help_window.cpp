// The help and log window of the program.
#include "help_window.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "about_dlg.h"
#include "resource.h"
#include "string_table.h"

namespace {

ExternalViewerHook g_viewerHook;

// The window of owner for one kind of page ("help", "log"), made when it
// has none yet.
CHelpWindow* WindowOf(QWidget* owner, const QString& kind, const QString& title) {
    const QString name = QStringLiteral("quirnel-window-") + kind;
    if (owner) {
        if (auto* found = owner->findChild<CHelpWindow*>(name, Qt::FindDirectChildrenOnly)) {
            found->setWindowTitle(title);
            return found;
        }
    }
    auto* window = new CHelpWindow(owner, title);
    window->setObjectName(name);
    // Without an owner nobody else would free it.
    if (!owner) window->setAttribute(Qt::WA_DeleteOnClose);
    return window;
}

void ShowInWindow(QWidget* owner, const QUrl& file, const QString& kind, const QString& title) {
    CHelpWindow* window = WindowOf(owner, kind, title);
    window->Show(file);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

CHelpWindow::CHelpWindow(QWidget* owner, const QString& title)
    : QDialog(owner, Qt::Window), browser_(new QTextBrowser(this)) {
    setWindowTitle(title);
    browser_->setOpenLinks(true);
    // Pages of the help link to each other; addresses on the web go to
    // the desktop, which has a browser if anything has.
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    const QFontMetrics fm(font());
    resize(fm.averageCharWidth() * 90, fm.height() * 36);
}

void CHelpWindow::Show(const QUrl& file) {
    const QString path = file.toLocalFile();
    if (path.endsWith(QLatin1String(".html"))) {
        browser_->setSource(file, QTextDocument::HtmlResource);
        return;
    }
    QFile text(path);
    browser_->setSource(QUrl());
    browser_->setPlainText(text.open(QIODevice::ReadOnly)
                               ? QString::fromUtf8(text.readAll())
                               : path + QStringLiteral(": ") + text.errorString());
    browser_->moveCursor(QTextCursor::End);
}

bool OpenExternally(const QUrl& file) {
    if (g_viewerHook) return g_viewerHook(file);
    return QDesktopServices::openUrl(file);
}

void SetExternalViewerHook(ExternalViewerHook hook) {
    g_viewerHook = std::move(hook);
}

QUrl ShowHelp(QWidget* owner) {
    const QUrl page = ResolveAddress(LoadString(IDS_URL_HELP));
    // A page that is not installed is shown missing in our window rather
    // than handed to a desktop that would say nothing.
    if (QFileInfo::exists(page.toLocalFile()) && OpenExternally(page)) return page;
    ShowInWindow(owner, page, QStringLiteral("help"), LoadString(IDS_HELP_CAPTION));
    return page;
}

void ShowTextFile(QWidget* owner, const QUrl& file) {
    if (OpenExternally(file)) return;
    ShowInWindow(owner, file, QStringLiteral("log"), QFileInfo(file.toLocalFile()).fileName());
}
