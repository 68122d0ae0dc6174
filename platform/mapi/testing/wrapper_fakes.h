// Test doubles of the MAPI interfaces for the access layer's tests.
//
// Each fake counts its references: it starts with one (the test's own) and
// is never deleted by Release, so a test can check that wrappers gave back
// exactly what they took (refs == 1 afterwards, overReleases == 0). Values
// handed to MAPI callers are allocated with the MAPI allocator the way a
// provider would, so leak checks can count live allocation chains.
// Methods the tests do not need answer MAPI_E_NO_SUPPORT.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include <gtest/gtest.h>
#include <mapix.h>

#include "MapiBuffer.h"
#include "MapiException.h"

namespace fakes {

using Bytes = std::vector<BYTE>;

// Runs f, which must throw CMAPIException, and returns what it threw.
inline CMAPIException Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (CMAPIException e) {
        return e;
    }
    ADD_FAILURE() << "no CMAPIException";
    return CMAPIException(S_OK, nullptr);
}

// One stored property value of a fake: PT_LONG, PT_STRING8 or PT_BINARY.
struct Value {
    ULONG tag = 0;
    LONG l = 0;
    std::string s;
    Bytes bin;
};
inline Value Long(ULONG tag, LONG l) {
    return Value{tag, l, {}, {}};
}
inline Value Str(ULONG tag, std::string s) {
    return Value{tag, 0, std::move(s), {}};
}
inline Value Bin(ULONG tag, Bytes b) {
    return Value{tag, 0, {}, std::move(b)};
}

// Writes v into out, with any data allocated in parent's chain; false when
// that allocation fails.
bool FillValue(const Value& v, SPropValue* out, void* parent);
// The PT_ERROR value MAPI gives for a property an object lacks.
void FillMissing(ULONG tag, SPropValue* out);
// Reads a caller's value back into a stored Value.
Value FromProp(const SPropValue& p);

template <class I>
class Counted : public I {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        if (refs <= 0) ++resurrections;  // a real object would be gone already
        return static_cast<ULONG>(++refs);
    }
    ULONG Release() override {
        if (refs <= 0) ++overReleases;
        return static_cast<ULONG>(--refs);
    }
    virtual ~Counted() = default;

    long refs = 1;
    int overReleases = 0;
    int resurrections = 0;
};

class Table : public Counted<IMAPITable> {
public:
    std::vector<std::vector<Value>> rows;
    std::vector<ULONG> columns;  // as last set
    int setColumnsCalls = 0;
    HRESULT queryHr = S_OK;  // QueryRows fails with this when set

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetStatus(ULONG*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override;
    HRESULT QueryColumns(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetRowCount(ULONG, ULONG* count) override {
        *count = static_cast<ULONG>(rows.size());
        return S_OK;
    }
    HRESULT SeekRow(BOOKMARK origin, LONG count, LONG* sought) override;
    HRESULT SeekRowApprox(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QueryPosition(ULONG*, ULONG*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FindRow(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Restrict(LPSRestriction, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SortTable(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QuerySortOrder(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QueryRows(LONG count, ULONG flags, LPSRowSet* out) override;
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

private:
    size_t m_position = 0;
};

// The property side shared by the fake folder and the fake store.
template <class I>
class PropObject : public Counted<I> {
public:
    std::map<ULONG, Value> props;  // by property id
    HRESULT getPropsHr = S_OK;     // a failure here fails every read
    HRESULT setPropsHr = S_OK;
    HRESULT saveHr = S_OK;
    ULONG savedFlags = 0xFFFFFFFF;
    // GetIDsFromNames: fails with namesHr, or answers S_OK without a tag
    // array when noTags, else the tag PROP_TAG(0, nextId).
    HRESULT namesHr = S_OK;
    bool noTags = false;
    ULONG nextId = 0x8000;
    ULONG lastNameKind = 0xFFFFFFFF, lastNameFlags = 0;
    std::u16string lastName;
    LONG lastNameId = 0;
    GUID lastNameGuid{};

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SaveChanges(ULONG flags) override {
        savedFlags = flags;
        return saveHr;
    }
    HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) override {
        *out = nullptr;
        *count = 0;
        if (getPropsHr != S_OK) return getPropsHr;
        if (!tags) return MAPI_E_NO_SUPPORT;
        void* block = nullptr;
        if (MAPIAllocateBuffer(tags->cValues * sizeof(SPropValue), &block) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        MapiBufferPtr<SPropValue> values(static_cast<LPSPropValue>(block));
        HRESULT hr = S_OK;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            auto it = props.find(PROP_ID(tags->aulPropTag[i]));
            if (it == props.end()) {
                FillMissing(tags->aulPropTag[i], &values.get()[i]);
                hr = MAPI_W_ERRORS_RETURNED;
            } else if (!FillValue(it->second, &values.get()[i], block)) {
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
        }
        *count = tags->cValues;
        *out = values.release();
        return hr;
    }
    HRESULT GetPropList(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (problems) *problems = nullptr;
        if (setPropsHr != S_OK) return setPropsHr;
        for (ULONG i = 0; i < count; ++i) props[PROP_ID(values[i].ulPropTag)] = FromProp(values[i]);
        return S_OK;
    }
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
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                            LPSPropTagArray* out) override {
        *out = nullptr;
        if (count != 1 || !names || !names[0]) return MAPI_E_INVALID_PARAMETER;
        lastNameKind = names[0]->ulKind;
        lastNameFlags = flags;
        lastNameGuid = *names[0]->lpguid;
        if (lastNameKind == MNID_STRING)
            lastName = names[0]->Kind.lpwstrName;
        else
            lastNameId = names[0]->Kind.lID;
        if (namesHr != S_OK || noTags) return namesHr;
        void* block = nullptr;
        if (MAPIAllocateBuffer(CbNewSPropTagArray(1), &block) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* tags = static_cast<LPSPropTagArray>(block);
        tags->cValues = 1;
        tags->aulPropTag[0] = PROP_TAG(0, nextId);
        *out = tags;
        return S_OK;
    }
};

// Entry identifier -> object, for the OpenEntry methods of the fakes.
class Entries {
public:
    void Add(const Bytes& eid, IUnknown* object) { m_map[eid] = object; }
    // AddRefs and hands out the object under eid, or MAPI_E_NOT_FOUND.
    HRESULT Open(ULONG cb, LPENTRYID eid, LPUNKNOWN* out) const;
    HRESULT openHr = S_OK;
    ULONG lastFlags = 0;

private:
    std::map<Bytes, IUnknown*> m_map;
};

class Folder : public PropObject<IMAPIFolder> {
public:
    Table* contents = nullptr;  // handed out by GetContentsTable (either flag)
    Table* hierarchy = nullptr;
    HRESULT contentsHr = S_OK, hierarchyHr = S_OK, createHr = S_OK;
    ULONG lastContentsFlags = 0xFFFFFFFF, lastHierarchyFlags = 0xFFFFFFFF;
    ULONG lastCreateFlags = 0xFFFFFFFF;
    std::string lastCreateComment;
    Entries entries;
    std::vector<std::unique_ptr<Folder>> children;
    std::string name;

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* out) override;
    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* out) override;
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override;
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CreateMessage(LPCIID, ULONG, LPMESSAGE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    // Children are unique without regard to case; OPEN_IF_EXISTS opens a
    // clash, without it a clash is MAPI_E_COLLISION.
    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID, ULONG flags,
                         LPMAPIFOLDER* out) override;
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
};

class Store : public PropObject<IMsgStore> {
public:
    Entries entries;
    Bytes receiveEid;  // handed out by GetReceiveFolder
    HRESULT receiveHr = S_OK;
    std::string lastReceiveClass;

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override;
    HRESULT SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* cb, LPENTRYID* eid,
                             LPTSTR* explicitClass) override;
    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT StoreLogoff(ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }
};

class Session : public Counted<IMAPISession> {
public:
    Table* storesTable = nullptr;
    HRESULT storesHr = S_OK;
    int storesCalls = 0;
    Entries entries;

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetMsgStoresTable(ULONG flags, LPMAPITABLE* out) override;
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
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override;
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
    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT AdminServices(ULONG, LPSERVICEADMIN*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                     ULONG, LPSTR) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }
};

}  // namespace fakes
