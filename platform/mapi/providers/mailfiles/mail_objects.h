// The folder, message and attachment objects of a mail file store, and the
// opening of entries by identifier. Each is created with one reference
// owned by the caller and keeps the store core alive.
#pragma once

#include <memory>
#include <string>

#include <mapidefs.h>

#include "mime/mail_item.h"
#include "providers/mailfiles/store_core.h"

namespace mapi::mailfiles {

// Reads and converts an item. MAPI_E_CORRUPT_DATA when it is no mail
// message; MAPI_E_NOT_FOUND when it is gone.
HRESULT LoadItem(StoreCore& core, const FolderPath& folder, const std::string& key,
                 mime::MailItem* item, uint64_t* size);

// A new, unsaved message of folder; SaveChanges adds it to the folder.
HRESULT NewMessage(std::shared_ptr<StoreCore> core, const FolderPath& folder, IMessage** out);
// A saved message, read-only.
HRESULT OpenMessage(std::shared_ptr<StoreCore> core, const FolderPath& folder,
                    const std::string& key, IMessage** out);

HRESULT OpenFolder(std::shared_ptr<StoreCore> core, EntryKind kind, const FolderPath& folder,
                   IMAPIFolder** out);

// IMsgStore::OpenEntry and IMAPIContainer::OpenEntry: an empty identifier
// opens the root folder.
HRESULT OpenEntryOf(const std::shared_ptr<StoreCore>& core, ULONG cb, const ENTRYID* id,
                    LPCIID iid, ULONG flags, ULONG* type, LPUNKNOWN* out);

// Properties of the folder kind/path as its object and the hierarchy
// table show them.
void FolderProps(StoreCore& core, EntryKind kind, const FolderPath& folder, mime::PropBag& out);

}  // namespace mapi::mailfiles
