// The main dialog driven by control id over real embedded stores: start-up
// with and without a session, the store lists, a whole copy run on the
// worker thread, Stop, closing during a run, a query error, the query
// builder, the about box and the web links.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include <runtime/profile.h>

#include "about_dlg.h"
#include "help_window.h"
#include "message_box.h"
#include "query_dlg.h"
#include "quirnel_app.h"
#include "quirnel_dlg.h"
#include "resource.h"
#include "test_stores.h"

namespace {

// Records the boxes instead of showing them; questions get answer.
class BoxRecorder {
public:
    BoxRecorder() {
        SetMessageBoxHook([this](const MessageBoxCall& call) { calls.push_back(call); });
        SetQuestionHook([this](const MessageBoxCall& call) {
            questions.push_back(call);
            return answer;
        });
        SetChoiceHook([this](const MessageBoxCall& call, const QStringList&) {
            offers.push_back(call);
            return choice;
        });
    }
    ~BoxRecorder() {
        SetMessageBoxHook(nullptr);
        SetQuestionHook(nullptr);
        SetChoiceHook(nullptr);
    }
    std::vector<MessageBoxCall> calls;
    std::vector<MessageBoxCall> questions;
    std::vector<MessageBoxCall> offers;
    bool answer = false;
    int choice = 0;  // the offer to resume: continue
};

// Receives the addresses that the desktop would open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder() {
        for (const char* scheme : {"https", "http", "file"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
        }
    }
    ~UrlRecorder() override {
        for (const char* scheme : {"https", "http", "file"}) {
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        }
    }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

struct LanguageGuard {
    explicit LanguageGuard(Language l) { SetResourceLanguage(l); }
    ~LanguageGuard() { ResetResourceLanguage(); }
};

QStringList Entries(QWidget* w) {
    QStringList list;
    auto* combo = qobject_cast<QComboBox*>(w);
    for (int i = 0; combo && i < combo->count(); ++i) list << combo->itemText(i);
    return list;
}

QStringList Lines(QWidget* w) {
    QStringList list;
    auto* box = qobject_cast<QListWidget*>(w);
    for (int i = 0; box && i < box->count(); ++i) list << box->item(i)->text();
    return list;
}

void Choose(CQuirnelDlg& dlg, int comboId, const QString& name) {
    auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(comboId));
    ASSERT_NE(combo, nullptr);
    const int index = combo->findText(name);
    ASSERT_GE(index, 0) << name.toStdString();
    combo->setCurrentIndex(index);
}

QPushButton* Button(CQuirnelDlg& dlg, int id) {
    return qobject_cast<QPushButton*>(dlg.GetDlgItem(id));
}

// Waits for the end of the run (the event loop keeps serving the worker).
bool WaitForRun(CQuirnelDlg& dlg, QSignalSpy& finished, int ms = 120000) {
    return !dlg.RunActive() || finished.wait(ms);
}

class MainDialogTest : public testing::Test {
protected:
    LanguageGuard english{Language::English};
    TestProfile profile;
    BoxRecorder boxes;
};

TEST_F(MainDialogTest, AnUnreadableProfileSaysWhyAndCanBeSetAsideForAnEmptyOne) {
    const QString path = qEnvironmentVariable("MAPI_PROFILE");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[broken\n");
    }
    // No: the program ends and the file stays as it was.
    {
        CQuirnelDlg dlg;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_TRUE(dlg.QuitRequested());
        EXPECT_FALSE(dlg.isVisible());
        ASSERT_EQ(boxes.questions.size(), 1u);
        const QString asked = boxes.questions[0].text;
        EXPECT_TRUE(asked.contains(path + ":1: a section header must look like [name]"))
            << asked.toStdString();
        EXPECT_TRUE(asked.contains("profile.ini.broken-")) << asked.toStdString();
        EXPECT_EQ(boxes.questions[0].owner, &dlg);
        EXPECT_EQ(Entries(dlg.GetDlgItem(IDC_COMBO_SOURCE)).size(), 0);
    }
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("[broken\n"));
    kept.close();
    // Yes, through the application object and in German: the old file is
    // set aside beside the new, empty profile, and the window opens.
    boxes.questions.clear();
    boxes.answer = true;
    LanguageGuard german(Language::German);
    QTimer::singleShot(0, [] {
        if (QWidget* open = QApplication::activeModalWidget()) open->close();
    });
    EXPECT_FALSE(theApp.InitInstance());
    ASSERT_EQ(boxes.questions.size(), 1u);
    EXPECT_TRUE(boxes.questions[0].text.startsWith("Das Profil kann nicht gelesen werden:"));
    EXPECT_TRUE(boxes.calls.empty());
    const QFileInfo profileFile(path);
    const QStringList aside = profileFile.dir().entryList({"profile.ini.broken-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile old(profileFile.dir().filePath(aside[0]));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("[broken\n"));
    mapi::Profile fresh;
    std::string error;
    EXPECT_EQ(mapi::Profile::Load(path.toStdString(), &fresh, &error), S_OK) << error;
    EXPECT_TRUE(fresh.Entries().empty());
}

TEST_F(MainDialogTest, ListsAreSortedAndNothingSelected) {
    // A profile no longer holds two stores of one name (it names the lines
    // instead), so the lists cannot show one twice.
    for (const char* name : {"Zeta", "alpha", "Mail", "Archiv"}) {
        ASSERT_TRUE(profile.AddEmptyStore(name));
    }
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(boxes.calls.empty());
    const QStringList expected = {"alpha", "Archiv", "Mail", "Zeta"};
    for (int id : {IDC_COMBO_SOURCE, IDC_COMBO_TARGET}) {
        EXPECT_EQ(Entries(dlg.GetDlgItem(id)), expected) << id;
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(id));
        EXPECT_EQ(combo->currentIndex(), -1);
        EXPECT_EQ(dlg.GetDlgItemText(id), QString());
    }
    // The about entry of the system menu comes with the start-up.
    const QList<QAction*> actions = dlg.SystemMenu().actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("&About Quirnel..."));
    EXPECT_FALSE(dlg.windowIcon().isNull());
}

TEST_F(MainDialogTest, StartCopiesTheSourceIntoTheEmptyTarget) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 120));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    Choose(dlg, IDC_COMBO_SOURCE, "Source");
    Choose(dlg, IDC_COMBO_TARGET, "Target");

    QSignalSpy finished(&dlg, &CQuirnelDlg::runFinished);
    QPushButton* start = Button(dlg, IDC_START);
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(dlg.RunActive());
    // A second click cannot start a second run.
    start->click();
    ASSERT_TRUE(WaitForRun(dlg, finished));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(dlg.RunActive());

    const QStringList lines = Lines(dlg.GetDlgItem(IDC_LIST_ACTIVITY));
    EXPECT_FALSE(lines.isEmpty());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const QString& l) { return l.startsWith("Copy folder "); }));
    EXPECT_TRUE(boxes.calls.empty());

    const std::string source = profile.Dump("Source", true);
    EXPECT_EQ(profile.Dump("Target", true), source);
    EXPECT_GT(CountItems(source), 100u);

    // The log file in the documents folder holds the same lines.
    QFile log(QString::fromStdString(profile.Folder()) + "/quirnel.log");
    if (!log.exists())
        log.setFileName(QString::fromStdString(profile.Folder()) + "/Documents/quirnel.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts), lines);
}

TEST_F(MainDialogTest, StopEndsTheRunBetweenItems) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 400, 7));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    Choose(dlg, IDC_COMBO_SOURCE, "Source");
    Choose(dlg, IDC_COMBO_TARGET, "Target");

    // Stop as soon as the second folder is being copied.
    auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LIST_ACTIVITY));
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &dlg, [&] {
        if (list->count() == 2) QTest::mouseClick(Button(dlg, IDC_STOP), Qt::LeftButton);
    });
    QSignalSpy finished(&dlg, &CQuirnelDlg::runFinished);
    QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);
    ASSERT_TRUE(WaitForRun(dlg, finished));
    EXPECT_TRUE(Button(dlg, IDC_START)->isEnabled());

    const std::string source = profile.Dump("Source", true);
    const std::string target = profile.Dump("Target", true);
    EXPECT_LT(CountItems(target), CountItems(source));
    // Whatever was copied is whole: every target item equals one of its source folder.
    const auto sourceItems = ItemsByFolder(source);
    for (const auto& [folder, items] : ItemsByFolder(target)) {
        const auto it = sourceItems.find(folder);
        ASSERT_NE(it, sourceItems.end()) << folder;
        for (const std::string& item : items) {
            EXPECT_NE(std::find(it->second.begin(), it->second.end(), item), it->second.end())
                << folder << "\n"
                << item;
        }
    }

    // Stop when no run is active changes nothing for the next run, which
    // copies only what the stopped run did not reach: each item once.
    const uint32_t copied = CountItems(target);
    QTest::mouseClick(Button(dlg, IDC_STOP), Qt::LeftButton);
    QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);
    ASSERT_TRUE(WaitForRun(dlg, finished));
    EXPECT_GT(copied, 0u);
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), CountItems(source));
}

// Escape, Return and the close box during a run ask first: No keeps the run
// going, Yes stops it, waits for its ledger and closes.
TEST_F(MainDialogTest, ClosingDuringARunAsksThenWaitsAndKeepsWhatWasCopied) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 400, 3));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    int result = -1;
    bool runningAfterNo = false;
    bool stillOpenAfterClose = false;
    QString progressAfterClose;
    QStringList lines;
    {
        CQuirnelDlg dlg;
        auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LIST_ACTIVITY));
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &dlg, [&] {
            QWidget* query = dlg.GetDlgItem(IDC_EDIT_QUERY);
            if (list->count() == 2) {
                // Return goes to the focused control: a button would be pressed.
                query->setFocus();
                boxes.answer = false;
                QTest::keyClick(query, Qt::Key_Escape);
                QTest::keyClick(query, Qt::Key_Return);
                runningAfterNo = dlg.isVisible() && dlg.RunActive();
            }
            if (list->count() != 3) return;
            boxes.answer = true;
            dlg.close();  // the close box
            stillOpenAfterClose = dlg.isVisible();
            progressAfterClose = dlg.GetDlgItemText(IDC_STATIC_PROGRESS);
            // Asked once: a second close while stopping asks no more.
            QTest::keyClick(query, Qt::Key_Escape);
        });
        QTimer::singleShot(0, &dlg, [&] {
            Choose(dlg, IDC_COMBO_SOURCE, "Source");
            Choose(dlg, IDC_COMBO_TARGET, "Target");
            QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);
        });
        result = dlg.DoModal();
        EXPECT_FALSE(dlg.RunActive());
        lines = Lines(list);
    }
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(runningAfterNo);
    EXPECT_TRUE(stillOpenAfterClose);
    EXPECT_TRUE(progressAfterClose.startsWith("Stopping"));
    ASSERT_EQ(boxes.questions.size(), 3u);
    for (const MessageBoxCall& asked : boxes.questions)
        EXPECT_TRUE(asked.text.startsWith("A copy is running. Stop it and close Quirnel?"));
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.back().startsWith("Summary: listed ")) << lines.back().toStdString();
    // The session is gone; the target still holds whole items, fewer than the source.
    const std::string source = profile.Dump("Source", true);
    const std::string target = profile.Dump("Target", true);
    EXPECT_GT(CountItems(target), 0u);
    EXPECT_LT(CountItems(target), CountItems(source));
    const auto sourceItems = ItemsByFolder(source);
    for (const auto& [folder, items] : ItemsByFolder(target)) {
        for (const std::string& item : items) {
            const auto& from = sourceItems.at(folder);
            EXPECT_NE(std::find(from.begin(), from.end(), item), from.end()) << folder;
        }
    }
}

TEST_F(MainDialogTest, QueryErrorShowsOneQueryBoxAndEndsTheRun) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 40));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    Choose(dlg, IDC_COMBO_SOURCE, "Source");
    Choose(dlg, IDC_COMBO_TARGET, "Target");
    dlg.SetDlgItemText(IDC_EDIT_QUERY, QStringLiteral("Foo = \"x\""));
    QSignalSpy finished(&dlg, &CQuirnelDlg::runFinished);
    QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);
    ASSERT_TRUE(WaitForRun(dlg, finished));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].caption, QStringLiteral("Query"));
    EXPECT_EQ(boxes.calls[0].text, QStringLiteral(" Neither Foo nor x is a keyword"));
    EXPECT_EQ(boxes.calls[0].owner, &dlg);
    EXPECT_TRUE(Button(dlg, IDC_START)->isEnabled());
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), 0u);
}

TEST_F(MainDialogTest, MissingStoreNameShowsTheSelectBox) {
    ASSERT_TRUE(profile.AddEmptyStore("Only"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);  // nothing selected
    // Said at once: no count first, no failed run after.
    EXPECT_FALSE(dlg.RunActive());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, QStringLiteral("Please select source and target"));
    EXPECT_EQ(boxes.calls[0].caption, QCoreApplication::applicationName());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_STATIC_PROGRESS), QString());
    EXPECT_TRUE(Button(dlg, IDC_START)->isEnabled());
}

TEST_F(MainDialogTest, QueryButtonRunsTheBuilderAndOkReplacesTheQuery) {
    ASSERT_TRUE(profile.AddEmptyStore("S"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.SetDlgItemText(IDC_EDIT_QUERY, QStringLiteral("Subject = \"old\""));

    const auto inBuilder = [](int button, bool tickSender) {
        QTimer::singleShot(0, [=] {
            auto* builder = qobject_cast<CQueryDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(builder, nullptr);
            // The builder never sees the main dialog's text.
            EXPECT_EQ(builder->GetDlgItemText(IDC_EDIT_QUERY), QString());
            if (tickSender)
                QTest::mouseClick(builder->GetDlgItem(IDC_CHK_CREATEDBY), Qt::LeftButton);
            QTest::mouseClick(builder->GetDlgItem(button), Qt::LeftButton);
        });
    };
    inBuilder(IDCANCEL, true);
    QTest::mouseClick(Button(dlg, IDC_QUERY), Qt::LeftButton);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QStringLiteral("Subject = \"old\""));
    inBuilder(IDOK, true);
    QTest::mouseClick(Button(dlg, IDC_QUERY), Qt::LeftButton);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QStringLiteral("SenderName = \"\""));
    inBuilder(IDOK, false);
    QTest::mouseClick(Button(dlg, IDC_QUERY), Qt::LeftButton);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QString());
}

TEST_F(MainDialogTest, InfoAndTheSystemCommandShowTheAboutBox) {
    ASSERT_TRUE(profile.AddEmptyStore("S"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    int shown = 0;
    const auto closeAbout = [&shown](Qt::Key key) {
        QTimer::singleShot(0, [&shown, key] {
            auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(about, nullptr);
            ++shown;
            QTest::keyClick(about, key);
        });
    };
    closeAbout(Qt::Key_Escape);
    QTest::mouseClick(Button(dlg, IDC_INFO), Qt::LeftButton);
    closeAbout(Qt::Key_Return);
    dlg.SystemMenu().actions().last()->trigger();
    closeAbout(Qt::Key_Escape);
    dlg.OnSysCommand(0x001F);
    EXPECT_EQ(shown, 3);
    dlg.OnSysCommand(0x0020);  // not the about command: nothing modal appears
    EXPECT_EQ(shown, 3);
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(MainDialogTest, HelpAndLinkOpenOnePageEach) {
    ASSERT_TRUE(profile.AddEmptyStore("S"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    UrlRecorder opened;
    QTest::mouseClick(Button(dlg, IDC_HELP_PAGE), Qt::LeftButton);
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_TRUE(opened.urls[0].isLocalFile());
    EXPECT_TRUE(opened.urls[0].toLocalFile().endsWith("help/index.en.html"));
    EXPECT_TRUE(QFileInfo::exists(opened.urls[0].toLocalFile()));
    QTest::mouseClick(Button(dlg, IDC_LINK), Qt::LeftButton);
    ASSERT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls[1].scheme(), QStringLiteral("https"));
    // The main dialog stays as it was: at rest, with nothing counted.
    EXPECT_EQ(dlg.GetDlgItemText(IDC_STATIC_PROGRESS), QString());
    EXPECT_FALSE(qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS_BAR))->isTextVisible());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QString());
    EXPECT_TRUE(boxes.calls.empty());
}

// Without a viewer of the desktop, F1 and Help show the help of the running
// language in a window of the program, which follows the help's own links.
TEST_F(MainDialogTest, F1AndHelpShowTheHelpInsideWhenTheDesktopCannot) {
    ASSERT_TRUE(profile.AddEmptyStore("S"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    QList<QUrl> offered;
    SetExternalViewerHook([&](const QUrl& url) {
        offered.push_back(url);
        return false;
    });
    QTest::keyClick(dlg.GetDlgItem(IDC_EDIT_QUERY), Qt::Key_F1);
    QList<CHelpWindow*> windows = dlg.findChildren<CHelpWindow*>();
    ASSERT_EQ(windows.size(), 1);
    QTextBrowser* browser = windows[0]->Browser();
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(browser->documentTitle(), QStringLiteral("Using Quirnel"));
    EXPECT_TRUE(browser->toPlainText().contains("Continue or copy again"));
    browser->setSource(QUrl(QStringLiteral("rescue.en.html")));
    EXPECT_EQ(browser->documentTitle(), QStringLiteral("Rescue an old .pst into a new mailbox"));

    {
        LanguageGuard german(Language::German);
        QTest::mouseClick(Button(dlg, IDC_HELP_PAGE), Qt::LeftButton);
    }
    EXPECT_EQ(dlg.findChildren<CHelpWindow*>().size(), 1);
    EXPECT_EQ(browser->documentTitle(), QStringLiteral("Quirnel benutzen"));
    SetExternalViewerHook(nullptr);
    ASSERT_EQ(offered.size(), 2);
    EXPECT_TRUE(offered[0].toLocalFile().endsWith("help/index.en.html"));
    EXPECT_TRUE(offered[1].toLocalFile().endsWith("help/index.de.html"));
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(MainDialogTest, EnterInTheQueryBoxEndsTheDialog) {
    ASSERT_TRUE(profile.AddEmptyStore("S"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    QTimer::singleShot(0, &dlg, [&] {
        QWidget* query = dlg.GetDlgItem(IDC_EDIT_QUERY);
        query->setFocus();
        QTest::keyClicks(query, QStringLiteral("abc"));
        QTest::keyClick(query, Qt::Key_Return);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QStringLiteral("abc"));
}

}  // namespace

#include "quirnel_dlg_test.moc"
