// Loading and saving the state of an open message.
#include "message_state.h"

#include <algorithm>

#include <mapix.h>

namespace mapi::embedded {
namespace {

HRESULT DeleteChildren(StoreCore& core, int64_t id, ObjectKind kind) {
    std::vector<int64_t> ids;
    HRESULT hr = core.Children(id, kind, -1, &ids);
    for (size_t i = 0; SUCCEEDED(hr) && i < ids.size(); ++i) hr = core.DeleteTree(ids[i]);
    return hr;
}

HRESULT TreeSize(StoreCore& core, int64_t id, ULONG* size) {
    uint64_t total = 0;
    if (HRESULT hr = core.TreeBytes(id, &total); FAILED(hr)) return hr;
    *size = static_cast<ULONG>(std::min<uint64_t>(total, 0x7FFFFFFF));
    return S_OK;
}

// Bytes of the values of a message that is not in the database yet, with
// everything below it: the same count TreeSize makes once it is saved.
ULONG NewMessageSize(const MessageState& message) {
    uint64_t total = 0;
    for (const auto& [propId, value] : message.changes)
        if (value) total += value->bytes.size();
    for (const RecipientRow& recipient : message.recipients)
        for (const auto& [propId, value] : recipient.props) total += value.bytes.size();
    for (const auto& [num, attach] : message.attachments) {
        if (!attach->committed) continue;
        for (const auto& [propId, value] : attach->changes)
            if (value) total += value->bytes.size();
        if (attach->embedded && attach->embedded->committed)
            total += NewMessageSize(*attach->embedded);
    }
    return static_cast<ULONG>(std::min<uint64_t>(total, 0x7FFFFFFF));
}

ULONG ChangedFlags(const MessageState& message) {
    auto flags = message.changes.find(PROP_ID(PR_MESSAGE_FLAGS));
    ULONG value = 0;
    if (flags != message.changes.end() && flags->second && flags->second->type == PT_LONG &&
        flags->second->bytes.size() == 4)
        std::memcpy(&value, flags->second->bytes.data(), 4);
    return value;
}

}  // namespace

HRESULT EnsureStored(StoreCore& core, int64_t id, StoredProps& stored) {
    if (stored.loaded) return S_OK;
    PropMap small;
    std::map<ULONG, ULONG> types;
    HRESULT hr = core.ReadPropSummary(id, &small, &types);
    if (FAILED(hr)) return hr;
    stored.small = std::move(small);
    stored.types = std::move(types);
    stored.loaded = true;
    return S_OK;
}

HRESULT OverlayRead(StoreCore& core, int64_t id, const PropChanges& changes, StoredProps& stored,
                    ULONG propId, EncodedProp* out) {
    auto changed = changes.find(propId);
    if (changed != changes.end()) {
        if (!changed->second) return MAPI_E_NOT_FOUND;
        *out = *changed->second;
        return S_OK;
    }
    if (id == 0) return MAPI_E_NOT_FOUND;
    if (HRESULT hr = EnsureStored(core, id, stored); FAILED(hr)) return hr;
    auto small = stored.small.find(propId);
    if (small != stored.small.end()) {
        *out = small->second;
        return S_OK;
    }
    if (stored.types.count(propId) == 0) return MAPI_E_NOT_FOUND;
    return core.ReadLargeProp(id, propId, out);
}

HRESULT OverlayTypes(StoreCore& core, int64_t id, const PropChanges& changes, StoredProps& stored,
                     std::vector<std::pair<ULONG, ULONG>>* out) {
    std::map<ULONG, ULONG> types;
    if (id != 0) {
        if (HRESULT hr = EnsureStored(core, id, stored); FAILED(hr)) return hr;
        types = stored.types;
    }
    for (const auto& [propId, value] : changes) {
        if (value)
            types[propId] = value->type;
        else
            types.erase(propId);
    }
    out->assign(types.begin(), types.end());
    return S_OK;
}

HRESULT LoadRecipients(StoreCore& core, MessageState& message) {
    if (message.recipientsLoaded) return S_OK;
    std::vector<RecipientRow> rows;
    ULONG next = 0;
    if (message.id != 0) {
        std::string blob;
        if (message.storedRecipients) {
            blob = std::move(*message.storedRecipients);
            message.storedRecipients.reset();
        } else if (HRESULT hr = core.ReadRecipients(message.id, &blob); FAILED(hr)) {
            return hr;
        }
        if (HRESULT hr = UnpackRecipients(blob, &rows); FAILED(hr)) return hr;
        for (const RecipientRow& row : rows) next = std::max(next, row.rowId + 1);
    }
    message.recipients = std::move(rows);
    message.nextRowId = next;
    message.recipientsLoaded = true;
    return S_OK;
}

HRESULT LoadAttachments(StoreCore& core, MessageState& message) {
    if (message.attachmentsLoaded) return S_OK;
    std::map<ULONG, std::shared_ptr<AttachState>> attachments;
    ULONG next = 0;
    if (message.id != 0) {
        std::vector<std::pair<int64_t, ULONG>> stored;
        HRESULT hr = core.ChildNumbers(message.id, ObjectKind::kAttachment, &stored);
        if (FAILED(hr)) return hr;
        for (const auto& [id, num] : stored) {
            auto attach = std::make_shared<AttachState>();
            attach->id = id;
            attach->num = num;
            attach->committed = true;
            next = std::max(next, num + 1);
            // A number is an attachment's identity; a second one with it would
            // silently hide the first.
            if (!attachments.emplace(num, std::move(attach)).second) return MAPI_E_CORRUPT_DATA;
        }
    }
    message.attachments = std::move(attachments);
    message.nextAttachNum = next;
    message.attachmentsLoaded = true;
    return S_OK;
}

HRESULT WriteMessageTree(StoreCore& core, MessageState& message, int64_t parent,
                         std::vector<int64_t*>* assigned) {
    HRESULT hr = S_OK;
    ObjectRow row;
    row.kind = ObjectKind::kMessage;
    row.parent = parent;
    row.assoc = message.assoc;
    row.num = message.embedded ? 1 : 0;
    bool fresh = message.id == 0;
    std::string recipients;
    uint64_t recipientBytes = 0;
    if (message.recipientsChanged) recipients = PackRecipients(message.recipients, &recipientBytes);
    if (fresh) {
        // Everything below a new message is new as well, so its size and
        // flags are known before anything is written.
        row.size = NewMessageSize(message);
        row.msgFlags = ChangedFlags(message);
        for (const auto& [num, attach] : message.attachments) row.hasAttach |= attach->committed;
        if (FAILED(hr = core.InsertObject(&row, message.changes,
                                          RecipientColumn{&recipients, recipientBytes})))
            return hr;
        message.id = row.id;
        assigned->push_back(&message.id);
    } else if (FAILED(hr = core.ApplyProps(message.id, message.changes)) ||
               (message.recipientsChanged &&
                FAILED(hr = core.WriteRecipients(message.id,
                                                 RecipientColumn{&recipients, recipientBytes})))) {
        return hr;
    }
    row.id = message.id;

    if (message.attachmentsLoaded) {
        for (int64_t id : message.deletedAttachments)
            if (FAILED(hr = core.DeleteTree(id))) return hr;
        for (auto& [num, attach] : message.attachments) {
            if (!attach->committed) continue;  // created but never saved: discarded
            if (attach->id == 0) {
                ObjectRow a;
                a.kind = ObjectKind::kAttachment;
                a.parent = message.id;
                a.num = num;
                if (FAILED(hr = core.InsertObject(&a, attach->changes))) return hr;
                attach->id = a.id;
                assigned->push_back(&attach->id);
            } else if (FAILED(hr = core.ApplyProps(attach->id, attach->changes))) {
                return hr;
            }
            MessageState* embedded = attach->embedded.get();
            if (embedded != nullptr && embedded->committed) {
                if (attach->replaceEmbedded &&
                    FAILED(hr = DeleteChildren(core, attach->id, ObjectKind::kMessage)))
                    return hr;
                if (FAILED(hr = WriteMessageTree(core, *embedded, attach->id, assigned))) return hr;
            }
        }
    }

    if (fresh) return S_OK;
    ULONG attachments = 0;
    if (FAILED(hr = core.CountChildren(message.id, ObjectKind::kAttachment, -1, &attachments)) ||
        FAILED(hr = TreeSize(core, message.id, &row.size)))
        return hr;
    row.hasAttach = attachments > 0;
    EncodedProp flags;
    hr = core.ReadProp(message.id, PROP_ID(PR_MESSAGE_FLAGS), &flags);
    if (SUCCEEDED(hr) && flags.type == PT_LONG && flags.bytes.size() == 4)
        std::memcpy(&row.msgFlags, flags.bytes.data(), 4);
    else if (FAILED(hr) && hr != MAPI_E_NOT_FOUND)
        return hr;
    return core.UpdateObject(row);
}

void ForgetChanges(MessageState& message) {
    message.changes.clear();
    message.stored = StoredProps();
    message.recipientsChanged = false;
    message.deletedAttachments.clear();
    for (auto& [num, attach] : message.attachments) {
        attach->changes.clear();
        attach->stored = StoredProps();
        attach->replaceEmbedded = false;
        if (attach->embedded) ForgetChanges(*attach->embedded);
    }
}

}  // namespace mapi::embedded
