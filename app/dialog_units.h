// Conversion of dialog units to pixels from the metrics of the dialog font,
// the way the dialog platform does it.
#pragma once

#include <QFont>
#include <QRect>

#include "dialog_template.h"

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // Horizontal: the font's average character width is 4 units; vertical:
    // its character height is 8 units. Results are rounded to the nearest pixel.
    int X(int units) const;
    int Y(int units) const;
    QRect Map(const dlg::Rect& r) const;

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// The font that every dialog uses, at the text scale below.
QFont DialogFont();

// The desktop's text scale (1.0, 1.25, 1.5) applied to the dialog font on
// top of what the platform's font resolution does already, the way a
// higher text scale enlarges a dialog's font and with it every dialog unit.
// For seeing the dialogs as users at those scales do; dialogs made before a
// change keep their size.
void SetDialogTextScale(double scale);
double DialogTextScale();
