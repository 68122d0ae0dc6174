// Test helpers of the store-setup tests of the main dialog: a user who
// answers every box, menu, question and file dialog as the test says and
// keeps what was asked, and the fixture with a temporary profile.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <sstream>

#include <dump.h>
#include <runtime/provider.h>

#include "account_dlg.h"
#include "choice_menu.h"
#include "file_picker.h"
#include "message_box.h"
#include "quirnel_dlg.h"
#include "resource.h"
#include "store_setup.h"
#include "string_table.h"
#include "test_stores.h"

namespace store_test {

// The shared fixtures sit beside the source tree; a checkout elsewhere
// names their folder in QUIRNEL_SHARED_DIR.
inline const QString kPst =
    qEnvironmentVariable("QUIRNEL_SHARED_DIR", QStringLiteral(QUIRNEL_SHARED_DIR)) +
    QStringLiteral("/fixtures/pst/outlook.pst");

// Answers every box, question and file dialog as the test says, and keeps them.
class User {
public:
    User() {
        SetMessageBoxHook([this](const MessageBoxCall& call) { boxes.push_back(call); });
        SetQuestionHook([this](const MessageBoxCall& call) {
            questions.push_back(call);
            return answer;
        });
        // No test here expects the offer to resume; it would be counted.
        SetChoiceHook([this](const MessageBoxCall& call, const QStringList&) {
            questions.push_back(call);
            return 0;
        });
        SetFilePickHook([this](const FilePickRequest& request) {
            picks.push_back(request);
            if (request.chosenFilter) *request.chosenFilter = filterChosen;
            return request.forSaving ? saveAs : open;
        });
        // The store buttons' menus: the first entry (a data file) unless a
        // test says otherwise.
        SetMenuHook([this](const QStringList& items) {
            menus.push_back(items);
            return menuChoice;
        });
        SetTextHook([this](const MessageBoxCall& call, QString* value) {
            questions.push_back(call);
            if (!answer) return false;
            *value = text;
            return true;
        });
        SetAccountHook([this](AccountFields* fields) {
            *fields = account;
            return answer;
        });
        SetPasswordHook([this](const QString& who, QString* given) {
            passwordAsked.push_back(who);
            *given = password;
            return !password.isEmpty();
        });
    }
    ~User() {
        SetMessageBoxHook(nullptr);
        SetQuestionHook(nullptr);
        SetChoiceHook(nullptr);
        SetFilePickHook(nullptr);
        SetMenuHook(nullptr);
        SetTextHook(nullptr);
        SetAccountHook(nullptr);
        SetPasswordHook(nullptr);
    }
    bool answer = true;
    QString open;
    QString saveAs;
    QString filterChosen;  // the entry of the file dialog's filter left chosen
    int menuChoice = 0;
    QString text;
    AccountFields account;
    QString password;
    std::vector<MessageBoxCall> boxes;
    std::vector<MessageBoxCall> questions;
    std::vector<FilePickRequest> picks;
    std::vector<QStringList> menus;
    QStringList passwordAsked;
};

struct LanguageGuard {
    explicit LanguageGuard(Language l) { SetResourceLanguage(l); }
    ~LanguageGuard() { ResetResourceLanguage(); }
};

inline QComboBox* Combo(CQuirnelDlg& dlg, int id) {
    return qobject_cast<QComboBox*>(dlg.GetDlgItem(id));
}

inline void Click(CQuirnelDlg& dlg, int id) {
    QTest::mouseClick(dlg.GetDlgItem(id), Qt::LeftButton);
}

// Entry texts, with "-" before those the user cannot choose.
inline QStringList Shown(QComboBox* combo) {
    QStringList list;
    auto* model = qobject_cast<QStandardItemModel*>(combo->model());
    for (int i = 0; i < combo->count(); ++i) {
        const bool enabled = model->item(i)->isEnabled();
        list << (enabled ? QString() : QStringLiteral("-")) + combo->itemText(i);
    }
    return list;
}

inline int IndexOf(QComboBox* combo, const QString& text) {
    const int i = combo->findText(text);
    EXPECT_GE(i, 0) << text.toStdString();
    return i;
}

inline bool RunToEnd(CQuirnelDlg& dlg) {
    QSignalSpy finished(&dlg, &CQuirnelDlg::runFinished);
    Click(dlg, IDC_START);
    return !dlg.RunActive() || finished.wait(120000);
}

inline std::string DumpFile(const QString& path) {
    mapi::StoreProvider* provider = mapi::ProviderForFile(path.toStdString());
    if (!provider) return "no provider";
    IMsgStore* store = nullptr;
    std::string error;
    if (FAILED(
            provider->OpenStore({"", "x", provider->Name(), path.toStdString()}, &store, &error)))
        return error;
    std::ostringstream out;
    mapi::tools::DumpResult result;
    mapi::tools::DumpStore(store, {true}, out, &result, &error);
    store->Release();
    return out.str();
}

class StoreSetupTest : public testing::Test {
protected:
    LanguageGuard english{Language::English};
    TestProfile profile;
    User user;
    QString Path(const QString& name) const {
        return QString::fromStdString(profile.Folder()) + QLatin1Char('/') + name;
    }
};

}  // namespace store_test
