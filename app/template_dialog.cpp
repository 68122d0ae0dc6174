// Base of the program's dialogs: builds a template and gives the platform's
// OK/Cancel behaviour.
#include "template_dialog.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QGroupBox>
#include <QResizeEvent>

#include "dialog_builder.h"
#include "pictures.h"
#include "resource.h"

namespace {

const dlg::Template kEmptyTemplate{0, "", 100, 50, {}};

const dlg::Template& TemplateOrEmpty(int id) {
    const dlg::Template* t = dlg::FindTemplate(id, ResourceLanguage());
    return t ? *t : kEmptyTemplate;
}

}  // namespace

CTemplateDialog::CTemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent), template_(&TemplateOrEmpty(templateId)), units_(DialogFont()) {
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(template_->title));
    // Every dialog, not only the main one, carries the program's icon.
    setWindowIcon(LoadAppIcon());
    setFixedSize(units_.X(template_->cx), units_.Y(template_->cy));

    QWidget* previousStop = nullptr;
    for (const dlg::Control& control : template_->controls) {
        QWidget* widget = BuildControl(control, units_, this);
        controls_.push_back(widget);
        if (control.style & dlg::kTabStop) {
            if (previousStop) QWidget::setTabOrder(previousStop, widget);
            previousStop = widget;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const int id = control.id;
            if (id == IDOK || id == IDCANCEL) {
                connect(button, &QAbstractButton::clicked, this, [this, id] { SendCommand(id); });
            }
        }
    }
}

QWidget* CTemplateDialog::GetDlgItem(int id) const {
    if (id == IDC_STATIC) return nullptr;
    for (size_t i = 0; i < controls_.size(); ++i) {
        if (template_->controls[i].id == id) return controls_[i];
    }
    return nullptr;
}

QString CTemplateDialog::GetDlgItemText(int id) const {
    QWidget* w = GetDlgItem(id);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return e->toPlainText();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

void CTemplateDialog::SetDlgItemText(int id, const QString& text) {
    QWidget* w = GetDlgItem(id);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(text);
    } else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        e->setPlainText(text);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        if (c->isEditable()) c->setEditText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(text);
    }
}

int CTemplateDialog::DoModal() {
    return exec();
}

void CTemplateDialog::MakeResizable(int growingId) {
    QWidget* growing = GetDlgItem(growingId);
    if (!growing) return;
    baseSize_ = size();
    baseRects_.clear();
    for (QWidget* w : controls_) baseRects_.push_back(w->geometry());
    growingRect_ = growing->geometry();
    // The template's size stays the least: smaller, controls would cover
    // one another.
    setMinimumSize(baseSize_);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void CTemplateDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (baseRects_.empty()) return;
    const QSize grow = (event->size() - baseSize_).expandedTo(QSize(0, 0));
    for (size_t i = 0; i < controls_.size(); ++i)
        controls_[i]->setGeometry(StretchedRect(baseRects_[i], growingRect_, grow));
}

QRect StretchedRect(const QRect& rect, const QRect& growing, QSize grow) {
    if (rect == growing) return rect.adjusted(0, 0, grow.width(), grow.height());
    QRect out = rect;
    const bool fullWidth = rect.left() == growing.left() && rect.right() == growing.right();
    if (rect.top() < growing.bottom()) {
        if (fullWidth) out.setWidth(rect.width() + grow.width());
        return out;
    }
    out.translate(0, grow.height());
    if (rect.left() > growing.center().x())
        out.translate(grow.width(), 0);
    else if (fullWidth || rect.width() > growing.width() / 2)
        out.setWidth(rect.width() + grow.width());
    return out;
}

void CTemplateDialog::OnOK() {
    done(IDOK);
}

void CTemplateDialog::OnCancel() {
    done(IDCANCEL);
}

void CTemplateDialog::SendCommand(int id) {
    if (id == IDOK) {
        OnOK();
    } else if (id == IDCANCEL) {
        OnCancel();
    }
}

void CTemplateDialog::reject() {
    SendCommand(IDCANCEL);
}

void CTemplateDialog::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
        QDialog::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            // Enter in the calendar's year field only ends the year's editing
            // (the calendar took the year already); closing the dialog then
            // would hand back the date from before the edit.
            if (qobject_cast<QAbstractSpinBox*>(focusWidget())) {
                for (QWidget* w = focusWidget(); w && w != this; w = w->parentWidget()) {
                    if (qobject_cast<QCalendarWidget*>(w)) return;
                }
            }
            // A focused push button is pressed; anywhere else Enter is the
            // command of the default button, or OK when there is none.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                if (button->isEnabled()) button->click();
                return;
            }
            for (size_t i = 0; i < controls_.size(); ++i) {
                if (template_->controls[i].kind == dlg::Kind::DefPushButton) {
                    auto* button = static_cast<QPushButton*>(controls_[i]);
                    if (button->isEnabled()) button->click();
                    return;
                }
            }
            SendCommand(IDOK);
            return;
        }
        case Qt::Key_Escape:
            SendCommand(IDCANCEL);
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

int AddComboString(QComboBox* combo, const QString& text) {
    int index = combo->count();
    if (combo->property("dlgStyle").toUInt() & dlg::kSorted) {
        // Case-insensitive, and after every equal entry so duplicates keep their order.
        index = 0;
        while (index < combo->count() &&
               QString::compare(combo->itemText(index), text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    combo->insertItem(index, text);
    return index;
}
