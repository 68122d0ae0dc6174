// Entry ids of the IPM subtree and the special folders of a store.
#include "store_folders.h"

#include <mapiutil.h>

namespace mapi::tools {
namespace {

HRESULT BinaryProp(IMsgStore* store, ULONG tag, EntryIdBytes* out) {
    LPSPropValue raw = nullptr;
    HRESULT hr = HrGetOneProp(store, tag, &raw);
    MapiBuffer<SPropValue> value(raw);
    if (FAILED(hr)) return hr;
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY || value->Value.bin.cb == 0)
        return MAPI_E_NOT_FOUND;
    out->assign(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
    return S_OK;
}

}  // namespace

const char* SpecialFolderName(SpecialFolder which) {
    switch (which) {
        case SpecialFolder::kInbox:
            return "inbox";
        case SpecialFolder::kOutbox:
            return "outbox";
        case SpecialFolder::kWastebasket:
            return "wastebasket";
        case SpecialFolder::kSentMail:
            return "sentmail";
    }
    return "";
}

HRESULT GetIpmSubtreeId(IMsgStore* store, EntryIdBytes* id) {
    return BinaryProp(store, PR_IPM_SUBTREE_ENTRYID, id);
}

HRESULT GetSpecialFolderId(IMsgStore* store, SpecialFolder which, EntryIdBytes* id) {
    switch (which) {
        case SpecialFolder::kInbox: {
            ULONG cb = 0;
            LPENTRYID raw = nullptr;
            char ipm[] = "IPM";
            HRESULT hr = store->GetReceiveFolder(ipm, 0, &cb, &raw, nullptr);
            MapiBuffer<ENTRYID> eid(raw);
            if (FAILED(hr)) return hr;
            if (!eid || cb == 0) return MAPI_E_NOT_FOUND;
            const BYTE* bytes = reinterpret_cast<const BYTE*>(eid.get());
            id->assign(bytes, bytes + cb);
            return S_OK;
        }
        case SpecialFolder::kOutbox:
            return BinaryProp(store, PR_IPM_OUTBOX_ENTRYID, id);
        case SpecialFolder::kWastebasket:
            return BinaryProp(store, PR_IPM_WASTEBASKET_ENTRYID, id);
        case SpecialFolder::kSentMail:
            return BinaryProp(store, PR_IPM_SENTMAIL_ENTRYID, id);
    }
    return MAPI_E_INVALID_PARAMETER;
}

HRESULT OpenFolder(IMsgStore* store, const EntryIdBytes& id, bool modify,
                   ComRef<IMAPIFolder>* folder) {
    ULONG type = 0;
    EntryIdBytes copy = id;  // OpenEntry takes a non-const pointer
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(copy.size()),
                                  reinterpret_cast<LPENTRYID>(copy.data()), &IID_IMAPIFolder,
                                  modify ? MAPI_MODIFY : 0, &type, folder->OutAs<IUnknown>());
    if (FAILED(hr)) return hr;
    if (type != MAPI_FOLDER) {
        folder->Reset();
        return MAPI_E_INVALID_ENTRYID;
    }
    return S_OK;
}

}  // namespace mapi::tools
