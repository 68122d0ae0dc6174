// The main dialog's start-up, handlers and the copy engine's host.
#include "quirnel_dlg.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QUrl>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include <copy_engine.h>
#include <log_location.h>
#include <runtime/profile.h>
#include <runtime/session.h>
#include <providers/imap/imap_account.h>

#include "about_dlg.h"
#include "account_dlg.h"
#include "help_window.h"
#include "ui_thread.h"
#include "message_box.h"
#include "pictures.h"
#include "query_dlg.h"
#include "resource.h"
#include "run_status.h"
#include "store_setup.h"
#include "string_table.h"

namespace {

constexpr int kSystemIconSize = 32;

// The dialog whose password box the mail accounts use (interface thread only).
const CQuirnelDlg* g_passwordOwner = nullptr;

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

CQuirnelDlg::CQuirnelDlg(QWidget* parent)
    : CTemplateDialog(IDD_QUIRNEL_DIALOG, parent),
      m_engine(std::make_unique<quirnel::CCopyEngine>(*this, m_session)),
      m_hIcon(LoadAppIcon()) {
    DoDataExchange();
    connect(this, &CQuirnelDlg::workerDone, this, &CQuirnelDlg::OnWorkerFinished,
            Qt::QueuedConnection);
    connect(this, &CQuirnelDlg::countDone, this, &CQuirnelDlg::OnCountDone, Qt::QueuedConnection);
    // Mail accounts ask their password of this dialog, never of a terminal.
    // The newest dialog answers; only it takes the prompt away again.
    g_passwordOwner = this;
    mapi::imap::SetPasswordPrompt(
        [this](const mapi::imap::Account& account, std::string* password, std::string* error) {
            return AccountPassword(account.url, account.user + "@" + account.host, password, error);
        });
    // ReportError's boxes have no owner; the worker waits while one is shown.
    SetMessageBoxHandler([this](const std::string& caption, const std::string& text) {
        OnUiThread([&] {
            ::ShowMessageBox(nullptr, QString::fromStdString(text),
                             QString::fromStdString(caption));
        });
    });

    const auto on = [this](int id, void (CQuirnelDlg::*handler)()) {
        if (auto* button = qobject_cast<QPushButton*>(GetDlgItem(id))) {
            connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        }
    };
    on(IDC_START, &CQuirnelDlg::OnStart);
    on(IDC_INFO, &CQuirnelDlg::OnInfo);
    on(IDC_STOP, &CQuirnelDlg::OnStop);
    on(IDC_QUERY, &CQuirnelDlg::OnQuery);
    on(IDC_LINK, &CQuirnelDlg::OnLink);
    on(IDC_HELP_PAGE, &CQuirnelDlg::OnHelpPage);
    on(IDC_ADD_STORE, &CQuirnelDlg::OnAddStore);
    on(IDC_NEW_TARGET, &CQuirnelDlg::OnNewTarget);
    if (auto* b = qobject_cast<QPushButton*>(GetDlgItem(IDC_RENAME_SOURCE)))
        connect(b, &QPushButton::clicked, this, [this] { OnRenameStore(m_comboSource); });
    if (auto* b = qobject_cast<QPushButton*>(GetDlgItem(IDC_RENAME_TARGET)))
        connect(b, &QPushButton::clicked, this, [this] { OnRenameStore(m_comboTarget); });
    if (auto* b = qobject_cast<QPushButton*>(GetDlgItem(IDC_REMOVE_SOURCE)))
        connect(b, &QPushButton::clicked, this, [this] { OnRemoveStore(m_comboSource); });
    if (auto* b = qobject_cast<QPushButton*>(GetDlgItem(IDC_REMOVE_TARGET)))
        connect(b, &QPushButton::clicked, this, [this] { OnRemoveStore(m_comboTarget); });
    // The chosen store's kind and file show on hover of the closed list too.
    for (QComboBox* combo : {m_comboSource, m_comboTarget}) {
        connect(combo, &QComboBox::currentIndexChanged, combo, [combo](int index) {
            combo->setToolTip(index < 0 ? QString()
                                        : combo->itemData(index, Qt::ToolTipRole).toString());
        });
    }
    setAcceptDrops(true);
    // The activity list is where a long run's story is read: the window
    // may grow to show more of it.
    MakeResizable(IDC_LIST_ACTIVITY);
    if (m_staticTimeLeft) {
        // After a damaged run it holds the link to the log.
        m_staticTimeLeft->setTextFormat(Qt::RichText);
        connect(m_staticTimeLeft, &QLabel::linkActivated, this,
                [this](const QString&) { OpenLogFile(); });
    }
}

CQuirnelDlg::~CQuirnelDlg() {
    if (m_worker.joinable()) {
        // Destroyed without having been closed during a run: the worker still
        // uses this dialog and the session, so it is stopped and waited for
        // while its calls to the interface thread go on being served.
        m_bStop = true;
        QEventLoop loop;
        connect(this, &CQuirnelDlg::runFinished, &loop, &QEventLoop::quit);
        if (m_worker.joinable()) loop.exec();
    }
    SetMessageBoxHandler(nullptr);
    if (g_passwordOwner == this) {
        mapi::imap::SetPasswordPrompt(nullptr);
        g_passwordOwner = nullptr;
    }
}

void CQuirnelDlg::DoDataExchange() {
    m_staticProgress = qobject_cast<QLabel*>(GetDlgItem(IDC_STATIC_PROGRESS));
    m_comboFields = qobject_cast<QComboBox*>(GetDlgItem(IDC_COMBO_FIELDS));
    m_editQuery = qobject_cast<QPlainTextEdit*>(GetDlgItem(IDC_EDIT_QUERY));
    m_btnStart = qobject_cast<QPushButton*>(GetDlgItem(IDC_START));
    m_comboTarget = qobject_cast<QComboBox*>(GetDlgItem(IDC_COMBO_TARGET));
    m_comboSource = qobject_cast<QComboBox*>(GetDlgItem(IDC_COMBO_SOURCE));
    m_listActivity = qobject_cast<QListWidget*>(GetDlgItem(IDC_LIST_ACTIVITY));
    m_progressBar = qobject_cast<QProgressBar*>(GetDlgItem(IDC_PROGRESS_BAR));
    m_staticTimeLeft = qobject_cast<QLabel*>(GetDlgItem(IDC_TIME_LEFT));
    if (m_progressBar) m_progressBar->setFormat(LoadString(IDS_PROGRESS_BAR));
    SetIdle();
}

void CQuirnelDlg::SetIdle() {
    // At rest nothing has been counted: no "0 of 1" in the bar, no count in
    // the status line.
    if (m_progressBar) {
        m_progressBar->setRange(0, 1);
        m_progressBar->setValue(0);
        m_progressBar->setTextVisible(false);
    }
    if (m_staticProgress) m_staticProgress->clear();
}

int CQuirnelDlg::DoModal() {
    if (!OnInitDialog()) return IDCANCEL;
    return CTemplateDialog::DoModal();
}

bool CQuirnelDlg::OfferNewProfile(const QString& path) {
    if (!AskYesNo(this, LoadString(IDS_NO_PROFILE).arg(path), AppCaption())) {
        // Ending without a word would look like a crash.
        ::ShowMessageBox(this, LoadString(IDS_NO_PROFILE_END), AppCaption());
        return false;
    }
    return CreateProfile(path);
}

bool CQuirnelDlg::CreateProfile(const QString& path) {
    const std::string error = store_setup::CreateEmptyProfile(path.toStdString());
    if (error.empty()) return true;
    ::ShowMessageBox(this, LoadString(IDS_PROFILE_FAILED).arg(QString::fromStdString(error)),
                     AppCaption());
    return false;
}

bool CQuirnelDlg::OfferToReplaceBrokenProfile(const QString& path) {
    mapi::Profile profile;
    std::string reason;
    const HRESULT hr = mapi::Profile::Load(path.toStdString(), &profile, &reason);
    if (SUCCEEDED(hr) || hr == MAPI_E_NOT_FOUND) return true;
    // The loader's words name the file, the line and what is wrong there;
    // the old file is set aside, never overwritten, so nothing in it is lost.
    const QString keptAs =
        path + QStringLiteral(".broken-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!AskYesNo(this,
                  LoadString(IDS_PROFILE_BROKEN)
                      .arg(QString::fromStdString(reason), QFileInfo(keptAs).fileName()),
                  AppCaption())) {
        return false;
    }
    if (!QFile::rename(path, keptAs)) {
        ::ShowMessageBox(this, LoadString(IDS_PROFILE_KEPT_AS).arg(keptAs), AppCaption());
        return false;
    }
    return CreateProfile(path);
}

bool CQuirnelDlg::OnInitDialog() {
    const QString about = LoadString(IDS_ABOUTBOX);
    if (!about.isEmpty()) {
        m_systemMenu.addSeparator();
        QAction* entry = m_systemMenu.addAction(about);
        connect(entry, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    setWindowIcon(m_hIcon);

    // A first run has no profile yet: that is not a session that failed,
    // so the user is told what a profile is and may have one made.
    const QString profilePath = QString::fromStdString(mapi::Profile::DefaultPath());
    if (!QFileInfo::exists(profilePath) ? !OfferNewProfile(profilePath)
                                        : !OfferToReplaceBrokenProfile(profilePath)) {
        m_quitRequested = true;
        return false;
    }
    try {
        MAPIInitialize(nullptr);
        m_session.Logon(0);
        m_logonWarnings = mapi::LastLogonWarnings();
        FillStoreLists();
        ForgetFailedPasswords();
    } catch (...) {
        // The profile reads but no session comes of it, or no store table.
        ::ShowMessageBox(this,
                         LoadString(IDS_START_MAIL_CLIENT)
                             .arg(profilePath, QString::fromStdString(mapi::LastLogonError())),
                         AppCaption());
        m_quitRequested = true;
        return false;
    }
    if (m_stores.empty()) m_staticProgress->setText(LoadString(IDS_NO_STORES));
    LoadSettings();
    return true;
}

void CQuirnelDlg::FillStoreLists() {
    // The profile only adds the files and the stores left out; the session's
    // store table stays what the lists are made of.
    mapi::Profile profile;
    store_setup::LoadOrEmpty(mapi::Profile::DefaultPath(), &profile);
    m_stores = ListStores(m_session, profile, m_logonWarnings);
    FillList(m_comboSource, false);
    FillList(m_comboTarget, true);
}

void CQuirnelDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) ShowAboutBox();
}

void CQuirnelDlg::keyPressEvent(QKeyEvent* event) {
    // F1 reaches here from any control that has no use for it.
    if (event->matches(QKeySequence::HelpContents)) {
        OnHelpPage();
        return;
    }
    CTemplateDialog::keyPressEvent(event);
}

void CQuirnelDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_systemMenu.isEmpty()) m_systemMenu.popup(event->globalPos());
}

void CQuirnelDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        CTemplateDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.eraseRect(rect());
    const int x = (width() - kSystemIconSize + 1) / 2;
    const int y = (height() - kSystemIconSize + 1) / 2;
    painter.drawPixmap(x, y, m_hIcon.pixmap(kSystemIconSize, kSystemIconSize));
}

void CQuirnelDlg::SetBusy(bool busy) {
    m_btnStart->setEnabled(!busy);
    // The profile must not change under a worker: a new logon would replace
    // the session it uses.
    SetStoreButtonsEnabled(!busy);
}

void CQuirnelDlg::OnStart() {
    // One run at a time: Start is shut here already, not only by the worker.
    if (m_worker.joinable()) return;
    if (!CheckBeforeStart()) return;
    // A Stop pressed while nothing ran is forgotten, as the run itself does;
    // one pressed from here on ends the count without a run.
    m_bStop = false;
    SetBusy(true);
    m_statusBeforeCount = m_staticProgress->text();
    m_staticProgress->setText(LoadString(IDS_COUNTING));
    m_staticProgress->setToolTip(QString());
    if (m_progressBar) m_progressBar->setRange(0, 0);  // busy, no amount yet
    if (m_staticTimeLeft) m_staticTimeLeft->clear();
    // Counting reads a column of every target folder: seconds on a large
    // store, so it runs on the worker and the window stays alive.
    m_countSource = m_comboSource->currentText();
    m_countTarget = m_comboTarget->currentText();
    // What was counted is what runs: the lists hold still until the offer.
    m_comboSource->setEnabled(false);
    m_comboTarget->setEnabled(false);
    m_worker = std::thread([this, source = Utf8(m_countSource), target = Utf8(m_countTarget)] {
        const uint64_t there = CountCopiesInTarget(source, target);
        emit countDone(there);
    });
}

uint64_t CQuirnelDlg::CountCopiesInTarget(const std::string& source, const std::string& target) {
    return m_engine->CountCopiesInTarget(source, target);
}

void CQuirnelDlg::OnCountDone(quint64 there) {
    if (!m_worker.joinable()) return;
    m_worker.join();
    m_comboSource->setEnabled(true);
    m_comboTarget->setEnabled(true);
    const bool go = !m_bStop && m_pendingResult < 0 && ChooseResumeOrAgain(there);
    if (go) {
        StartCopyWorker();
        return;
    }
    SetIdle();
    m_staticProgress->setText(m_statusBeforeCount);
    SetBusy(false);
    emit runFinished();
    if (m_pendingResult >= 0) {
        const int result = m_pendingResult;
        m_pendingResult = -1;
        SaveSettings();
        CTemplateDialog::done(result);
    }
}

void CQuirnelDlg::StartCopyWorker() {
    SaveSettings();
    m_currentFolder.clear();
    m_timeLeft.Reset();
    m_runClock.start();
    m_copying = true;
    if (m_progressBar) {
        m_progressBar->setRange(0, 1);
        m_progressBar->setValue(0);
    }
    quirnel::CCopyEngine* engine = m_engine.get();
    m_worker = std::thread([this, engine] {
        quirnel::CCopyEngine::CopyThreadProc(engine);
        emit workerDone();
    });
    emit copyStarted();
}

void CQuirnelDlg::OnWorkerFinished() {
    if (!m_worker.joinable()) return;
    // The worker has made its last call and is only returning.
    m_worker.join();
    m_copying = false;
    SetBusy(false);
    emit runFinished();
    if (m_pendingResult >= 0) {
        const int result = m_pendingResult;
        m_pendingResult = -1;
        CTemplateDialog::done(result);
    }
}

bool CQuirnelDlg::AccountPassword(const std::string& account, const std::string& shown,
                                  std::string* password, std::string* error) {
    {
        std::lock_guard<std::mutex> lock(m_passwordMutex);
        if (auto it = m_passwords.find(account); it != m_passwords.end()) {
            *password = it->second;
            return true;
        }
    }
    // An account logs on at its first use, which may be a worker's count or
    // copy; the box belongs to the interface thread, so the worker waits
    // there for the answer.
    QString given;
    bool answered = false;
    OnUiThread([&] { answered = AskForPassword(this, QString::fromStdString(shown), &given); });
    if (!answered) {
        *error = LoadString(IDS_NO_PASSWORD).toStdString();
        return false;
    }
    *password = given.toStdString();
    std::lock_guard<std::mutex> lock(m_passwordMutex);
    m_passwords[account] = *password;
    return true;
}

void CQuirnelDlg::done(int result) {
    if (m_worker.joinable() && m_pendingResult >= 0) return;  // closing already
    // Return or Escape pressed by habit must not end an hour's rescue: a
    // copy in progress ends only when the user says so. (A count at Start
    // has written nothing, so closing simply ends it.)
    if (m_copying && !AskYesNo(this, LoadString(IDS_STOP_TO_CLOSE), AppCaption())) return;
    if (m_worker.joinable()) {
        // Closing during a run: stop it and end once the worker is gone, so
        // the session and the controls outlive it. The item in progress is
        // completed and the ledger written; nothing already copied is lost.
        m_bStop = true;
        m_pendingResult = result;
        if (m_staticProgress) m_staticProgress->setText(LoadString(IDS_STOPPING));
        return;
    }
    SaveSettings();
    CTemplateDialog::done(result);
}

void CQuirnelDlg::OnStop() {
    m_bStop = true;
}

void CQuirnelDlg::OnQuery() {
    CQueryDlg dlg(nullptr);
    dlg.m_strQuery.clear();
    if (dlg.DoModal() == IDOK && m_editQuery) m_editQuery->setPlainText(dlg.m_strQuery);
}

void CQuirnelDlg::OnInfo() {
    ShowAboutBox();
}

void CQuirnelDlg::OnLink() {
    OpenWebPage(IDS_URL_LINK);
}

void CQuirnelDlg::OnHelpPage() {
    ShowHelp(this);
}

void CQuirnelDlg::OpenLogFile() {
    // Without a desktop handler for text files the log shows in a window
    // of the program's own.
    ShowTextFile(this, QUrl::fromLocalFile(QString::fromStdString(quirnel::LogFilePath())));
}

template <class F>
void CQuirnelDlg::OnUiThread(F&& f) {
    m_caller.Call(std::function<void()>(std::forward<F>(f)));
}

void CQuirnelDlg::SetStartEnabled(bool enabled) {
    // Enabling waits for the worker's end (OnWorkerFinished), so a click in
    // between cannot find the old worker still present.
    if (!enabled) OnUiThread([this] { m_btnStart->setEnabled(false); });
}

std::string CQuirnelDlg::SourceStoreName() {
    std::string name;
    OnUiThread([&] { name = Utf8(m_comboSource->currentText()); });
    return name;
}

std::string CQuirnelDlg::TargetStoreName() {
    std::string name;
    OnUiThread([&] { name = Utf8(m_comboTarget->currentText()); });
    return name;
}

std::string CQuirnelDlg::QueryText() {
    std::string text;
    OnUiThread([&] { text = Utf8(m_editQuery->toPlainText()); });
    return text;
}

void CQuirnelDlg::SetProgressText(const std::string& text) {
    OnUiThread([&] {
        // The item in hand, which OnItemProgress shows, says more than the
        // folder's item count that comes here.
        static const QRegularExpression kItemCount(QStringLiteral("^\\d+ (vom|of) \\d+$"));
        const QString progress = QString::fromStdString(text);
        if (!kItemCount.match(progress).hasMatch())
            m_staticProgress->setText(StatusText(m_currentFolder, progress));
    });
}

void CQuirnelDlg::OnItemProgress(const quirnel::RunProgress& progress) {
    OnUiThread([&] {
        // The bar counts in int; a store of more items than that is scaled.
        uint64_t scale = 1;
        while (progress.total / scale > static_cast<uint64_t>(std::numeric_limits<int>::max()))
            scale *= 2;
        if (m_progressBar) {
            m_progressBar->setRange(
                0, static_cast<int>(std::max<uint64_t>(progress.total / scale, 1)));
            m_progressBar->setValue(static_cast<int>(progress.done / scale));
            m_progressBar->setTextVisible(true);
        }
        m_timeLeft.Add(progress.done, m_runClock.elapsed());
        if (m_staticTimeLeft)
            m_staticTimeLeft->setText(TimeLeftText(m_timeLeft.SecondsLeft(progress.total)));
        if (progress.folder.empty()) return;
        m_currentFolder = QString::fromStdString(progress.folder);
        const QString status =
            progress.subject.empty()
                ? m_currentFolder
                : LoadString(IDS_PROGRESS_ITEM)
                      .arg(m_currentFolder, QString::fromStdString(progress.subject));
        // One line: a long subject is cut short rather than wrapped out of sight.
        m_staticProgress->setText(m_staticProgress->fontMetrics().elidedText(
            status, Qt::ElideRight, m_staticProgress->width()));
    });
}

void CQuirnelDlg::OnRunFinished(const quirnel::CopyLedger& ledger, quirnel::RunOutcome outcome) {
    OnUiThread([&] {
        m_lastOutcome = outcome;
        const QString text = OutcomeText(outcome, ledger);
        m_staticProgress->setText(text);
        m_staticProgress->setToolTip(text);
        if (m_staticTimeLeft) {
            // Where the time left stood, the way to the log that tells what
            // each loss was.
            const bool damaged = HasDamage(ledger) &&
                                 (outcome == quirnel::RunOutcome::Completed ||
                                  outcome == quirnel::RunOutcome::CompletedWithFailures);
            m_staticTimeLeft->setText(damaged ? QStringLiteral("<a href=\"log\">%1</a>")
                                                    .arg(LoadString(IDS_OPEN_LOG).toHtmlEscaped())
                                              : QString());
        }
        // A run over nothing is as finished as one over everything.
        if (m_progressBar && outcome == quirnel::RunOutcome::Completed &&
            ledger.items.listed == ledger.items.filtered)
            m_progressBar->setValue(m_progressBar->maximum());
    });
}

void CQuirnelDlg::AppendActivityLine(const std::string& line) {
    OnUiThread([&] {
        const QString text = QString::fromStdString(line);
        const QString folder = FolderOfCopyLine(text);
        if (!folder.isEmpty()) m_currentFolder = folder;
        m_listActivity->addItem(text);
        m_listActivity->scrollToBottom();
    });
}

void CQuirnelDlg::ShowMessageBox(const std::string& caption, const std::string& text) {
    const QString boxCaption = caption.empty() ? AppCaption() : QString::fromStdString(caption);
    OnUiThread([&] { ::ShowMessageBox(this, QString::fromStdString(text), boxCaption); });
}
