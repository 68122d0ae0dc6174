// File dialogs, replaceable by tests.
#include "file_picker.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
FilePickHook g_hook;
}  // namespace

QString PickFile(const FilePickRequest& request) {
    if (g_hook) return g_hook(request);
    if (request.folder) return QFileDialog::getExistingDirectory(request.owner, request.caption);
    if (request.forSaving) {
        return QFileDialog::getSaveFileName(request.owner, request.caption, QString(),
                                            request.filter, request.chosenFilter);
    }
    return QFileDialog::getOpenFileName(request.owner, request.caption, QString(), request.filter);
}

void SetFilePickHook(FilePickHook hook) {
    g_hook = std::move(hook);
}

QString WithFilterExtension(const QString& picked, const QString& chosenFilter) {
    if (picked.isEmpty() || !QFileInfo(picked).suffix().isEmpty()) return picked;
    static const QRegularExpression kOnePattern(QStringLiteral("\\(\\*(\\.[^*\\s()]+)\\)$"));
    const QRegularExpressionMatch m = kOnePattern.match(chosenFilter.trimmed());
    return m.hasMatch() ? picked + m.captured(1) : picked;
}
