// The template objects of both languages, shared between their data files
// and the lookup.
#pragma once

#include "dialog_template.h"

namespace dlg {

// The promotional texts are the same in both languages.
inline constexpr const char* kPromoLinkText =
    "Quirnel im Netz: Neuigkeiten, Hinweise und Hilfe rund ums Kopieren";
inline constexpr const char* kPromoText =
    "Quirnel kopiert Ordner und Elemente einer Datendatei in eine andere, auch wenn Teile "
    "davon nicht mehr lesbar sind.";

extern const Template kMainDialogDe;
extern const Template kQueryDialogDe;
extern const Template kAboutDialogDe;
extern const Template kMainDialogEn;
extern const Template kQueryDialogEn;
extern const Template kAboutDialogEn;

}  // namespace dlg
