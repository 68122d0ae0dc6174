// The query builder: writes a query from a few options (dates, age,
// subject, sender, categories, one of the user's saved queries) and hands it
// to the main dialog on OK. It also saves the query it shows under a name and
// removes saved queries (saved_queries.h).
#pragma once

#include <QString>

#include <string>

#include "saved_queries.h"
#include "template_dialog.h"

class QCalendarWidget;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

class CQueryDlg : public CTemplateDialog {
    Q_OBJECT
public:
    explicit CQueryDlg(QWidget* parent = nullptr);

    // Before the run: the text to show; after OK: the text the user accepted.
    QString m_strQuery;

    int DoModal() override;

protected:
    void DoDataExchange();
    bool OnInitDialog();
    void OnOK() override;

private:
    void OnOptionChanged();
    void OnCalendarSelect();
    void BuildQuery();

    // Saved queries (query_dlg_saved.cpp).
    void ConnectSaved();
    void ShowSavedProblems();
    // Refills the list, selecting name when it is there.
    void FillSavedList(const QString& name);
    void OnSavedTicked();
    void OnSavedChosen();
    // Asks the arguments of the chosen query; false when the user cancelled.
    bool AskSavedCall();
    void OnSaveQuery();
    void OnRemoveQuery();
    // Writes queries as the user's file and takes them as the list; false
    // (after saying why) when the file has lines it could not read, which a
    // rewrite would lose, or cannot be written.
    bool WriteSaved(const std::vector<SavedQuery>& queries);

    QCheckBox* m_chkModified = nullptr;
    QCheckBox* m_chkCreatedBy = nullptr;
    QCalendarWidget* m_calendar = nullptr;
    QPlainTextEdit* m_editQuery = nullptr;
    QLineEdit* m_editCategory = nullptr;
    QComboBox* m_comboCreator = nullptr;
    QCheckBox* m_chkWithoutCategory = nullptr;
    QCheckBox* m_chkWithCategory = nullptr;
    QCheckBox* m_chkNewer = nullptr;
    QCheckBox* m_chkSubject = nullptr;
    QLineEdit* m_editSubject = nullptr;
    QCheckBox* m_chkOlder = nullptr;
    QLineEdit* m_editDays = nullptr;
    QCheckBox* m_chkSaved = nullptr;
    QComboBox* m_comboSaved = nullptr;

    bool m_settingQuery = false;

    // Read from the user's file when the dialog is made.
    std::string m_savedPath;
    SavedQueryList m_saved;
    // What the ticked "saved query" box inserts, as Name("arg", ...).
    QString m_savedCall;
};

// The query text for one state of the builder's options; the order of the
// pieces is creation date, change date, age, sender, subject, categories,
// saved query.
struct QueryOptions {
    bool newer = false;
    bool modified = false;
    bool older = false;
    bool createdBy = false;
    bool subject = false;
    bool withCategory = false;
    bool withoutCategory = false;
    int day = 1, month = 1, year = 2000;
    QString days;  // digits; none counts as 0
    QString creator;
    QString subjectText;
    QString category;
    QString savedCall;  // a call of a saved query; empty for none
};
QString ComposeQuery(const QueryOptions& options);
