// How one kind of mail file store lays folders and items out on disk.
//
// The store, folder and message objects are shared by every kind; a layout
// only lists, reads and adds. Folders are named by their path of display
// names below the IPM subtree ({"Inbox", "Projects"}); items by a key the
// layout chooses, which stays the same as long as the item is on disk.
// A layout is used under its store's lock: one call at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <mapidefs.h>

#include "mime/mail_item.h"

namespace mapi::mailfiles {

using FolderPath = std::vector<std::string>;

struct ItemEntry {
    std::string key;
    uint64_t size = 0;
    // Flags the layout keeps beside the message (Maildir file names).
    bool hasFlags = false;
    mime::MailFlags flags;
    // Header fields the layout lists without reading the whole message (a
    // server's header fetch), from which a contents table answers the
    // subject and provenance columns; empty otherwise.
    std::string headers;
};

class MailLayout {
public:
    virtual ~MailLayout() = default;

    // "maildir", "mbox" or "eml".
    virtual const char* Kind() const = 0;
    // True when read/replied/flagged states travel inside the message
    // (Status headers) rather than beside it.
    virtual bool FlagsInMessage() const = 0;

    // Display names of the subfolders of parent (the IPM subtree for {}).
    virtual HRESULT ListFolders(const FolderPath& parent, std::vector<std::string>* names) = 0;
    // Makes folder parent + name; S_OK when it exists already.
    virtual HRESULT CreateFolder(const FolderPath& parent, const std::string& name) = 0;
    // The items of folder in the order they were added.
    virtual HRESULT ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) = 0;
    // The message bytes of an item. MAPI_E_NOT_FOUND when it is gone;
    // MAPI_E_CORRUPT_DATA when what is there is no message.
    virtual HRESULT ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                             ItemEntry* entry) = 0;
    // Adds a message to folder, whole or not at all; nameHint (the subject)
    // may shape a file name. Gives the new item's key.
    virtual HRESULT AddItem(const FolderPath& folder, const std::string& bytes,
                            const mime::MailFlags& flags, const std::string& nameHint,
                            std::string* key) = 0;

    // The folder a server marks with a special-use attribute ("Sent",
    // "Trash", "Drafts", RFC 6154); nullopt where the layout knows none.
    virtual std::optional<std::vector<std::string>> SpecialUse(const char* /*attribute*/) {
        return std::nullopt;
    }

    // Copies the items keys of folder from into folder to where they lie
    // (a server's own COPY), all or none, flags and dates with them, the
    // bytes as they are. *copied gets the new items' keys in the order of
    // keys ("" where the layout cannot tell). MAPI_E_NO_SUPPORT where the
    // layout has no such copy: the caller then copies through the MIME
    // conversion.
    virtual HRESULT CopyItems(const FolderPath& /*from*/, const std::vector<std::string>& /*keys*/,
                              const FolderPath& /*to*/, std::vector<std::string>* /*copied*/) {
        return MAPI_E_NO_SUPPORT;
    }

    // False when the store's files may not be written (a folder or file
    // without write permission, or one the system keeps from any change),
    // so that the store says it is read-only before a copy tries it. A
    // server's layout cannot tell without asking and says true.
    virtual bool Writable() { return true; }

    // Makes the layout ready for use (a server logs on here); S_OK for
    // layouts that need nothing. Every other call does it when it is not
    // done, so a store that is never used is never contacted.
    virtual HRESULT Connect() { return S_OK; }

    // The words that explain the last failed call (the server's answer,
    // the file that could not be written), given once: taking them clears
    // them, so words of an old failure are never shown for a new one.
    // Empty when the failure came without any.
    std::string TakeLastError() { return std::exchange(lastError_, std::string()); }

protected:
    void SetLastError(std::string text) { lastError_ = std::move(text); }

private:
    std::string lastError_;
};

// Layouts over the store directory root. Maildir++: the root is the inbox,
// folders are ".A.B" directories. .eml tree: one directory per folder, one
// file per item. mbox: one file per folder, subfolders in "Name.sbd".
std::unique_ptr<MailLayout> MaildirLayout(const std::string& root);
std::unique_ptr<MailLayout> EmlLayout(const std::string& root);
std::unique_ptr<MailLayout> MboxLayout(const std::string& root);
// A single mbox file (an export, a client's one mailbox) as a store with
// one folder named after the file; it takes no further folders.
std::unique_ptr<MailLayout> MboxFileLayout(const std::string& file);

// File name helpers shared by the layouts.
// A folder name as one path component: '%', '/', '.', control characters
// and a leading '.' or '~' written as %XX, so every name round-trips.
std::string EscapeName(const std::string& name, bool escapeDots);
std::string UnescapeName(const std::string& name);
// Writes bytes to path and syncs it; fails when the file exists (O_EXCL).
HRESULT WriteNewFile(const std::string& path, const std::string& bytes);
HRESULT ReadWholeFile(const std::string& path, std::string* bytes);
// Words for a failed write of hr at where (a folder's directory or file),
// error being the errno of the call that failed (0: none known).
std::string FileFailure(HRESULT hr, const std::string& where, int error);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// path exists and may be written: some write permission bit set (without
// any, it counts as read-only even for root, whom the system would let
// write) and the system grants the write (an immutable file or folder,
// a read-only mount refuse it).
bool PathIsWritable(const std::string& path);
// Entries of a directory, without "." and "..", sorted by name.
std::vector<std::string> DirectoryEntries(const std::string& path);

}  // namespace mapi::mailfiles
