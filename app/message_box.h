// Message boxes of the program, shown on the user-interface thread (the
// worker reaches them through its host's blocking calls). Tests replace the
// box with a hook that records the call instead.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

struct MessageBoxCall {
    QWidget* owner;  // null for a box without owner
    QString text;
    QString caption;
};

// Shows a modal box with an OK button and no icon.
void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption);

// The caption of boxes that have none of their own: the application's name.
QString AppCaption();

// Replaces the box by hook (null restores the real box). The hook runs on
// the user-interface thread.
using MessageBoxHook = std::function<void(const MessageBoxCall&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Asks a yes/no question in a modal box; true for Yes. Closing the box
// counts as No, so nothing is changed by a question the user dismissed.
bool AskYesNo(QWidget* owner, const QString& text, const QString& caption);
// Answers the questions in place of the user (null restores the real box).
using QuestionHook = std::function<bool(const MessageBoxCall&)>;
void SetQuestionHook(QuestionHook hook);

// Asks the user to pick one of buttons (their texts, in order) in a modal
// question box, with defaultIndex the button Enter presses. Returns the
// index picked. Esc and the close box pick the last button, which should
// therefore be the one that changes nothing.
int AskChoice(QWidget* owner, const QString& text, const QString& caption,
              const QStringList& buttons, int defaultIndex);
// Picks in place of the user (null restores the real box).
using ChoiceHook = std::function<int(const MessageBoxCall&, const QStringList& buttons)>;
void SetChoiceHook(ChoiceHook hook);

class QInputDialog;
// The box AskText shows, made but not shown (for the render check too).
std::unique_ptr<QInputDialog> MakeTextDialog(QWidget* owner, const QString& text,
                                             const QString& caption, const QString& value);

// Asks for one line of text, *value its first content; false when the user
// cancelled. OK and Cancel in the program's language.
bool AskText(QWidget* owner, const QString& text, const QString& caption, QString* value);
// Answers in place of the user: true and *value set, or false for Cancel.
using TextHook = std::function<bool(const MessageBoxCall&, QString* value)>;
void SetTextHook(TextHook hook);
