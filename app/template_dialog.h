// A dialog made from one of the program's templates: the controls stand at
// their template rectangles and are found by their template ids. OK and
// Cancel (buttons, Enter, Esc, close box) behave as on the dialog platform.
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

#include "dialog_template.h"
#include "dialog_units.h"

class QComboBox;

class CTemplateDialog : public QDialog {
    Q_OBJECT
public:
    // Builds the template with that id in the current resource language.
    CTemplateDialog(int templateId, QWidget* parent);

    const dlg::Template& Template() const { return *template_; }
    const DialogUnits& Units() const { return units_; }

    // The control with that id, or null.
    QWidget* GetDlgItem(int id) const;
    // One widget per template control, in template order.
    const std::vector<QWidget*>& Controls() const { return controls_; }

    // Window text of a control (button caption, edit or combo text, static text).
    QString GetDlgItemText(int id) const;
    void SetDlgItemText(int id, const QString& text);

    // Runs the dialog modally and returns how it ended (IDOK, IDCANCEL, ...).
    virtual int DoModal();

    // Lets the user make the dialog larger than its template (never
    // smaller): the control growingId takes the extra room, see
    // StretchedRect for where the others go.
    void MakeResizable(int growingId);

protected:
    virtual void OnOK();
    virtual void OnCancel();
    // A command for which no control exists or which no handler took.
    void SendCommand(int id);

    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

private:
    const dlg::Template* template_;
    DialogUnits units_;
    std::vector<QWidget*> controls_;
    // The template's geometry of every control, and of the one that grows
    // (empty while the dialog keeps its template size).
    std::vector<QRect> baseRects_;
    QRect growingRect_;
    QSize baseSize_;
};

// Where a control at rect (in a dialog of the template's size) goes when the
// dialog is grow pixels larger and the control at growing takes the room:
// growing itself grows both ways; controls of its full width grow with it;
// controls below it move down, and of those the ones in its right half move
// right while the wide ones in its left half (bar, status line) grow.
QRect StretchedRect(const QRect& rect, const QRect& growing, QSize grow);

// Adds a text to a combo box the way its style asks: in sorted place for a
// sorted combo (after equal entries), at the end otherwise. Returns the index.
int AddComboString(QComboBox* combo, const QString& text);
