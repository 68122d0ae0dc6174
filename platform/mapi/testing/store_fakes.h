// Small in-memory stand-ins for a session, message stores, folders and
// tables, for the copy engine's tests. They implement only what the engine
// calls (everything else answers MAPI_E_NO_SUPPORT) and can fail chosen calls.
//
// Objects are reference counted like the platform's own; a FakeStore owns
// its folder tree. Not thread-safe: one thread uses a fake at a time (a test
// inspects the stores only after the worker has ended).
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <mapix.h>

#include "runtime/com_object.h"
#include "runtime/mapi_ptr.h"

namespace fake {

// One property value of a fake object.
struct Value {
    ULONG type = PT_NULL;
    LONG l = 0;
    std::string s;  // PT_STRING8 text or PT_BINARY bytes
    SCODE err = S_OK;

    static Value Long(LONG v) { return Value{PT_LONG, v, {}, S_OK}; }
    static Value Text(std::string v) { return Value{PT_STRING8, 0, std::move(v), S_OK}; }
    static Value Bytes(std::string v) { return Value{PT_BINARY, 0, std::move(v), S_OK}; }
    static Value Error(SCODE code) { return Value{PT_ERROR, 0, {}, code}; }
};
// Values by property id.
using Props = std::map<ULONG, Value>;

// Fills a MAPI-allocated value for the requested tag from props (PT_ERROR
// MAPI_E_NOT_FOUND when missing); data is chained to parent.
void FillValue(const Props& props, ULONG tag, void* parent, SPropValue* out);

class Table : public mapi::ComObject<IMAPITable> {
public:
    explicit Table(std::vector<Props> rows) : m_rows(std::move(rows)) {}

    // Failure injection: QueryRows (and GetRowCount) fail with this code.
    HRESULT failRead = S_OK;
    // Restrict answers this code; each call is counted here when set.
    HRESULT failRestrict = S_OK;
    int* restrictCounter = nullptr;

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetStatus(ULONG*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override;
    HRESULT QueryColumns(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetRowCount(ULONG, ULONG* count) override;
    HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override;
    HRESULT SeekRowApprox(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QueryPosition(ULONG*, ULONG*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FindRow(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Restrict(LPSRestriction, ULONG) override;
    HRESULT CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SortTable(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QuerySortOrder(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QueryRows(LONG count, ULONG, LPSRowSet* rows) override;
    HRESULT Abort() override { return MAPI_E_NO_SUPPORT; }
    HRESULT ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT WaitForCompletion(ULONG, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override { return riid == IID_IMAPITable; }
    ~Table() override = default;

private:
    std::vector<Props> m_rows;
    std::vector<ULONG> m_columns;
    size_t m_position = 0;
};

// The IMAPIProp part shared by folders and stores.
template <class Interface>
class PropObject : public mapi::ComObject<Interface> {
public:
    Props props;
    // Property reads of these ids fail with the code.
    std::map<ULONG, SCODE> failGet;

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SaveChanges(ULONG) override { return S_OK; }
    HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override;
    HRESULT GetPropList(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override;
    HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                   LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
};

class Store;

// One item of a fake folder.
struct Item {
    std::string subject;      // empty: no PR_SUBJECT at all
    std::string displayName;  // empty: no PR_DISPLAY_NAME
    std::string eid;
    HRESULT copyResult = S_OK;  // what CopyMessages answers for this item
};

class Folder : public PropObject<IMAPIFolder> {
public:
    Folder(Store* store, std::string name, std::string eid, ULONG type);

    std::string Name() const;
    const std::string& Eid() const { return m_eid; }
    Folder* Child(const std::string& name) const;
    const std::vector<mapi::ComRef<Folder>>& Children() const { return m_children; }
    Folder* AddChild(const std::string& name, ULONG type = FOLDER_GENERIC);
    Item& AddItem(const std::string& subject, HRESULT copyResult = S_OK);

    std::vector<Item> items;

    // Failure injection.
    HRESULT failContents = S_OK;                // GetContentsTable
    HRESULT failContentsRead = S_OK;            // QueryRows of the contents table
    HRESULT failRestrict = S_OK;                // Restrict of the contents table
    HRESULT failHierarchy = S_OK;               // GetHierarchyTable
    std::map<std::string, HRESULT> failCreate;  // CreateFolder of that name fails
    std::set<std::string> refusedNames;         // CreateFolder answers MAPI_E_COLLISION
    // Damage: folders held elsewhere in the store (an ancestor, this folder,
    // a sibling) that the hierarchy table lists after the own children.
    std::vector<Folder*> alsoListed;
    // Called after each successful CopyMessages out of this folder.
    std::function<void()> afterCopy;
    int restrictCalls = 0;

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override;
    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override;
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG, ULONG* type,
                      LPUNKNOWN* object) override;
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CreateMessage(LPCIID, ULONG, LPMESSAGE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG flags) override;
    HRESULT DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID, ULONG flags,
                         LPMAPIFOLDER* folder) override;
    HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return mapi::IidIn(riid, {IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder});
    }

private:
    Store* m_store;
    std::string m_eid;
    std::vector<mapi::ComRef<Folder>> m_children;
};

class Store : public PropObject<IMsgStore> {
public:
    // A store with a root, an IPM subtree root below it, and the special
    // folder identifiers unset.
    explicit Store(std::string name);

    const std::string& Name() const { return m_name; }
    Folder* Root() const { return m_ipmRoot.get(); }
    // Makes folder the special folder of tag (PR_IPM_OUTBOX_ENTRYID, ...).
    void SetSpecial(ULONG tag, Folder* folder);
    void SetInbox(Folder* folder) { m_inboxEid = folder->Eid(); }
    const std::string& InboxEid() const { return m_inboxEid; }
    // Receive folders of explicit message classes ("IPM", ...).
    std::map<std::string, std::string> receiveFolders;
    Folder* Find(const std::string& eid) const;

    // Numbers the identifiers of new objects of this store.
    std::string NewEid();
    void Register(Folder* folder) { m_folders[folder->Eid()] = folder; }
    // OpenEntry of these identifiers fails with the code.
    std::map<std::string, HRESULT> failOpen;

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG, ULONG* type,
                      LPUNKNOWN* object) override;
    HRESULT SetReceiveFolder(LPTSTR messageClass, ULONG, ULONG cb, LPENTRYID eid) override;
    HRESULT GetReceiveFolder(LPTSTR, ULONG, ULONG* cb, LPENTRYID* eid,
                             LPTSTR* explicitClass) override;
    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT StoreLogoff(ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return mapi::IidIn(riid, {IID_IMAPIProp, IID_IMsgStore});
    }

private:
    std::string m_name;
    int m_nextId = 0;
    mapi::ComRef<Folder> m_root;
    mapi::ComRef<Folder> m_ipmRoot;
    std::map<std::string, Folder*> m_folders;
    std::string m_inboxEid;
};

class Session : public mapi::ComObject<IMAPISession> {
public:
    void AddStore(Store* store) { m_stores.push_back(mapi::ComRef<Store>::Share(store)); }
    // Entry identifiers of the stores opened so far, in order.
    std::vector<std::string> opened;

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetMsgStoresTable(ULONG, LPMAPITABLE* table) override;
    HRESULT OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetStatusTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG, ULONG* type,
                      LPUNKNOWN* object) override;
    HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT EnumAdrTypes(ULONG, ULONG*, LPTSTR**) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QueryIdentity(ULONG*, LPENTRYID*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override { return S_OK; }
    HRESULT SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT AdminServices(ULONG, LPSERVICEADMIN*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                     ULONG, LPSTR) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override { return riid == IID_IMAPISession; }

private:
    std::vector<mapi::ComRef<Store>> m_stores;
};

}  // namespace fake
