// The MAPI objects of a personal folder file: store, folders, messages and
// attachments. Each is created with one reference owned by the caller and
// keeps the file open as long as it lives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <mapidefs.h>

#include "providers/pst/pst_file.h"

namespace mapi::pst {

HRESULT CreateStoreObject(std::shared_ptr<PstFile> file, const std::string& displayName,
                          const MAPIUID& providerUid, IMsgStore** store);

// Opens a folder or message of file by entry identifier (root folder for an
// empty one), as IMsgStore::OpenEntry and IMAPIContainer::OpenEntry do.
// parentNid: the folder the call came through (0 from the store). A message
// whose record, recipients or attachments cannot be read fails as a whole
// with MAPI_E_CORRUPT_DATA.
HRESULT OpenEntryOf(std::shared_ptr<PstFile> file, uint32_t parentNid, ULONG cbEntryId,
                    const ENTRYID* entryId, LPCIID iid, ULONG flags, ULONG* objectType,
                    IUnknown** object);

HRESULT CreateFolderObject(std::shared_ptr<PstFile> file, SharedItem item, uint32_t nid,
                           uint32_t parentNid, IMAPIFolder** folder);
// nid 0 for an embedded message.
HRESULT CreateMessageObject(std::shared_ptr<PstFile> file, SharedItem item, uint32_t nid,
                            uint32_t parentNid, IMessage** message);

}  // namespace mapi::pst
