// Container operations (tables, opening entries) and folder creation.
#include "MapiContPtr.h"

#include "MapiException.h"

namespace {

// Fails with the operation's own context when the wrapper is empty.
LPMAPICONTAINER Require(LPMAPICONTAINER container, LPCSTR context) {
    if (!container) throw CMAPIException(MAPI_E_INVALID_OBJECT, context);
    return container;
}

IMAPITablePtr ContentsTable(LPMAPICONTAINER container, ULONG flags, LPCSTR context) {
    IMAPITablePtr table;
    const HRESULT hr = Require(container, context)->GetContentsTable(flags, table.Receive());
    if (FAILED(hr)) throw CMAPIException(hr, context);
    return table;
}

}  // namespace

IMAPITablePtr CGenMapiContPtr::_rawContentsTable() const {
    if (!_rawInterface()) return {};
    return ContentsTable(_rawInterface(), 0, "CGenMapiContPtr::_rawContentsTable");
}

IMAPITablePtr CGenMapiContPtr::_rawAssociatedTable() const {
    return ContentsTable(_rawInterface(), MAPI_ASSOCIATED, "CGenMapiContPtr::_rawAssociatedTable");
}

IMAPITablePtr CGenMapiContPtr::_rawHierrarchyTable() const {
    static constexpr char kContext[] = "CGenMapiContPtr::_rawHierrarchyTable";
    IMAPITablePtr table;
    const HRESULT hr = Require(_rawInterface(), kContext)->GetHierarchyTable(0, table.Receive());
    if (FAILED(hr)) throw CMAPIException(hr, kContext);
    return table;
}

IMAPIPropPtr CGenMapiContPtr::OpenEntryv(const CMapiBinary& eid) const {
    static constexpr char kContext[] = "CGenMapiContPtr::OpenEntryv";
    CInterfaceRef<IUnknown> object;
    ULONG type = 0;
    const HRESULT hr = Require(_rawInterface(), kContext)
                           ->OpenEntry(eid.Size(), eid.AsEntryID(), nullptr, MAPI_BEST_ACCESS,
                                       &type, object.Receive());
    if (FAILED(hr)) throw CMAPIException(hr, kContext);
    // The wrapper takes its own reference; `object` gives MAPI's back.
    return IMAPIPropPtr(static_cast<LPMAPIPROP>(object.get()));
}

CInterfaceRef<IMAPIFolder> IMAPIFolderPtr::CreateFolder(ULONG folderType, LPCSTR name,
                                                        LPCSTR comment, ULONG flags) const {
    static constexpr char kContext[] = "IMAPIFolderPtr::CreateFolder";
    if (!m_ptr) throw CMAPIException(MAPI_E_INVALID_OBJECT, kContext);
    CInterfaceRef<IMAPIFolder> folder;
    const HRESULT hr =
        m_ptr->CreateFolder(folderType, const_cast<LPSTR>(name), const_cast<LPSTR>(comment),
                            nullptr, flags, folder.Receive());
    if (FAILED(hr)) throw CMAPIException(hr, kContext);
    return folder;
}
