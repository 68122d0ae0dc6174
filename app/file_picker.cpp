// File dialogs, replaceable by tests.
#include "file_picker.h"

#include <QFileDialog>

namespace {
FilePickHook g_hook;
}  // namespace

QString PickFile(const FilePickRequest& request) {
    if (g_hook) return g_hook(request);
    if (request.folder) return QFileDialog::getExistingDirectory(request.owner, request.caption);
    if (request.forSaving) {
        return QFileDialog::getSaveFileName(request.owner, request.caption, QString(),
                                            request.filter);
    }
    return QFileDialog::getOpenFileName(request.owner, request.caption, QString(), request.filter);
}

void SetFilePickHook(FilePickHook hook) {
    g_hook = std::move(hook);
}
