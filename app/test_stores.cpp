// Profiles and stores for the dialog tests, made through the embedded
// provider and the sample generator.
#include "test_stores.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <mapix.h>

#include <cstdlib>
#include <sstream>

#include <dump.h>
#include <runtime/mapi_ptr.h>
#include <runtime/profile.h>
#include <runtime/provenance.h>
#include <runtime/provider.h>
#include <sample_store.h>

namespace {

// Opens the store of entry; null (and a test failure) when it cannot.
IMsgStore* OpenStore(const mapi::ProfileEntry& entry) {
    mapi::StoreProvider* provider = mapi::FindProvider("embedded");
    if (!provider) {
        ADD_FAILURE() << "no embedded provider";
        return nullptr;
    }
    IMsgStore* store = nullptr;
    std::string error;
    const HRESULT hr = provider->OpenStore(entry, &store, &error);
    if (FAILED(hr)) {
        ADD_FAILURE() << "open " << entry.path << ": " << error;
        return nullptr;
    }
    return store;
}

mapi::ProfileEntry EntryFor(const std::string& name, const std::string& path) {
    mapi::ProfileEntry entry;
    entry.section = name;
    entry.displayName = name;
    entry.provider = "embedded";
    entry.path = path;
    return entry;
}

}  // namespace

TestProfile::TestProfile() : oldProfile_(qgetenv("MAPI_PROFILE")), oldHome_(qgetenv("HOME")) {
    EXPECT_TRUE(dir_.isValid());
    qputenv("MAPI_PROFILE", (dir_.path() + QStringLiteral("/profile.ini")).toUtf8());
    qputenv("HOME", dir_.path().toUtf8());
    // What the dialog remembers goes to this folder too, never to the
    // settings of the user running the tests.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       dir_.path() + QStringLiteral("/config"));
}

TestProfile::~TestProfile() {
    qputenv("MAPI_PROFILE", oldProfile_);
    qputenv("HOME", oldHome_);
}

std::string TestProfile::StorePath(const std::string& name) {
    return Folder() + "/store" + std::to_string(stores_.size()) + "-" + name + ".db";
}

bool TestProfile::AddEmptyStore(const std::string& name) {
    mapi::StoreProvider* provider = mapi::FindProvider("embedded");
    if (!provider) {
        ADD_FAILURE() << "no embedded provider";
        return false;
    }
    const std::string path = StorePath(name);
    std::string error;
    if (FAILED(provider->CreateStore(path, name, &error))) {
        ADD_FAILURE() << "create " << path << ": " << error;
        return false;
    }
    stores_.emplace_back(name, path);
    return true;
}

bool TestProfile::AddSampleStore(const std::string& name, uint32_t items, uint32_t seed) {
    if (!AddEmptyStore(name)) return false;
    IMsgStore* store = OpenStore(EntryFor(name, stores_.back().second));
    if (!store) return false;
    mapi::tools::SampleOptions options;
    options.items = items;
    options.seed = seed;
    mapi::tools::SampleSummary summary;
    std::string error;
    const HRESULT hr = mapi::tools::FillSampleStore(store, options, &summary, &error);
    store->Release();
    EXPECT_FALSE(FAILED(hr)) << error;
    return !FAILED(hr);
}

bool TestProfile::AddSalvagedItem(const std::string& name, const std::string& subject,
                                  const std::string& lost) {
    for (const auto& [storeName, path] : stores_) {
        if (storeName != name) continue;
        mapi::ComRef<IMsgStore> store(OpenStore(EntryFor(name, path)));
        if (!store) return false;
        ULONG cb = 0;
        LPENTRYID raw = nullptr;
        EXPECT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &raw, nullptr), S_OK);
        mapi::MapiBuffer<ENTRYID> inboxId(raw);
        ULONG type = 0;
        mapi::ComRef<IMAPIFolder> inbox;
        if (!inboxId || FAILED(store->OpenEntry(cb, raw, nullptr, MAPI_MODIFY, &type,
                                                inbox.OutAs<IUnknown>()))) {
            ADD_FAILURE() << "no inbox in " << name;
            return false;
        }
        mapi::ComRef<IMessage> message;
        EXPECT_EQ(inbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
        if (!message) return false;
        MAPINAMEID report{const_cast<LPGUID>(&mapi::PS_QUIRNEL), MNID_STRING, {}};
        report.Kind.lpwstrName = const_cast<LPWSTR>(mapi::kDamageReportName);
        LPMAPINAMEID names[] = {&report};
        LPSPropTagArray tags = nullptr;
        EXPECT_EQ(message->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
        mapi::MapiBuffer<SPropTagArray> hold(tags);
        if (!tags) return false;
        SPropValue values[2];
        values[0].ulPropTag = PR_SUBJECT_A;
        values[0].Value.lpszA = const_cast<char*>(subject.c_str());
        values[1].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_STRING8);
        values[1].Value.lpszA = const_cast<char*>(lost.c_str());
        const bool saved = message->SetProps(2, values, nullptr) == S_OK &&
                           message->SaveChanges(0) == S_OK;
        EXPECT_TRUE(saved) << "salvaged item in " << name;
        return saved;
    }
    ADD_FAILURE() << "no store " << name;
    return false;
}

bool TestProfile::Save() {
    mapi::Profile profile;
    for (const auto& [name, path] : stores_) profile.Add(name, "embedded", path);
    std::string error;
    const HRESULT hr = profile.Save(qgetenv("MAPI_PROFILE").toStdString(), &error);
    EXPECT_FALSE(FAILED(hr)) << error;
    return !FAILED(hr);
}

std::string TestProfile::Dump(const std::string& name, bool props) {
    for (const auto& [storeName, path] : stores_) {
        if (storeName != name) continue;
        IMsgStore* store = OpenStore(EntryFor(name, path));
        if (!store) return {};
        std::ostringstream out;
        mapi::tools::DumpOptions options;
        options.props = props;
        mapi::tools::DumpResult result;
        std::string error;
        const HRESULT hr = mapi::tools::DumpStore(store, options, out, &result, &error);
        store->Release();
        EXPECT_FALSE(FAILED(hr)) << error;
        return out.str();
    }
    ADD_FAILURE() << "no store " << name;
    return {};
}

std::map<std::string, std::vector<std::string>> ItemsByFolder(const std::string& dump) {
    std::map<std::string, std::vector<std::string>> items;
    std::istringstream in(dump);
    std::string line;
    std::string folder;
    std::string* current = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("folder ", 0) == 0) {
            folder = line.substr(7, line.find(" items=") - 7);
            items[folder];
            current = nullptr;
        } else if (line == "  item" || line.rfind("  item ", 0) == 0) {
            items[folder].push_back(line + "\n");
            current = &items[folder].back();
        } else if (current) {
            *current += line + "\n";
        }
    }
    return items;
}

uint32_t CountItems(const std::string& dump) {
    uint32_t total = 0;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(" items=");
        if (line.rfind("folder ", 0) == 0 && at != std::string::npos) {
            total += static_cast<uint32_t>(std::strtoul(line.c_str() + at + 7, nullptr, 10));
        }
    }
    return total;
}
