// The main dialog: logs on to MAPI, lists the session's stores as source and
// target, holds the query, the activity list and the progress text, and runs
// the copy engine on a worker thread as the engine's host.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QMenu>

#include <atomic>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <MapiWrapper.h>
#include <copy_host.h>

#include "run_progress.h"
#include "store_list.h"
#include "template_dialog.h"
#include "ui_thread.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quirnel {
class CCopyEngine;
}

class CQuirnelDlg : public CTemplateDialog, public quirnel::CCopyHost {
    Q_OBJECT
public:
    explicit CQuirnelDlg(QWidget* parent = nullptr);
    ~CQuirnelDlg() override;

    // Starts MAPI and fills the lists, then runs the dialog. When the logon
    // fails the start-up box is shown and the dialog never appears.
    int DoModal() override;

    // Start-up of MAPI and of the lists; false when the program must end.
    // Without a profile it explains what one is and offers to make one.
    bool OnInitDialog();
    bool QuitRequested() const { return m_quitRequested; }
    bool RunActive() const { return m_worker.joinable(); }

    // The about entry offered on the dialog's context menu in place of the
    // system menu's.
    QMenu& SystemMenu() { return m_systemMenu; }
    void OnSysCommand(unsigned id);
    QIcon OnQueryDragIcon() const { return m_hIcon; }

    // The copy engine's host, called on the worker thread.
    void SetStartEnabled(bool enabled) override;
    std::string SourceStoreName() override;
    std::string TargetStoreName() override;
    std::string QueryText() override;
    std::atomic<bool>& StopFlag() override { return m_bStop; }
    void SetProgressText(const std::string& text) override;
    void AppendActivityLine(const std::string& line) override;
    void ShowMessageBox(const std::string& caption, const std::string& text) override;
    void OnItemProgress(const quirnel::RunProgress& progress) override;
    void OnRunFinished(const quirnel::CopyLedger& ledger, quirnel::RunOutcome outcome) override;

    // How the last run ended; Completed before the first run.
    quirnel::RunOutcome LastOutcome() const { return m_lastOutcome; }

    // The stores as the lists show them, in profile order.
    const std::vector<StoreListEntry>& Stores() const { return m_stores; }
    // Adds the store file or mail folder at path to the profile and selects
    // it as the source (the Add button and a file dropped on the dialog).
    void AddStoreFile(const QString& path);

signals:
    // The worker of a run has ended and Start is enabled again.
    void runFinished();
    // Sent by the worker as its very last step (queued to the interface thread).
    void workerDone();
    // The copy run's worker has begun (after the count and the offer).
    void copyStarted();
    // Sent by the counting worker as its very last step, with the number
    // of the source's items the target holds already.
    void countDone(quint64 there);

protected:
    void DoDataExchange();
    void FillStoreLists();

    void OnStart();
    void OnStop();
    void OnQuery();
    void OnInfo();
    void OnLink();
    void OnHelpPage();
    void OnAddStore();
    void OnNewTarget();
    void OnRemoveStore(QComboBox* list);
    void OnRenameStore(QComboBox* list);
    void OnAddAccount();

    // The count of Start, called on the worker: how many items of source
    // the target holds already. (A test stands in here to hold the count
    // while it looks at the window.)
    virtual uint64_t CountCopiesInTarget(const std::string& source, const std::string& target);

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnWorkerFinished();
    // The count of Start is in: offers to resume, then starts the copy, or
    // returns to rest when Stop, close or the offer said so.
    void OnCountDone(quint64 there);
    void StartCopyWorker();
    // Start and the store buttons shut (or open again) for a worker.
    void SetBusy(bool busy);
    // Answers the IMAP provider's question for the password of account
    // (its address; shown as user@host): from this session's memory, else
    // (on this thread only) from the password box.
    bool AccountPassword(const std::string& account, const std::string& shown,
                         std::string* password, std::string* error);
    // Forgets the passwords of accounts whose logon failed, so that the next
    // logon asks again rather than repeat a wrong one.
    void ForgetFailedPasswords();
    // Asks whether to make an empty profile; false when the program must end
    // (the user has been told why).
    bool OfferNewProfile(const QString& path);
    // When the profile at path exists but cannot be read, says why and
    // offers to set it aside and start with an empty one; false when the
    // program must end.
    bool OfferToReplaceBrokenProfile(const QString& path);
    bool CreateProfile(const QString& path);
    // The bar and the status line at rest, before any run.
    void SetIdle();
    // Opens the run's log file with the desktop, or in a window of ours.
    void OpenLogFile();
    // Logs on again after a profile change and refills both lists, keeping
    // the chosen stores (by file) where they are still offered.
    void ReloadStores(const std::string& sourcePath, const std::string& targetPath);
    void FillList(QComboBox* combo, bool asTarget);
    // Selects the entry of that file (or, without one, of that name); false
    // when the list does not offer it.
    static bool SelectStore(QComboBox* combo, const std::string& path, const std::string& name);
    static std::string SelectedPath(const QComboBox* combo);
    void SetStoreButtonsEnabled(bool enabled);
    // What Start checks before a worker begins: the chosen names are
    // unambiguous and the query compiles. false: a box has said why.
    bool CheckBeforeStart();
    // When the target already holds there items from the source, says how
    // many and asks whether to continue where the last run ended (the
    // default) or to copy them again; sets the engine's options by the
    // answer. false: the user cancelled.
    bool ChooseResumeOrAgain(uint64_t there);
    void LoadSettings();
    void SaveSettings() const;
    // Runs f on the user-interface thread and waits for it (the worker's way
    // of touching a control).
    template <class F>
    void OnUiThread(F&& f);

    std::atomic<bool> m_bStop{false};
    CMapiSession m_session;
    // Why stores of the profile were left out of the session at its logon.
    std::vector<std::string> m_logonWarnings;
    std::vector<StoreListEntry> m_stores;
    // The folder the run is in, for the status line.
    QString m_currentFolder;
    // The copy-run state (stores, special-folder identifiers, log file); it
    // holds stores of the session, so it is released before the session.
    std::unique_ptr<quirnel::CCopyEngine> m_engine;

    QLabel* m_staticProgress = nullptr;
    QComboBox* m_comboFields = nullptr;
    QPlainTextEdit* m_editQuery = nullptr;
    QPushButton* m_btnStart = nullptr;
    QComboBox* m_comboTarget = nullptr;
    QComboBox* m_comboSource = nullptr;
    QListWidget* m_listActivity = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_staticTimeLeft = nullptr;
    // Items done over time in the active run, for the time left.
    CTimeLeft m_timeLeft;
    QElapsedTimer m_runClock;
    quirnel::RunOutcome m_lastOutcome = quirnel::RunOutcome::Completed;

    QIcon m_hIcon;
    QMenu m_systemMenu;
    // Carries the worker's control accesses to the interface thread.
    CUiCaller m_caller;
    // The worker of the active run; joined once it has sent workerDone.
    std::thread m_worker;
    // The result the dialog ends with once the worker has ended; -1 when no
    // close is pending.
    int m_pendingResult = -1;
    // The copy itself runs (not only the count before it): closing asks first.
    bool m_copying = false;
    bool m_quitRequested = false;
    // The stores of the run being counted, named when Start was pressed.
    QString m_countSource;
    QString m_countTarget;
    // The status line before the count, shown again when no run follows.
    QString m_statusBeforeCount;
    // Passwords of mail accounts given in this session, by account; only
    // in memory. The provider may ask from the worker thread too.
    std::mutex m_passwordMutex;
    std::map<std::string, std::string> m_passwords;
};
