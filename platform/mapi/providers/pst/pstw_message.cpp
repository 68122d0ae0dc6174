// Messages and attachments of a writable personal folder file. Both keep
// their content in memory until SaveChanges: an attachment saves into its
// message, a message into the store (or, embedded, into its attachment).
#include <map>

#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>

#include "providers/pst/format/msg_values.h"
#include "providers/pst/pstw_objects.h"
#include "providers/pst/pstw_props.h"
#include "providers/pst/pstw_values.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/table.h"

namespace mapi::pst {
namespace {

fmt::PropValue Long(ULONG tag, uint32_t v) { return fmt::LongValue(tag, v); }
fmt::PropValue Binary(ULONG tag, const std::vector<BYTE>& b) { return {tag, fmt::Bytes(b.begin(), b.end())}; }

// Rows of a table made from value lists (recipients, attachments).
HRESULT TableOf(const std::vector<Values>& rows, const std::vector<ULONG>& columns, IMAPITable** out) {
    auto source = std::make_shared<MemoryRows>();
    for (const Values& row : rows) {
        auto buffer = AllocateMapi<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * (row.size() + 1)));
        if (!buffer) return MAPI_E_NOT_ENOUGH_MEMORY;
        ULONG n = 0;
        for (const fmt::PropValue& v : row)
            if (SUCCEEDED(DecodeValue(v, buffer.get(), &buffer.get()[n]))) ++n;
        HRESULT hr = source->AddRow(buffer.get(), n);
        if (FAILED(hr)) return hr;
    }
    auto tags = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(columns.size()));
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    tags->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags->aulPropTag);
    return CreateTable(source, tags.get(), out);
}

class Message;

class Attachment final : public PstwObject<IAttach> {
public:
    Attachment(std::shared_ptr<WritableFile> file, ComRef<IMessage> parent, Message* owner, ULONG number,
               fmt::AttachmentContent content)
        : PstwObject(std::move(file)), parent_(std::move(parent)), owner_(owner), number_(number),
          content_(std::move(content)) {}

    HRESULT SaveChanges(ULONG) override;

protected:
    bool SupportsInterface(REFIID riid) const override { return IidIn(riid, {IID_IMAPIProp, IID_IAttachment}); }
    Values& Stored() override { return content_.props; }
    Values Computed() override {
        return {Long(PR_ATTACH_NUM, number_), Long(PR_OBJECT_TYPE, MAPI_ATTACH)};
    }
    bool IsComputed(ULONG id) override {
        // PR_ATTACH_DATA_OBJ shares its id with PR_ATTACH_DATA_BIN, which is
        // stored like any value; the object is reached through OpenProperty.
        return id == PROP_ID(PR_ATTACH_NUM) || id == PROP_ID(PR_OBJECT_TYPE);
    }
    HRESULT OpenObject(ULONG tag, REFIID iid, ULONG flags, IUnknown** out) override {
        if (PROP_ID(tag) != PROP_ID(PR_ATTACH_DATA_OBJ) || PROP_TYPE(tag) != PT_OBJECT) return MAPI_E_NO_SUPPORT;
        if (iid != IID_IMessage) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (content_.embedded == nullptr) {
            if ((flags & MAPI_CREATE) == 0) return MAPI_E_NOT_FOUND;
            content_.embedded = std::make_shared<fmt::MessageContent>();
        }
        // The embedded message saves into this attachment, which it keeps alive.
        AddRef();
        std::shared_ptr<Attachment> self(this, [](Attachment* a) { a->Release(); });
        MessageSave save = [self](const fmt::MessageContent& content, uint32_t*) -> HRESULT {
            self->content_.embedded = std::make_shared<fmt::MessageContent>(content);
            fmt::SetValue(self->content_.props, Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG));
            return S_OK;
        };
        return CreateMessageObject(File(), *content_.embedded, 0, 0, std::move(save),
                                   reinterpret_cast<IMessage**>(out));
    }

private:
    ComRef<IMessage> parent_;
    Message* owner_;
    ULONG number_;
    fmt::AttachmentContent content_;
};

class Message final : public PstwObject<IMessage> {
public:
    Message(std::shared_ptr<WritableFile> file, fmt::MessageContent content, uint32_t nid, uint32_t folder,
            MessageSave save)
        : PstwObject(std::move(file)), props_(std::move(content.props)), nid_(nid), folder_(folder),
          save_(std::move(save)) {
        for (Values& r : content.recipients) recipients_.push_back({nextRow_++, std::move(r)});
        for (fmt::AttachmentContent& a : content.attachments) attachments_[nextAttach_++] = std::move(a);
    }

    HRESULT SaveChanges(ULONG) override {
        return Guard([&] {
            fmt::MessageContent content;
            content.props = props_;
            for (const auto& [row, values] : recipients_) content.recipients.push_back(values);
            for (const auto& [number, a] : attachments_) content.attachments.push_back(a);
            return save_(content, &nid_);
        });
    }
    HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* table) override {
        return Guard([&] {
            std::vector<Values> rows;
            for (const auto& [number, a] : attachments_) {
                Values row;
                for (const fmt::PropValue& v : a.props)
                    if (v.bytes.size() <= 4096) row.push_back(v);
                fmt::SetValue(row, Long(PR_ATTACH_NUM, number));
                if (a.embedded != nullptr) fmt::SetValue(row, Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG));
                rows.push_back(std::move(row));
            }
            return TableOf(rows, {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_DISPLAY_NAME_W}, table);
        });
    }
    HRESULT OpenAttach(ULONG number, LPCIID, ULONG, LPATTACH* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        return Guard([&] {
            auto it = attachments_.find(number);
            if (it == attachments_.end()) return HRESULT(MAPI_E_NOT_FOUND);
            *out = new Attachment(File(), ComRef<IMessage>::Share(this), this, number, it->second);
            return HRESULT(S_OK);
        });
    }
    HRESULT CreateAttach(LPCIID, ULONG, ULONG* number, LPATTACH* out) override {
        if (out == nullptr || number == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        return Guard([&] {
            *number = nextAttach_++;
            *out = new Attachment(File(), ComRef<IMessage>::Share(this), this, *number, {});
            return HRESULT(S_OK);
        });
    }
    HRESULT DeleteAttach(ULONG number, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return Guard([&] { return attachments_.erase(number) == 1 ? HRESULT(S_OK) : HRESULT(MAPI_E_NOT_FOUND); });
    }
    HRESULT GetRecipientTable(ULONG, LPMAPITABLE* table) override {
        return Guard([&] {
            std::vector<Values> rows;
            for (const auto& [row, values] : recipients_) {
                Values r = values;
                fmt::SetValue(r, Long(PR_ROWID, row));
                rows.push_back(std::move(r));
            }
            return TableOf(rows, {PR_ROWID, PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE, PR_EMAIL_ADDRESS_W}, table);
        });
    }
    HRESULT ModifyRecipients(ULONG flags, LPADRLIST mods) override {
        if (mods == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] { return Modify(flags, *mods); });
    }
    HRESULT SubmitMessage(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetReadFlag(ULONG flags) override {
        return Guard([&] {
            uint32_t value = 0;
            if (const fmt::PropValue* f = fmt::FindValue(props_, PR_MESSAGE_FLAGS); f != nullptr && f->bytes.size() == 4)
                value = fmt::Get32(f->bytes.data());
            value = (flags & CLEAR_READ_FLAG) != 0 ? value & ~MSGFLAG_READ : value | MSGFLAG_READ;
            fmt::SetValue(props_, Long(PR_MESSAGE_FLAGS, value));
            return nid_ == 0 ? HRESULT(S_OK) : SaveChanges(0);
        });
    }

    void StoreAttachment(ULONG number, const fmt::AttachmentContent& content) { attachments_[number] = content; }

protected:
    bool SupportsInterface(REFIID riid) const override { return IidIn(riid, {IID_IMAPIProp, IID_IMessage}); }
    Values& Stored() override { return props_; }
    Values Computed() override {
        Values v = {Long(PR_OBJECT_TYPE, MAPI_OBJECT_TYPE_MESSAGE),
                    fmt::BoolValue(PR_HASATTACH, !attachments_.empty())};
        if (folder_ != 0) {
            v.push_back(Binary(PR_PARENT_ENTRYID, File()->EntryId(folder_)));
            MAPIUID uid = File()->StoreUid();
            v.push_back({PR_STORE_RECORD_KEY, fmt::Bytes(uid.ab, uid.ab + 16)});
        }
        if (nid_ != 0) {
            v.push_back(Binary(PR_ENTRYID, File()->EntryId(nid_)));
            v.push_back(Binary(PR_RECORD_KEY, File()->EntryId(nid_)));
            if (const auto* m = File()->Model().FindMessage(nid_); m != nullptr)
                if (const fmt::PropValue* size = fmt::FindValue(m->props, PR_MESSAGE_SIZE); size != nullptr)
                    v.push_back(*size);
        }
        return v;
    }
    bool IsComputed(ULONG id) override {
        switch (id) {
            case PROP_ID(PR_OBJECT_TYPE):
            case PROP_ID(PR_HASATTACH):
            case PROP_ID(PR_PARENT_ENTRYID):
            case PROP_ID(PR_STORE_RECORD_KEY):
            case PROP_ID(PR_ENTRYID):
            case PROP_ID(PR_RECORD_KEY):
            case PROP_ID(PR_MESSAGE_SIZE):
            case PROP_ID(PR_MESSAGE_RECIPIENTS):
            case PROP_ID(PR_MESSAGE_ATTACHMENTS):
                return true;
            default:
                return false;
        }
    }
    HRESULT OpenObject(ULONG tag, REFIID iid, ULONG, IUnknown** out) override {
        if (PROP_TYPE(tag) != PT_OBJECT) return MAPI_E_NO_SUPPORT;
        if (iid != IID_IMAPITable) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (PROP_ID(tag) == PROP_ID(PR_MESSAGE_RECIPIENTS))
            return GetRecipientTable(0, reinterpret_cast<IMAPITable**>(out));
        if (PROP_ID(tag) == PROP_ID(PR_MESSAGE_ATTACHMENTS))
            return GetAttachmentTable(0, reinterpret_cast<IMAPITable**>(out));
        return MAPI_E_NOT_FOUND;
    }

private:
    static constexpr ULONG MAPI_OBJECT_TYPE_MESSAGE = MAPI_MESSAGE;

    HRESULT Modify(ULONG flags, const ADRLIST& mods) {
        auto valuesOf = [](const ADRENTRY& e, Values* out) -> HRESULT {
            out->clear();
            for (ULONG i = 0; i < e.cValues; ++i) {
                const SPropValue& v = e.rgPropVals[i];
                if (PROP_ID(v.ulPropTag) == PROP_ID(PR_ROWID) || PROP_TYPE(v.ulPropTag) == PT_ERROR) continue;
                fmt::PropValue encoded;
                HRESULT hr = EncodeValue(v, &encoded);
                if (FAILED(hr)) return hr;
                fmt::SetValue(*out, std::move(encoded));
            }
            return S_OK;
        };
        auto rowIdOf = [](const ADRENTRY& e, ULONG* row) {
            for (ULONG i = 0; i < e.cValues; ++i)
                if (e.rgPropVals[i].ulPropTag == PR_ROWID) {
                    *row = e.rgPropVals[i].Value.ul;
                    return true;
                }
            return false;
        };
        std::vector<std::pair<ULONG, Values>> result = recipients_;
        if ((flags & (MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) == 0) result.clear();
        for (ULONG i = 0; i < mods.cEntries; ++i) {
            const ADRENTRY& e = mods.aEntries[i];
            if (e.cValues > 0 && e.rgPropVals == nullptr) return MAPI_E_INVALID_PARAMETER;
            ULONG row = 0;
            auto existing = [&](ULONG r) {
                return std::find_if(result.begin(), result.end(), [&](const auto& p) { return p.first == r; });
            };
            if ((flags & MODRECIP_REMOVE) != 0) {
                if (!rowIdOf(e, &row)) return MAPI_E_INVALID_PARAMETER;
                if (auto it = existing(row); it != result.end()) result.erase(it);
                continue;
            }
            Values values;
            HRESULT hr = valuesOf(e, &values);
            if (FAILED(hr)) return hr;
            if ((flags & MODRECIP_MODIFY) != 0) {
                if (!rowIdOf(e, &row)) return MAPI_E_INVALID_PARAMETER;
                auto it = existing(row);
                if (it == result.end()) return MAPI_E_NOT_FOUND;
                it->second = std::move(values);
                continue;
            }
            result.push_back({nextRow_++, std::move(values)});
        }
        recipients_ = std::move(result);
        return S_OK;
    }

    Values props_;
    std::vector<std::pair<ULONG, Values>> recipients_;
    std::map<ULONG, fmt::AttachmentContent> attachments_;
    ULONG nextRow_ = 0;
    ULONG nextAttach_ = 0;
    uint32_t nid_;
    uint32_t folder_;
    MessageSave save_;
};

HRESULT Attachment::SaveChanges(ULONG) {
    return Guard([&] {
        owner_->StoreAttachment(number_, content_);
        return HRESULT(S_OK);
    });
}

}  // namespace

HRESULT CreateMessageObject(std::shared_ptr<WritableFile> file, fmt::MessageContent content, uint32_t nid,
                            uint32_t folder, MessageSave save, IMessage** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    try {
        *out = new Message(std::move(file), std::move(content), nid, folder, std::move(save));
        return S_OK;
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace mapi::pst
