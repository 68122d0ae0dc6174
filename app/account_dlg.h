// The mail account dialogs: "Add mail account" (server, port, user and how
// the connection is secured) and the password asked for once per session.
// The password is never written anywhere; the session keeps it in memory.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QComboBox;
class QLineEdit;
class QSpinBox;

struct AccountFields {
    QString host;
    int port = 993;
    QString user;
    bool implicitTls = true;  // TLS from the first byte; else STARTTLS
};

class CAccountDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAccountDlg(QWidget* parent = nullptr);
    AccountFields Fields() const;
    // The controls, for tests and the render check.
    QLineEdit* HostEdit() const { return m_host; }
    QLineEdit* UserEdit() const { return m_user; }
    QSpinBox* PortBox() const { return m_port; }
    QComboBox* SecurityList() const { return m_security; }

private:
    void OnSecurityChanged(int index);
    void UpdateOk();

    QLineEdit* m_host = nullptr;
    QSpinBox* m_port = nullptr;
    QLineEdit* m_user = nullptr;
    QComboBox* m_security = nullptr;
    QWidget* m_ok = nullptr;
};

// Asks for a new account; false when the user cancelled.
bool AskForAccount(QWidget* owner, AccountFields* fields);
using AccountHook = std::function<bool(AccountFields*)>;
void SetAccountHook(AccountHook hook);

// The password box for user@host; false when cancelled. The text is kept
// out of the box's own history.
class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    CPasswordDlg(const QString& account, QWidget* parent = nullptr);
    QString Password() const;
    QLineEdit* PasswordEdit() const { return m_password; }

private:
    QLineEdit* m_password = nullptr;
};

bool AskForPassword(QWidget* owner, const QString& account, QString* password);
using PasswordHook = std::function<bool(const QString& account, QString* password)>;
void SetPasswordHook(PasswordHook hook);
