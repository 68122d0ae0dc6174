// Message and attachment doubles.
#include "fake_message.h"

namespace fake {

HRESULT Attach::OpenObject(ULONG tag, LPCIID iid, ULONG flags, LPUNKNOWN* out) {
    if (tag != PR_ATTACH_DATA_OBJ || iid == nullptr || *iid != IID_IMessage)
        return MAPI_E_NO_SUPPORT;
    if (!embedded) {
        if (!(flags & MAPI_CREATE)) return MAPI_E_NOT_FOUND;
        // An embedded message has no entry identifier of its own.
        embedded = Make<Message>(Shared(), false);
    }
    *out = static_cast<IMessage*>(mapi::ComRef<Message>::Share(embedded.get()).Detach());
    return S_OK;
}

bool Attach::Supports(REFIID riid) const {
    return mapi::IidIn(riid, {IID_IAttachment, IID_IMAPIProp});
}

Attach* Message::AddAttachment() {
    attachments.push_back(Make<Attach>(Shared()));
    return attachments.back().get();
}

HRESULT Message::GetAttachmentTable(ULONG, LPMAPITABLE* out) {
    auto table = Make<Table>(std::vector<ULONG>{PR_ATTACH_NUM});
    for (size_t i = 0; i < attachments.size(); ++i) {
        SPropValue num{};
        num.ulPropTag = PR_ATTACH_NUM;
        num.Value.l = static_cast<LONG>(i);
        if (HRESULT hr = table->rows->AddRow(&num, 1)) return hr;
    }
    *out = table.Detach();
    return S_OK;
}

HRESULT Message::OpenAttach(ULONG num, LPCIID, ULONG, LPATTACH* out) {
    if (num >= attachments.size()) return MAPI_E_NOT_FOUND;
    *out = mapi::ComRef<Attach>::Share(attachments[num].get()).Detach();
    return S_OK;
}

HRESULT Message::CreateAttach(LPCIID, ULONG, ULONG* num, LPATTACH* out) {
    Attach* a = AddAttachment();
    *num = static_cast<ULONG>(attachments.size() - 1);
    *out = mapi::ComRef<Attach>::Share(a).Detach();
    return S_OK;
}

HRESULT Message::GetRecipientTable(ULONG, LPMAPITABLE* out) {
    auto table = Make<Table>(std::vector<ULONG>{PR_DISPLAY_NAME_A});
    table->rows = recipients;
    *out = table.Detach();
    return S_OK;
}

HRESULT Message::ModifyRecipients(ULONG flags, LPADRLIST list) {
    if (flags != MODRECIP_ADD) return MAPI_E_NO_SUPPORT;
    for (ULONG i = 0; i < list->cEntries; ++i)
        if (HRESULT hr =
                recipients->AddRow(list->aEntries[i].rgPropVals, list->aEntries[i].cValues))
            return hr;
    return S_OK;
}

std::vector<const SPropValue*> Message::Row(SPropValue* eidValue) const {
    std::vector<const SPropValue*> row;
    for (const auto& [id, v] : props)
        if (id != PROP_ID(PR_ENTRYID)) row.push_back(v.get());
    eidValue->ulPropTag = PR_ENTRYID;
    eidValue->Value.bin.cb = static_cast<ULONG>(Eid().size());
    eidValue->Value.bin.lpb = const_cast<BYTE*>(Eid().data());
    row.push_back(eidValue);
    return row;
}

bool Message::Supports(REFIID riid) const {
    return mapi::IidIn(riid, {IID_IMessage, IID_IMAPIProp});
}

}  // namespace fake
