// The main dialog's store lists and their buttons: what each entry shows,
// adding a store file (picker or drop), making a new target, removing an
// entry, and logging on again after each change of the profile.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStandardItemModel>

#include <algorithm>

#include <runtime/profile.h>
#include <runtime/session.h>

#include "account_dlg.h"
#include "choice_menu.h"
#include "file_picker.h"
#include "message_box.h"
#include "quirnel_dlg.h"
#include "resource.h"
#include "store_setup.h"
#include "string_table.h"

namespace {

constexpr int kPathRole = Qt::UserRole + 1;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString ToolTip(const StoreListEntry& e) {
    QString tip = LoadString(IDS_STORE_TIP).arg(Q(e.kind), Q(e.path));
    if (!e.reason.empty()) tip += QLatin1Char('\n') + Q(e.reason);
    return tip;
}

// The text of an entry that cannot be chosen says why.
QString Label(const StoreListEntry& e) {
    switch (e.state) {
        case StoreState::ReadOnly:
            return LoadString(IDS_STORE_READONLY).arg(Q(e.name));
        case StoreState::Missing:
            return LoadString(IDS_STORE_MISSING).arg(Q(e.name));
        case StoreState::Unusable:
            return LoadString(IDS_STORE_UNUSABLE).arg(Q(e.name));
        case StoreState::Usable:
            break;
    }
    return Q(e.name);
}

// The progress text as the template has it before any run.
QString InitialProgressText(const dlg::Template& t) {
    for (const dlg::Control& c : t.controls) {
        if (c.id == IDC_STATIC_PROGRESS) return QString::fromUtf8(c.text);
    }
    return {};
}

}  // namespace

void CQuirnelDlg::FillList(QComboBox* combo, bool asTarget) {
    combo->clear();
    std::vector<const StoreListEntry*> unavailable;
    for (const StoreListEntry& e : m_stores) {
        // A read-only store is a fine source; it is never a target.
        const bool offered =
            e.state == StoreState::Usable || (e.state == StoreState::ReadOnly && !asTarget);
        if (!offered) {
            unavailable.push_back(&e);
            continue;
        }
        const int index = AddComboString(combo, Q(e.name));
        combo->setItemData(index, ToolTip(e), Qt::ToolTipRole);
        combo->setItemData(index, Q(e.path), kPathRole);
    }
    // Shown after the others, greyed, so a store never silently disappears.
    auto* model = qobject_cast<QStandardItemModel*>(combo->model());
    for (const StoreListEntry* e : unavailable) {
        combo->addItem(Label(*e));
        const int index = combo->count() - 1;
        combo->setItemData(index, ToolTip(*e), Qt::ToolTipRole);
        combo->setItemData(index, Q(e->path), kPathRole);
        if (model) model->item(index)->setEnabled(false);
    }
    combo->setCurrentIndex(-1);
}

bool CQuirnelDlg::SelectStore(QComboBox* combo, const std::string& path, const std::string& name) {
    auto* model = qobject_cast<QStandardItemModel*>(combo->model());
    const auto enabled = [&](int i) { return !model || model->item(i)->isEnabled(); };
    for (int i = 0; i < combo->count(); ++i) {
        if (!path.empty() && enabled(i) &&
            combo->itemData(i, kPathRole).toString().toStdString() == path) {
            combo->setCurrentIndex(i);
            return true;
        }
    }
    if (name.empty()) return false;
    for (int i = 0; i < combo->count(); ++i) {
        if (enabled(i) && combo->itemText(i).toStdString() == name) {
            combo->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

std::string CQuirnelDlg::SelectedPath(const QComboBox* combo) {
    const int index = combo->currentIndex();
    return index < 0 ? std::string() : combo->itemData(index, kPathRole).toString().toStdString();
}

void CQuirnelDlg::SetStoreButtonsEnabled(bool enabled) {
    for (int id : {IDC_ADD_STORE, IDC_REMOVE_SOURCE, IDC_NEW_TARGET, IDC_REMOVE_TARGET,
                   IDC_RENAME_SOURCE, IDC_RENAME_TARGET}) {
        if (QWidget* button = GetDlgItem(id)) button->setEnabled(enabled);
    }
}

void CQuirnelDlg::ReloadStores(const std::string& sourcePath, const std::string& targetPath) {
    try {
        m_session.Logon(0);
        m_logonWarnings = mapi::LastLogonWarnings();
        FillStoreLists();
        ForgetFailedPasswords();
    } catch (...) {
        // The profile was just written by us; a logon that fails now leaves
        // empty lists and says so, the program goes on.
        m_stores.clear();
        m_comboSource->clear();
        m_comboTarget->clear();
        ::ShowMessageBox(this, LoadString(IDS_START_MAIL_CLIENT), AppCaption());
        return;
    }
    SelectStore(m_comboSource, sourcePath, {});
    SelectStore(m_comboTarget, targetPath, {});
    m_staticProgress->setText(m_stores.empty() ? LoadString(IDS_NO_STORES)
                                               : InitialProgressText(Template()));
}

void CQuirnelDlg::AddStoreFile(const QString& path) {
    if (RunActive() || path.isEmpty()) return;
    const std::string targetPath = SelectedPath(m_comboTarget);
    std::string name;
    const std::string error =
        store_setup::AddStoreFile(mapi::Profile::DefaultPath(), path.toStdString(), &name);
    if (!error.empty()) {
        ::ShowMessageBox(this, Q(error), LoadString(IDS_STORES_CAPTION));
        return;
    }
    ReloadStores({}, targetPath);
    // The new store is meant as the source; by name, since the profile
    // keeps the file's absolute path and the list shows that.
    if (!SelectStore(m_comboSource, QFileInfo(path).absoluteFilePath().toStdString(), {}))
        SelectStore(m_comboSource, {}, name);
}

void CQuirnelDlg::OnAddStore() {
    if (RunActive()) return;
    const int kind = ChooseFromMenu(GetDlgItem(IDC_ADD_STORE),
                                    {LoadString(IDS_ADD_MENU_FILE), LoadString(IDS_ADD_MENU_FOLDER),
                                     LoadString(IDS_ADD_MENU_ACCOUNT)});
    switch (kind) {
        case 0:
            AddStoreFile(PickFile({this, LoadString(IDS_ADD_STORE_CAPTION),
                                   LoadString(IDS_ADD_STORE_FILTER), false}));
            break;
        case 1:
            AddStoreFile(
                PickFile({this, LoadString(IDS_ADD_FOLDER_CAPTION), QString(), false, true}));
            break;
        case 2:
            OnAddAccount();
            break;
        default:
            break;
    }
}

void CQuirnelDlg::OnAddAccount() {
    if (RunActive()) return;
    AccountFields fields;
    if (!AskForAccount(this, &fields)) return;
    const std::string url = store_setup::AccountUrl(fields.host.toStdString(), fields.port,
                                                    fields.user.toStdString(), fields.implicitTls);
    const std::string targetPath = SelectedPath(m_comboTarget);
    std::string name;
    const std::string error = store_setup::AddAccount(mapi::Profile::DefaultPath(), url, &name);
    if (!error.empty()) {
        // A password the server refused is not offered again.
        {
            std::lock_guard<std::mutex> lock(m_passwordMutex);
            m_passwords.erase(url);
        }
        ::ShowMessageBox(this, Q(error), LoadString(IDS_STORES_CAPTION));
        return;
    }
    ReloadStores(url, targetPath);
    SelectStore(m_comboSource, url, {});
}

void CQuirnelDlg::ForgetFailedPasswords() {
    std::lock_guard<std::mutex> lock(m_passwordMutex);
    for (const StoreListEntry& e : m_stores) {
        if (e.state == StoreState::Unusable) m_passwords.erase(e.path);
    }
}

void CQuirnelDlg::OnNewTarget() {
    if (RunActive()) return;
    using store_setup::NewStoreKind;
    const int choice =
        ChooseFromMenu(GetDlgItem(IDC_NEW_TARGET),
                       {LoadString(IDS_NEW_MENU_DATAFILE), LoadString(IDS_NEW_MENU_MAILDIR),
                        LoadString(IDS_NEW_MENU_MBOX), LoadString(IDS_NEW_MENU_EML)});
    if (choice < 0 || choice > 3) return;
    const NewStoreKind kind = static_cast<NewStoreKind>(choice);
    // Mail folder stores are directories: the name given is the folder made.
    // The filter chosen says the kind of data file when the name does not.
    QString chosenFilter;
    FilePickRequest request{
        this, LoadString(IDS_NEW_TARGET_CAPTION),
        LoadString(kind == NewStoreKind::DataFile ? IDS_NEW_TARGET_FILTER : IDS_NEW_FOLDER_FILTER),
        true};
    request.chosenFilter = &chosenFilter;
    QString picked = PickFile(request);
    if (picked.isEmpty()) return;
    if (kind == NewStoreKind::DataFile) picked = WithFilterExtension(picked, chosenFilter);
    const std::string sourcePath = SelectedPath(m_comboSource);
    std::string file = picked.toStdString();
    std::string name;
    const std::string error =
        store_setup::CreateTargetStore(mapi::Profile::DefaultPath(), kind, &file, &name);
    if (!error.empty()) {
        ::ShowMessageBox(this, Q(error), LoadString(IDS_STORES_CAPTION));
        return;
    }
    ReloadStores(sourcePath, file);
}

void CQuirnelDlg::OnRenameStore(QComboBox* list) {
    if (RunActive() || list->currentIndex() < 0) return;
    const std::string path = SelectedPath(list);
    const auto entry = std::find_if(m_stores.begin(), m_stores.end(),
                                    [&](const StoreListEntry& e) { return e.path == path; });
    if (path.empty() || entry == m_stores.end()) return;
    QString name = Q(entry->name);
    if (!AskText(this, LoadString(IDS_RENAME_PROMPT).arg(name), LoadString(IDS_RENAME_CAPTION),
                 &name))
        return;
    name = name.trimmed();
    if (name.isEmpty() || name.toStdString() == entry->name) return;
    // The run finds stores by name: a second store of one name could not be chosen.
    for (const StoreListEntry& e : m_stores) {
        if (e.path != path && e.name == name.toStdString()) {
            ::ShowMessageBox(this, LoadString(IDS_RENAME_TAKEN).arg(name),
                             LoadString(IDS_STORES_CAPTION));
            return;
        }
    }
    const std::string sourcePath = SelectedPath(m_comboSource);
    const std::string targetPath = SelectedPath(m_comboTarget);
    const std::string error =
        store_setup::RenameStore(mapi::Profile::DefaultPath(), path, name.toStdString());
    if (!error.empty()) {
        ::ShowMessageBox(this, Q(error), LoadString(IDS_STORES_CAPTION));
        return;
    }
    ReloadStores(sourcePath, targetPath);
}

void CQuirnelDlg::OnRemoveStore(QComboBox* list) {
    if (RunActive() || list->currentIndex() < 0) return;
    const std::string path = SelectedPath(list);
    const QString name = list->currentText();
    if (!AskYesNo(this, LoadString(IDS_REMOVE_STORE).arg(name, Q(path)),
                  LoadString(IDS_STORES_CAPTION)))
        return;
    const std::string error = store_setup::RemoveStore(mapi::Profile::DefaultPath(), path);
    if (!error.empty()) {
        ::ShowMessageBox(this, Q(error), LoadString(IDS_STORES_CAPTION));
        return;
    }
    const std::string sourcePath = SelectedPath(m_comboSource);
    const std::string targetPath = SelectedPath(m_comboTarget);
    ReloadStores(sourcePath == path ? std::string() : sourcePath,
                 targetPath == path ? std::string() : targetPath);
}

void CQuirnelDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* data = event->mimeData();
    if (!RunActive() && data && data->hasUrls() && !data->urls().isEmpty() &&
        data->urls().first().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void CQuirnelDlg::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (!data) return;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) AddStoreFile(url.toLocalFile());
    }
    event->acceptProposedAction();
}
