// Finding a store's IPM subtree and special folders, for the generator and
// the dump alike.
#pragma once

#include <string>
#include <vector>

#include <mapidefs.h>

#include "runtime/mapi_ptr.h"

namespace mapi::tools {

using EntryIdBytes = std::vector<BYTE>;

enum class SpecialFolder { kInbox, kOutbox, kWastebasket, kSentMail };
inline constexpr SpecialFolder kSpecialFolders[] = {SpecialFolder::kInbox, SpecialFolder::kOutbox,
                                                    SpecialFolder::kWastebasket,
                                                    SpecialFolder::kSentMail};

// "inbox", "outbox", "wastebasket", "sentmail": the names the dump prints.
const char* SpecialFolderName(SpecialFolder which);

// Entry id of the root of the IPM subtree.
HRESULT GetIpmSubtreeId(IMsgStore* store, EntryIdBytes* id);
// Entry id of a special folder: the inbox is the receive folder of class
// "IPM", the others come from the store's PR_IPM_*_ENTRYID properties.
// MAPI_E_NOT_FOUND when the store has no such folder.
HRESULT GetSpecialFolderId(IMsgStore* store, SpecialFolder which, EntryIdBytes* id);

// Opens a folder of store by entry id; with modify, for writing.
HRESULT OpenFolder(IMsgStore* store, const EntryIdBytes& id, bool modify,
                   ComRef<IMAPIFolder>* folder);

}  // namespace mapi::tools
