// What every object of one mail file store shares: its layout on disk, its
// identity (MAPIUID, kept in a small hidden file in the store directory),
// its entry identifiers, its name-to-id map and its special folders.
//
// Thread safety: Lock() serialises every use of the layout; the name map
// has a lock of its own. Objects hold the core through shared_ptr.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <mapidefs.h>

#include "mime/mail_tags.h"
#include "providers/mailfiles/mail_layout.h"

namespace mapi::mailfiles {

// The hidden file that keeps a store's MAPIUID, kind and special folders.
inline constexpr const char* kMetaFileName = ".quirnel-store";

enum class EntryKind : char { kRoot = 'R', kFolder = 'F', kMessage = 'M' };

enum class Special { kInbox, kOutbox, kSentMail, kWastebasket, kDrafts };

struct ParsedEntryId {
    EntryKind kind = EntryKind::kRoot;
    FolderPath folder;
    std::string key;  // messages only
};

class StoreCore : public mime::NameResolver {
public:
    // Opens the store at path, a directory or (one mbox) a file; a new one
    // (create) is a directory, made with the skeleton folders Inbox, Sent,
    // Trash and Drafts.
    static HRESULT Open(const std::string& path, std::unique_ptr<MailLayout> layout,
                        const std::string& displayName, const MAPIUID& providerUid, bool create,
                        std::shared_ptr<StoreCore>* out, std::string* error);

    MailLayout& Layout() { return *layout_; }
    std::recursive_mutex& Lock() { return lock_; }
    const std::string& DisplayName() const { return displayName_; }
    const MAPIUID& Uid() const { return uid_; }
    const MAPIUID& ProviderUid() const { return providerUid_; }

    // 4 zero bytes, the store's MAPIUID, the kind, then the folder path and
    // the item key, each length-prefixed.
    std::string EntryId(EntryKind kind, const FolderPath& folder = {},
                        const std::string& key = {}) const;
    std::string StoreEntryId() const;
    // False for an identifier of another store or a damaged one.
    bool ParseEntryId(const void* bytes, size_t size, ParsedEntryId* out) const;

    // IMAPIProp::GetIDsFromNames / GetNamesFromIDs over the store's map.
    HRESULT IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags);
    HRESULT NamesFromIds(LPSPropTagArray* tags, LPGUID set, ULONG flags, ULONG* count,
                         LPMAPINAMEID** names);
    ULONG IdOf(const mime::PropName& name) override;

    // The folder that plays a special part: one set through the store's
    // properties or SetReceiveFolder, else a top-level folder with one of
    // the usual names (Inbox, Sent, Trash, Drafts, ... and German ones).
    std::optional<FolderPath> SpecialFolder(Special which);
    HRESULT SetSpecialFolder(Special which, const FolderPath& folder);

    // PR_CONTAINER_CLASS of a folder: what was set for it, else IPF.Note
    // (the files cannot tell a calendar from a mail folder).
    std::string FolderClass(const FolderPath& folder);
    HRESULT SetFolderClass(const FolderPath& folder, const std::string& containerClass);

    // True when folder exists (the IPM subtree always does).
    bool FolderExists(const FolderPath& folder);

private:
    StoreCore() = default;
    HRESULT LoadMeta(bool create, std::string* error);
    HRESULT SaveMeta();
    std::string MetaPath() const;

    std::string path_;
    std::unique_ptr<MailLayout> layout_;
    std::string displayName_;
    MAPIUID uid_{};
    MAPIUID providerUid_{};
    std::map<std::string, std::string> meta_;
    std::recursive_mutex lock_;

    std::mutex namesLock_;
    std::vector<mime::PropName> names_;  // id 0x8000 + index
};

}  // namespace mapi::mailfiles
