// The in-memory state of an open message: changes not yet saved, its
// recipients and attachments, and embedded messages below them.
//
// Ownership: message and attachment objects share these states through
// shared_ptr; a state lives as long as any object that shows it. Not
// thread-safe: one open message is used by one thread at a time.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "message_recipients.h"
#include "store_core.h"

namespace mapi::embedded {

// What the database holds for one object, read once on first use: every
// property's type and the small values (large ones stay on disk).
struct StoredProps {
    bool loaded = false;
    PropMap small;
    std::map<ULONG, ULONG> types;
};

struct MessageState;

struct AttachState {
    int64_t id = 0;  // 0 until saved to the database
    ULONG num = 0;   // PR_ATTACH_NUM
    PropChanges changes;
    StoredProps stored;
    bool committed = false;                  // SaveChanges was called on it (saved ones always are)
    std::shared_ptr<MessageState> embedded;  // the embedded message once opened
    bool replaceEmbedded = false;            // a new embedded message replaces the stored one
};

struct MessageState {
    int64_t id = 0;      // 0 until saved to the database
    int64_t folder = 0;  // the folder of a top-level message
    bool assoc = false;
    bool embedded = false;
    bool committed = false;  // embedded messages: SaveChanges was called
    PropChanges changes;
    StoredProps stored;

    // The recipient column as read with the message's row, decoded on
    // first use; without it LoadRecipients reads the column itself.
    std::optional<std::string> storedRecipients;
    bool recipientsLoaded = false;
    bool recipientsChanged = false;
    std::vector<RecipientRow> recipients;
    ULONG nextRowId = 0;

    bool attachmentsLoaded = false;
    std::map<ULONG, std::shared_ptr<AttachState>> attachments;  // by PR_ATTACH_NUM
    std::vector<int64_t> deletedAttachments;
    ULONG nextAttachNum = 0;
};

// Reads what the database holds for id into stored, once.
HRESULT EnsureStored(StoreCore& core, int64_t id, StoredProps& stored);

// Reads with the changes laid over what the database holds for id.
HRESULT OverlayRead(StoreCore& core, int64_t id, const PropChanges& changes, StoredProps& stored,
                    ULONG propId, EncodedProp* out);
HRESULT OverlayTypes(StoreCore& core, int64_t id, const PropChanges& changes, StoredProps& stored,
                     std::vector<std::pair<ULONG, ULONG>>* out);

HRESULT LoadRecipients(StoreCore& core, MessageState& message);
HRESULT LoadAttachments(StoreCore& core, MessageState& message);

// Writes message with everything below it; the caller holds the store lock
// and a transaction. parent is the folder (top level) or the attachment row.
// Row ids assigned on the way are listed in *assigned so a failed
// transaction can forget them.
HRESULT WriteMessageTree(StoreCore& core, MessageState& message, int64_t parent,
                         std::vector<int64_t*>* assigned);

// After a committed save: the changes are now the stored state, and what
// was read from the database before is stale.
void ForgetChanges(MessageState& message);

}  // namespace mapi::embedded
