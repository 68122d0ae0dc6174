// Message and attachment objects over a MailItem held in memory: read from
// the layout through the MIME conversion, or built by the caller and
// converted and added to the folder on SaveChanges.
#include <algorithm>

#include <mapitags.h>
#include <mapiutil.h>

#include "mime/mime_convert.h"
#include "providers/mailfiles/mail_object.h"
#include "providers/mailfiles/mail_objects.h"
#include "runtime/memory_rows.h"
#include "runtime/table.h"

namespace mapi::mailfiles {

namespace {

// What a message and everything below it share.
struct MessageTree {
    std::shared_ptr<StoreCore> core;
    FolderPath folder;
    std::string key;   // once saved or when read
    bool saved = false;
    bool readOnly = false;
    uint64_t size = 0;
    LONG nextRowId = 0;
};

void AddBinary(mime::PropBag& bag, ULONG tag, const std::string& bytes) {
    bag.SetBinary(PROP_ID(tag), bytes);
}

HRESULT RowsOf(const std::vector<const mime::PropBag*>& rows,
               const std::vector<std::vector<SPropValue>>& extra, std::shared_ptr<MemoryRows>* out) {
    auto memory = std::make_shared<MemoryRows>();
    for (size_t r = 0; r < rows.size(); ++r) {
        std::vector<SPropValue> values = extra[r];
        for (const auto& [id, v] : rows[r]->All()) {
            bool shadowed = false;
            for (const SPropValue& e : extra[r]) shadowed |= PROP_ID(e.ulPropTag) == id;
            if (!shadowed) values.push_back(*v);
        }
        HRESULT hr = memory->AddRow(values.data(), static_cast<ULONG>(values.size()));
        if (FAILED(hr)) return hr;
    }
    *out = std::move(memory);
    return S_OK;
}

HRESULT RecipientRows(const mime::MailItem& item, std::shared_ptr<MemoryRows>* out) {
    std::vector<const mime::PropBag*> rows;
    std::vector<std::vector<SPropValue>> extra;
    for (const mime::PropBag& r : item.recipients) {
        rows.push_back(&r);
        extra.emplace_back();
    }
    return RowsOf(rows, extra, out);
}

HRESULT AttachmentRows(const mime::MailItem& item, std::shared_ptr<MemoryRows>* out) {
    std::vector<const mime::PropBag*> rows;
    std::vector<std::vector<SPropValue>> extra;
    // The data stays out of the table: tables do not read attachment data.
    static const ULONG kData = PROP_ID(PR_ATTACH_DATA_BIN);
    std::vector<mime::PropBag> withoutData(item.attachments.size());
    for (size_t i = 0; i < item.attachments.size(); ++i) {
        const mime::MailAttachment& a = item.attachments[i];
        for (const auto& [id, v] : a.props.All())
            if (id != kData) withoutData[i].Set(*v);
        rows.push_back(&withoutData[i]);
        SPropValue num{}, size{}, type{};
        num.ulPropTag = PR_ATTACH_NUM;
        num.Value.l = static_cast<LONG>(i);
        const SPropValue* data = a.props.Get(kData);
        size.ulPropTag = PR_ATTACH_SIZE;
        size.Value.l = data != nullptr && PROP_TYPE(data->ulPropTag) == PT_BINARY
                           ? static_cast<LONG>(data->Value.bin.cb)
                           : 0;
        type.ulPropTag = PR_OBJECT_TYPE;
        type.Value.l = MAPI_ATTACH;
        extra.push_back({num, size, type});
    }
    return RowsOf(rows, extra, out);
}

HRESULT NewMessageObject(std::shared_ptr<MessageTree> tree, std::shared_ptr<mime::MailItem> item,
                         bool top, IMessage** out);

class Attachment final : public MailObject<IAttach> {
public:
    Attachment(std::shared_ptr<MessageTree> tree, std::shared_ptr<mime::MailItem> owner,
               size_t index)
        : MailObject(tree->core), tree_(std::move(tree)), owner_(std::move(owner)), index_(index) {}

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IAttachment});
    }
    void Compute(mime::PropBag& out) override {
        out.SetLong(PROP_ID(PR_ATTACH_NUM), static_cast<LONG>(index_));
        out.SetLong(PROP_ID(PR_OBJECT_TYPE), MAPI_ATTACH);
        auto data = A().props.Binary(PROP_ID(PR_ATTACH_DATA_BIN));
        out.SetLong(PROP_ID(PR_ATTACH_SIZE), data ? static_cast<LONG>(data->size()) : 0);
    }
    const mime::PropBag* Stored() override { return &A().props; }
    mime::PropBag* MutableStored() override { return &A().props; }
    bool Writable() override { return !tree_->readOnly && !tree_->saved; }

    HRESULT OpenObject(ULONG tag, REFIID iid, ULONG flags, LPUNKNOWN* out) override {
        if (PROP_ID(tag) != PROP_ID(PR_ATTACH_DATA_OBJ) || iid != IID_IMessage)
            return MAPI_E_NO_SUPPORT;
        mime::MailAttachment& a = A();
        if ((flags & MAPI_CREATE) != 0) {
            if (!Writable()) return MAPI_E_NO_ACCESS;
            a.embedded = std::make_shared<mime::MailItem>();
        }
        if (!a.embedded) return MAPI_E_NOT_FOUND;
        IMessage* message = nullptr;
        HRESULT hr = NewMessageObject(tree_, a.embedded, false, &message);
        if (FAILED(hr)) return hr;
        *out = message;
        return S_OK;
    }

private:
    mime::MailAttachment& A() { return owner_->attachments[index_]; }

    std::shared_ptr<MessageTree> tree_;
    std::shared_ptr<mime::MailItem> owner_;
    size_t index_;
};

class Message final : public MailObject<IMessage> {
public:
    Message(std::shared_ptr<MessageTree> tree, std::shared_ptr<mime::MailItem> item, bool top)
        : MailObject(tree->core), tree_(std::move(tree)), item_(std::move(item)), top_(top) {}

    HRESULT SaveChanges(ULONG) override {
        if (tree_->readOnly) return MAPI_E_NO_ACCESS;
        // Embedded messages go to disk with the message that holds them;
        // a saved message is not rewritten (it cannot change any more).
        if (!top_ || tree_->saved) return S_OK;
        return Guard([&] { return Save(); });
    }

    HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return Guard([&] {
            std::shared_ptr<MemoryRows> rows;
            HRESULT hr = AttachmentRows(*item_, &rows);
            if (FAILED(hr)) return hr;
            SizedSPropTagArray(4, columns) = {
                4, {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME, PR_ATTACH_SIZE}};
            return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&columns), table);
        });
    }
    HRESULT OpenAttach(ULONG number, LPCIID, ULONG flags, LPATTACH* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (number >= item_->attachments.size()) return MAPI_E_NOT_FOUND;
        if ((flags & MAPI_MODIFY) != 0 && !Writable()) return MAPI_E_NO_ACCESS;
        return Guard([&] {
            *out = new Attachment(tree_, item_, number);
            return S_OK;
        });
    }
    HRESULT CreateAttach(LPCIID, ULONG, ULONG* number, LPATTACH* out) override {
        if (out == nullptr || number == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (!Writable()) return MAPI_E_NO_ACCESS;
        return Guard([&] {
            item_->attachments.emplace_back();
            *number = static_cast<ULONG>(item_->attachments.size() - 1);
            *out = new Attachment(tree_, item_, *number);
            return S_OK;
        });
    }
    HRESULT DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetRecipientTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return Guard([&] {
            std::shared_ptr<MemoryRows> rows;
            HRESULT hr = RecipientRows(*item_, &rows);
            if (FAILED(hr)) return hr;
            SizedSPropTagArray(4, columns) = {
                4, {PR_ROWID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_RECIPIENT_TYPE}};
            return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&columns), table);
        });
    }
    HRESULT ModifyRecipients(ULONG flags, LPADRLIST mods) override {
        if (!Writable()) return MAPI_E_NO_ACCESS;
        if (mods == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] { return Modify(flags, mods); });
    }
    HRESULT SubmitMessage(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetReadFlag(ULONG) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMessage});
    }
    void Compute(mime::PropBag& out) override {
        out.SetLong(PROP_ID(PR_OBJECT_TYPE), MAPI_MESSAGE);
        out.SetBool(PROP_ID(PR_HASATTACH), !item_->attachments.empty());
        if (!top_) return;
        StoreCore& core = *tree_->core;
        AddBinary(out, PR_STORE_ENTRYID, core.StoreEntryId());
        AddBinary(out, PR_STORE_RECORD_KEY,
                  std::string(reinterpret_cast<const char*>(core.Uid().ab), sizeof core.Uid().ab));
        AddBinary(out, PR_PARENT_ENTRYID, core.EntryId(EntryKind::kFolder, tree_->folder));
        if (tree_->saved) {
            const std::string id = core.EntryId(EntryKind::kMessage, tree_->folder, tree_->key);
            AddBinary(out, PR_ENTRYID, id);
            AddBinary(out, PR_RECORD_KEY, id);
            out.SetLong(PROP_ID(PR_MESSAGE_SIZE), static_cast<LONG>(std::min<uint64_t>(tree_->size, 0x7FFFFFFF)));
        }
    }
    const mime::PropBag* Stored() override { return &item_->props; }
    mime::PropBag* MutableStored() override { return &item_->props; }
    bool Writable() override { return !tree_->readOnly && !tree_->saved; }

private:
    HRESULT Save() {
        StoreCore& core = *tree_->core;
        mime::WriteOptions options;
        options.statusHeaders = core.Layout().FlagsInMessage();
        std::string bytes;
        HRESULT hr = mime::WriteMime(*item_, core, options, &bytes);
        if (FAILED(hr)) return hr;
        const std::string hint = item_->props.Text(PROP_ID(PR_SUBJECT)).value_or("");
        std::lock_guard<std::recursive_mutex> lock(core.Lock());
        std::string key;
        hr = ExplainLayout(
            core.Layout().AddItem(tree_->folder, bytes, mime::FlagsOf(*item_), hint, &key));
        if (FAILED(hr)) return hr;
        tree_->key = key;
        tree_->size = bytes.size();
        tree_->saved = true;
        return S_OK;
    }

    // Recipients carry their PR_ROWID in their values, assigned on arrival.
    HRESULT Modify(ULONG flags, LPADRLIST mods) {
        std::vector<mime::PropBag>& list = item_->recipients;
        if ((flags & (MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) == 0) list.clear();
        for (ULONG i = 0; i < mods->cEntries; ++i) {
            const ADRENTRY& entry = mods->aEntries[i];
            if (entry.rgPropVals == nullptr && entry.cValues > 0) return MAPI_E_INVALID_PARAMETER;
            LONG rowId = -1;
            for (ULONG k = 0; k < entry.cValues; ++k)
                if (entry.rgPropVals[k].ulPropTag == PR_ROWID) rowId = entry.rgPropVals[k].Value.l;
            auto found = std::find_if(list.begin(), list.end(), [&](const mime::PropBag& r) {
                return r.Long(PROP_ID(PR_ROWID)) == rowId;
            });
            if ((flags & MODRECIP_REMOVE) != 0) {
                if (found == list.end()) return MAPI_E_NOT_FOUND;
                list.erase(found);
                continue;
            }
            mime::PropBag row;
            for (ULONG k = 0; k < entry.cValues; ++k) {
                const SPropValue& v = entry.rgPropVals[k];
                const ULONG type = PROP_TYPE(v.ulPropTag);
                if (v.ulPropTag == PR_ROWID || type == PT_ERROR || type == PT_NULL || type == PT_OBJECT)
                    continue;
                HRESULT hr = row.Set(v);
                if (FAILED(hr)) return hr;
            }
            if ((flags & MODRECIP_MODIFY) != 0) {
                if (found == list.end()) return MAPI_E_NOT_FOUND;
                row.SetLong(PROP_ID(PR_ROWID), rowId);
                *found = std::move(row);
                continue;
            }
            row.SetLong(PROP_ID(PR_ROWID), tree_->nextRowId++);
            list.push_back(std::move(row));
        }
        return S_OK;
    }

    std::shared_ptr<MessageTree> tree_;
    std::shared_ptr<mime::MailItem> item_;
    bool top_;
};

HRESULT NewMessageObject(std::shared_ptr<MessageTree> tree, std::shared_ptr<mime::MailItem> item,
                         bool top, IMessage** out) {
    *out = new Message(std::move(tree), std::move(item), top);
    return S_OK;
}

void NumberRecipients(mime::MailItem& item, LONG* next) {
    for (mime::PropBag& r : item.recipients) r.SetLong(PROP_ID(PR_ROWID), (*next)++);
    for (mime::MailAttachment& a : item.attachments)
        if (a.embedded) {
            LONG own = 0;
            NumberRecipients(*a.embedded, &own);
        }
}

}  // namespace

HRESULT LoadItem(StoreCore& core, const FolderPath& folder, const std::string& key,
                 mime::MailItem* item, uint64_t* size) {
    std::string bytes;
    ItemEntry entry;
    {
        std::lock_guard<std::recursive_mutex> lock(core.Lock());
        HRESULT hr = core.Layout().ReadItem(folder, key, &bytes, &entry);
        if (FAILED(hr)) return hr;
    }
    mime::MailItem read;
    HRESULT hr = mime::ReadMime(bytes, core, &read);
    if (FAILED(hr)) return hr;
    if (entry.hasFlags) mime::ApplyFlags(read, entry.flags);
    LONG next = 0;
    NumberRecipients(read, &next);
    *item = std::move(read);
    if (size != nullptr) *size = bytes.size();
    return S_OK;
}

HRESULT NewMessage(std::shared_ptr<StoreCore> core, const FolderPath& folder, IMessage** out) {
    auto tree = std::make_shared<MessageTree>();
    tree->core = std::move(core);
    tree->folder = folder;
    auto item = std::make_shared<mime::MailItem>();
    return NewMessageObject(std::move(tree), std::move(item), true, out);
}

HRESULT OpenMessage(std::shared_ptr<StoreCore> core, const FolderPath& folder,
                    const std::string& key, IMessage** out) {
    auto tree = std::make_shared<MessageTree>();
    auto item = std::make_shared<mime::MailItem>();
    HRESULT hr = LoadItem(*core, folder, key, item.get(), &tree->size);
    if (FAILED(hr)) return hr;
    tree->core = std::move(core);
    tree->folder = folder;
    tree->key = key;
    tree->saved = true;
    tree->readOnly = true;
    tree->nextRowId = static_cast<LONG>(item->recipients.size());
    return NewMessageObject(std::move(tree), std::move(item), true, out);
}

}  // namespace mapi::mailfiles
