// Status line of a run.
#include "run_status.h"

#include <QRegularExpression>

#include "resource.h"
#include "string_table.h"

QString FolderOfCopyLine(const QString& line) {
    static const QString kPrefix = QStringLiteral("Copy folder ");
    static const QString kTo = QStringLiteral(" to ");
    if (!line.startsWith(kPrefix)) return {};
    const QString rest = line.mid(kPrefix.size());
    QString fallback;
    for (qsizetype at = rest.indexOf(kTo); at >= 0; at = rest.indexOf(kTo, at + 1)) {
        const QString path = rest.left(at);
        const QString target = rest.mid(at + kTo.size());
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
        if (!name.isEmpty() && target.startsWith(name)) return path;
        fallback = path;
    }
    // An unnamed folder gets a name of the engine's own: the last " to ".
    return fallback;
}

QString StatusText(const QString& folder, const QString& progress) {
    static const QRegularExpression kItems(QStringLiteral("^(\\d+) vom (\\d+)$"));
    const QRegularExpressionMatch m = kItems.match(progress);
    if (m.hasMatch()) {
        return LoadString(IDS_PROGRESS_ITEMS).arg(folder, m.captured(1), m.captured(2));
    }
    if (progress == QLatin1String("Folder creation")) {
        // The walk enters a folder's subfolders after copying its items.
        return folder.isEmpty() ? LoadString(IDS_PROGRESS_FOLDERS)
                                : LoadString(IDS_PROGRESS_SUBFOLDERS).arg(folder);
    }
    return progress;
}
