// The language of the program's resources: German for a German locale,
// English for every other one.
#pragma once

class QLocale;

enum class Language { German, English };

// German when the locale's language is German, otherwise English.
Language LanguageForLocale(const QLocale& locale);

// The language the resources are taken from. Follows the default locale
// until SetResourceLanguage() fixes it (the tests render both sets).
Language ResourceLanguage();
void SetResourceLanguage(Language language);
void ResetResourceLanguage();
