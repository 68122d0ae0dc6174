// Profile changes made from the main dialog.
#include "store_setup.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <runtime/mapi_ptr.h>
#include <runtime/provider.h>

#include "resource.h"
#include "string_table.h"

namespace store_setup {

namespace {

namespace fs = std::filesystem;

// Store files go into the profile absolute: it is read from anywhere.
std::string Absolute(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// The reasons are shown in the window's language; what the platform adds
// (a system error, a provider's own words) stays as the platform says it.
std::string Reason(int id, const std::string& first, const std::string& second = {}) {
    const QString text = LoadString(id);
    if (text.contains(QLatin1String("%2")))
        return text.arg(QString::fromStdString(first), QString::fromStdString(second)).toStdString();
    if (text.contains(QLatin1String("%1"))) return text.arg(QString::fromStdString(first)).toStdString();
    return text.toStdString();
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return Absolute(a) == Absolute(b);
}

std::string Save(const mapi::Profile& profile, const std::string& path) {
    std::string error;
    if (FAILED(profile.Save(path, &error))) {
        return Reason(IDS_SETUP_PROFILE_UNWRITABLE, path, error);
    }
    return {};
}

}  // namespace

std::string LoadOrEmpty(const std::string& path, mapi::Profile* profile) {
    std::string error;
    const HRESULT hr = mapi::Profile::Load(path, profile, &error);
    if (hr == MAPI_E_NOT_FOUND) {
        *profile = mapi::Profile();
        return {};
    }
    if (FAILED(hr)) return error.empty() ? Reason(IDS_SETUP_PROFILE_UNREADABLE, path) : error;
    return {};
}

std::string CreateEmptyProfile(const std::string& path) {
    return Save(mapi::Profile(), path);
}

std::string UniqueName(const mapi::Profile& profile, const std::string& base) {
    const std::string stem = base.empty() ? std::string("Store") : base;
    std::string name = stem;
    for (int n = 2; profile.Find(name) != nullptr; ++n) {
        name = stem + " (" + std::to_string(n) + ")";
    }
    return name;
}

std::string AddStoreFile(const std::string& profilePath, const std::string& given,
                         std::string* name) {
    // A folder picked or dropped may come with a closing slash; without it
    // the name is the folder's own.
    std::string file = given;
    while (file.size() > 1 && file.back() == '/') file.pop_back();
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) && !fs::is_directory(file, ec))
        return Reason(IDS_SETUP_NOT_FOUND, file);
    mapi::StoreProvider* provider = mapi::ProviderForFile(file);
    if (provider == nullptr) {
        return Reason(IDS_SETUP_NOT_A_STORE, file);
    }
    mapi::Profile profile;
    if (std::string error = LoadOrEmpty(profilePath, &profile); !error.empty()) return error;
    for (const mapi::ProfileEntry& entry : profile.Entries()) {
        if (SameFile(entry.path, file)) {
            *name = entry.displayName;
            return {};
        }
    }
    *name = UniqueName(profile, fs::path(file).stem().string());
    profile.Add(*name, provider->Name(), Absolute(file));
    return Save(profile, profilePath);
}

std::string CreateTargetStore(const std::string& profilePath, NewStoreKind kind, std::string* file,
                              std::string* name) {
    fs::path path(*file);
    const char* providerName = "embedded";
    switch (kind) {
        case NewStoreKind::DataFile: {
            if (!path.has_extension()) path += ".db";
            // A .pst name asks for a personal folder file that mail programs
            // open; anything else gets the embedded store.
            std::string extension = path.extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (extension == ".pst") providerName = "pst-writer";
            break;
        }
        case NewStoreKind::Maildir:
            providerName = "maildir";
            break;
        case NewStoreKind::Mbox:
            providerName = "mbox";
            break;
        case NewStoreKind::Eml:
            providerName = "eml";
            break;
    }
    *file = Absolute(path.string());
    std::error_code ec;
    if (fs::exists(*file, ec)) {
        return Reason(IDS_SETUP_EXISTS, *file);
    }
    mapi::StoreProvider* provider = mapi::FindProvider(providerName);
    if (provider == nullptr) return Reason(IDS_SETUP_NO_PROVIDER, {});
    mapi::Profile profile;
    if (std::string error = LoadOrEmpty(profilePath, &profile); !error.empty()) return error;
    *name = UniqueName(profile, path.stem().string());
    std::string error;
    if (FAILED(provider->CreateStore(*file, *name, &error))) {
        return Reason(IDS_SETUP_CANNOT_MAKE, *file, error);
    }
    profile.Add(*name, provider->Name(), *file);
    return Save(profile, profilePath);
}

std::string AccountUrl(const std::string& host, int port, const std::string& user,
                       bool implicitTls) {
    // Only what cannot stand in the user part of an address is encoded;
    // "user@example.org" becomes "user%40example.org".
    std::string encoded;
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : user) {
        if (std::isalnum(c) || std::strchr("-._~!$&'()*+,;=", c) != nullptr) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    std::string url = (implicitTls ? "imaps://" : "imap://") + encoded + "@" + host;
    const int usual = implicitTls ? 993 : 143;
    if (port > 0 && port != usual) url += ":" + std::to_string(port);
    if (!implicitTls) url += "?starttls";
    return url;
}

std::string AddAccount(const std::string& profilePath, const std::string& url, std::string* name) {
    mapi::StoreProvider* provider = mapi::FindProvider("imap");
    if (provider == nullptr || !provider->Recognizes(url))
        return Reason(IDS_SETUP_NOT_ACCOUNT, url);
    mapi::Profile profile;
    if (std::string error = LoadOrEmpty(profilePath, &profile); !error.empty()) return error;
    for (const mapi::ProfileEntry& entry : profile.Entries()) {
        if (entry.path == url) {
            *name = entry.displayName;
            return {};
        }
    }
    // "user@host" reads as the account's name; the address part of the
    // user is decoded back for it.
    std::string base = url.substr(url.find("://") + 3);
    base = base.substr(0, base.find('?'));
    for (size_t at = base.find("%40"); at != std::string::npos; at = base.find("%40"))
        base.replace(at, 3, "@");
    *name = UniqueName(profile, base);
    // Accounts of a profile log on only when first used, so this is the one
    // moment a wrong password, a wrong address or an untrusted server can
    // be said before the user relies on the entry. An entry outside any
    // profile section is checked by the provider as it opens.
    {
        std::string why;
        mapi::ComRef<IMsgStore> store;
        if (FAILED(provider->OpenStore(mapi::ProfileEntry{"", *name, provider->Name(), url},
                                       store.Out(), &why)))
            return why.empty() ? Reason(IDS_SETUP_NOT_ACCOUNT, url) : why;
    }
    profile.Add(*name, provider->Name(), url);
    return Save(profile, profilePath);
}

std::string RenameStore(const std::string& profilePath, const std::string& file,
                        const std::string& newName) {
    if (newName.empty()) return Reason(IDS_SETUP_NEEDS_NAME, {});
    mapi::Profile profile;
    if (std::string error = LoadOrEmpty(profilePath, &profile); !error.empty()) return error;
    mapi::Profile renamed;
    bool found = false;
    for (const mapi::ProfileEntry& entry : profile.Entries()) {
        const bool it = !found && entry.path == file;
        if (!it && entry.displayName == newName)
            return Reason(IDS_SETUP_NAME_TAKEN, newName);
        found = found || it;
        renamed.Add(it ? newName : entry.displayName, entry.provider, entry.path);
    }
    if (!found) return Reason(IDS_SETUP_NOT_IN_PROFILE, file);
    return Save(renamed, profilePath);
}

std::string RemoveStore(const std::string& profilePath, const std::string& file) {
    mapi::Profile profile;
    if (std::string error = LoadOrEmpty(profilePath, &profile); !error.empty()) return error;
    // Rebuilt without the entry: removing by display name could take the
    // wrong one of two stores that share a name.
    mapi::Profile kept;
    bool found = false;
    for (const mapi::ProfileEntry& entry : profile.Entries()) {
        if (!found && entry.path == file) {
            found = true;
            continue;
        }
        kept.Add(entry.displayName, entry.provider, entry.path);
    }
    if (!found) return Reason(IDS_SETUP_NOT_IN_PROFILE, file);
    return Save(kept, profilePath);
}

}  // namespace store_setup
