// The query builder dialog: every option change rebuilds the query text.
#include "query_dlg.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "resource.h"

CQueryDlg::CQueryDlg(QWidget* parent) : CTemplateDialog(IDD_QUERY, parent) {
    DoDataExchange();

    const auto rebuild = [this] { OnOptionChanged(); };
    for (QCheckBox* box : {m_chkNewer, m_chkCreatedBy, m_chkWithCategory, m_chkWithoutCategory,
                           m_chkSubject, m_chkOlder}) {
        if (box) connect(box, &QCheckBox::clicked, this, rebuild);
    }
    if (m_comboCreator) {
        connect(m_comboCreator, &QComboBox::editTextChanged, this, rebuild);
        connect(m_comboCreator, qOverload<int>(&QComboBox::activated), this, rebuild);
    }
    // Only the user's typing counts as a change; texts set by the program do not.
    for (QLineEdit* edit : {m_editCategory, m_editSubject, m_editDays}) {
        if (edit) connect(edit, &QLineEdit::textEdited, this, rebuild);
    }
    // A number of days, so that the text stays one the compiler reads.
    if (m_editDays) m_editDays->setValidator(new QIntValidator(0, 999999, m_editDays));
    if (m_editQuery) {
        connect(m_editQuery, &QPlainTextEdit::textChanged, this, [this] {
            if (!m_settingQuery) OnOptionChanged();
        });
    }
    // A day chosen by click or Enter; browsing to another month is no choice.
    if (m_calendar) {
        connect(m_calendar, &QCalendarWidget::clicked, this, [this] { OnCalendarSelect(); });
        connect(m_calendar, &QCalendarWidget::activated, this, [this] { OnCalendarSelect(); });
    }
    if (m_chkModified) connect(m_chkModified, &QCheckBox::clicked, this, rebuild);
    ConnectSaved();
}

void CQueryDlg::DoDataExchange() {
    m_chkModified = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_MODIFIED));
    m_chkCreatedBy = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_CREATEDBY));
    m_calendar = qobject_cast<QCalendarWidget*>(GetDlgItem(IDC_CALENDAR));
    m_editQuery = qobject_cast<QPlainTextEdit*>(GetDlgItem(IDC_EDIT_QUERY));
    m_editCategory = qobject_cast<QLineEdit*>(GetDlgItem(IDC_EDIT_CATEGORY));
    m_comboCreator = qobject_cast<QComboBox*>(GetDlgItem(IDC_COMBO_CREATOR));
    m_chkWithoutCategory = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_WITHOUT_CATEGORY));
    m_chkWithCategory = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_WITH_CATEGORY));
    m_chkNewer = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_NEWER));
    m_chkSubject = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_SUBJECT));
    m_editSubject = qobject_cast<QLineEdit*>(GetDlgItem(IDC_EDIT_SUBJECT));
    m_chkOlder = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_OLDER));
    m_editDays = qobject_cast<QLineEdit*>(GetDlgItem(IDC_EDIT_DAYS));
    m_chkSaved = qobject_cast<QCheckBox*>(GetDlgItem(IDC_CHK_SAVED));
    m_comboSaved = qobject_cast<QComboBox*>(GetDlgItem(IDC_COMBO_SAVED));
}

int CQueryDlg::DoModal() {
    OnInitDialog();
    return CTemplateDialog::DoModal();
}

bool CQueryDlg::OnInitDialog() {
    if (m_editQuery) {
        m_settingQuery = true;
        m_editQuery->setPlainText(m_strQuery);
        m_settingQuery = false;
    }
    ShowSavedProblems();
    return true;
}

void CQueryDlg::OnOK() {
    if (m_editQuery) m_strQuery = m_editQuery->toPlainText();
    CTemplateDialog::OnOK();
}

void CQueryDlg::OnOptionChanged() {
    BuildQuery();
}

void CQueryDlg::OnCalendarSelect() {
    BuildQuery();
}

void CQueryDlg::BuildQuery() {
    QueryOptions o;
    const auto ticked = [](const QCheckBox* box) { return box && box->isChecked(); };
    o.newer = ticked(m_chkNewer);
    o.modified = ticked(m_chkModified);
    o.createdBy = ticked(m_chkCreatedBy);
    o.withCategory = ticked(m_chkWithCategory);
    o.withoutCategory = ticked(m_chkWithoutCategory);
    o.subject = ticked(m_chkSubject);
    o.older = ticked(m_chkOlder);
    if (ticked(m_chkSaved)) o.savedCall = m_savedCall;
    if (m_calendar) {
        const QDate date = m_calendar->selectedDate();
        o.day = date.day();
        o.month = date.month();
        o.year = date.year();
    }
    if (m_comboCreator) o.creator = m_comboCreator->currentText();
    if (m_editCategory) o.category = m_editCategory->text();
    if (m_editSubject) o.subjectText = m_editSubject->text();
    if (m_editDays) o.days = m_editDays->text();

    if (!m_editQuery) return;
    const QString q = ComposeQuery(o);
    // Setting the text must not count as the user's change, or it would rebuild forever.
    m_settingQuery = true;
    m_editQuery->setPlainText(q);
    m_editQuery->moveCursor(QTextCursor::End);
    m_settingQuery = false;
}
