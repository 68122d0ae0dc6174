// Message boxes on the user-interface thread, with a hook for tests.
#include "message_box.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <mutex>

namespace {

std::mutex g_hookMutex;
MessageBoxHook g_hook;

void ShowOnUiThread(const MessageBoxCall& call) {
    MessageBoxHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) {
        hook(call);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, call.caption, call.text, QMessageBox::Ok, call.owner);
    box.exec();
}

}  // namespace

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption) {
    ShowOnUiThread(MessageBoxCall{owner, text, caption});
}

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}

QString AppCaption() {
    return QCoreApplication::applicationName();
}
