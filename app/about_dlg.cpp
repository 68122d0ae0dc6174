// About box, help page and promotional link.
#include "about_dlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "resource.h"
#include "string_table.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CTemplateDialog(IDD_ABOUTBOX, parent) {}

void ShowAboutBox() {
    CAboutDlg dlg;
    dlg.DoModal();
}

QUrl ResolveAddress(const QString& address) {
    const QUrl url(address);
    if (!url.isRelative() || address.isEmpty()) return url;
    const QString dir = QCoreApplication::applicationDirPath();
    const QString candidates[] = {
        dir + QLatin1Char('/') + address,
        dir + QStringLiteral("/../share/quirnel/") + address,
    };
    for (const QString& path : candidates) {
        if (QFileInfo::exists(path)) return QUrl::fromLocalFile(QDir::cleanPath(path));
    }
    // Not installed: let the handler say so, as it would for a dead web address.
    return QUrl::fromLocalFile(QDir::cleanPath(candidates[0]));
}

QUrl OpenWebPage(int stringId) {
    const QUrl url = ResolveAddress(LoadString(stringId));
    if (!url.isEmpty()) QDesktopServices::openUrl(url);
    return url;
}
