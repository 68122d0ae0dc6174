// The mail account and password dialogs.
#include "account_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "dialog_units.h"
#include "pictures.h"
#include "resource.h"
#include "string_table.h"

namespace {

constexpr int kTlsPort = 993;
constexpr int kStartTlsPort = 143;

AccountHook g_accountHook;
PasswordHook g_passwordHook;

// OK and Cancel in the program's language, whatever Qt's own is.
QDialogButtonBox* Buttons(QDialog* dialog) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    box->button(QDialogButtonBox::Ok)->setText(LoadString(IDS_OK));
    box->button(QDialogButtonBox::Cancel)->setText(LoadString(IDS_CANCEL));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

void Dress(QDialog* dialog, int captionId) {
    dialog->setWindowTitle(LoadString(captionId));
    dialog->setWindowIcon(LoadAppIcon());
    dialog->setFont(DialogFont());
}

}  // namespace

CAccountDlg::CAccountDlg(QWidget* parent) : QDialog(parent) {
    Dress(this, IDS_ACCOUNT_CAPTION);
    m_host = new QLineEdit(this);
    m_host->setPlaceholderText(QStringLiteral("imap.example.org"));
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(kTlsPort);
    m_user = new QLineEdit(this);
    m_security = new QComboBox(this);
    m_security->addItem(LoadString(IDS_ACCOUNT_TLS));
    m_security->addItem(LoadString(IDS_ACCOUNT_STARTTLS));
    auto* note = new QLabel(LoadString(IDS_ACCOUNT_NOTE), this);
    note->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(LoadString(IDS_ACCOUNT_SERVER), m_host);
    form->addRow(LoadString(IDS_ACCOUNT_SECURITY), m_security);
    form->addRow(LoadString(IDS_ACCOUNT_PORT), m_port);
    form->addRow(LoadString(IDS_ACCOUNT_USER), m_user);
    QDialogButtonBox* buttons = Buttons(this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
    // Wide enough for a server's name and an address as the user.
    m_host->setMinimumWidth(QFontMetrics(font()).averageCharWidth() * 46);

    connect(m_security, &QComboBox::currentIndexChanged, this, &CAccountDlg::OnSecurityChanged);
    connect(m_host, &QLineEdit::textChanged, this, &CAccountDlg::UpdateOk);
    connect(m_user, &QLineEdit::textChanged, this, &CAccountDlg::UpdateOk);
    UpdateOk();
}

void CAccountDlg::OnSecurityChanged(int index) {
    // The usual port follows the choice unless the user typed another one.
    const int port = m_port->value();
    if (port == kTlsPort || port == kStartTlsPort)
        m_port->setValue(index == 0 ? kTlsPort : kStartTlsPort);
}

void CAccountDlg::UpdateOk() {
    m_ok->setEnabled(!m_host->text().trimmed().isEmpty() && !m_user->text().trimmed().isEmpty());
}

AccountFields CAccountDlg::Fields() const {
    return {m_host->text().trimmed(), m_port->value(), m_user->text().trimmed(),
            m_security->currentIndex() == 0};
}

bool AskForAccount(QWidget* owner, AccountFields* fields) {
    if (g_accountHook) return g_accountHook(fields);
    CAccountDlg dialog(owner);
    if (dialog.exec() != QDialog::Accepted) return false;
    *fields = dialog.Fields();
    return true;
}

void SetAccountHook(AccountHook hook) {
    g_accountHook = std::move(hook);
}

CPasswordDlg::CPasswordDlg(const QString& account, QWidget* parent) : QDialog(parent) {
    Dress(this, IDS_PASSWORD_CAPTION);
    auto* prompt = new QLabel(LoadString(IDS_PASSWORD_PROMPT).arg(account), this);
    prompt->setWordWrap(true);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_password);
    layout->addWidget(Buttons(this));
    m_password->setMinimumWidth(QFontMetrics(font()).averageCharWidth() * 46);
}

QString CPasswordDlg::Password() const {
    return m_password->text();
}

bool AskForPassword(QWidget* owner, const QString& account, QString* password) {
    if (g_passwordHook) return g_passwordHook(account, password);
    CPasswordDlg dialog(account, owner);
    if (dialog.exec() != QDialog::Accepted) return false;
    *password = dialog.Password();
    return true;
}

void SetPasswordHook(PasswordHook hook) {
    g_passwordHook = std::move(hook);
}
