// The one place where a test double says "not supported".
//
// Unsupported<I> gives every method of every MAPI interface the doubles
// implement (property objects, containers, folders, messages, stores,
// tables, sessions, streams) the answer MAPI_E_NO_SUPPORT. A double derives
// from it and overrides only what its tests need, so a call the model does
// not know fails plainly instead of doing something half right. Methods that
// I does not declare are harmless extra virtuals of the double.
#pragma once

#include <mapix.h>
#include <mapiwin.h>

namespace fake {

template <class I>
class Unsupported : public I {
public:
    virtual ~Unsupported() = default;

    // IMAPIProp and what derives from it.
    virtual HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SaveChanges(ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetPropList(ULONG, LPSPropTagArray*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID,
                           LPVOID, ULONG, LPSPropProblemArray*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                              LPSPropProblemArray*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) {
        return MAPI_E_NO_SUPPORT;
    }

    // IMAPIContainer, IMAPIFolder.
    virtual HRESULT GetContentsTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetHierarchyTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT CreateMessage(LPCIID, ULONG, LPMESSAGE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS,
                               ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) { return MAPI_E_NO_SUPPORT; }

    // IMessage.
    virtual HRESULT GetAttachmentTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT OpenAttach(ULONG, LPCIID, ULONG, LPATTACH*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetRecipientTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT ModifyRecipients(ULONG, LPADRLIST) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SubmitMessage(ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SetReadFlag(ULONG) { return MAPI_E_NO_SUPPORT; }

    // IMsgStore (and the session's methods of the same form).
    virtual HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT Unadvise(ULONG_PTR) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetReceiveFolder(LPTSTR, ULONG, ULONG*, LPENTRYID*, LPTSTR*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT StoreLogoff(ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SetLockState(LPMESSAGE, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT NotifyNewMail(LPNOTIFICATION) { return MAPI_E_NO_SUPPORT; }

    // IMAPITable.
    virtual HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetStatus(ULONG*, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SetColumns(LPSPropTagArray, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT QueryColumns(ULONG, LPSPropTagArray*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetRowCount(ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SeekRow(BOOKMARK, LONG, LONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SeekRowApprox(ULONG, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT QueryPosition(ULONG*, ULONG*, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT FindRow(LPSRestriction, BOOKMARK, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Restrict(LPSRestriction, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT CreateBookmark(BOOKMARK*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT FreeBookmark(BOOKMARK) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SortTable(LPSSortOrderSet, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT QuerySortOrder(LPSSortOrderSet*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT QueryRows(LONG, ULONG, LPSRowSet*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Abort() { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT WaitForCompletion(ULONG, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) { return MAPI_E_NO_SUPPORT; }

    // IMAPISession.
    virtual HRESULT GetMsgStoresTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT GetStatusTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT EnumAdrTypes(ULONG, ULONG*, LPTSTR**) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT QueryIdentity(ULONG*, LPENTRYID*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Logoff(ULONG_PTR, ULONG, ULONG) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SetDefaultStore(ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT AdminServices(ULONG, LPSERVICEADMIN*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG,
                             ULONG, ULONG, LPSTR) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT PrepareForm(LPCIID, LPMESSAGE, ULONG*) { return MAPI_E_NO_SUPPORT; }

    // IStream.
    virtual HRESULT Read(void*, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Write(const void*, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT SetSize(ULARGE_INTEGER) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT Commit(DWORD) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Revert() { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
        return MAPI_E_NO_SUPPORT;
    }
    virtual HRESULT Stat(STATSTG*, DWORD) { return MAPI_E_NO_SUPPORT; }
    virtual HRESULT Clone(IStream**) { return MAPI_E_NO_SUPPORT; }
};

}  // namespace fake
