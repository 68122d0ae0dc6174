// What the main dialog checks before a run begins, and what it remembers
// between two starts of the program.
#include <QComboBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>

#include <copy_engine.h>
#include <restriction_compiler.h>

#include <algorithm>

#include "message_box.h"
#include "quirnel_dlg.h"
#include "resource.h"
#include "string_table.h"

namespace {

QSettings Settings() {
    return QSettings(QStringLiteral("quirnel"), QStringLiteral("quirnel"));
}

// The IPM root of the first session store named name; an empty wrapper when
// there is none or it cannot be opened (the run itself then says so).
IMAPIFolderPtr IpmRootOf(CMapiSession& session, const std::string& name) {
    try {
        LPMAPITABLE table = session.GetStoresTable();
        if (!table) return {};
        CMapiRowSet rows = QueryAllRows(table, {PR_DISPLAY_NAME_A, PR_ENTRYID});
        for (ULONG i = 0; i < rows.Count(); ++i) {
            const char* rowName = rows.Cell(i, 0).String8();
            if (name != (rowName ? rowName : "")) continue;
            CMapiBinary eid;
            eid = rows.Cell(i, 1);
            CInterfaceRef<IUnknown> object = session.OpenEntry(eid);
            CInterfaceRef<IMsgStore> store;
            if (!object || FAILED(object->QueryInterface(
                               IID_IMsgStore, reinterpret_cast<void**>(store.Receive())))) {
                return {};
            }
            return IMsgStorePtr(store.get())._getIPMRoot();
        }
    } catch (const CMAPIException&) {
    }
    return {};
}

}  // namespace

bool CQuirnelDlg::CheckBeforeStart() {
    // Said here, before the count: a run without both stores would only
    // count nothing and then report a failure for what is a missing choice.
    if (m_comboSource->currentIndex() < 0 || m_comboTarget->currentIndex() < 0) {
        ::ShowMessageBox(this, LoadString(IDS_SELECT_STORES), AppCaption());
        return false;
    }
    // The run finds stores by name: with two of one name it would take the
    // first, which may not be the one chosen.
    for (QComboBox* combo : {m_comboSource, m_comboTarget}) {
        const std::string name = combo->currentText().toStdString();
        if (combo->currentIndex() < 0) continue;
        int same = 0;
        for (const StoreListEntry& e : m_stores) {
            if (e.name == name &&
                (e.state == StoreState::Usable || e.state == StoreState::ReadOnly)) {
                ++same;
            }
        }
        if (same > 1) {
            ::ShowMessageBox(this, LoadString(IDS_AMBIGUOUS_NAME).arg(combo->currentText()),
                             LoadString(IDS_STORES_CAPTION));
            return false;
        }
    }
    // The query is compiled as each folder's items will be, against the
    // source, so that a mistake shows before anything is written.
    const std::string query = m_editQuery->toPlainText().toStdString();
    if (query.empty() || m_comboSource->currentIndex() < 0) return true;
    IMAPIFolderPtr root = IpmRootOf(m_session, m_comboSource->currentText().toStdString());
    if (!root) return true;
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(root._rawInterface());
    compiler.Compile(query.c_str());
    if (!compiler.HasError()) return true;
    ::ShowMessageBox(this, QString::fromStdString(compiler.ErrorText()), QStringLiteral("Query"));
    return false;
}

bool CQuirnelDlg::ChooseResumeOrAgain(uint64_t there) {
    quirnel::RunOptions options;
    const QString& source = m_countSource;
    const QString& target = m_countTarget;
    if (there > 0) {
        const QStringList choices{LoadString(IDS_RESUME_CONTINUE), LoadString(IDS_RESUME_AGAIN),
                                  LoadString(IDS_CANCEL)};
        const int choice = AskChoice(
            this, LoadString(IDS_RESUME_OFFER).arg(QString::number(there), target, source),
            AppCaption(), choices, 0);
        if (choice != 0 && choice != 1) return false;
        options.again = choice == 1;
    }
    m_engine->SetOptions(options);
    return true;
}

void CQuirnelDlg::LoadSettings() {
    QSettings settings = Settings();
    SelectStore(m_comboSource, settings.value("source/path").toString().toStdString(),
                settings.value("source/name").toString().toStdString());
    SelectStore(m_comboTarget, settings.value("target/path").toString().toStdString(),
                settings.value("target/name").toString().toStdString());
    const QString query = settings.value("query").toString();
    if (!query.isEmpty()) m_editQuery->setPlainText(query);
    // Only a place where the window's top edge is on a screen that is still
    // there, so it can be grabbed and moved; else the window manager's.
    const QVariant pos = settings.value("window/pos");
    if (pos.isValid()) {
        const QRect grip(pos.toPoint(), QSize(std::min(width(), 100), 20));
        for (const QScreen* screen : QGuiApplication::screens()) {
            if (screen->availableGeometry().contains(grip)) {
                move(pos.toPoint());
                break;
            }
        }
    }
}

void CQuirnelDlg::SaveSettings() const {
    QSettings settings = Settings();
    const auto store = [&](const char* key, const QComboBox* combo) {
        if (combo->currentIndex() < 0) return;
        settings.setValue(QStringLiteral("%1/path").arg(QLatin1String(key)),
                          QString::fromStdString(SelectedPath(combo)));
        settings.setValue(QStringLiteral("%1/name").arg(QLatin1String(key)), combo->currentText());
    };
    store("source", m_comboSource);
    store("target", m_comboTarget);
    settings.setValue("query", m_editQuery->toPlainText());
    if (isVisible()) settings.setValue("window/pos", pos());
}
