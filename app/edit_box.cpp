// Multi-line edit box whose Enter key can press the dialog's default button.
#include "edit_box.h"

#include <QKeyEvent>

CEditBox::CEditBox(bool wantReturn, QWidget* parent)
    : QPlainTextEdit(parent), wantReturn_(wantReturn) {
    setTabChangesFocus(true);
}

void CEditBox::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !wantReturn_ && !(event->modifiers() & Qt::ControlModifier)) {
        // Not ours: the dialog turns it into its default command.
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
