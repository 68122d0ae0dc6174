// Turns one template control into the Qt widget that stands in for it.
#pragma once

#include <QWidget>

#include "dialog_template.h"
#include "dialog_units.h"

// Creates the widget for control on parent, placed at its template rectangle,
// with the control's id in the widget property "dlgId" and its style bits in
// "dlgStyle". Combo boxes get their closed height; the template height of a
// combo box is the height of its open list.
QWidget* BuildControl(const dlg::Control& control, const DialogUnits& units, QWidget* parent);
