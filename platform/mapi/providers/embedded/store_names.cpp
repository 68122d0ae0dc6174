// Named properties of one store: the name-to-id map, kept in memory.
#include <cstring>
#include <optional>

#include <mapix.h>

#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"
#include "store_core.h"

namespace mapi::embedded {
namespace {

constexpr ULONG kFirstNamedId = 0x8000;
constexpr ULONG kLastNamedId = 0xFFFE;

}  // namespace

StoreCore::NameKey StoreCore::KeyOf(const NamedProp& n) {
    return NameKey(std::string(reinterpret_cast<const char*>(&n.guid), sizeof(GUID)), n.kind,
                   n.kind == MNID_ID ? n.lid : 0, n.kind == MNID_STRING ? n.name : std::string());
}

HRESULT StoreCore::LoadNames() {
    // Another connection's commit is the only way the table can differ from
    // the map once loaded; data_version tells whether one happened.
    CachedStmt v_(Cached("PRAGMA data_version"));
    Stmt& v = *v_;
    int rc = v.Step();
    if (rc != SQLITE_ROW) return HrFromSqlite(rc);
    int64_t version = v.Int(0);
    if (namesLoaded_ && version == namesVersion_) return S_OK;
    std::map<NameKey, ULONG> ids;
    std::map<ULONG, NamedProp> names;
    CachedStmt q_(Cached("SELECT id, guid, kind, lid, name FROM named_props"));
    Stmt& q = *q_;
    while ((rc = q.Step()) == SQLITE_ROW) {
        NamedProp n{};
        std::string_view g = q.Blob(1);
        if (g.size() == sizeof(GUID)) std::memcpy(&n.guid, g.data(), sizeof(GUID));
        n.kind = static_cast<ULONG>(q.Int(2));
        n.lid = static_cast<LONG>(q.Int(3));
        n.name = q.Text(4);
        ULONG id = static_cast<ULONG>(q.Int(0));
        ids[KeyOf(n)] = id;
        names[id] = std::move(n);
    }
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    idsByName_ = std::move(ids);
    namesById_ = std::move(names);
    namesLoaded_ = true;
    namesVersion_ = version;
    return S_OK;
}

HRESULT StoreCore::LookupName(const MAPINAMEID& name, bool create, ULONG* id) {
    if (name.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (name.ulKind != MNID_ID && name.ulKind != MNID_STRING) return MAPI_E_INVALID_PARAMETER;
    if (name.ulKind == MNID_STRING && name.Kind.lpwstrName == nullptr)
        return MAPI_E_INVALID_PARAMETER;
    NamedProp n{*name.lpguid, name.ulKind, name.ulKind == MNID_ID ? name.Kind.lID : 0,
                name.ulKind == MNID_STRING ? Utf16ToUtf8(name.Kind.lpwstrName) : ""};
    NameKey key = KeyOf(n);
    auto found = idsByName_.find(key);
    if (found != idsByName_.end()) {
        *id = found->second;
        return S_OK;
    }
    if (!create) return MAPI_E_NOT_FOUND;
    if (HRESULT hr = WriteCheck(); FAILED(hr)) return hr;
    // The lowest free identifier: the map holds every used one.
    ULONG free = kFirstNamedId;
    for (auto it = namesById_.lower_bound(kFirstNamedId);
         it != namesById_.end() && it->first == free; ++it)
        ++free;
    if (free > kLastNamedId) return MAPI_E_NOT_ENOUGH_RESOURCES;
    CachedStmt insert_(
        Cached("INSERT INTO named_props(id, guid, kind, lid, name) VALUES(?1,?2,?3,?4,?5)"));
    Stmt& insert = *insert_;
    insert.Bind(1, free).BindBlob(2, name.lpguid, sizeof(GUID)).Bind(3, name.ulKind);
    insert.Bind(4, n.lid).Bind(5, n.name);
    int rc = insert.Run();
    if (rc != SQLITE_DONE) return HrFromSqlite(rc);
    idsByName_[key] = free;
    namesById_[free] = std::move(n);
    *id = free;
    return S_OK;
}

HRESULT StoreCore::IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                                LPSPropTagArray* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    auto lock = Lock();
    std::vector<ULONG> tags;
    bool errors = false;
    if (names == nullptr || count == 0) {
        if (HRESULT hr = LoadNames(); FAILED(hr)) return hr;
        for (const auto& [id, n] : namesById_) tags.push_back(PROP_TAG(PT_UNSPECIFIED, id));
    } else {
        bool create = (flags & MAPI_CREATE) != 0;
        // A copy asks for the same names item after item. Names are never
        // removed, so when the map knows all of them it is the answer, with
        // no statement at all; only a name it lacks makes it look at the
        // file again, and only a name still missing then takes a transaction.
        bool missing = false;
        auto look = [&] {
            tags.clear();
            missing = errors = false;
            for (ULONG i = 0; i < count; ++i) {
                ULONG id = 0;
                HRESULT hr = names[i] == nullptr ? MAPI_E_INVALID_PARAMETER
                                                 : LookupName(*names[i], false, &id);
                missing |= hr == MAPI_E_NOT_FOUND;
                errors |= FAILED(hr);
                tags.push_back(SUCCEEDED(hr) ? PROP_TAG(PT_UNSPECIFIED, id)
                                             : PROP_TAG(PT_ERROR, PROP_ID_NULL));
            }
        };
        look();
        if (missing) {
            if (HRESULT hr = LoadNames(); FAILED(hr)) return hr;
            look();
        }
        const bool adding = create && missing && !readOnly_;
        std::unique_ptr<Transaction> tx;
        if (adding) {
            tags.clear();
            errors = false;
            tx = std::make_unique<Transaction>(db_);
            if (tx->BeginCode() != SQLITE_OK) return HrFromSqlite(tx->BeginCode());
            // Under the write lock: what other connections added is now final.
            if (HRESULT hr = LoadNames(); FAILED(hr)) return hr;
        }
        // Only a call that adds names can leave the map ahead of the file;
        // the lookups of a copy, item after item, need no copy of it.
        std::optional<std::pair<std::map<NameKey, ULONG>, std::map<ULONG, NamedProp>>> before;
        if (tx) before.emplace(idsByName_, namesById_);
        for (ULONG i = 0; adding && i < count; ++i) {
            ULONG id = 0;
            HRESULT hr =
                names[i] == nullptr ? MAPI_E_INVALID_PARAMETER : LookupName(*names[i], create, &id);
            if (FAILED(hr) && hr != MAPI_E_NOT_FOUND && hr != MAPI_E_NOT_ENOUGH_RESOURCES &&
                hr != MAPI_E_NO_ACCESS && hr != MAPI_E_INVALID_PARAMETER) {
                if (before) std::tie(idsByName_, namesById_) = std::move(*before);
                return hr;
            }
            if (FAILED(hr)) errors = true;
            tags.push_back(SUCCEEDED(hr) ? PROP_TAG(PT_UNSPECIFIED, id)
                                         : PROP_TAG(PT_ERROR, PROP_ID_NULL));
        }
        if (tx) {
            int rc = tx->Commit();
            if (rc != SQLITE_OK) {
                // The names were not written; the map must not claim them.
                std::tie(idsByName_, namesById_) = std::move(*before);
                return HrFromSqlite(rc);
            }
        }
    }
    void* buffer = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())), &buffer) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* array = static_cast<SPropTagArray*>(buffer);
    array->cValues = static_cast<ULONG>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) array->aulPropTag[i] = tags[i];
    *out = array;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT StoreCore::NamesFromIds(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                                LPMAPINAMEID** names) {
    if (tags == nullptr || count == nullptr || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *names = nullptr;
    auto lock = Lock();
    // An id the map holds keeps its name for good: the file is looked at
    // again only for a list of all names or an id the map lacks.
    bool known = namesLoaded_ && *tags != nullptr;
    for (ULONG i = 0; known && i < (*tags)->cValues; ++i)
        known = namesById_.count(PROP_ID((*tags)->aulPropTag[i])) != 0;
    if (!known)
        if (HRESULT hr = LoadNames(); FAILED(hr)) return hr;
    struct Row {
        ULONG id;
        GUID guid;
        ULONG kind;
        LONG lid;
        std::string name;
        bool found;
    };
    std::vector<Row> rows;
    bool allocatedTags = false;
    if (*tags == nullptr) {
        for (const auto& [id, n] : namesById_) {
            if (guid != nullptr && n.guid != *guid) continue;
            if ((flags & MAPI_NO_STRINGS) && n.kind == MNID_STRING) continue;
            if ((flags & MAPI_NO_IDS) && n.kind == MNID_ID) continue;
            rows.push_back(Row{id, n.guid, n.kind, n.lid, n.name, true});
        }
        allocatedTags = true;
    } else {
        for (ULONG i = 0; i < (*tags)->cValues; ++i) {
            ULONG id = PROP_ID((*tags)->aulPropTag[i]);
            auto found = namesById_.find(id);
            if (found == namesById_.end())
                rows.push_back(Row{id, {}, 0, 0, {}, false});
            else
                rows.push_back(Row{id, found->second.guid, found->second.kind, found->second.lid,
                                   found->second.name, true});
        }
    }
    void* head = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(sizeof(LPMAPINAMEID) * (rows.size() + 1)), &head) !=
        S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    MapiBuffer<void> holder(head);
    auto* out = static_cast<LPMAPINAMEID*>(head);
    bool errors = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        out[i] = nullptr;
        if (!rows[i].found) {
            errors = true;
            continue;
        }
        void* p = nullptr;
        if (MAPIAllocateMore(sizeof(MAPINAMEID) + sizeof(GUID), head, &p) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* n = static_cast<MAPINAMEID*>(p);
        n->lpguid = reinterpret_cast<LPGUID>(static_cast<char*>(p) + sizeof(MAPINAMEID));
        *n->lpguid = rows[i].guid;
        n->ulKind = rows[i].kind;
        if (rows[i].kind == MNID_ID) {
            n->Kind.lID = rows[i].lid;
        } else {
            std::u16string w = Utf8ToUtf16(rows[i].name);
            void* s = nullptr;
            if (MAPIAllocateMore(static_cast<ULONG>((w.size() + 1) * sizeof(WCHAR)), head, &s) !=
                S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(s, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
            n->Kind.lpwstrName = static_cast<LPWSTR>(s);
        }
        out[i] = n;
    }
    if (allocatedTags) {
        void* t = nullptr;
        if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(rows.size())), &t) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* array = static_cast<SPropTagArray*>(t);
        array->cValues = static_cast<ULONG>(rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            array->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, rows[i].id);
        *tags = array;
    }
    *count = static_cast<ULONG>(rows.size());
    *names = static_cast<LPMAPINAMEID*>(holder.release());
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

}  // namespace mapi::embedded
