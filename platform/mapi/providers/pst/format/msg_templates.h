// The columns of the tables every folder, message and store carries
// ([MS-PST] 2.4.4.4.1 hierarchy, 2.4.4.5.1 contents, 2.4.4.6.1 associated
// contents, 2.4.5.3 recipients, 2.4.6.1 attachments, and the receive
// folder table). The template nodes 0x60D... hold the same columns, so a
// folder's tables and its templates agree.
#pragma once

#include <cstdint>
#include <vector>

namespace mapi::pst::fmt {

const std::vector<uint32_t>& HierarchyColumns();
const std::vector<uint32_t>& ContentsColumns();
const std::vector<uint32_t>& AssocContentsColumns();
const std::vector<uint32_t>& RecipientColumns();
const std::vector<uint32_t>& AttachmentColumns();
const std::vector<uint32_t>& ReceiveFolderColumns();
// The outgoing queue (0x64C): what MAPI's outgoing queue table offers, a
// message's submit time and flags; the row id gives its entry id.
const std::vector<uint32_t>& OutgoingQueueColumns();

}  // namespace mapi::pst::fmt
