// The row sources behind the tables of a personal folder file: a folder's
// subfolders, messages and associated messages, a message's recipients and
// attachments, and the store's receive folders.
//
// A source fails as a whole (MAPI_E_CORRUPT_DATA) only when the list itself
// cannot be read; a row that cannot be opened still appears, its values
// reading as PT_ERROR, so a damaged item fails alone when it is copied.
// Rows are opened when asked for, not when the source is made.
#pragma once

#include <cstdint>
#include <memory>

#include "providers/pst/pst_file.h"
#include "runtime/row_access.h"

namespace mapi::pst {

enum class FolderList { Subfolders, Messages, Associated };

HRESULT FolderRows(std::shared_ptr<PstFile> file, SharedItem folder, uint32_t folderNid,
                   FolderList which, std::shared_ptr<RowSource>* source);
HRESULT RecipientRows(std::shared_ptr<PstFile> file, SharedItem message, uint32_t codepage,
                      std::shared_ptr<RowSource>* source);
HRESULT AttachmentRows(std::shared_ptr<PstFile> file, SharedItem message, uint32_t codepage,
                       std::shared_ptr<RowSource>* source);
// PR_MESSAGE_CLASS, PR_ENTRYID and PR_RECORD_KEY of each receive folder.
std::shared_ptr<RowSource> ReceiveFolderRows(std::shared_ptr<PstFile> file);

enum class TableKind { Hierarchy, Contents, Recipients, Attachments, ReceiveFolders };
// The platform table over source, with the usual columns of its kind until
// the caller sets its own.
HRESULT MakeTable(std::shared_ptr<RowSource> source, TableKind kind, IMAPITable** table);

// Counts of a folder's lists; false when the list cannot be read. The
// caller holds the lock.
bool CountFolderList(libpff_item_t* folder, FolderList which, int* count);

}  // namespace mapi::pst
