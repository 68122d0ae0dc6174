// Messages and attachments of a personal folder file, embedded messages
// included. Read-only: every change answers MAPI_E_NO_ACCESS.
#include <mapitags.h>

#include "providers/pst/pst_object.h"
#include "providers/pst/pst_objects.h"
#include "providers/pst/pst_tables.h"

namespace mapi::pst {
namespace {

// Everything a copy needs besides the values themselves must be readable;
// otherwise the message fails as a whole rather than arriving incomplete.
// Partial salvage of a message with an unreadable attachment is not offered.
HRESULT CheckMessage(ItemProps& props) {
    if (props.Check() != S_OK) return MAPI_E_CORRUPT_DATA;
    std::lock_guard<std::recursive_mutex> lock(props.File()->Lock());
    std::shared_ptr<RowSource> recipients, attachments;
    if (RecipientRows(props.File(), props.Item(), props.Codepage(), &recipients) != S_OK ||
        AttachmentRows(props.File(), props.Item(), props.Codepage(), &attachments) != S_OK)
        return MAPI_E_CORRUPT_DATA;
    // A copy reads recipients through the table, which cannot tell a value
    // that was lost from one that never was: a recipient missing entries
    // has to fail the message here.
    for (ULONG i = 0; i < recipients->Count(); ++i)
        if (static_cast<ItemProps&>(*recipients->Row(i)).CheckComplete() != S_OK)
            return MAPI_E_CORRUPT_DATA;
    for (ULONG i = 0; i < attachments->Count(); ++i) {
        auto row = attachments->Row(i);
        auto& attachment = static_cast<ItemProps&>(*row);
        if (attachment.Item() == nullptr || attachment.Check() != S_OK) return MAPI_E_CORRUPT_DATA;
    }
    return S_OK;
}

class PstAttach final : public PstObject<IAttach> {
public:
    explicit PstAttach(std::unique_ptr<ItemProps> props) : PstObject(std::move(props)) {}

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IAttachment});
    }

    HRESULT OpenObjectProperty(ULONG tag, REFIID iid, ULONG, ULONG, IUnknown** object) override {
        if (PROP_ID(tag) != PROP_ID(PR_ATTACH_DATA_OBJ) || iid != IID_IMessage)
            return MAPI_E_NO_SUPPORT;
        std::lock_guard<std::recursive_mutex> lock(File()->Lock());
        PffError error;
        int type = 0;
        if (libpff_attachment_get_type(Props().Item().get(), &type, error.Ptr()) != 1)
            return MAPI_E_CORRUPT_DATA;
        if (type != LIBPFF_ATTACHMENT_TYPE_ITEM) return MAPI_E_NOT_FOUND;
        libpff_item_t* raw = nullptr;
        if (libpff_attachment_get_item(Props().Item().get(), &raw, error.Ptr()) != 1 ||
            raw == nullptr)
            return MAPI_E_CORRUPT_DATA;
        IMessage* message = nullptr;
        HRESULT hr = CreateMessageObject(File(), ShareItem(raw), 0, 0, &message);
        if (hr == S_OK) *object = message;
        return hr;
    }
};

class PstMessage final : public PstObject<IMessage> {
public:
    explicit PstMessage(std::unique_ptr<ItemProps> props) : PstObject(std::move(props)) {}

    HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* table) override {
        return Table(TableKind::Attachments, table);
    }
    HRESULT GetRecipientTable(ULONG, LPMAPITABLE* table) override {
        return Table(TableKind::Recipients, table);
    }
    HRESULT OpenAttach(ULONG number, LPCIID iid, ULONG flags, LPATTACH* attach) override {
        if (attach == nullptr) return MAPI_E_INVALID_PARAMETER;
        *attach = nullptr;
        if ((flags & MAPI_MODIFY) != 0) return MAPI_E_NO_ACCESS;
        if (iid != nullptr && *iid != IID_IAttachment && *iid != IID_IMAPIProp &&
            *iid != IID_IUnknown)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        return GuardCall([&]() -> HRESULT {
            std::lock_guard<std::recursive_mutex> lock(File()->Lock());
            int count = 0;
            PffError error;
            if (libpff_message_get_number_of_attachments(Props().Item().get(), &count,
                                                         error.Ptr()) != 1)
                return MAPI_E_CORRUPT_DATA;
            if (number >= static_cast<ULONG>(count)) return MAPI_E_NOT_FOUND;
            libpff_item_t* raw = nullptr;
            if (libpff_message_get_attachment(Props().Item().get(), static_cast<int>(number), &raw,
                                              error.Ptr()) != 1 ||
                raw == nullptr)
                return MAPI_E_CORRUPT_DATA;
            auto props = MakeAttachmentProps(File(), ShareItem(raw), static_cast<int>(number),
                                             Props().Codepage());
            if (props->Check() != S_OK) return MAPI_E_CORRUPT_DATA;
            *attach = new PstAttach(std::move(props));
            return S_OK;
        });
    }
    HRESULT CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH* attach) override {
        if (attach != nullptr) *attach = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT ModifyRecipients(ULONG, LPADRLIST) override { return MAPI_E_NO_ACCESS; }
    HRESULT SubmitMessage(ULONG) override { return MAPI_E_NO_ACCESS; }
    HRESULT SetReadFlag(ULONG) override { return MAPI_E_NO_ACCESS; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMessage});
    }

    HRESULT OpenObjectProperty(ULONG tag, REFIID iid, ULONG, ULONG, IUnknown** object) override {
        if (iid != IID_IMAPITable) return MAPI_E_NO_SUPPORT;
        IMAPITable* table = nullptr;
        HRESULT hr = MAPI_E_NOT_FOUND;
        if (PROP_ID(tag) == PROP_ID(PR_MESSAGE_RECIPIENTS))
            hr = Table(TableKind::Recipients, &table);
        else if (PROP_ID(tag) == PROP_ID(PR_MESSAGE_ATTACHMENTS))
            hr = Table(TableKind::Attachments, &table);
        if (hr == S_OK) *object = table;
        return hr;
    }

private:
    HRESULT Table(TableKind kind, LPMAPITABLE* table) {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return GuardCall([&] {
            std::shared_ptr<RowSource> source;
            uint32_t codepage = Props().Codepage();
            HRESULT hr = kind == TableKind::Recipients
                             ? RecipientRows(File(), Props().Item(), codepage, &source)
                             : AttachmentRows(File(), Props().Item(), codepage, &source);
            if (hr != S_OK) return hr;
            return MakeTable(std::move(source), kind, table);
        });
    }
};

}  // namespace

HRESULT CreateMessageObject(std::shared_ptr<PstFile> file, SharedItem item, uint32_t nid,
                            uint32_t parentNid, IMessage** message) {
    auto props = MakeMessageProps(std::move(file), std::move(item), nid, parentNid);
    HRESULT hr = CheckMessage(*props);
    if (hr != S_OK) return hr;
    *message = new PstMessage(std::move(props));
    return S_OK;
}

}  // namespace mapi::pst
