// Every dialog in both languages at 100, 125 and 150 % text scale: rendered
// to PNG files in the build tree for review, and checked that every text
// fits its control, that no control leaves its dialog or covers another,
// and that the dialog fits a 1280x800 screen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>

#include <memory>

#include "account_dlg.h"
#include "dialog_units.h"
#include "message_box.h"
#include "resource.h"
#include "run_progress.h"
#include "string_table.h"
#include "template_dialog.h"

namespace {

// The screen the dialogs must fit, less a window frame and title bar.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;
constexpr int kFrameWidth = 2 * 8;
constexpr int kFrameHeight = 40;

// Room a push button's text needs on each side, so it does not touch the bevel.
constexpr int kButtonPadding = 4;

QString Plain(QString text) {
    return text.remove(QLatin1Char('&'));
}

std::string Describe(const QWidget* w) {
    return std::string(w->metaObject()->className()) + " id " +
           std::to_string(w->property("dlgId").toInt());
}

// What does not fit in one control; empty when it all does.
std::vector<std::string> TextProblems(QWidget* w) {
    std::vector<std::string> problems;
    const QFontMetrics fm(w->font());
    const auto fail = [&](const std::string& what) {
        problems.push_back(Describe(w) + ": " + what);
    };
    if (auto* check = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        const QRect contents =
            check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
        if (contents.left() + fm.horizontalAdvance(Plain(check->text())) > check->width())
            fail("check box text \"" + check->text().toStdString() + "\" is cut off");
        if (fm.height() > check->height()) fail("check box is lower than its text");
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        if (fm.horizontalAdvance(Plain(button->text())) + 2 * kButtonPadding > button->width())
            fail("button text \"" + button->text().toStdString() + "\" is cut off");
        if (fm.height() + 2 > button->height()) fail("button is lower than its text");
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        if (!label->text().isEmpty()) {
            const int needed = label->wordWrap() ? label->heightForWidth(label->width())
                                                 : label->sizeHint().height();
            if (needed > label->height())
                fail("text \"" + label->text().left(40).toStdString() + "\" needs " +
                     std::to_string(needed) + " pixels, has " + std::to_string(label->height()));
            // A label with a buddy shows its '&' as an underline, not as a sign.
            const QString shown = label->buddy() ? Plain(label->text()) : label->text();
            if (!label->wordWrap() && fm.horizontalAdvance(shown) > label->width())
                fail("text \"" + label->text().toStdString() + "\" is too wide");
        }
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        if (fm.horizontalAdvance(group->title()) + 2 * fm.averageCharWidth() > group->width())
            fail("group title is cut off");
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
        // One whole line of text inside the frame and the document's margins.
        const int line = fm.lineSpacing() + 2 * edit->frameWidth() +
                         2 * static_cast<int>(edit->document()->documentMargin());
        if (line > edit->height()) fail("edit box cannot show one line");
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        if (fm.height() + 2 > line->height()) fail("edit field is lower than its text");
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->sizeHint().height() > combo->height()) fail("list is lower than its text");
    } else if (auto* calendar = qobject_cast<QCalendarWidget*>(w)) {
        const QSize need = calendar->minimumSizeHint();
        if (need.width() > calendar->width() || need.height() > calendar->height())
            fail("calendar needs " + std::to_string(need.width()) + "x" +
                 std::to_string(need.height()) + ", has " + std::to_string(calendar->width()) +
                 "x" + std::to_string(calendar->height()));
    }
    return problems;
}

// Two visible controls that share pixels, except a group box and what it
// frames: a label over a control hides its border.
std::vector<std::string> Overlaps(const std::vector<QWidget*>& controls) {
    std::vector<std::string> problems;
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            QWidget* a = controls[i];
            QWidget* b = controls[j];
            if (a->isHidden() || b->isHidden()) continue;
            const QRect common = a->geometry().intersected(b->geometry());
            if (common.isEmpty()) continue;
            const auto frames = [](QWidget* g, QWidget* c) {
                return qobject_cast<QGroupBox*>(g) && g->geometry().contains(c->geometry());
            };
            if (frames(a, b) || frames(b, a)) continue;
            problems.push_back(Describe(a) + " and " + Describe(b) + " overlap");
        }
    }
    return problems;
}

struct LanguageGuard {
    explicit LanguageGuard(Language l) { SetResourceLanguage(l); }
    ~LanguageGuard() { ResetResourceLanguage(); }
};

struct ScaleGuard {
    explicit ScaleGuard(double s) { SetDialogTextScale(s); }
    ~ScaleGuard() { SetDialogTextScale(1.0); }
};

TEST(DialogRender, EveryDialogFitsInBothLanguagesAtEveryScale) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    QDir().mkpath(outDir);
    for (int percent : {100, 125, 150}) {
        ScaleGuard scale(percent / 100.0);
        for (Language l : {Language::German, Language::English}) {
            LanguageGuard language(l);
            const char* lang = l == Language::German ? "de" : "en";
            for (int id : {IDD_QUIRNEL_DIALOG, IDD_QUERY, IDD_ABOUTBOX}) {
                SCOPED_TRACE(testing::Message()
                             << "dialog " << id << " " << lang << " " << percent << " %");
                CTemplateDialog dialog(id, nullptr);
                dialog.show();
                EXPECT_FALSE(dialog.windowIcon().isNull());
                EXPECT_LE(dialog.width() + kFrameWidth, kScreenWidth) << "wider than the screen";
                EXPECT_LE(dialog.height() + kFrameHeight, kScreenHeight)
                    << "taller than the screen";
                const QRect client(QPoint(0, 0), dialog.size());
                for (QWidget* w : dialog.Controls()) {
                    if (w->isHidden()) continue;
                    EXPECT_TRUE(client.contains(w->geometry()))
                        << Describe(w) << " leaves the dialog";
                    for (const std::string& p : TextProblems(w)) ADD_FAILURE() << p;
                }
                for (const std::string& p : Overlaps(dialog.Controls())) ADD_FAILURE() << p;
                const QString file = QStringLiteral("%1/dialog-%2-%3-%4.png")
                                         .arg(outDir)
                                         .arg(id)
                                         .arg(QLatin1String(lang))
                                         .arg(percent);
                EXPECT_TRUE(dialog.grab().save(file));
            }
        }
    }
}

// The texts that only a run puts into the main dialog, at their longest:
// every outcome with large counts, the longest time left, a half-full bar.
// The one with failures is saved for review.
TEST(DialogRender, TheEndOfARunFitsTheMainDialog) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    QDir().mkpath(outDir);
    quirnel::CopyLedger ledger;
    ledger.items = {999999, 99999, 999999, 999999, 99999};
    ledger.foldersSkipped = 9999;
    for (int percent : {100, 125, 150}) {
        ScaleGuard scale(percent / 100.0);
        for (Language l : {Language::German, Language::English}) {
            LanguageGuard language(l);
            const char* lang = l == Language::German ? "de" : "en";
            SCOPED_TRACE(testing::Message() << "end of a run " << lang << " " << percent << " %");
            CTemplateDialog dialog(IDD_QUIRNEL_DIALOG, nullptr);
            dialog.show();
            auto* status = qobject_cast<QLabel*>(dialog.GetDlgItem(IDC_STATIC_PROGRESS));
            auto* timeLeft = qobject_cast<QLabel*>(dialog.GetDlgItem(IDC_TIME_LEFT));
            auto* bar = qobject_cast<QProgressBar*>(dialog.GetDlgItem(IDC_PROGRESS_BAR));
            ASSERT_TRUE(status && timeLeft && bar);
            bar->setFormat(LoadString(IDS_PROGRESS_BAR));
            bar->setRange(0, 1999998);
            bar->setValue(999999);
            timeLeft->setText(TimeLeftText(99 * 3600 + 59 * 60));
            for (const std::string& p : TextProblems(timeLeft)) ADD_FAILURE() << p;
            for (quirnel::RunOutcome outcome :
                 {quirnel::RunOutcome::Completed, quirnel::RunOutcome::Stopped,
                  quirnel::RunOutcome::Failed, quirnel::RunOutcome::QueryError,
                  quirnel::RunOutcome::CompletedWithFailures}) {
                status->setText(OutcomeText(outcome, ledger));
                for (const std::string& p : TextProblems(status)) ADD_FAILURE() << p;
            }
            // What Start shows while it counts the target.
            status->setText(LoadString(IDS_COUNTING));
            for (const std::string& p : TextProblems(status)) ADD_FAILURE() << p;
            // A rescue with every kind of loss, at the counts of a large
            // damaged file; the way to the log stands where the time left was.
            quirnel::CopyLedger damaged;
            damaged.items = {99999, 0, 0, 99000, 999, 9999};
            damaged.foldersSkipped = 99;
            status->setText(OutcomeText(quirnel::RunOutcome::CompletedWithFailures, damaged));
            for (const std::string& p : TextProblems(status)) ADD_FAILURE() << p;
            timeLeft->setText(LoadString(IDS_OPEN_LOG));
            for (const std::string& p : TextProblems(timeLeft)) ADD_FAILURE() << p;
            for (const std::string& p : Overlaps(dialog.Controls())) ADD_FAILURE() << p;
            EXPECT_TRUE(dialog.grab().save(QStringLiteral("%1/run-end-%2-%3.png")
                                               .arg(outDir)
                                               .arg(QLatin1String(lang))
                                               .arg(percent)));
        }
    }
}

// The main dialog grown by the user: the activity list takes the room, the
// lines below it follow, nothing overlaps or leaves the dialog, and it
// cannot be made smaller than its template.
TEST(DialogRender, TheResizedMainDialogKeepsItsLayout) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    for (int percent : {100, 125, 150}) {
        ScaleGuard scale(percent / 100.0);
        for (Language l : {Language::German, Language::English}) {
            LanguageGuard language(l);
            const char* lang = l == Language::German ? "de" : "en";
            SCOPED_TRACE(testing::Message() << "resized " << lang << " " << percent << " %");
            CTemplateDialog dialog(IDD_QUIRNEL_DIALOG, nullptr);
            const QSize least = dialog.size();
            dialog.MakeResizable(IDC_LIST_ACTIVITY);
            dialog.show();
            QWidget* list = dialog.GetDlgItem(IDC_LIST_ACTIVITY);
            const QSize listBefore = list->size();
            EXPECT_EQ(dialog.minimumSize(), least);
            dialog.resize(least.width() + 240, least.height() + 160);
            EXPECT_EQ(list->size(), listBefore + QSize(240, 160));
            const QRect client(QPoint(0, 0), dialog.size());
            for (QWidget* w : dialog.Controls()) {
                if (w->isHidden()) continue;
                EXPECT_TRUE(client.contains(w->geometry())) << Describe(w) << " leaves the dialog";
                for (const std::string& p : TextProblems(w)) ADD_FAILURE() << p;
            }
            for (const std::string& p : Overlaps(dialog.Controls())) ADD_FAILURE() << p;
            // The status line stays at the bottom edge.
            QWidget* status = dialog.GetDlgItem(IDC_STATIC_PROGRESS);
            EXPECT_LT(dialog.height() - status->geometry().bottom(), status->height());
            EXPECT_TRUE(dialog.grab().save(
                QStringLiteral("%1/resized-%2-%3.png").arg(outDir).arg(QLatin1String(lang)).arg(percent)));
            dialog.resize(least.width() - 100, least.height() - 100);
            EXPECT_EQ(dialog.size(), least);
        }
    }
}

TEST(DialogRender, FirstRunQuestionFitsTheScreen) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    QDir().mkpath(outDir);
    for (int percent : {100, 125, 150}) {
        ScaleGuard scale(percent / 100.0);
        for (Language l : {Language::German, Language::English}) {
            LanguageGuard language(l);
            const char* lang = l == Language::German ? "de" : "en";
            SCOPED_TRACE(testing::Message()
                         << "first-run question " << lang << " " << percent << " %");
            QMessageBox box(QMessageBox::Question, QStringLiteral("quirnel"),
                            LoadString(IDS_NO_PROFILE)
                                .arg(QStringLiteral("/home/someone/.config/quirnel/profile.ini")),
                            QMessageBox::Yes | QMessageBox::No);
            box.setFont(DialogFont());
            box.button(QMessageBox::Yes)->setText(LoadString(IDS_YES));
            box.button(QMessageBox::No)->setText(LoadString(IDS_NO));
            box.show();
            EXPECT_LE(box.width() + kFrameWidth, kScreenWidth);
            EXPECT_LE(box.height() + kFrameHeight, kScreenHeight);
            EXPECT_TRUE(box.grab().save(QStringLiteral("%1/first-run-%2-%3.png")
                                            .arg(outDir)
                                            .arg(QLatin1String(lang))
                                            .arg(percent)));
        }
    }
}

// The offer to resume, with its three buttons, at a long store name.
TEST(DialogRender, ResumeOfferFitsTheScreen) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    QDir().mkpath(outDir);
    for (int percent : {100, 125, 150}) {
        ScaleGuard scale(percent / 100.0);
        for (Language l : {Language::German, Language::English}) {
            LanguageGuard language(l);
            const char* lang = l == Language::German ? "de" : "en";
            SCOPED_TRACE(testing::Message() << "resume offer " << lang << " " << percent << " %");
            QMessageBox box(QMessageBox::Question, QStringLiteral("quirnel"),
                            LoadString(IDS_RESUME_OFFER)
                                .arg(QStringLiteral("1234567"),
                                     QStringLiteral("Archiv 2019 bis 2024 (gerettet)"),
                                     QStringLiteral("Persönliche Ordner von der alten Platte")),
                            QMessageBox::NoButton);
            box.setFont(DialogFont());
            for (int id : {IDS_RESUME_CONTINUE, IDS_RESUME_AGAIN, IDS_CANCEL})
                box.addButton(LoadString(id), QMessageBox::AcceptRole);
            box.show();
            EXPECT_LE(box.width() + kFrameWidth, kScreenWidth);
            EXPECT_LE(box.height() + kFrameHeight, kScreenHeight);
            for (QAbstractButton* button : box.buttons())
                for (const std::string& p : TextProblems(button)) ADD_FAILURE() << p;
            EXPECT_TRUE(box.grab().save(QStringLiteral("%1/resume-offer-%2-%3.png")
                                            .arg(outDir)
                                            .arg(QLatin1String(lang))
                                            .arg(percent)));
        }
    }
}

// The dialogs laid out by Qt rather than by a template (the mail account,
// the password, the new name of a store) and the menus of the store
// buttons: every visible control inside its dialog with its text whole,
// the dialog on the screen, a picture of each for review.
TEST(DialogRender, StoreSetupDialogsAndMenusFitInBothLanguages) {
    const QString outDir = QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders");
    QDir().mkpath(outDir);
    for (int percent : {100, 125, 150}) {
        ScaleGuard scale(percent / 100.0);
        for (Language l : {Language::German, Language::English}) {
            LanguageGuard language(l);
            const char* lang = l == Language::German ? "de" : "en";
            CAccountDlg account;
            account.HostEdit()->setText(QStringLiteral("imap.mail-provider.example.org"));
            account.UserEdit()->setText(QStringLiteral("anna.schmidt@mail-provider.example.org"));
            CPasswordDlg password(QStringLiteral("anna.schmidt@imap.mail-provider.example.org"));
            std::unique_ptr<QInputDialog> rename = MakeTextDialog(
                nullptr,
                LoadString(IDS_RENAME_PROMPT).arg(QStringLiteral("Persönliche Ordner (gerettet)")),
                LoadString(IDS_RENAME_CAPTION), QStringLiteral("Archiv"));
            rename->setFont(DialogFont());
            const std::pair<QDialog*, const char*> dialogs[] = {
                {&account, "account"}, {&password, "password"}, {rename.get(), "rename"}};
            for (const auto& [dialog, name] : dialogs) {
                SCOPED_TRACE(testing::Message() << name << " " << lang << " " << percent << " %");
                dialog->show();
                EXPECT_FALSE(dialog->windowIcon().isNull());
                EXPECT_LE(dialog->width() + kFrameWidth, kScreenWidth);
                EXPECT_LE(dialog->height() + kFrameHeight, kScreenHeight);
                const QRect client(QPoint(0, 0), dialog->size());
                for (QWidget* w : dialog->findChildren<QWidget*>()) {
                    if (!w->isVisible() || w->parentWidget() != dialog) continue;
                    EXPECT_TRUE(client.contains(w->geometry())) << Describe(w) << " leaves it";
                    for (const std::string& p : TextProblems(w)) ADD_FAILURE() << p;
                }
                for (auto* button : dialog->findChildren<QPushButton*>())
                    for (const std::string& p : TextProblems(button)) ADD_FAILURE() << p;
                EXPECT_TRUE(
                    dialog->grab().save(QStringLiteral("%1/%2-%3-%4.png")
                                            .arg(outDir, QLatin1String(name), QLatin1String(lang))
                                            .arg(percent)));
            }
            // The store buttons' menus: one picture each.
            const std::pair<std::vector<int>, const char*> menus[] = {
                {{IDS_ADD_MENU_FILE, IDS_ADD_MENU_FOLDER, IDS_ADD_MENU_ACCOUNT}, "add-menu"},
                {{IDS_NEW_MENU_DATAFILE, IDS_NEW_MENU_MAILDIR, IDS_NEW_MENU_MBOX, IDS_NEW_MENU_EML},
                 "new-menu"}};
            for (const auto& [items, name] : menus) {
                QMenu menu;
                menu.setFont(DialogFont());
                for (int id : items) menu.addAction(LoadString(id));
                menu.show();
                EXPECT_LE(menu.width(), kScreenWidth / 2) << name;
                EXPECT_TRUE(
                    menu.grab().save(QStringLiteral("%1/%2-%3-%4.png")
                                         .arg(outDir, QLatin1String(name), QLatin1String(lang))
                                         .arg(percent)));
            }
        }
    }
}

}  // namespace
