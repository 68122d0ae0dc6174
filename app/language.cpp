// Picks the resource language the way the platform's resource lookup does.
#include "language.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <atomic>

namespace {
// -1: follow the locale; otherwise the fixed Language value.
std::atomic<int> g_fixed{-1};
}  // namespace

Language LanguageForLocale(const QLocale& locale) {
    return locale.language() == QLocale::German ? Language::German : Language::English;
}

Language ResourceLanguage() {
    const int fixed = g_fixed.load();
    if (fixed >= 0) return static_cast<Language>(fixed);
    return LanguageForLocale(QLocale());
}

void SetResourceLanguage(Language language) {
    g_fixed.store(static_cast<int>(language));
}

void ResetResourceLanguage() {
    g_fixed.store(-1);
}

bool LoadQtTranslations(QTranslator& translator) {
    // The same language as the program's own texts, so one box never mixes two.
    if (ResourceLanguage() != Language::German) return false;
    return translator.load(QLocale(QLocale::German), QStringLiteral("qtbase"),
                           QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
