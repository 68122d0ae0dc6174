// The in-memory stand-ins of store_fakes.h.
#include "store_fakes.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace fake {

namespace {

std::string BytesOf(ULONG cb, const void* pb) {
    return pb != nullptr ? std::string(static_cast<const char*>(pb), cb) : std::string();
}

// Hands out obj with a reference of the caller's own.
template <class T>
LPUNKNOWN Shared(T* obj) {
    obj->AddRef();
    return static_cast<LPUNKNOWN>(obj);
}

}  // namespace

void FillValue(const Props& props, ULONG tag, void* parent, SPropValue* out) {
    const ULONG id = PROP_ID(tag);
    auto it = props.find(id);
    if (it == props.end() || it->second.type == PT_ERROR) {
        out->ulPropTag = PROP_TAG(PT_ERROR, id);
        out->Value.err = it == props.end() ? MAPI_E_NOT_FOUND : it->second.err;
        return;
    }
    const Value& v = it->second;
    out->ulPropTag = PROP_TAG(v.type, id);
    if (v.type == PT_LONG) {
        out->Value.l = v.l;
        return;
    }
    void* data = nullptr;
    MAPIAllocateMore(static_cast<ULONG>(v.s.size() + 1), parent, &data);
    std::memcpy(data, v.s.data(), v.s.size());
    static_cast<char*>(data)[v.s.size()] = '\0';
    if (v.type == PT_STRING8) {
        out->Value.lpszA = static_cast<char*>(data);
    } else {
        out->Value.bin.cb = static_cast<ULONG>(v.s.size());
        out->Value.bin.lpb = static_cast<LPBYTE>(data);
    }
}

// --- Table -------------------------------------------------------------------

HRESULT Table::SetColumns(LPSPropTagArray tags, ULONG) {
    m_columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
}

HRESULT Table::GetRowCount(ULONG, ULONG* count) {
    if (FAILED(failRead)) return failRead;
    *count = static_cast<ULONG>(m_rows.size());
    return S_OK;
}

HRESULT Table::SeekRow(BOOKMARK origin, LONG rows, LONG* sought) {
    if (origin != BOOKMARK_BEGINNING || rows != 0) return MAPI_E_NO_SUPPORT;
    m_position = 0;
    if (sought != nullptr) *sought = 0;
    return S_OK;
}

HRESULT Table::Restrict(LPSRestriction, ULONG) {
    if (restrictCounter != nullptr) ++*restrictCounter;
    return failRestrict;
}

HRESULT Table::QueryRows(LONG count, ULONG, LPSRowSet* rows) {
    *rows = nullptr;
    if (FAILED(failRead)) return failRead;
    size_t n = std::min(static_cast<size_t>(std::max<LONG>(count, 0)), m_rows.size() - m_position);
    void* block = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(std::max<size_t>(n, 1))), &block);
    auto* set = static_cast<SRowSet*>(block);
    set->cRows = 0;
    for (size_t r = 0; r < n; ++r) {
        void* values = nullptr;
        MAPIAllocateBuffer(
            static_cast<ULONG>(std::max<size_t>(m_columns.size(), 1) * sizeof(SPropValue)),
            &values);
        SRow& row = set->aRow[r];
        row.ulAdrEntryPad = 0;
        row.cValues = static_cast<ULONG>(m_columns.size());
        row.lpProps = static_cast<LPSPropValue>(values);
        for (size_t c = 0; c < m_columns.size(); ++c)
            FillValue(m_rows[m_position + r], m_columns[c], values, &row.lpProps[c]);
        set->cRows = static_cast<ULONG>(r + 1);
    }
    m_position += n;
    *rows = set;
    return S_OK;
}

// --- Property objects --------------------------------------------------------

template <class Interface>
HRESULT PropObject<Interface>::GetProps(LPSPropTagArray tags, ULONG, ULONG* count,
                                        LPSPropValue* values) {
    void* block = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(std::max<ULONG>(tags->cValues, 1) * sizeof(SPropValue)),
                       &block);
    auto* out = static_cast<LPSPropValue>(block);
    bool errors = false;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        auto failure = failGet.find(PROP_ID(tags->aulPropTag[i]));
        if (failure != failGet.end()) {
            MAPIFreeBuffer(block);
            return failure->second;
        }
        FillValue(props, tags->aulPropTag[i], block, &out[i]);
        errors |= PROP_TYPE(out[i].ulPropTag) == PT_ERROR;
    }
    *count = tags->cValues;
    *values = out;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

template <class Interface>
HRESULT PropObject<Interface>::SetProps(ULONG count, LPSPropValue values,
                                        LPSPropProblemArray* problems) {
    if (problems != nullptr) *problems = nullptr;
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& v = values[i];
        const ULONG id = PROP_ID(v.ulPropTag);
        switch (PROP_TYPE(v.ulPropTag)) {
            case PT_LONG:
                props[id] = Value::Long(v.Value.l);
                break;
            case PT_STRING8:
                props[id] = Value::Text(v.Value.lpszA != nullptr ? v.Value.lpszA : "");
                break;
            case PT_BINARY:
                props[id] = Value::Bytes(BytesOf(v.Value.bin.cb, v.Value.bin.lpb));
                break;
            default:
                return MAPI_E_NO_SUPPORT;
        }
    }
    return S_OK;
}

template class PropObject<IMAPIFolder>;
template class PropObject<IMsgStore>;

// --- Folder ------------------------------------------------------------------

Folder::Folder(Store* store, std::string name, std::string eid, ULONG type)
    : m_store(store), m_eid(std::move(eid)) {
    props[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(std::move(name));
    props[PROP_ID(PR_ENTRYID)] = Value::Bytes(m_eid);
    props[PROP_ID(PR_FOLDER_TYPE)] = Value::Long(static_cast<LONG>(type));
    m_store->Register(this);
}

std::string Folder::Name() const {
    return props.at(PROP_ID(PR_DISPLAY_NAME)).s;
}

Folder* Folder::Child(const std::string& name) const {
    for (const auto& child : m_children)
        if (child->Name() == name) return child.get();
    return nullptr;
}

Folder* Folder::AddChild(const std::string& name, ULONG type) {
    m_children.emplace_back(new Folder(m_store, name, m_store->NewEid(), type));
    return m_children.back().get();
}

Item& Folder::AddItem(const std::string& subject, HRESULT copyResult) {
    items.push_back(Item{subject, std::string(), m_store->NewEid(), copyResult});
    return items.back();
}

HRESULT Folder::GetContentsTable(ULONG flags, LPMAPITABLE* table) {
    *table = nullptr;
    if (FAILED(failContents)) return failContents;
    std::vector<Props> rows;
    if ((flags & MAPI_ASSOCIATED) == 0) {
        for (const Item& item : items) {
            Props row;
            if (!item.subject.empty()) row[PROP_ID(PR_SUBJECT)] = Value::Text(item.subject);
            if (!item.displayName.empty())
                row[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(item.displayName);
            if (!item.eid.empty()) row[PROP_ID(PR_ENTRYID)] = Value::Bytes(item.eid);
            rows.push_back(std::move(row));
        }
    }
    auto* t = new Table(std::move(rows));
    t->failRead = failContentsRead;
    t->failRestrict = failRestrict;
    // Restrictions are counted on the folder, which outlives its tables.
    t->restrictCounter = &restrictCalls;
    *table = t;
    return S_OK;
}

HRESULT Folder::GetHierarchyTable(ULONG, LPMAPITABLE* table) {
    *table = nullptr;
    if (FAILED(failHierarchy)) return failHierarchy;
    std::vector<Props> rows;
    auto list = [&rows](Folder* child) {
        Props row;
        row[PROP_ID(PR_DISPLAY_NAME)] = child->props[PROP_ID(PR_DISPLAY_NAME)];
        row[PROP_ID(PR_ENTRYID)] = Value::Bytes(child->Eid());
        rows.push_back(std::move(row));
    };
    for (const auto& child : m_children) list(child.get());
    for (Folder* other : alsoListed) list(other);
    *table = new Table(std::move(rows));
    return S_OK;
}

HRESULT Folder::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG, ULONG* type, LPUNKNOWN* object) {
    return m_store->OpenEntry(cb, eid, nullptr, 0, type, object);
}

HRESULT Folder::CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                             ULONG flags) {
    if (list == nullptr || dest == nullptr || flags != 0) return MAPI_E_INVALID_PARAMETER;
    auto* target = static_cast<Folder*>(static_cast<IMAPIFolder*>(dest));
    for (ULONG i = 0; i < list->cValues; ++i) {
        std::string eid = BytesOf(list->lpbin[i].cb, list->lpbin[i].lpb);
        auto it = std::find_if(items.begin(), items.end(),
                               [&](const Item& item) { return item.eid == eid; });
        if (it == items.end()) return MAPI_E_NOT_FOUND;
        if (it->copyResult != S_OK) return it->copyResult;
        Item copy = *it;
        copy.eid = target->m_store->NewEid();
        target->items.push_back(copy);
    }
    if (afterCopy) afterCopy();
    return S_OK;
}

HRESULT Folder::CreateFolder(ULONG type, LPTSTR name, LPTSTR, LPCIID, ULONG flags,
                             LPMAPIFOLDER* folder) {
    *folder = nullptr;
    std::string text = name != nullptr ? name : "";
    // As the embedded store does.
    if (text.empty()) return MAPI_E_INVALID_PARAMETER;
    if (auto failure = failCreate.find(text); failure != failCreate.end()) return failure->second;
    if (refusedNames.count(text) != 0) return MAPI_E_COLLISION;
    for (const auto& child : m_children) {
        if (strcasecmp(child->Name().c_str(), text.c_str()) != 0) continue;
        if ((flags & OPEN_IF_EXISTS) == 0) return MAPI_E_COLLISION;
        child->AddRef();
        *folder = child.get();
        return S_OK;
    }
    Folder* made = AddChild(text, type);
    made->AddRef();
    *folder = made;
    return S_OK;
}

// --- Store -------------------------------------------------------------------

Store::Store(std::string name) : m_name(std::move(name)) {
    props[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(m_name);
    m_root = mapi::ComRef<Folder>(new Folder(this, "", NewEid(), FOLDER_ROOT));
    m_ipmRoot = mapi::ComRef<Folder>::Share(m_root->AddChild("Top of Personal Folders"));
    props[PROP_ID(PR_IPM_SUBTREE_ENTRYID)] = Value::Bytes(m_ipmRoot->Eid());
}

std::string Store::NewEid() {
    return m_name + "#" + std::to_string(++m_nextId);
}

void Store::SetSpecial(ULONG tag, Folder* folder) {
    props[PROP_ID(tag)] = Value::Bytes(folder->Eid());
}

Folder* Store::Find(const std::string& eid) const {
    auto it = m_folders.find(eid);
    return it != m_folders.end() ? it->second : nullptr;
}

HRESULT Store::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG, ULONG* type, LPUNKNOWN* object) {
    *object = nullptr;
    std::string key = BytesOf(cb, eid);
    if (auto failure = failOpen.find(key); failure != failOpen.end()) return failure->second;
    Folder* folder = Find(key);
    if (folder == nullptr) return MAPI_E_NOT_FOUND;
    if (type != nullptr) *type = MAPI_FOLDER;
    *object = Shared(static_cast<IMAPIFolder*>(folder));
    return S_OK;
}

HRESULT Store::SetReceiveFolder(LPTSTR messageClass, ULONG, ULONG cb, LPENTRYID eid) {
    std::string cls = messageClass != nullptr ? messageClass : "";
    if (cls.empty())
        m_inboxEid = BytesOf(cb, eid);
    else
        receiveFolders[cls] = BytesOf(cb, eid);
    return S_OK;
}

HRESULT Store::GetReceiveFolder(LPTSTR, ULONG, ULONG* cb, LPENTRYID* eid, LPTSTR* explicitClass) {
    if (explicitClass != nullptr) *explicitClass = nullptr;
    if (m_inboxEid.empty()) return MAPI_E_NOT_FOUND;
    void* block = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(m_inboxEid.size()), &block);
    std::memcpy(block, m_inboxEid.data(), m_inboxEid.size());
    *cb = static_cast<ULONG>(m_inboxEid.size());
    *eid = static_cast<LPENTRYID>(block);
    return S_OK;
}

// --- Session -----------------------------------------------------------------

HRESULT Session::GetMsgStoresTable(ULONG, LPMAPITABLE* table) {
    std::vector<Props> rows;
    for (const auto& store : m_stores) {
        Props row;
        row[PROP_ID(PR_DISPLAY_NAME)] = Value::Text(store->Name());
        row[PROP_ID(PR_ENTRYID)] = Value::Bytes("store:" + store->Name());
        rows.push_back(std::move(row));
    }
    *table = new Table(std::move(rows));
    return S_OK;
}

HRESULT Session::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG, ULONG* type, LPUNKNOWN* object) {
    *object = nullptr;
    std::string key = BytesOf(cb, eid);
    for (const auto& store : m_stores) {
        if ("store:" + store->Name() != key) continue;
        opened.push_back(key);
        if (type != nullptr) *type = MAPI_STORE;
        *object = Shared(static_cast<IMsgStore*>(store.get()));
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

}  // namespace fake
