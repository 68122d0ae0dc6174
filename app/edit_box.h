// The multi-line edit box of the templates: no word wrap when it scrolls
// horizontally, and Enter left to the dialog unless the box wants it.
#pragma once

#include <QPlainTextEdit>

class CEditBox : public QPlainTextEdit {
    Q_OBJECT
public:
    CEditBox(bool wantReturn, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool wantReturn_;
};
