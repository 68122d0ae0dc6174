// IMsgStorePtr, the owning wrapper of one message store, with the store's
// own ways of opening folders and entries.
#pragma once

#include <mapix.h>

#include "InterfaceRef.h"
#include "MapiBinary.h"
#include "MapiContPtr.h"
#include "MapiPropPtr.h"

class IMsgStorePtr : public CGenMapiPropPtr {
public:
    IMsgStorePtr() = default;
    explicit IMsgStorePtr(LPMDB store) : m_ptr(store) {}

    LPMDB _rawInterface() const override { return m_ptr.get(); }
    explicit operator bool() const { return static_cast<bool>(m_ptr); }

    // The root of the IPM subtree (PR_IPM_SUBTREE_ENTRYID opened with
    // MAPI_BEST_ACCESS). A failing read or open raises with empty context; a
    // read that succeeds without a value raises MAPI_E_NOT_FOUND with
    // context "IMsgStorePtr::_getIPMRoot".
    IMAPIFolderPtr _getIPMRoot() const;
    // The receive folder of a message class ("" or null: the default
    // receive folder, the inbox). Failures raise with empty context.
    IMAPIFolderPtr GetReceiveFolder(LPCSTR messageClass) const;
    // IMsgStore::OpenEntry(eid, MAPI_BEST_ACCESS) through CheckHr.
    IMAPIPropPtr OpenEntry(const CMapiBinary& eid) const;
    // IMsgStore::OpenEntry(eid, flags) unchecked: object receives what MAPI
    // handed out (its one reference), objType the object type when not null.
    HRESULT _rawOpenEntry(const CMapiBinary& eid, ULONG flags, CInterfaceRef<IUnknown>& object,
                          ULONG* objType = nullptr) const;

private:
    CInterfaceRef<IMsgStore> m_ptr;
};
