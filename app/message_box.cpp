// Message boxes on the user-interface thread, with a hook for tests.
#include "message_box.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <mutex>
#include <vector>

#include "pictures.h"
#include "resource.h"
#include "string_table.h"

namespace {

std::mutex g_hookMutex;
MessageBoxHook g_hook;
QuestionHook g_questionHook;
ChoiceHook g_choiceHook;

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

bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
    QuestionHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_questionHook;
    }
    const MessageBoxCall call{owner, text, caption};
    if (hook) return hook(call);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    box.setDefaultButton(QMessageBox::Yes);
    // In the program's language even where Qt's own translations are missing.
    box.button(QMessageBox::Yes)->setText(LoadString(IDS_YES));
    box.button(QMessageBox::No)->setText(LoadString(IDS_NO));
    return box.exec() == QMessageBox::Yes;
}

void SetQuestionHook(QuestionHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_questionHook = std::move(hook);
}

int AskChoice(QWidget* owner, const QString& text, const QString& caption,
              const QStringList& buttons, int defaultIndex) {
    ChoiceHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_choiceHook;
    }
    const MessageBoxCall call{owner, text, caption};
    if (hook) return hook(call, buttons);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, owner);
    std::vector<QAbstractButton*> made;
    for (const QString& label : buttons)
        made.push_back(box.addButton(label, QMessageBox::AcceptRole));
    if (defaultIndex >= 0 && defaultIndex < static_cast<int>(made.size()))
        box.setDefaultButton(qobject_cast<QPushButton*>(made[defaultIndex]));
    if (!made.empty()) box.setEscapeButton(made.back());
    box.exec();
    for (size_t i = 0; i < made.size(); ++i)
        if (box.clickedButton() == made[i]) return static_cast<int>(i);
    return static_cast<int>(made.size()) - 1;
}

void SetChoiceHook(ChoiceHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_choiceHook = std::move(hook);
}

namespace {
TextHook g_textHook;
}  // namespace

bool AskText(QWidget* owner, const QString& text, const QString& caption, QString* value) {
    TextHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_textHook;
    }
    const MessageBoxCall call{owner, text, caption};
    if (hook) return hook(call, value);
    std::unique_ptr<QInputDialog> dialog = MakeTextDialog(owner, text, caption, *value);
    if (dialog->exec() != QDialog::Accepted) return false;
    *value = dialog->textValue();
    return true;
}

std::unique_ptr<QInputDialog> MakeTextDialog(QWidget* owner, const QString& text,
                                             const QString& caption, const QString& value) {
    auto dialog = std::make_unique<QInputDialog>(owner);
    dialog->setWindowTitle(caption);
    dialog->setWindowIcon(LoadAppIcon());
    dialog->setLabelText(text);
    dialog->setTextValue(value);
    dialog->setOkButtonText(LoadString(IDS_OK));
    dialog->setCancelButtonText(LoadString(IDS_CANCEL));
    return dialog;
}

void SetTextHook(TextHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_textHook = std::move(hook);
}
