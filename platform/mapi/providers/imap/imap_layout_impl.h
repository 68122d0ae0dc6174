// The IMAP layout's class, shared by the files that implement it:
// imap_layout.cpp (mailboxes, special use, logon) and imap_items.cpp
// (listing, reading, appending and copying messages). Not for other users:
// ImapLayout() in imap_layout.h is the way in.
#pragma once

#include <libetpan/libetpan.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "providers/imap/imap_connection.h"
#include "providers/mailfiles/mail_layout.h"

namespace mapi::imap {

using mailfiles::FolderPath;
using mailfiles::ItemEntry;

// Owners for libetpan's result lists.
struct ListResult {
    clist* list = nullptr;
    ~ListResult() {
        if (list != nullptr) mailimap_list_result_free(list);
    }
};
struct FetchResult {
    clist* list = nullptr;
    ~FetchResult() {
        if (list != nullptr) mailimap_fetch_list_free(list);
    }
};
struct FetchType {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    ~FetchType() {
        if (type != nullptr) mailimap_fetch_type_free(type);
    }
    void Add(mailimap_fetch_att* att) { mailimap_fetch_type_new_fetch_att_list_add(type, att); }
};
struct Set {
    mailimap_set* set;
    ~Set() {
        if (set != nullptr) mailimap_set_free(set);
    }
};

// Item keys are "UIDVALIDITY.UID".
bool ParseKey(const std::string& key, uint32_t* validity, uint32_t* uid);
std::string Key(uint32_t validity, uint32_t uid);
// The UIDs of a set a server sent, in its order; an interval the server
// could not have meant (reversed, open-ended or vast) gives none.
std::vector<uint32_t> SetUids(mailimap_set* set);
// A flag or attribute without its leading backslash.
std::string StripBackslash(const char* flag);

class Layout final : public mailfiles::MailLayout {
public:
    explicit Layout(std::unique_ptr<Connection> connection) : conn_(std::move(connection)) {}

    const char* Kind() const override { return "imap"; }
    bool FlagsInMessage() const override { return false; }

    HRESULT ListFolders(const FolderPath& parent, std::vector<std::string>* names) override;
    HRESULT CreateFolder(const FolderPath& parent, const std::string& name) override;
    HRESULT ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) override;
    HRESULT ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                     ItemEntry* entry) override;
    HRESULT AddItem(const FolderPath& folder, const std::string& bytes,
                    const mime::MailFlags& flags, const std::string&, std::string* key) override;
    HRESULT CopyItems(const FolderPath& from, const std::vector<std::string>& keys,
                      const FolderPath& to, std::vector<std::string>* copied) override;
    HRESULT Connect() override;
    std::optional<FolderPath> SpecialUse(const char* attribute) override;

private:
    static bool NonExistent(mailimap_mailbox_list* mb);

    // The mailbox of folder: as the server listed it, else made from the
    // names the way CreateFolder makes it.
    std::string Mailbox(const FolderPath& folder);

    HRESULT Select(const FolderPath& folder, uint32_t* validity, uint32_t* exists,
                   std::string* err);

    HRESULT Exists(const std::string& wire, bool* exists, std::string* err);

    uint32_t UidNext() const;

    // The first message of folder with UID floor or above whose header
    // mark.first contains mark.second; *uid 0 when there is none.
    HRESULT Find(const FolderPath& folder, const std::pair<const char*, std::string>& mark,
                 uint32_t floor, uint32_t* validity, uint32_t* uid, std::string* err);

    void LoadSpecialUse();

    // The server's words stay with the layout until the object whose call
    // failed takes them (its GetLastError); a copy logs them with the item.
    HRESULT Report(HRESULT hr, const std::string& error);

    std::unique_ptr<Connection> conn_;
    std::map<FolderPath, std::string> mailbox_;
    // The lowest UID a message appended next to a mailbox can get.
    std::map<std::string, uint32_t> next_;
    std::map<std::string, FolderPath> specialUse_;
    bool specialUseLoaded_ = false;
};

}  // namespace mapi::imap
