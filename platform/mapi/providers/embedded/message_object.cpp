// Message and attachment objects over MessageState.
#include "message_object.h"

#include <algorithm>
#include <optional>

#include <mapix.h>

#include "message_recipients.h"
#include "message_state.h"
#include "object_props.h"
#include "packed_props.h"
#include "prop_object.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"
#include "store_tables.h"

namespace mapi::embedded {
namespace {

HRESULT NewMessageFromState(std::shared_ptr<StoreCore> core, std::shared_ptr<MessageState> state,
                            IMessage** out);

class Attach final : public PropObject<IAttach> {
public:
    Attach(std::shared_ptr<StoreCore> core, std::shared_ptr<MessageState> message,
           std::shared_ptr<AttachState> attach)
        : core_(std::move(core)), message_(std::move(message)), attach_(std::move(attach)) {}

    HRESULT SaveChanges(ULONG) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        attach_->committed = true;
        return S_OK;
    }

    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags,
                         LPUNKNOWN* out) override {
        if (PROP_ID(tag) != PROP_ID(PR_ATTACH_DATA_OBJ) || iid == nullptr || *iid != IID_IMessage)
            return PropObject<IAttach>::OpenProperty(tag, iid, options, flags, out);
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        bool create = (flags & MAPI_CREATE) != 0;
        if (create && core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        if (create || !attach_->embedded) {
            auto state = std::make_shared<MessageState>();
            state->embedded = true;
            if (create) {
                attach_->replaceEmbedded = attach_->id != 0;
            } else {
                std::vector<int64_t> ids;
                HRESULT hr = attach_->id == 0
                                 ? MAPI_E_NOT_FOUND
                                 : core_->Children(attach_->id, ObjectKind::kMessage, -1, &ids);
                if (FAILED(hr)) return hr;
                if (ids.empty()) return MAPI_E_NOT_FOUND;
                state->id = ids.front();
                state->committed = true;
            }
            attach_->embedded = std::move(state);
        }
        IMessage* message = nullptr;
        HRESULT hr = NewMessageFromState(core_, attach_->embedded, &message);
        if (FAILED(hr)) return hr;
        *out = message;
        return S_OK;
    }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IAttachment, IID_IMAPIProp});
    }
    StoreCore& Core() override { return *core_; }
    bool ComputedValue(ULONG id, void*, SPropValue* out) override {
        if (id == PROP_ID(PR_ATTACH_NUM)) {
            *out = LongValue(PR_ATTACH_NUM, static_cast<LONG>(attach_->num));
            return true;
        }
        if (id == PROP_ID(PR_OBJECT_TYPE)) {
            *out = LongValue(PR_OBJECT_TYPE, MAPI_ATTACH);
            return true;
        }
        return false;
    }
    std::vector<ULONG> ComputedTags() override { return {PR_ATTACH_NUM, PR_OBJECT_TYPE}; }
    bool IsReadOnlyProp(ULONG id) override {
        return id == PROP_ID(PR_ATTACH_NUM) || id == PROP_ID(PR_OBJECT_TYPE) ||
               id == PROP_ID(PR_INSTANCE_KEY);
    }
    HRESULT StoredTypes(std::vector<std::pair<ULONG, ULONG>>* out) override {
        return OverlayTypes(*core_, attach_->id, attach_->changes, attach_->stored, out);
    }
    HRESULT ReadStored(ULONG id, EncodedProp* out) override {
        return OverlayRead(*core_, attach_->id, attach_->changes, attach_->stored, id, out);
    }
    HRESULT WriteStored(ULONG id, EncodedProp value) override {
        attach_->changes[id] = std::move(value);
        return S_OK;
    }
    HRESULT RemoveStored(ULONG id) override {
        attach_->changes[id] = std::nullopt;
        return S_OK;
    }
    bool CanWrite() override { return !core_->ReadOnly(); }

private:
    std::shared_ptr<StoreCore> core_;
    std::shared_ptr<MessageState> message_;  // keeps the parent alive
    std::shared_ptr<AttachState> attach_;
};

class Message final : public PropObject<IMessage> {
public:
    Message(std::shared_ptr<StoreCore> core, std::shared_ptr<MessageState> state)
        : core_(std::move(core)), state_(std::move(state)) {}

    HRESULT SaveChanges(ULONG) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        if (state_->embedded) {
            // Goes to the database with the message that holds the attachment.
            state_->committed = true;
            return S_OK;
        }
        auto lock = core_->Lock();
        Transaction tx(core_->db());
        if (tx.BeginCode() != SQLITE_OK) return HrFromSqlite(tx.BeginCode());
        std::vector<int64_t*> assigned;
        HRESULT hr = WriteMessageTree(*core_, *state_, state_->folder, &assigned);
        if (SUCCEEDED(hr)) {
            int rc = tx.Commit();
            if (rc != SQLITE_OK) hr = HrFromSqlite(rc);
        }
        if (FAILED(hr)) {
            for (int64_t* id : assigned) *id = 0;
            return hr;
        }
        ForgetChanges(*state_);
        dbRow_.reset();
        return S_OK;
    }

    HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        HRESULT hr = LoadAttachments(*core_, *state_);
        if (FAILED(hr)) return hr;
        auto rows = std::make_shared<MemoryRows>();
        for (const auto& [num, attach] : state_->attachments) {
            if (!attach->committed) continue;
            // Attachment data stays on disk: the table shows the small properties.
            PropMap props;
            if (attach->id != 0) {
                if (FAILED(hr = EnsureStored(*core_, attach->id, attach->stored))) return hr;
                props = attach->stored.small;
            }
            for (const auto& [propId, value] : attach->changes) {
                if (!value)
                    props.erase(propId);
                else if (!IsLazyProp(propId, value->bytes.size()))
                    props[propId] = *value;
            }
            int64_t key = attach->id != 0 ? attach->id : -static_cast<int64_t>(num) - 1;
            std::vector<SPropValue> extra(3);
            extra[0] = LongValue(PR_ATTACH_NUM, static_cast<LONG>(num));
            extra[1] = LongValue(PR_OBJECT_TYPE, MAPI_ATTACH);
            extra[2].ulPropTag = PR_INSTANCE_KEY;
            extra[2].Value.bin = SBinary{sizeof key, reinterpret_cast<LPBYTE>(&key)};
            if (FAILED(hr = AddMemoryRow(*rows, props, extra))) return hr;
        }
        return CreateTable(rows, AttachmentColumns(), table);
    }

    HRESULT OpenAttach(ULONG num, LPCIID iid, ULONG, LPATTACH* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (iid != nullptr && *iid != IID_IAttachment && *iid != IID_IMAPIProp)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        HRESULT hr = LoadAttachments(*core_, *state_);
        if (FAILED(hr)) return hr;
        auto found = state_->attachments.find(num);
        if (found == state_->attachments.end()) return MAPI_E_NOT_FOUND;
        *out = new Attach(core_, state_, found->second);
        return S_OK;
    }

    HRESULT CreateAttach(LPCIID iid, ULONG, ULONG* num, LPATTACH* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (iid != nullptr && *iid != IID_IAttachment && *iid != IID_IMAPIProp)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        HRESULT hr = LoadAttachments(*core_, *state_);
        if (FAILED(hr)) return hr;
        auto attach = std::make_shared<AttachState>();
        attach->num = state_->nextAttachNum++;
        state_->attachments[attach->num] = attach;
        if (num != nullptr) *num = attach->num;
        *out = new Attach(core_, state_, std::move(attach));
        return S_OK;
    }

    HRESULT DeleteAttach(ULONG num, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        HRESULT hr = LoadAttachments(*core_, *state_);
        if (FAILED(hr)) return hr;
        auto found = state_->attachments.find(num);
        if (found == state_->attachments.end()) return MAPI_E_NOT_FOUND;
        if (found->second->id != 0) state_->deletedAttachments.push_back(found->second->id);
        state_->attachments.erase(found);
        return S_OK;
    }

    HRESULT GetRecipientTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        HRESULT hr = LoadRecipients(*core_, *state_);
        if (FAILED(hr)) return hr;
        std::shared_ptr<MemoryRows> rows;
        if (FAILED(hr = RecipientTableRows(state_->recipients, &rows))) return hr;
        return CreateTable(rows, RecipientColumns(), table);
    }

    HRESULT ModifyRecipients(ULONG flags, LPADRLIST mods) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        if (mods == nullptr) return MAPI_E_INVALID_PARAMETER;
        HRESULT hr = LoadRecipients(*core_, *state_);
        if (FAILED(hr)) return hr;
        std::vector<RecipientRow> rows = state_->recipients;
        ULONG next = state_->nextRowId;
        if ((flags & (MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) == 0) {
            rows.clear();
            next = 0;
        }
        for (ULONG i = 0; i < mods->cEntries; ++i) {
            const ADRENTRY& entry = mods->aEntries[i];
            if (entry.rgPropVals == nullptr && entry.cValues != 0) return MAPI_E_INVALID_PARAMETER;
            RecipientRow recipient;
            bool haveRowId = false;
            for (ULONG v = 0; v < entry.cValues; ++v) {
                const SPropValue& value = entry.rgPropVals[v];
                if (PROP_ID(value.ulPropTag) == PROP_ID(PR_ROWID)) {
                    recipient.rowId = static_cast<ULONG>(value.Value.l);
                    haveRowId = PROP_TYPE(value.ulPropTag) == PT_LONG;
                    continue;
                }
                EncodedProp encoded;
                if (SUCCEEDED(EncodeValue(value, &encoded)))
                    recipient.props[PROP_ID(value.ulPropTag)] = std::move(encoded);
            }
            if (flags & (MODRECIP_MODIFY | MODRECIP_REMOVE)) {
                if (!haveRowId) return MAPI_E_INVALID_PARAMETER;
                auto it = std::find_if(rows.begin(), rows.end(), [&](const RecipientRow& r) {
                    return r.rowId == recipient.rowId;
                });
                if (it == rows.end()) return MAPI_E_NOT_FOUND;
                if (flags & MODRECIP_REMOVE)
                    rows.erase(it);
                else
                    it->props = std::move(recipient.props);
                continue;
            }
            recipient.rowId = next++;
            rows.push_back(std::move(recipient));
        }
        state_->recipients = std::move(rows);
        state_->nextRowId = next;
        state_->recipientsChanged = true;
        return S_OK;
    }

    // The database row as just read by whoever opened the message.
    void KnowRow(const ObjectRow& row) { dbRow_ = row; }

    HRESULT SubmitMessage(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetReadFlag(ULONG) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMessage, IID_IMAPIProp});
    }
    StoreCore& Core() override { return *core_; }

    // The object row as it stands with the unsaved changes.
    ObjectRow LiveRow() {
        ObjectRow row;
        row.id = state_->id;
        row.kind = ObjectKind::kMessage;
        row.parent = state_->folder;
        row.assoc = state_->assoc;
        row.num = state_->embedded ? 1 : 0;
        if (state_->id != 0) {
            if (!dbRow_ || dbRow_->id != state_->id) {
                dbRow_.emplace();
                if (FAILED(core_->LoadObject(state_->id, &*dbRow_))) dbRow_->id = state_->id;
            }
            row = *dbRow_;
        }
        EncodedProp flags;
        if (SUCCEEDED(ReadStored(PROP_ID(PR_MESSAGE_FLAGS), &flags)) && flags.type == PT_LONG &&
            flags.bytes.size() == 4)
            std::memcpy(&row.msgFlags, flags.bytes.data(), 4);
        else
            row.msgFlags = 0;
        if (state_->attachmentsLoaded) {
            row.hasAttach = false;
            for (const auto& [num, attach] : state_->attachments)
                row.hasAttach |= attach->committed;
        }
        if (state_->id == 0) {
            ULONG size = 0;
            for (const auto& [propId, value] : state_->changes)
                if (value) size += MapiValueSize(*value);
            row.size = size;
        }
        return row;
    }

    bool Identified(ULONG id) const {
        bool identifier = id == PROP_ID(PR_ENTRYID) || id == PROP_ID(PR_RECORD_KEY) ||
                          id == PROP_ID(PR_INSTANCE_KEY) || id == PROP_ID(PR_PARENT_ENTRYID);
        if (!identifier) return true;
        if (state_->embedded) return false;
        return state_->id != 0 || id == PROP_ID(PR_PARENT_ENTRYID);
    }

    bool ComputedValue(ULONG id, void* parent, SPropValue* out) override {
        // Asked for every property: the row is worked out only for the few
        // that are computed.
        if (!IsComputedProp(ObjectKind::kMessage, id) && id != PROP_ID(PR_MESSAGE_FLAGS))
            return false;
        if (!Identified(id)) return false;
        return ComputeObjectProp(*core_, LiveRow(), id, -1, parent, out);
    }
    std::vector<ULONG> ComputedTags() override {
        std::vector<ULONG> tags;
        ObjectRow row;
        row.kind = ObjectKind::kMessage;
        for (ULONG tag : ComputedObjectTags(row))
            if (Identified(PROP_ID(tag))) tags.push_back(tag);
        return tags;
    }
    bool IsReadOnlyProp(ULONG id) override { return IsComputedProp(ObjectKind::kMessage, id); }
    HRESULT StoredTypes(std::vector<std::pair<ULONG, ULONG>>* out) override {
        return OverlayTypes(*core_, state_->id, state_->changes, state_->stored, out);
    }
    HRESULT ReadStored(ULONG id, EncodedProp* out) override {
        return OverlayRead(*core_, state_->id, state_->changes, state_->stored, id, out);
    }
    HRESULT WriteStored(ULONG id, EncodedProp value) override {
        state_->changes[id] = std::move(value);
        return S_OK;
    }
    HRESULT RemoveStored(ULONG id) override {
        state_->changes[id] = std::nullopt;
        return S_OK;
    }
    bool CanWrite() override { return !core_->ReadOnly(); }

private:
    std::shared_ptr<StoreCore> core_;
    std::shared_ptr<MessageState> state_;
    std::optional<ObjectRow> dbRow_;  // the database row, read once per save
};

HRESULT NewMessageFromState(std::shared_ptr<StoreCore> core, std::shared_ptr<MessageState> state,
                            IMessage** out) {
    *out = new Message(std::move(core), std::move(state));
    return S_OK;
}

}  // namespace

HRESULT NewMessageObject(std::shared_ptr<StoreCore> core, int64_t folder, bool assoc,
                         IMessage** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    auto state = std::make_shared<MessageState>();
    state->folder = folder;
    state->assoc = assoc;
    state->recipientsLoaded = true;
    state->attachmentsLoaded = true;
    return NewMessageFromState(std::move(core), std::move(state), out);
}

HRESULT OpenMessageObject(std::shared_ptr<StoreCore> core, int64_t id, IMessage** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    // The row and the property directory come in one query, so that a copy
    // reading the whole message finds its properties already there.
    ObjectRow row;
    std::string packed;
    auto state = std::make_shared<MessageState>();
    std::string recipients;
    HRESULT hr = core->LoadObjectWithProps(id, &row, &packed, &recipients);
    const bool haveRecipients = SUCCEEDED(hr);
    // A directory that cannot be read fails the reads, not the opening.
    state->stored.loaded =
        SUCCEEDED(hr) &&
        SUCCEEDED(UnpackSummary(packed, &state->stored.small, &state->stored.types));
    if (FAILED(hr)) hr = core->LoadObject(id, &row);
    if (FAILED(hr)) return hr;
    if (row.kind != ObjectKind::kMessage || row.num != 0) return MAPI_E_NOT_FOUND;
    if (haveRecipients) state->storedRecipients = std::move(recipients);
    state->id = id;
    state->folder = row.parent;
    state->assoc = row.assoc;
    auto* message = new Message(std::move(core), std::move(state));
    message->KnowRow(row);
    *out = message;
    return S_OK;
}

}  // namespace mapi::embedded
