// IMAP accounts as message stores. The profile keeps the account's address
// (imap://user@host[:port] or imaps://...), never its password; the store's
// objects are those of the mail file stores over a layout that speaks IMAP.
// What the platform keeps about the account itself (the store's MAPIUID,
// special folders a copy sets) lives in a directory beside the profile.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "providers/imap/imap_account.h"
#include "providers/imap/imap_connection.h"
#include "providers/imap/imap_layout.h"
#include "providers/mailfiles/mail_store.h"
#include "providers/mailfiles/store_core.h"
#include "providers/providers.h"

namespace mapi::imap {

namespace {

// PR_MDB_PROVIDER of IMAP stores: made up for this platform, fixed.
constexpr MAPIUID kImapUid = {{0x51, 0x75, 0x69, 0x72, 0x6E, 0x65, 0x6C, 0x49, 0x6D, 0x61, 0x70,
                               0x00, 0x00, 0x00, 0x00, 0x01}};

class ImapProvider final : public StoreProvider {
public:
    const char* Name() const override { return "imap"; }
    const char* DisplayName() const override { return "IMAP account"; }
    MAPIUID ProviderUid() const override { return kImapUid; }

    bool Recognizes(const std::string& path) const override { return IsAccountUrl(path); }

    // The mailbox, whatever the address says besides it (TLS, how the
    // host is spelled): user@host:port.
    std::string WriterLocation(const ProfileEntry& entry) const override {
        Account account;
        std::string error;
        if (!ParseAccountUrl(entry.path, &account, &error)) return "imap:" + entry.path;
        std::string host = account.host;
        for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return "imap:" + account.user + "@" + host + ":" + std::to_string(account.port);
    }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        if (store == nullptr || error == nullptr) return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        try {
            Account account;
            if (!ParseAccountUrl(entry.path, &account, error)) return MAPI_E_INVALID_PARAMETER;
            auto connection = std::make_unique<Connection>(account);
            // A store of a profile logs on at its first use: a session opens
            // every store of the profile, and one the command never touches
            // must not ask for a password or wait for its server. An entry
            // that is not in a profile yet (being added) is checked now, so
            // a wrong password or an untrusted server is said before it is.
            HRESULT hr = entry.section.empty() ? connection->Ensure(error, false) : S_OK;
            if (FAILED(hr)) {
                if (error->rfind(account.url, 0) != 0) *error = account.url + ": " + *error;
                return hr;
            }
            const std::string state = AccountStateDirectory(account);
            std::error_code ec;
            std::filesystem::create_directories(state, ec);
            if (ec) {
                *error = "cannot make " + state + ": " + ec.message();
                return MAPI_E_DISK_ERROR;
            }
            std::filesystem::permissions(state, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ec);
            std::shared_ptr<mailfiles::StoreCore> core;
            hr = mailfiles::StoreCore::Open(state, ImapLayout(std::move(connection)),
                                            entry.displayName, kImapUid, false, &core, error);
            if (FAILED(hr)) return hr;
            return mailfiles::CreateStoreObject(std::move(core), store);
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }

    // Accounts are made on the server, not by us.
    HRESULT CreateStore(const std::string&, const std::string&, std::string* error) override {
        if (error != nullptr) *error = "IMAP accounts are added (mapiprofile add), not created";
        return MAPI_E_NO_SUPPORT;
    }
};

}  // namespace

}  // namespace mapi::imap

namespace mapi {

StoreProvider* ImapStoreProvider() {
    static imap::ImapProvider provider;
    return &provider;
}

}  // namespace mapi
