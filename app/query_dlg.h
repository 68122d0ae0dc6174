// The query builder: writes a query from a few options (dates, sender,
// categories) and hands it to the main dialog on OK.
#pragma once

#include <QString>

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

    QCheckBox* m_chkModified = nullptr;
    QCheckBox* m_chkCreatedBy = nullptr;
    QCalendarWidget* m_calendar = nullptr;
    QPlainTextEdit* m_editQuery = nullptr;
    QLineEdit* m_editCategory = nullptr;
    QComboBox* m_comboCreator = nullptr;
    QCheckBox* m_chkWithoutCategory = nullptr;
    QCheckBox* m_chkWithCategory = nullptr;
    QCheckBox* m_chkNewer = nullptr;

    bool m_settingQuery = false;
};

// The query text for one state of the builder's options; the order of the
// pieces is creation date, change date, sender, categories.
struct QueryOptions {
    bool newer = false;
    bool modified = false;
    bool createdBy = false;
    bool withCategory = false;
    bool withoutCategory = false;
    int day = 1, month = 1, year = 2000;
    QString creator;
    QString category;
};
QString ComposeQuery(const QueryOptions& options);
