// A mail account from the dialog against a real server: the test Dovecot
// (dovecot_fixture.py run as a program) on 127.0.0.1. The account is added
// with the dialog's fields, its password is asked once in the session, and
// a run copies a sample store into it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <QFile>

#include "store_test_support.h"

extern char** environ;

namespace {

using namespace store_test;

// The fixture prints where it listens on its first line and serves until
// SIGINT, then removes what it made.
class Dovecot {
public:
    Dovecot() {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string script = std::string(QUIRNEL_IMAP_DIR) + "/dovecot_fixture.py";
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-u"),
                        const_cast<char*>(script.c_str()), nullptr};
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        char c = 0;
        while (pid_ > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ::close(out[0]);
        char ca[512] = {};
        int tls = 0;
        if (std::sscanf(line.c_str(), "dovecot on 127.0.0.1:%d (imaps %d), CA %511s", &port_, &tls,
                        ca) == 3) {
            ca_ = ca;
            if (!ca_.empty() && ca_.back() == ',') ca_.pop_back();
        }
    }
    ~Dovecot() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGINT);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    bool Up() const { return port_ > 0 && !ca_.empty(); }
    int Port() const { return port_; }
    const std::string& Ca() const { return ca_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string ca_;
};

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
