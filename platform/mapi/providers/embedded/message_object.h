// IMessage and IAttach of the embedded store.
//
// A message keeps its changes in memory (properties, recipients, attachments
// and embedded messages) until SaveChanges on the message itself, which
// writes all of it in one SQLite transaction: a crash never leaves half a
// message. SaveChanges on an attachment or an embedded message only commits
// it into its parent in memory.
#pragma once

#include <memory>

#include <mapidefs.h>

#include "store_core.h"

namespace mapi::embedded {

// A new, unsaved message in folder.
HRESULT NewMessageObject(std::shared_ptr<StoreCore> core, int64_t folder, bool assoc,
                         IMessage** out);
// The saved message with this id (it must be a message of a folder).
HRESULT OpenMessageObject(std::shared_ptr<StoreCore> core, int64_t id, IMessage** out);

}  // namespace mapi::embedded
