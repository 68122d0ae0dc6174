// The MAPI objects of a writable personal folder file: store, folders,
// messages and attachments over a WritableFile. Folder changes are
// committed at once; a message reaches the file with its SaveChanges, each
// save one durable commit.
#pragma once

#include <functional>
#include <memory>

#include <mapidefs.h>

#include "providers/pst/format/msg_message.h"
#include "providers/pst/pstw_file.h"

namespace mapi::pst {

// Where a message's SaveChanges puts its content: a top-level message into
// the store (nid receives its node id on the first save), an embedded one
// into its attachment.
using MessageSave = std::function<HRESULT(const fmt::MessageContent& content, uint32_t* nid)>;

// A message object with one reference. nid 0: not saved yet (or embedded);
// folder 0: embedded (no entry or parent identifiers).
HRESULT CreateMessageObject(std::shared_ptr<WritableFile> file, fmt::MessageContent content,
                            uint32_t nid, uint32_t folder, MessageSave save, IMessage** out);

HRESULT CreateFolderObject(std::shared_ptr<WritableFile> file, uint32_t nid, IMAPIFolder** out);

// Opens whatever entry id names in file (folder or message).
HRESULT OpenWritableEntry(const std::shared_ptr<WritableFile>& file, ULONG cb, const ENTRYID* id,
                          ULONG* type, IUnknown** out);

// IMAPIFolder::DeleteMessages and SetReadFlags for folder; the caller holds
// file.Mutex(). Entries that name no message of folder are skipped and
// reported as MAPI does (MAPI_E_NOT_FOUND for a single entry, else
// MAPI_W_PARTIAL_COMPLETION). A null list for SetReadFlags is every message.
HRESULT DeleteFolderMessages(WritableFile& file, uint32_t folder, LPENTRYLIST list);
HRESULT SetFolderReadFlags(WritableFile& file, uint32_t folder, LPENTRYLIST list, ULONG flags);

// IMAPIFolder::DeleteFolder and CopyFolder for the subfolder of parent that
// cb/eid names; the caller holds file.Mutex(). The root, the IPM subtree,
// the search root and the folders the store's properties name are never
// deleted (MAPI_E_NO_ACCESS), nor a tree holding one of them. A copy or
// move stays within this store (MAPI_E_NO_SUPPORT for a folder of
// another) and never below itself (MAPI_E_FOLDER_CYCLE).
HRESULT DeleteSubfolder(WritableFile& file, uint32_t parent, ULONG cb, LPENTRYID eid, ULONG flags);
HRESULT CopySubfolder(WritableFile& file, uint32_t parent, ULONG cb, LPENTRYID eid, LPVOID dest, LPTSTR newName,
                      ULONG flags);

HRESULT CreateWritableStoreObject(std::shared_ptr<WritableFile> file, const std::string& displayName,
                                  IMsgStore** out);

}  // namespace mapi::pst
