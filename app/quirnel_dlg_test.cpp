// The main dialog driven by control id over real embedded stores: start-up
// with and without a session, the store lists, a whole copy run on the
// worker thread, Stop, closing during a run, a query error, the query
// builder, the about box and the web links.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include "about_dlg.h"
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

TEST_F(MainDialogTest, LogonFailureShowsTheStartBoxAndEndsTheProgram) {
    // A profile that cannot be read: the session cannot be had, as when the
    // mail client is not running.
    {
        QFile file(qEnvironmentVariable("MAPI_PROFILE"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is not a profile\n");
    }
    {
        CQuirnelDlg dlg;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_TRUE(dlg.QuitRequested());
        EXPECT_FALSE(dlg.isVisible());
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, QStringLiteral("Please start Outlook then QUIRNEL"));
        EXPECT_EQ(boxes.calls[0].caption, QCoreApplication::applicationName());
        EXPECT_EQ(boxes.calls[0].owner, &dlg);
        EXPECT_EQ(Entries(dlg.GetDlgItem(IDC_COMBO_SOURCE)).size(), 0);
        EXPECT_TRUE(boxes.questions.empty());
    }
    // The application object ends the program after the box, in German for a German user.
    boxes.calls.clear();
    LanguageGuard german(Language::German);
    EXPECT_FALSE(theApp.InitInstance());
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, QStringLiteral("Bitte starten Sie Outlook danach QUIRNEL"));
}

TEST_F(MainDialogTest, ListsAreSortedWithDuplicatesAndNothingSelected) {
    for (const char* name : {"Zeta", "alpha", "Mail", "Archiv", "Mail"}) {
        ASSERT_TRUE(profile.AddEmptyStore(name));
    }
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(boxes.calls.empty());
    const QStringList expected = {"alpha", "Archiv", "Mail", "Mail", "Zeta"};
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

TEST_F(MainDialogTest, ClosingDuringARunWaitsAndKeepsWhatWasCopied) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 400, 3));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    int result = -1;
    bool stillOpenAfterClose = false;
    QString progressAfterClose;
    {
        CQuirnelDlg dlg;
        auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LIST_ACTIVITY));
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &dlg, [&] {
            if (list->count() != 3) return;
            dlg.close();  // the close box
            stillOpenAfterClose = dlg.isVisible();
            progressAfterClose = dlg.GetDlgItemText(IDC_STATIC_PROGRESS);
        });
        QTimer::singleShot(0, &dlg, [&] {
            Choose(dlg, IDC_COMBO_SOURCE, "Source");
            Choose(dlg, IDC_COMBO_TARGET, "Target");
            QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);
        });
        result = dlg.DoModal();
        EXPECT_FALSE(dlg.RunActive());
    }
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(stillOpenAfterClose);
    EXPECT_TRUE(progressAfterClose.startsWith("Stopping"));
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
    QSignalSpy finished(&dlg, &CQuirnelDlg::runFinished);
    QTest::mouseClick(Button(dlg, IDC_START), Qt::LeftButton);  // nothing selected
    ASSERT_TRUE(WaitForRun(dlg, finished));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, QStringLiteral("Please select source and target"));
    EXPECT_EQ(boxes.calls[0].caption, QCoreApplication::applicationName());
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
    // The main dialog stays as it was.
    EXPECT_EQ(dlg.GetDlgItemText(IDC_STATIC_PROGRESS), QStringLiteral("0 from 0"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QString());
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
