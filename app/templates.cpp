// Looks up a dialog template by id and language.
#include "templates.h"

namespace dlg {

std::vector<const Template*> AllTemplates() {
    return {&kMainDialogDe, &kQueryDialogDe, &kAboutDialogDe,
            &kMainDialogEn, &kQueryDialogEn, &kAboutDialogEn};
}

const Template* FindTemplate(int id, Language language) {
    const Template* const german[] = {&kMainDialogDe, &kQueryDialogDe, &kAboutDialogDe};
    const Template* const english[] = {&kMainDialogEn, &kQueryDialogEn, &kAboutDialogEn};
    for (const Template* t : language == Language::German ? german : english) {
        if (t->id == id) return t;
    }
    return nullptr;
}

}  // namespace dlg
