// The query builder's saved queries: the list of the user's file, the box
// that inserts a call of one of them, saving the shown query under a name
// and removing one.
#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

#include "message_box.h"
#include "query_dlg.h"
#include "resource.h"
#include "string_table.h"

void CQueryDlg::ConnectSaved() {
    m_savedPath = SavedQueriesPath();
    m_saved = LoadSavedQueries(m_savedPath);
    FillSavedList(QString());
    if (m_chkSaved) connect(m_chkSaved, &QCheckBox::clicked, this, [this] { OnSavedTicked(); });
    if (m_comboSaved)
        connect(m_comboSaved, qOverload<int>(&QComboBox::activated), this,
                [this] { OnSavedChosen(); });
    if (auto* save = qobject_cast<QPushButton*>(GetDlgItem(IDC_SAVED_SAVE)))
        connect(save, &QPushButton::clicked, this, [this] { OnSaveQuery(); });
    if (auto* remove = qobject_cast<QPushButton*>(GetDlgItem(IDC_SAVED_REMOVE)))
        connect(remove, &QPushButton::clicked, this, [this] { OnRemoveQuery(); });
}

void CQueryDlg::ShowSavedProblems() {
    if (m_saved.problems.empty()) return;
    QStringList lines;
    for (const std::string& problem : m_saved.problems) lines << QString::fromStdString(problem);
    ::ShowMessageBox(this, LoadString(IDS_SAVED_PROBLEMS).arg(lines.join(QLatin1Char('\n'))),
                     LoadString(IDS_SAVED_CAPTION));
}

void CQueryDlg::FillSavedList(const QString& name) {
    if (!m_comboSaved) return;
    m_comboSaved->clear();
    // In the order of their names, as a user looks for them.
    std::vector<const SavedQuery*> sorted;
    for (const SavedQuery& q : m_saved.queries) sorted.push_back(&q);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(sorted.begin(), sorted.end(), [&](const SavedQuery* a, const SavedQuery* b) {
        return collator.compare(QString::fromStdString(a->name), QString::fromStdString(b->name)) <
               0;
    });
    for (const SavedQuery* query : sorted) {
        const SavedQuery& q = *query;
        QString tip = QString::fromStdString(q.description);
        if (!tip.isEmpty()) tip += QLatin1Char('\n');
        tip += QString::fromStdString(q.text);
        m_comboSaved->addItem(QString::fromStdString(q.name));
        m_comboSaved->setItemData(m_comboSaved->count() - 1, tip, Qt::ToolTipRole);
    }
    const int at = m_comboSaved->findText(name);
    if (at >= 0) m_comboSaved->setCurrentIndex(at);
}

void CQueryDlg::OnSavedTicked() {
    if (m_chkSaved->isChecked() && !AskSavedCall()) m_chkSaved->setChecked(false);
    BuildQuery();
}

void CQueryDlg::OnSavedChosen() {
    if (!m_chkSaved || !m_chkSaved->isChecked()) return;
    if (!AskSavedCall()) m_chkSaved->setChecked(false);
    BuildQuery();
}

bool CQueryDlg::AskSavedCall() {
    if (!m_comboSaved) return false;
    const SavedQuery* query =
        FindSavedQuery(m_saved.queries, m_comboSaved->currentText().toStdString());
    if (query == nullptr) return false;
    const QString about = QString::fromStdString(
        query->description.empty() ? query->name + ": " + query->text : query->description);
    QStringList arguments;
    for (const SavedQueryParameter& p : query->parameters) {
        QString value;
        if (!AskText(this,
                     LoadString(IDS_SAVED_ARGUMENT).arg(about, QString::fromStdString(p.name)),
                     LoadString(IDS_SAVED_CAPTION), &value))
            return false;
        // The language has no escape: a quote would end the argument early.
        if (value.contains(QLatin1Char('"'))) {
            ::ShowMessageBox(this, LoadString(IDS_SAVED_QUOTE), LoadString(IDS_SAVED_CAPTION));
            return false;
        }
        arguments << QLatin1Char('"') + value + QLatin1Char('"');
    }
    m_savedCall = QString::fromStdString(query->name) + QLatin1Char('(') + arguments.join(", ") +
                  QLatin1Char(')');
    return true;
}

void CQueryDlg::OnSaveQuery() {
    const QString text = m_editQuery ? m_editQuery->toPlainText().trimmed() : QString();
    if (text.isEmpty()) {
        ::ShowMessageBox(this, LoadString(IDS_SAVED_EMPTY), LoadString(IDS_SAVED_CAPTION));
        return;
    }
    QString name = m_comboSaved ? m_comboSaved->currentText() : QString();
    if (!AskText(this, LoadString(IDS_SAVED_NAME_PROMPT), LoadString(IDS_SAVED_CAPTION), &name))
        return;
    name = name.trimmed();
    if (!SavedQueryNameProblem(name.toStdString()).empty()) {
        ::ShowMessageBox(this, LoadString(IDS_SAVED_BAD_NAME).arg(name),
                         LoadString(IDS_SAVED_CAPTION));
        return;
    }
    std::vector<SavedQuery> queries = m_saved.queries;
    SavedQuery made{name.toStdString(), "", {}, text.toStdString()};
    bool replaced = false;
    for (SavedQuery& q : queries) {
        if (q.name != made.name) continue;
        if (!AskYesNo(this, LoadString(IDS_SAVED_REPLACE).arg(name), LoadString(IDS_SAVED_CAPTION)))
            return;
        q = made;
        replaced = true;
    }
    if (!replaced) queries.push_back(made);
    if (WriteSaved(queries)) FillSavedList(name);
}

void CQueryDlg::OnRemoveQuery() {
    if (!m_comboSaved || m_comboSaved->currentIndex() < 0) return;
    const QString name = m_comboSaved->currentText();
    if (!AskYesNo(this, LoadString(IDS_SAVED_REMOVE).arg(name), LoadString(IDS_SAVED_CAPTION)))
        return;
    std::vector<SavedQuery> queries;
    for (const SavedQuery& q : m_saved.queries)
        if (q.name != name.toStdString()) queries.push_back(q);
    if (!WriteSaved(queries)) return;
    FillSavedList(QString());
    // The inserted call named a query that is gone.
    if (m_chkSaved && m_chkSaved->isChecked() && m_savedCall.startsWith(name + QLatin1Char('('))) {
        m_chkSaved->setChecked(false);
        m_savedCall.clear();
        BuildQuery();
    }
}

bool CQueryDlg::WriteSaved(const std::vector<SavedQuery>& queries) {
    if (!m_saved.problems.empty()) {
        ::ShowMessageBox(this,
                         LoadString(IDS_SAVED_FILE_BROKEN).arg(QString::fromStdString(m_savedPath)),
                         LoadString(IDS_SAVED_CAPTION));
        return false;
    }
    std::string error;
    if (m_savedPath.empty() || !SaveSavedQueries(m_savedPath, queries, &error)) {
        ::ShowMessageBox(this, LoadString(IDS_SAVED_NOT_WRITTEN).arg(QString::fromStdString(error)),
                         LoadString(IDS_SAVED_CAPTION));
        return false;
    }
    m_saved.queries = queries;
    m_saved.fromFile = true;
    return true;
}
