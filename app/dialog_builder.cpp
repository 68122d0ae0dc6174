// Widget factory for template controls.
#include "dialog_builder.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "edit_box.h"
#include "language.h"
#include "pictures.h"

namespace {

using dlg::Kind;

bool Has(const dlg::Control& c, unsigned bit) {
    return (c.style & bit) != 0;
}

QWidget* MakeButton(const dlg::Control& c, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(c.text), parent);
    // Enter is dispatched by the dialog itself, as the platform does.
    button->setAutoDefault(false);
    button->setDefault(c.kind == Kind::DefPushButton);
    return button;
}

QWidget* MakeStatic(const dlg::Control& c, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromUtf8(c.text));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* MakePicture(const dlg::Control& c, const QRect& rect, QWidget* parent) {
    auto* label = new QLabel(parent);
    QPixmap picture = LoadBitmap(c.pictureId);
    // The bitmap keeps its own size unless the control is too small for it.
    if (picture.width() > rect.width() || picture.height() > rect.height()) {
        picture = picture.scaled(rect.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    label->setPixmap(picture);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* MakeLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* MakeCombo(const dlg::Control& c, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(c.kind == Kind::DropDown);
    if (combo->isEditable()) combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

QWidget* MakeEdit(const dlg::Control& c, QWidget* parent) {
    if (!Has(c, dlg::kMultiLine)) {
        auto* edit = new QLineEdit(parent);
        edit->setFrame(Has(c, dlg::kBorder));
        return edit;
    }
    auto* edit = new CEditBox(Has(c, dlg::kWantReturn), parent);
    edit->setLineWrapMode(Has(c, dlg::kAutoHScroll) ? QPlainTextEdit::NoWrap
                                                    : QPlainTextEdit::WidgetWidth);
    // The templates give edit boxes no scroll bars: a long line scrolls with
    // the cursor. A bar would cover the only line of a one-line-high box.
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (!Has(c, dlg::kBorder)) edit->setFrameShape(QFrame::NoFrame);
    return edit;
}

QWidget* MakeList(const dlg::Control& c, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setSortingEnabled(Has(c, dlg::kSorted));
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Has(c, dlg::kVScroll) ? Qt::ScrollBarAsNeeded
                                                           : Qt::ScrollBarAlwaysOff);
    if (!Has(c, dlg::kBorder)) list->setFrameShape(QFrame::NoFrame);
    return list;
}

QWidget* MakeCalendar(QWidget* parent) {
    auto* calendar = new QCalendarWidget(parent);
    calendar->setSelectionMode(QCalendarWidget::SingleSelection);
    calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
    // Month and day names in the dialog's language, not the system's.
    calendar->setLocale(ResourceLanguage() == Language::German ? QLocale(QLocale::German)
                                                               : QLocale(QLocale::English));
    return calendar;
}

QWidget* Make(const dlg::Control& c, const QRect& rect, QWidget* parent) {
    switch (c.kind) {
        case Kind::PushButton:
        case Kind::DefPushButton:
            return MakeButton(c, parent);
        case Kind::AutoCheckBox:
            return new QCheckBox(QString::fromUtf8(c.text), parent);
        case Kind::StaticText:
            return MakeStatic(c, parent);
        case Kind::GroupBox:
            return new QGroupBox(QString::fromUtf8(c.text), parent);
        case Kind::Picture:
            return MakePicture(c, rect, parent);
        case Kind::EtchedLine:
            return MakeLine(parent);
        case Kind::DropList:
        case Kind::DropDown:
            return MakeCombo(c, parent);
        case Kind::Edit:
            return MakeEdit(c, parent);
        case Kind::ListBox:
            return MakeList(c, parent);
        case Kind::MonthCalendar:
            return MakeCalendar(parent);
        case Kind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            // Empty until a run says how many items it will copy; a range of
            // 0..0 would be the busy animation instead.
            bar->setRange(0, 1);
            bar->setValue(0);
            return bar;
        }
    }
    return new QWidget(parent);
}

}  // namespace

QWidget* BuildControl(const dlg::Control& control, const DialogUnits& units, QWidget* parent) {
    QRect rect = units.Map(control.rect);
    QWidget* widget = Make(control, rect, parent);
    widget->setFont(parent->font());
    if (control.kind == Kind::DropList || control.kind == Kind::DropDown) {
        rect.setHeight(std::min(rect.height(), widget->sizeHint().height()));
    }
    widget->setGeometry(rect);
    widget->setProperty("dlgId", control.id);
    widget->setProperty("dlgStyle", control.style);
    widget->setFocusPolicy(Has(control, dlg::kTabStop) ? Qt::StrongFocus : Qt::NoFocus);
    widget->setHidden(Has(control, dlg::kHidden));
    return widget;
}
