// Every dialog in both languages: built from its template, rendered to a PNG
// in the build tree for review, and checked that each template control is
// there, at its place and inside the dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>

#include "dialog_template.h"
#include "dialog_units.h"
#include "pictures.h"
#include "resource.h"
#include "string_table.h"
#include "template_dialog.h"

namespace {

struct LanguageGuard {
    explicit LanguageGuard(Language l) { SetResourceLanguage(l); }
    ~LanguageGuard() { ResetResourceLanguage(); }
};

const char* Name(Language l) {
    return l == Language::German ? "de" : "en";
}

TEST(DialogUnits, ConvertWithTheFontsAverageWidthAndHeight) {
    const DialogUnits units(DialogFont());
    EXPECT_EQ(units.X(4), units.BaseX());
    EXPECT_EQ(units.Y(8), units.BaseY());
    EXPECT_EQ(units.X(400), units.BaseX() * 100);
    // Rounded to the nearest pixel, the way the dialog platform multiplies and divides.
    EXPECT_EQ(units.X(2), (units.BaseX() * 2 + 2) / 4);
    EXPECT_EQ(units.Y(3), (units.BaseY() * 3 + 4) / 8);
    const QRect r = units.Map({7, 169, 50, 14});
    EXPECT_EQ(r.left(), units.X(7));
    EXPECT_EQ(r.top(), units.Y(169));
    EXPECT_EQ(r.right() + 1, units.X(57));
    EXPECT_EQ(r.bottom() + 1, units.Y(183));
}

TEST(Language, GermanOnlyForAGermanLocale) {
    EXPECT_EQ(LanguageForLocale(QLocale(QLocale::German, QLocale::Germany)), Language::German);
    EXPECT_EQ(LanguageForLocale(QLocale(QLocale::German, QLocale::Austria)), Language::German);
    EXPECT_EQ(LanguageForLocale(QLocale(QLocale::English)), Language::English);
    EXPECT_EQ(LanguageForLocale(QLocale(QLocale::French, QLocale::France)), Language::English);
}

// Qt's own dialogs speak the program's language: its translations are
// installed (scripts/install-deps.sh) and found.
TEST(Language, QtTextsFollowTheProgramsLanguage) {
    QTranslator translator;
    {
        LanguageGuard german(Language::German);
        ASSERT_TRUE(LoadQtTranslations(translator)) << "Qt's translations are not installed";
        EXPECT_EQ(translator.translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    }
    LanguageGuard english(Language::English);
    EXPECT_FALSE(LoadQtTranslations(translator));
}

TEST(Strings, BothLanguagesHaveEveryString) {
    for (Language l : {Language::German, Language::English}) {
        for (int id : {IDS_ABOUTBOX, IDS_START_MAIL_CLIENT, IDS_URL_HELP, IDS_URL_LINK}) {
            EXPECT_FALSE(LoadString(id, l).isEmpty()) << id << " " << Name(l);
        }
    }
    // The about entry is translated; the German one keeps its text.
    EXPECT_EQ(LoadString(IDS_ABOUTBOX, Language::German),
              QString::fromUtf8("Inf&o über Quirnel..."));
    EXPECT_EQ(LoadString(IDS_ABOUTBOX, Language::English), QStringLiteral("&About Quirnel..."));
    // The start-up box speaks of the profile and why it failed, not of
    // another program.
    for (Language l : {Language::German, Language::English}) {
        const QString text = LoadString(IDS_START_MAIL_CLIENT, l);
        EXPECT_TRUE(text.contains("%1") && text.contains("%2")) << Name(l);
        EXPECT_FALSE(text.contains("Outlook")) << Name(l);
    }
    EXPECT_NE(LoadString(IDS_URL_HELP, Language::German),
              LoadString(IDS_URL_HELP, Language::English));
    EXPECT_TRUE(LoadString(12345).isEmpty());
}

TEST(Pictures, HaveTheirSizesAndSixteenColours) {
    const struct {
        int id, w, h;
    } bitmaps[] = {{IDB_LOGO, 100, 50}, {IDB_ABOUT_DE, 371, 323}, {IDB_ABOUT_EN, 373, 323}};
    for (const auto& b : bitmaps) {
        const QImage image = DrawBitmap(b.id);
        EXPECT_EQ(image.size(), QSize(b.w, b.h)) << b.id;
        EXPECT_LE(image.colorCount(), 16) << b.id;
        EXPECT_GT(image.colorCount(), 2) << b.id;
    }
    EXPECT_TRUE(DrawBitmap(999).isNull());
    EXPECT_EQ(DrawIconImage(48).size(), QSize(48, 48));
    EXPECT_FALSE(LoadAppIcon().isNull());
}

// The renders land in the build tree for review.
TEST(Templates, EveryDialogRendersWithAllControlsInside) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    QDir().mkpath(outDir);
    for (Language l : {Language::German, Language::English}) {
        LanguageGuard guard(l);
        for (int id : {IDD_QUIRNEL_DIALOG, IDD_QUERY, IDD_ABOUTBOX}) {
            SCOPED_TRACE(testing::Message() << "dialog " << id << " " << Name(l));
            CTemplateDialog dialog(id, nullptr);
            const dlg::Template& t = dialog.Template();
            ASSERT_EQ(t.id, id);
            ASSERT_EQ(dialog.Controls().size(), t.controls.size());
            const QRect client(QPoint(0, 0), dialog.size());
            EXPECT_EQ(dialog.width(), dialog.Units().X(t.cx));
            EXPECT_EQ(dialog.height(), dialog.Units().Y(t.cy));
            for (size_t i = 0; i < t.controls.size(); ++i) {
                const dlg::Control& c = t.controls[i];
                QWidget* w = dialog.Controls()[i];
                SCOPED_TRACE(testing::Message() << "control #" << i << " id " << c.id);
                ASSERT_NE(w, nullptr);
                EXPECT_EQ(w->parentWidget(), &dialog);
                EXPECT_TRUE(client.contains(w->geometry())) << "outside the dialog";
                const QRect expected = dialog.Units().Map(c.rect);
                EXPECT_EQ(w->geometry().topLeft(), expected.topLeft());
                EXPECT_EQ(w->width(), expected.width());
                if (qobject_cast<QComboBox*>(w)) {
                    EXPECT_LE(w->height(), expected.height());
                } else {
                    EXPECT_EQ(w->height(), expected.height());
                }
                EXPECT_EQ(w->isHidden(), (c.style & dlg::kHidden) != 0);
                if (c.id != IDC_STATIC) {
                    EXPECT_EQ(dialog.GetDlgItem(c.id), w);
                }
                if (c.id != IDC_STATIC && *c.text) {
                    EXPECT_EQ(dialog.GetDlgItemText(c.id), QString::fromUtf8(c.text));
                }
            }
            dialog.show();
            const QPixmap shot = dialog.grab();
            EXPECT_FALSE(shot.isNull());
            const QString file = QStringLiteral("%1/dialog-%2-%3.png")
                                     .arg(outDir)
                                     .arg(id)
                                     .arg(QString::fromLatin1(Name(l)));
            EXPECT_TRUE(shot.save(file));
        }
    }
}

TEST(Templates, MainDialogTextsAndSizesPerLanguage) {
    const dlg::Template* de = dlg::FindTemplate(IDD_QUIRNEL_DIALOG, Language::German);
    const dlg::Template* en = dlg::FindTemplate(IDD_QUIRNEL_DIALOG, Language::English);
    ASSERT_TRUE(de && en);
    // German is narrower than it once was (524) so that it fits 1280 pixels at 150 %.
    EXPECT_EQ(de->cx, 500);
    EXPECT_EQ(en->cx, 472);
    // Both grew by a line for the overall progress bar under the activity list.
    EXPECT_EQ(de->cy, 297);
    EXPECT_EQ(en->cy, 296);
    EXPECT_STREQ(de->title, "Quirnel");
    EXPECT_STREQ(dlg::FindTemplate(IDD_ABOUTBOX, Language::English)->title, "About Quirnel");
    EXPECT_STREQ(dlg::FindTemplate(IDD_ABOUTBOX, Language::German)->title, "Info über Quirnel");
    EXPECT_EQ(dlg::FindTemplate(4242, Language::German), nullptr);
    // Each language has its own number of controls: the German hints and version
    // text, the English introduction line; both have the six store buttons
    // (add or new, rename, remove beside each list), the progress bar and
    // the time left.
    EXPECT_EQ(de->controls.size(), 33u);
    EXPECT_EQ(en->controls.size(), 28u);
    for (const dlg::Template* t : dlg::AllTemplates()) {
        for (const dlg::Control& c : t->controls) {
            EXPECT_LE(c.rect.x + c.rect.cx, t->cx) << t->id << " " << c.id;
        }
    }
}

}  // namespace
