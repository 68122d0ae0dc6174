// The main dialog as a new user meets it: no profile, stores added with the
// picker or by dropping a file, a target made, read-only and missing stores,
// the query checked at Start, and what is remembered across a restart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>

#include <sstream>

#include <dump.h>
#include <runtime/provider.h>

#include "account_dlg.h"
#include "choice_menu.h"
#include "file_picker.h"
#include "message_box.h"
#include "quirnel_dlg.h"
#include "resource.h"
#include "run_status.h"
#include "store_setup.h"
#include "language.h"
#include "store_test_support.h"
#include "test_stores.h"

namespace {

using namespace store_test;
TEST_F(StoreSetupTest, FirstRunWithoutAProfileReachesAFinishedCopy) {
    ASSERT_TRUE(QFileInfo::exists(kPst))
        << kPst.toStdString() << " missing; set QUIRNEL_SHARED_DIR";
    {
        // No: the program says why it ends, and makes nothing.
        user.answer = false;
        CQuirnelDlg declined;
        EXPECT_EQ(declined.DoModal(), IDCANCEL);
        EXPECT_TRUE(declined.QuitRequested());
        EXPECT_FALSE(QFileInfo::exists(qEnvironmentVariable("MAPI_PROFILE")));
        ASSERT_EQ(user.boxes.size(), 1u);
        EXPECT_TRUE(user.boxes[0].text.startsWith("Without a profile Quirnel does not know"));
        user.boxes.clear();
        user.questions.clear();
        user.answer = true;
    }
    user.open = kPst;
    user.saveAs = Path(QStringLiteral("rescued"));
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    // What a profile is, and the offer to make one; not the box for a
    // session that cannot be had.
    ASSERT_EQ(user.questions.size(), 1u);
    EXPECT_TRUE(user.questions[0].text.contains(QStringLiteral("profile")));
    EXPECT_TRUE(user.questions[0].text.contains(qEnvironmentVariable("MAPI_PROFILE")));
    EXPECT_TRUE(user.boxes.empty());
    EXPECT_TRUE(QFileInfo::exists(qEnvironmentVariable("MAPI_PROFILE")));
    EXPECT_EQ(Combo(dlg, IDC_COMBO_SOURCE)->count(), 0);
    dlg.show();

    Click(dlg, IDC_ADD_STORE);
    ASSERT_EQ(user.picks.size(), 1u);
    EXPECT_FALSE(user.picks[0].forSaving);
    EXPECT_TRUE(user.picks[0].filter.contains(QStringLiteral("*.pst")));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("outlook"));
    // libpff reads .pst files only: offered as a source, never as a target.
    EXPECT_EQ(Shown(Combo(dlg, IDC_COMBO_TARGET)), QStringList{"-outlook (read-only)"});

    Click(dlg, IDC_NEW_TARGET);
    ASSERT_EQ(user.picks.size(), 2u);
    EXPECT_TRUE(user.picks[1].forSaving);
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("rescued.db"))));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_TARGET), QStringLiteral("rescued"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("outlook"));
    EXPECT_TRUE(
        Combo(dlg, IDC_COMBO_TARGET)->toolTip().contains(Path(QStringLiteral("rescued.db"))));

    ASSERT_TRUE(RunToEnd(dlg));
    EXPECT_TRUE(user.boxes.empty());
    const std::string source = DumpFile(kPst);
    EXPECT_GT(CountItems(source), 0u);
    // Hierarchy order may differ between the two kinds of store; the folders
    // and every item in them may not.
    EXPECT_EQ(ItemsByFolder(DumpFile(Path(QStringLiteral("rescued.db")))), ItemsByFolder(source));

    auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LIST_ACTIVITY));
    ASSERT_GT(list->count(), 0);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    // The status line names a folder of the source, not the engine's raw counter.
    const QString status = dlg.GetDlgItemText(IDC_STATIC_PROGRESS);
    EXPECT_FALSE(status.contains(QStringLiteral(" vom "))) << status.toStdString();
    // For review beside the empty dialogs: the window after its first run.
    QDir().mkpath(QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders"));
    EXPECT_TRUE(
        dlg.grab().save(QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders/after-first-run-en.png")));

    // A .pst name makes a personal folder file that mail programs open, and
    // it is offered as a target like any store that can be written.
    user.saveAs = Path(QStringLiteral("rescued.pst"));
    Click(dlg, IDC_NEW_TARGET);
    EXPECT_TRUE(user.picks.back().filter.contains(QStringLiteral("*.pst")));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_TARGET), QStringLiteral("rescued (2)"));
    ASSERT_TRUE(RunToEnd(dlg));
    EXPECT_TRUE(user.boxes.empty());
    // Item for item equality with a .pst target is the writer's own test;
    // here every source folder must arrive with all its items. (The checking
    // reader may add what it recovers from the file's older pages.)
    const auto written = ItemsByFolder(DumpFile(Path(QStringLiteral("rescued.pst"))));
    for (const auto& [folder, items] : ItemsByFolder(source)) {
        const auto it = written.find(folder);
        ASSERT_NE(it, written.end()) << folder;
        EXPECT_EQ(it->second.size(), items.size()) << folder;
    }

    // A bare name takes the kind of the filter left chosen.
    user.saveAs = Path(QStringLiteral("viafilter"));
    user.filterChosen = QStringLiteral("Outlook data files (*.pst)");
    Click(dlg, IDC_NEW_TARGET);
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("viafilter.pst"))));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("viafilter.db"))));
    QFile made(Path(QStringLiteral("viafilter.pst")));
    ASSERT_TRUE(made.open(QIODevice::ReadOnly));
    EXPECT_EQ(made.read(4), QByteArray("!BDN"));  // a personal folder file
    EXPECT_TRUE(user.boxes.empty());
}

TEST_F(StoreSetupTest, ReadOnlyAndMissingStoresAreShownButNotOffered) {
    ASSERT_TRUE(QFileInfo::exists(kPst))
        << kPst.toStdString() << " missing; set QUIRNEL_SHARED_DIR";
    ASSERT_TRUE(profile.AddEmptyStore("Good"));
    ASSERT_TRUE(profile.Save());
    {
        // A .pst, and a store whose file has gone since it was added.
        mapi::Profile p;
        std::string error;
        ASSERT_FALSE(
            FAILED(mapi::Profile::Load(qgetenv("MAPI_PROFILE").toStdString(), &p, &error)));
        p.Add("Old mail", "pst", kPst.toStdString());
        p.Add("Gone", "embedded", Path(QStringLiteral("gone.db")).toStdString());
        ASSERT_FALSE(FAILED(p.Save(qgetenv("MAPI_PROFILE").toStdString(), &error)));
    }
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(user.questions.empty());
    EXPECT_EQ(Shown(Combo(dlg, IDC_COMBO_SOURCE)),
              (QStringList{"Good", "Old mail", "-Gone (file missing)"}));
    EXPECT_EQ(Shown(Combo(dlg, IDC_COMBO_TARGET)),
              (QStringList{"Good", "-Old mail (read-only)", "-Gone (file missing)"}));
    // Each entry says what it is and where it lives; the missing one why it is out.
    QComboBox* source = Combo(dlg, IDC_COMBO_SOURCE);
    const QString pstTip =
        source->itemData(IndexOf(source, "Old mail"), Qt::ToolTipRole).toString();
    EXPECT_TRUE(pstTip.contains(kPst)) << pstTip.toStdString();
    const QString goneTip = source->itemData(2, Qt::ToolTipRole).toString();
    EXPECT_TRUE(goneTip.contains(Path(QStringLiteral("gone.db")))) << goneTip.toStdString();
    EXPECT_GT(goneTip.count(QLatin1Char('\n')), 1) << "no reason given";
    const auto& stores = dlg.Stores();
    ASSERT_EQ(stores.size(), 3u);
    EXPECT_EQ(stores[0].state, StoreState::Usable);
    EXPECT_EQ(stores[1].state, StoreState::ReadOnly);
    EXPECT_EQ(stores[2].state, StoreState::Missing);

    // German names the states in German.
    LanguageGuard german(Language::German);
    CQuirnelDlg de;
    ASSERT_TRUE(de.OnInitDialog());
    EXPECT_EQ(Shown(Combo(de, IDC_COMBO_TARGET)),
              (QStringList{"Good", "-Old mail (nur lesbar)", "-Gone (Datei fehlt)"}));
}

TEST_F(StoreSetupTest, AddingDroppingAndRemovingStoresKeepsNamesApart) {
    ASSERT_TRUE(QFileInfo::exists(kPst))
        << kPst.toStdString() << " missing; set QUIRNEL_SHARED_DIR";
    ASSERT_TRUE(profile.AddEmptyStore("outlook"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());

    // Dropped onto the dialog: a second "outlook" gets a name of its own.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(kPst)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(Combo(dlg, IDC_COMBO_SOURCE)->count(), 2);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("outlook (2)"));
    // The same file again is not listed twice.
    user.open = kPst;
    Click(dlg, IDC_ADD_STORE);
    EXPECT_EQ(Combo(dlg, IDC_COMBO_SOURCE)->count(), 2);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("outlook (2)"));
    // A file that is no store is refused with a reason.
    user.open = Path(QStringLiteral("profile.ini"));
    Click(dlg, IDC_ADD_STORE);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_TRUE(user.boxes[0].text.contains(QStringLiteral("not a message store")));
    EXPECT_EQ(Combo(dlg, IDC_COMBO_SOURCE)->count(), 2);
    {
        // The reason comes in the window's language, the file's name in it.
        SetResourceLanguage(Language::German);
        std::string name;
        const std::string notAStore = Path(QStringLiteral("profile.ini")).toStdString();
        const std::string why =
            store_setup::AddStoreFile(mapi::Profile::DefaultPath(), notAStore, &name);
        ResetResourceLanguage();
        EXPECT_NE(why.find("ist keine Datendatei"), std::string::npos) << why;
        EXPECT_NE(why.find("profile.ini"), std::string::npos) << why;
    }

    // Remove asks first; No keeps the entry, Yes removes it and keeps the file.
    user.answer = false;
    Click(dlg, IDC_REMOVE_SOURCE);
    EXPECT_EQ(Combo(dlg, IDC_COMBO_SOURCE)->count(), 2);
    user.answer = true;
    Click(dlg, IDC_REMOVE_SOURCE);
    ASSERT_EQ(user.questions.size(), 2u);
    EXPECT_TRUE(user.questions[1].text.contains(kPst));
    EXPECT_EQ(Shown(Combo(dlg, IDC_COMBO_SOURCE)), QStringList{"outlook"});
    EXPECT_EQ(Combo(dlg, IDC_COMBO_SOURCE)->currentIndex(), -1);
    EXPECT_TRUE(QFileInfo::exists(kPst));

    // A new target may not take an existing file.
    user.saveAs = kPst;
    Click(dlg, IDC_NEW_TARGET);
    ASSERT_EQ(user.boxes.size(), 2u);
    EXPECT_TRUE(user.boxes[1].text.contains(QStringLiteral("exists already")));
}

TEST_F(StoreSetupTest, StartChecksNamesAndQueryBeforeAnythingIsWritten) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 30));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.AddEmptyStore("Other"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    QComboBox* source = Combo(dlg, IDC_COMBO_SOURCE);
    QComboBox* target = Combo(dlg, IDC_COMBO_TARGET);
    source->setCurrentIndex(IndexOf(source, "Source"));
    // Two stores of one name, which the dialog refused at Start, can no
    // longer come from a profile: loading one names the lines instead.
    target->setCurrentIndex(IndexOf(target, "Other"));
    dlg.SetDlgItemText(IDC_EDIT_QUERY, QStringLiteral("Subject = "));
    Click(dlg, IDC_START);
    EXPECT_FALSE(dlg.RunActive()) << "a run began with a query that does not compile";
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].caption, QStringLiteral("Query"));
    EXPECT_EQ(qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LIST_ACTIVITY))->count(), 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(profile.Folder()) + "/quirnel.log"));
    EXPECT_EQ(CountItems(profile.Dump("Other", false)), 0u);

    // A query that compiles (named against the source) runs.
    dlg.SetDlgItemText(IDC_EDIT_QUERY, QStringLiteral("MessageSize > 0"));
    ASSERT_TRUE(RunToEnd(dlg));
    EXPECT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(CountItems(profile.Dump("Other", false)), CountItems(profile.Dump("Source", false)));
}

TEST_F(StoreSetupTest, ChoicesQueryAndPlaceAreRememberedAcrossARestart) {
    ASSERT_TRUE(profile.AddEmptyStore("Alpha"));
    ASSERT_TRUE(profile.AddEmptyStore("Beta"));
    ASSERT_TRUE(profile.Save());
    {
        CQuirnelDlg dlg;
        ASSERT_TRUE(dlg.OnInitDialog());
        dlg.show();
        dlg.move(20, 30);
        Combo(dlg, IDC_COMBO_SOURCE)
            ->setCurrentIndex(IndexOf(Combo(dlg, IDC_COMBO_SOURCE), "Beta"));
        Combo(dlg, IDC_COMBO_TARGET)
            ->setCurrentIndex(IndexOf(Combo(dlg, IDC_COMBO_TARGET), "Alpha"));
        dlg.SetDlgItemText(IDC_EDIT_QUERY, QStringLiteral("Categories = \"Work\""));
        dlg.close();
    }
    CQuirnelDlg again;
    ASSERT_TRUE(again.OnInitDialog());
    EXPECT_EQ(again.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("Beta"));
    EXPECT_EQ(again.GetDlgItemText(IDC_COMBO_TARGET), QStringLiteral("Alpha"));
    EXPECT_EQ(again.GetDlgItemText(IDC_EDIT_QUERY), QStringLiteral("Categories = \"Work\""));
    EXPECT_EQ(again.pos(), QPoint(20, 30));
}

TEST(RunStatus, FolderAndProgressOfTheEnginesLines) {
    LanguageGuard english(Language::English);
    EXPECT_EQ(FolderOfCopyLine("Copy folder \\Inbox to Inbox"), QStringLiteral("\\Inbox"));
    EXPECT_EQ(FolderOfCopyLine("Copy folder \\A\\Notes to self to Notes to self"),
              QStringLiteral("\\A\\Notes to self"));
    EXPECT_EQ(FolderOfCopyLine("Copy folder \\Inbox\\x to y to x to y (2)"),
              QStringLiteral("\\Inbox\\x to y"));
    EXPECT_EQ(FolderOfCopyLine("Copy folder \\ to Unnamed folder"), QStringLiteral("\\"));
    EXPECT_EQ(FolderOfCopyLine("Skip folder \\Inbox: MAPI_E_CORRUPT_DATA"), QString());
    EXPECT_EQ(StatusText("\\Inbox", "32 vom 250"), QStringLiteral("\\Inbox: 32 of 250 items"));
    EXPECT_EQ(StatusText("\\Inbox", "Folder creation"),
              QStringLiteral("\\Inbox: creating its folders"));
    EXPECT_EQ(StatusText(QString(), "Folder creation"), QStringLiteral("Creating folders"));
    EXPECT_EQ(StatusText("\\Inbox", "Stopping"), QStringLiteral("Stopping"));
    LanguageGuard german(Language::German);
    EXPECT_EQ(StatusText("\\Posteingang", "0 vom 3"),
              QStringLiteral("\\Posteingang: 0 von 3 Elementen"));
}

}  // namespace
