// The template objects of both languages, shared between their data files
// and the lookup.
#pragma once

#include "dialog_template.h"

namespace dlg {

// The promotional texts, one per language.
inline constexpr const char* kPromoLinkTextDe =
    "Quirnel im Netz: Neuigkeiten, Hinweise und Hilfe rund ums Kopieren";
inline constexpr const char* kPromoTextDe =
    "Quirnel kopiert Ordner und Elemente einer Datendatei in eine andere, auch wenn Teile "
    "davon nicht mehr lesbar sind.";
inline constexpr const char* kPromoLinkTextEn =
    "Quirnel on the web: news, tips and help about copying mail";
inline constexpr const char* kPromoTextEn =
    "Quirnel copies the folders and items of one data file into another, even when parts of "
    "it can no longer be read.";

extern const Template kMainDialogDe;
extern const Template kQueryDialogDe;
extern const Template kAboutDialogDe;
extern const Template kMainDialogEn;
extern const Template kQueryDialogEn;
extern const Template kAboutDialogEn;

}  // namespace dlg
