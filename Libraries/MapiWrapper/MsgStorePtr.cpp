// Message store operations: the IPM root, receive folders, opening entries.
#include "MsgStorePtr.h"

#include "MapiException.h"

namespace {

IMAPIFolderPtr OpenFolder(LPMDB store, ULONG cb, LPENTRYID eid) {
    CInterfaceRef<IUnknown> object;
    ULONG type = 0;
    CheckHr(store->OpenEntry(cb, eid, nullptr, MAPI_BEST_ACCESS, &type, object.Receive()));
    return IMAPIFolderPtr(static_cast<LPMAPIFOLDER>(object.get()));
}

}  // namespace

IMAPIFolderPtr IMsgStorePtr::_getIPMRoot() const {
    MapiBufferPtr<SPropValue> value;
    CheckHr(GetProp(PR_IPM_SUBTREE_ENTRYID, value));
    if (!value) throw CMAPIException(MAPI_E_NOT_FOUND, "IMsgStorePtr::_getIPMRoot");
    return OpenFolder(m_ptr.get(), value->Value.bin.cb,
                      reinterpret_cast<LPENTRYID>(value->Value.bin.lpb));
}

IMAPIFolderPtr IMsgStorePtr::GetReceiveFolder(LPCSTR messageClass) const {
    LPMDB store = static_cast<LPMDB>(RequireProp());
    ULONG cb = 0;
    LPENTRYID raw = nullptr;
    const HRESULT hr =
        store->GetReceiveFolder(const_cast<LPSTR>(messageClass), 0, &cb, &raw, nullptr);
    MapiBufferPtr<ENTRYID> eid(raw);
    CheckHr(hr);
    return OpenFolder(store, cb, eid.get());
}

IMAPIPropPtr IMsgStorePtr::OpenEntry(const CMapiBinary& eid) const {
    LPMDB store = static_cast<LPMDB>(RequireProp());
    CInterfaceRef<IUnknown> object;
    ULONG type = 0;
    CheckHr(store->OpenEntry(eid.Size(), eid.AsEntryID(), nullptr, MAPI_BEST_ACCESS, &type,
                             object.Receive()));
    return IMAPIPropPtr(static_cast<LPMAPIPROP>(object.get()));
}

HRESULT IMsgStorePtr::_rawOpenEntry(const CMapiBinary& eid, ULONG flags,
                                    CInterfaceRef<IUnknown>& object, ULONG* objType) const {
    object.Reset();
    if (!m_ptr) return MAPI_E_INVALID_OBJECT;
    ULONG type = 0;
    const HRESULT hr =
        m_ptr->OpenEntry(eid.Size(), eid.AsEntryID(), nullptr, flags, &type, object.Receive());
    if (objType) *objType = type;
    return hr;
}
