// Stores of every kind from the main dialog: new Maildir, mbox and .eml
// targets that a run fills, the same folders added back as stores (picked
// and dropped), renaming an entry, and a mail account added without its
// password ever reaching the profile.
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <providers/imap/imap_account.h>

#include "store_test_support.h"

namespace {

using namespace store_test;

QString ProfileText() {
    QFile file(qEnvironmentVariable("MAPI_PROFILE"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every folder of the source arrives with as many items. (Which properties
// a mail file keeps is the providers' own test; here the run must reach
// every kind of target whole.) Deleted items go to the target's own folder
// of that role, which mail folder stores call Trash.
void ExpectSameFoldersAndCounts(const std::string& target, const std::string& source) {
    const auto written = ItemsByFolder(target);
    std::string names;
    for (const auto& [name, list] : written) names += name + "|";
    for (const auto& [folder, items] : ItemsByFolder(source)) {
        const std::string deleted = "\\Deleted Items";
        auto it = written.find(folder);
        if (it == written.end() && folder.rfind(deleted, 0) == 0)
            it = written.find("\\Trash" + folder.substr(deleted.size()));
        ASSERT_NE(it, written.end()) << folder << " not in " << names;
        EXPECT_EQ(it->second.size(), items.size()) << folder;
    }
    EXPECT_EQ(CountItems(target), CountItems(source));
}

class StoreKindsTest : public testing::Test {
protected:
    LanguageGuard english{Language::English};
    TestProfile profile;
    User user;
    QString Path(const QString& name) const {
        return QString::fromStdString(profile.Folder()) + QLatin1Char('/') + name;
    }
};

TEST_F(StoreKindsTest, NewFolderTargetsTakeACopyAndCanBeAddedBack) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 60, 11));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    QComboBox* source = Combo(dlg, IDC_COMBO_SOURCE);
    QComboBox* target = Combo(dlg, IDC_COMBO_TARGET);
    source->setCurrentIndex(IndexOf(source, QStringLiteral("Source")));
    const std::string sourceDump = profile.Dump("Source", true);
    ASSERT_GT(CountItems(sourceDump), 40u);

    struct Kind {
        int menuEntry;
        const char* folder;
        const char* providerName;
    };
    for (const Kind& kind :
         {Kind{1, "as-maildir", "Maildir folders"}, Kind{2, "as-mbox", "mbox folders"},
          Kind{3, "as-eml", ".eml folders"}}) {
        SCOPED_TRACE(kind.folder);
        user.menuChoice = kind.menuEntry;
        user.saveAs = Path(QString::fromLatin1(kind.folder));
        Click(dlg, IDC_NEW_TARGET);
        // The kind is chosen in the button's menu, which offers all four.
        ASSERT_FALSE(user.menus.empty());
        EXPECT_EQ(user.menus.back().size(), 4);
        EXPECT_TRUE(QFileInfo(user.saveAs).isDir());
        EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_TARGET), QString::fromLatin1(kind.folder));
        EXPECT_TRUE(target->toolTip().contains(QString::fromLatin1(kind.providerName)))
            << target->toolTip().toStdString();
        EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("Source"));
        ASSERT_TRUE(RunToEnd(dlg));
        EXPECT_TRUE(user.boxes.empty()) << user.boxes[0].text.toStdString();
        EXPECT_EQ(dlg.LastOutcome(), quirnel::RunOutcome::Completed);
        ExpectSameFoldersAndCounts(DumpFile(user.saveAs), sourceDump);
    }

    // Taken out of the profile, the folders come back: Maildir picked as a
    // folder (with the closing slash a folder dialog may give), mbox dropped.
    for (const char* name : {"as-maildir", "as-mbox"}) {
        target->setCurrentIndex(IndexOf(target, QString::fromLatin1(name)));
        Click(dlg, IDC_REMOVE_TARGET);
    }
    EXPECT_EQ(source->findText(QStringLiteral("as-maildir")), -1);
    user.menuChoice = 1;
    user.open = Path(QStringLiteral("as-maildir/"));
    Click(dlg, IDC_ADD_STORE);
    ASSERT_TRUE(user.picks.back().folder);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("as-maildir"));
    EXPECT_TRUE(source->toolTip().contains(QStringLiteral("Maildir folders")));
    EXPECT_EQ(CountItems(DumpFile(Path(QStringLiteral("as-maildir")))), CountItems(sourceDump));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Path(QStringLiteral("as-mbox")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &drop);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("as-mbox"));
    EXPECT_TRUE(source->toolTip().contains(QStringLiteral("mbox folders")));
    EXPECT_TRUE(user.boxes.empty());

    // A folder that holds no mail is refused with a reason.
    QDir().mkpath(Path(QStringLiteral("empty")));
    user.open = Path(QStringLiteral("empty"));
    Click(dlg, IDC_ADD_STORE);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_TRUE(user.boxes[0].text.contains(QStringLiteral("Maildir, mbox or .eml folder")));
    // A new folder store may not take a folder that is there.
    user.menuChoice = 1;
    user.saveAs = Path(QStringLiteral("empty"));
    Click(dlg, IDC_NEW_TARGET);
    ASSERT_EQ(user.boxes.size(), 2u);
    EXPECT_TRUE(user.boxes[1].text.contains(QStringLiteral("exists already")));
}

TEST_F(StoreKindsTest, RenameGivesAFreeNameAndRefusesATakenOne) {
    ASSERT_TRUE(profile.AddEmptyStore("Archive"));
    ASSERT_TRUE(profile.AddEmptyStore("Rescue"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    QComboBox* source = Combo(dlg, IDC_COMBO_SOURCE);
    QComboBox* target = Combo(dlg, IDC_COMBO_TARGET);
    source->setCurrentIndex(IndexOf(source, QStringLiteral("Archive")));
    target->setCurrentIndex(IndexOf(target, QStringLiteral("Rescue")));
    const QString before = ProfileText();

    // A name another entry has would make one of them unreachable.
    user.text = QStringLiteral("Rescue");
    Click(dlg, IDC_RENAME_SOURCE);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_TRUE(user.boxes[0].text.contains(QStringLiteral("\"Rescue\" already")));
    EXPECT_EQ(ProfileText(), before);
    // Cancel changes nothing either.
    user.answer = false;
    Click(dlg, IDC_RENAME_SOURCE);
    EXPECT_EQ(ProfileText(), before);
    EXPECT_EQ(user.boxes.size(), 1u);

    // A free name: in both lists and the profile, both choices kept.
    user.answer = true;
    user.text = QStringLiteral("  Archive 2024 ");
    Click(dlg, IDC_RENAME_SOURCE);
    EXPECT_EQ(user.boxes.size(), 1u);
    EXPECT_TRUE(user.questions.back().text.contains(QStringLiteral("\"Archive\"")));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_SOURCE), QStringLiteral("Archive 2024"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_COMBO_TARGET), QStringLiteral("Rescue"));
    EXPECT_EQ(Shown(target), (QStringList{"Archive 2024", "Rescue"}));
    EXPECT_TRUE(ProfileText().contains(QStringLiteral("Archive 2024")));
    EXPECT_FALSE(ProfileText().contains(QStringLiteral("=Archive\n")));
    // The renamed store is the same file, and a run finds it by its new name.
    ASSERT_TRUE(RunToEnd(dlg));
    EXPECT_TRUE(user.boxes.size() == 1u);
    EXPECT_EQ(dlg.LastOutcome(), quirnel::RunOutcome::Completed);
}

TEST_F(StoreKindsTest, AMailAccountIsCheckedBeforeItIsAdded) {
    ASSERT_TRUE(profile.AddEmptyStore("Local"));
    ASSERT_TRUE(profile.Save());
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    // Nothing listens on port 1 of this machine: the logon fails at once,
    // without a server and without the network.
    user.menuChoice = 2;
    user.account = {QStringLiteral("127.0.0.1"), 1, QStringLiteral("anna@example.org"), false};
    user.password = QStringLiteral("not-in-any-file");
    Click(dlg, IDC_ADD_STORE);
    const QString url = QStringLiteral("imap://anna%40example.org@127.0.0.1:1?starttls");
    // Asked once, naming the account; the failed logon is said and nothing
    // is written, the password least of all.
    ASSERT_EQ(user.passwordAsked, QStringList{"anna@example.org@127.0.0.1"});
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_TRUE(user.boxes[0].text.contains(QStringLiteral("127.0.0.1"))) << user.boxes[0].text.toStdString();
    EXPECT_FALSE(ProfileText().contains(url)) << ProfileText().toStdString();
    EXPECT_FALSE(ProfileText().contains(user.password));
    EXPECT_EQ(Shown(Combo(dlg, IDC_COMBO_SOURCE)).size(), 1);

    // The refused password is forgotten: trying again asks again, and a
    // password not given is refused the same way.
    user.password.clear();
    Click(dlg, IDC_ADD_STORE);
    EXPECT_EQ(user.passwordAsked.size(), 2);
    EXPECT_EQ(user.boxes.size(), 2u);
    EXPECT_FALSE(ProfileText().contains(url));

    // The address the dialog makes: the usual port left out, TLS by scheme.
    EXPECT_EQ(store_setup::AccountUrl("imap.example.org", 993, "bob", true),
              "imaps://bob@imap.example.org");
    EXPECT_EQ(store_setup::AccountUrl("imap.example.org", 143, "bob@x.org", false),
              "imap://bob%40x.org@imap.example.org?starttls");
    EXPECT_EQ(store_setup::AccountUrl("h", 1143, "a b", true), "imaps://a%20b@h:1143");
    // Both are addresses the platform opens: a STARTTLS account on another
    // host is held to STARTTLS, never refused as plain text.
    for (bool implicitTls : {true, false}) {
        mapi::imap::Account account;
        std::string error;
        EXPECT_TRUE(mapi::imap::ParseAccountUrl(
            store_setup::AccountUrl("imap.example.org", 0, "bob", implicitTls), &account, &error))
            << error;
        EXPECT_EQ(account.implicitTls || account.requireStartTls, true);
    }
}

}  // namespace
