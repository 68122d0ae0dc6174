// The language of the program's resources: German for a German locale,
// English for every other one.
#pragma once

class QLocale;
class QTranslator;

enum class Language { German, English };

// German when the locale's language is German, otherwise English.
Language LanguageForLocale(const QLocale& locale);

// The language the resources are taken from. Follows the default locale
// until SetResourceLanguage() fixes it (the tests render both sets).
Language ResourceLanguage();
void SetResourceLanguage(Language language);
void ResetResourceLanguage();

// Loads Qt's own texts (its file dialog's, its standard buttons') in the
// resource language into translator; false for English, which needs none,
// and when the system lacks Qt's translations.
bool LoadQtTranslations(QTranslator& translator);
