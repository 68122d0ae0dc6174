// A mail account from the dialog against a real server: the test Dovecot
// (dovecot_fixture.py run as a program) on 127.0.0.1. The account is added
// with the dialog's fields, its password is asked once in the session, and
// a run copies a sample store into it.
#include <QFile>

#include "providers/imap/dovecot_process.h"
#include "store_test_support.h"

namespace {

using namespace store_test;
using mapi::imap::testing::Dovecot;

TEST(ImapAccountDialog, AddedFromTheDialogAskedOnceAndFilledByARun) {
    Dovecot server;
    ASSERT_TRUE(server.Up()) << "the test Dovecot did not start";
    LanguageGuard english{Language::English};
    TestProfile profile;
    // Neither a password in the environment nor a terminal: the dialog's box
    // is the one way the password comes in.
    qunsetenv("QUIRNEL_IMAP_PASSWORD");
    qunsetenv("QUIRNEL_IMAP_PASSWORD_FILE");
    qputenv("QUIRNEL_IMAP_CA_FILE", QByteArray::fromStdString(server.Ca()));
    ASSERT_TRUE(profile.AddSampleStore("Local", 25, 4));
    ASSERT_TRUE(profile.Save());
    User user;
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();

    // STARTTLS on the fixture's plain port, which it offers on 127.0.0.1.
    user.menuChoice = 2;
    user.account = {QStringLiteral("127.0.0.1"), server.Port(), QStringLiteral("alice"), false};
    user.password = QStringLiteral("secret");
    Click(dlg, IDC_ADD_STORE);
    const QString name = QStringLiteral("alice@127.0.0.1:%1").arg(server.Port());
    EXPECT_EQ(user.passwordAsked, QStringList{"alice@127.0.0.1"});
    EXPECT_TRUE(user.boxes.empty()) << user.boxes[0].text.toStdString();
    QComboBox* target = Combo(dlg, IDC_COMBO_TARGET);
    ASSERT_GE(target->findText(name), 0) << Shown(target).join('|').toStdString();

    // Any later logon of the session finds the password it was given.
    user.menuChoice = 0;
    user.saveAs = QString::fromStdString(profile.Folder()) + QStringLiteral("/other.db");
    Click(dlg, IDC_NEW_TARGET);
    EXPECT_EQ(user.passwordAsked.size(), 1);
    // The same account again is neither checked again nor listed twice.
    user.menuChoice = 2;
    Click(dlg, IDC_ADD_STORE);
    EXPECT_EQ(user.passwordAsked.size(), 1);
    EXPECT_EQ(target->findText(name + QStringLiteral(" (2)")), -1) << Shown(target).join('|').toStdString();

    Combo(dlg, IDC_COMBO_SOURCE)->setCurrentIndex(Combo(dlg, IDC_COMBO_SOURCE)->findText("Local"));
    target->setCurrentIndex(target->findText(name));
    ASSERT_TRUE(RunToEnd(dlg));
    EXPECT_TRUE(user.boxes.empty());
    EXPECT_EQ(dlg.LastOutcome(), quirnel::RunOutcome::Completed)
        << dlg.GetDlgItemText(IDC_STATIC_PROGRESS).toStdString();
    const QString status = dlg.GetDlgItemText(IDC_STATIC_PROGRESS);
    EXPECT_TRUE(status.startsWith(
        QStringLiteral("Finished: %1 copied").arg(CountItems(profile.Dump("Local", false)))))
        << status.toStdString();
    QFile written(qEnvironmentVariable("MAPI_PROFILE"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray text = written.readAll();
    EXPECT_TRUE(text.contains("imap://alice@127.0.0.1:")) << text.toStdString();
    EXPECT_FALSE(text.contains("secret"));
}

}  // namespace
