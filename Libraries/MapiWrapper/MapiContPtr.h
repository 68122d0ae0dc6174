// CGenMapiContPtr, the container side of the wrappers (contents,
// associated and hierarchy tables, opening entries), and the two wrappers
// that are both property objects and containers: IMAPIFolderPtr and
// IMAPIContainerPtr.
#pragma once

#include <mapix.h>

#include "InterfaceRef.h"
#include "MapiBinary.h"
#include "MapiPropPtr.h"

// Abstract: holds nothing; the concrete class supplies the container. Its
// one virtual slot is _rawInterface (the destructor follows it).
class CGenMapiContPtr {
public:
    // The object as a container interface, no reference added. Null for an
    // empty wrapper.
    virtual LPMAPICONTAINER _rawInterface() const = 0;
    virtual ~CGenMapiContPtr() = default;

    // GetContentsTable(0). An empty container gives an empty holder without
    // any call. Failure: context "CGenMapiContPtr::_rawContentsTable".
    IMAPITablePtr _rawContentsTable() const;
    // GetContentsTable(MAPI_ASSOCIATED). Failure (an empty container too):
    // context "CGenMapiContPtr::_rawAssociatedTable".
    IMAPITablePtr _rawAssociatedTable() const;
    // GetHierarchyTable(0). Failure (an empty container too): context
    // "CGenMapiContPtr::_rawHierrarchyTable".
    IMAPITablePtr _rawHierrarchyTable() const;
    // IMAPIContainer::OpenEntry(eid, MAPI_BEST_ACCESS). Failure (an empty
    // container too): context "CGenMapiContPtr::OpenEntryv".
    IMAPIPropPtr OpenEntryv(const CMapiBinary& eid) const;

protected:
    CGenMapiContPtr() = default;
    CGenMapiContPtr(const CGenMapiContPtr&) = default;
    CGenMapiContPtr& operator=(const CGenMapiContPtr&) = default;
};

// A folder: one kept reference, returned by _rawInterface of both bases.
class IMAPIFolderPtr : public CGenMapiPropPtr, public CGenMapiContPtr {
public:
    IMAPIFolderPtr() = default;
    explicit IMAPIFolderPtr(LPMAPIFOLDER folder) : m_ptr(folder) {}

    LPMAPIFOLDER _rawInterface() const override { return m_ptr.get(); }
    explicit operator bool() const { return static_cast<bool>(m_ptr); }

    // IMAPIFolder::CreateFolder(type, name, comment, no interface, flags).
    // Returns the new (or, with OPEN_IF_EXISTS, the existing) folder holding
    // the one reference MAPI handed out; wrapping it in an IMAPIFolderPtr
    // takes a further reference of the wrapper's own. Failure (an empty
    // wrapper too): context "IMAPIFolderPtr::CreateFolder", e.g.
    // MAPI_E_COLLISION when the name exists and flags lack OPEN_IF_EXISTS.
    CInterfaceRef<IMAPIFolder> CreateFolder(ULONG folderType, LPCSTR name, LPCSTR comment,
                                            ULONG flags) const;

private:
    CInterfaceRef<IMAPIFolder> m_ptr;
};

// A container of any kind (the compiler's property object).
class IMAPIContainerPtr : public CGenMapiPropPtr, public CGenMapiContPtr {
public:
    IMAPIContainerPtr() = default;
    explicit IMAPIContainerPtr(LPMAPICONTAINER container) : m_ptr(container) {}

    LPMAPICONTAINER _rawInterface() const override { return m_ptr.get(); }
    explicit operator bool() const { return static_cast<bool>(m_ptr); }

private:
    CInterfaceRef<IMAPIContainer> m_ptr;
};
