// The session object: the opened stores of a profile, the message store
// table, and routing of entry identifiers by the store MAPIUID they carry.
// Each store of the session has a MAPIUID no other one has (see AddStore).
#include "session.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include <mapiutil.h>

#include "com_object.h"
#include "mapi_ptr.h"
#include "memory_rows.h"
#include "store_identity.h"
#include "table.h"

namespace mapi {

namespace {

// Entry ids carry 4 flag bytes, then the MAPIUID of their store.
constexpr ULONG kUidOffset = 4;
constexpr ULONG kMinEntryIdSize = kUidOffset + sizeof(MAPIUID);

struct SessionStore {
    ProfileEntry entry;
    StoreProvider* provider = nullptr;
    ComRef<IMsgStore> store;
    std::vector<BYTE> entryId;    // the store's own, as it reports it
    std::vector<BYTE> recordKey;  // PR_RECORD_KEY, or the store's MAPIUID
    FileIdentity file;            // the file it was opened from
};

bool SameUid(const BYTE* a, const BYTE* b) {
    return std::memcmp(a + kUidOffset, b + kUidOffset, sizeof(MAPIUID)) == 0;
}

std::vector<BYTE> BinaryProp(IMsgStore* store, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(store, tag, &raw) != S_OK) return {};
    MapiBuffer<SPropValue> value(raw);
    if (value->Value.bin.lpb == nullptr) return {};
    return std::vector<BYTE>(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

std::string Describe(const ProfileEntry& e) {
    return "store \"" + e.displayName + "\" (" + e.path + ")";
}

// Opens entry through its provider, under routingUid when that is given.
HRESULT OpenOne(const ProfileEntry& entry, const MAPIUID* routingUid, SessionStore* out,
                std::string* why) {
    StoreProvider* provider = FindProvider(entry.provider);
    if (provider == nullptr) {
        *why = "unknown provider \"" + entry.provider + "\"";
        return MAPI_E_NOT_FOUND;
    }
    ComRef<IMsgStore> store;
    std::string error;
    HRESULT hr = routingUid != nullptr
                     ? provider->OpenStoreAs(entry, *routingUid, store.Out(), &error)
                     : provider->OpenStore(entry, store.Out(), &error);
    if (FAILED(hr) || !store) {
        *why = error.empty()
                   ? "the " + std::string(provider->Name()) + " provider could not open it"
                   : error;
        return FAILED(hr) ? hr : MAPI_E_CALL_FAILED;
    }
    std::vector<BYTE> id = BinaryProp(store.get(), PR_STORE_ENTRYID);
    if (id.size() < kMinEntryIdSize) id = BinaryProp(store.get(), PR_ENTRYID);
    if (id.size() < kMinEntryIdSize) {
        *why = "it reports no usable entry identifier";
        return MAPI_E_CORRUPT_STORE;
    }
    if (routingUid != nullptr &&
        std::memcmp(id.data() + kUidOffset, routingUid->ab, sizeof(MAPIUID)) != 0) {
        *why = "its provider did not take the identity the session gave it";
        return MAPI_E_CALL_FAILED;
    }
    out->entry = entry;
    out->provider = provider;
    out->store = std::move(store);
    out->recordKey = BinaryProp(out->store.get(), PR_RECORD_KEY);
    if (out->recordKey.empty())
        out->recordKey.assign(id.begin() + kUidOffset, id.begin() + kMinEntryIdSize);
    out->entryId = std::move(id);
    return S_OK;
}

const SessionStore* StoreWithUid(const std::vector<SessionStore>& stores, const BYTE* uid) {
    for (const SessionStore& s : stores)
        if (std::memcmp(s.entryId.data() + kUidOffset, uid, sizeof(MAPIUID)) == 0) return &s;
    return nullptr;
}

// Opens the store of entry and appends it to stores, so that each store of
// the session reads as itself: an entry whose file is already open shares
// that store (one file, one store, never two writers on it), and a store
// whose MAPIUID is taken (a copied file) is routed by a MAPIUID of its own.
HRESULT AddStore(const ProfileEntry& entry, std::vector<SessionStore>* stores, std::string* why) {
    const FileIdentity file = IdentifyFile(entry.path);
    for (const SessionStore& s : *stores) {
        if (!s.file.SameFileAs(file)) continue;
        SessionStore same = s;
        same.entry = entry;
        stores->push_back(std::move(same));
        return S_OK;
    }
    SessionStore opened;
    HRESULT hr = OpenOne(entry, nullptr, &opened, why);
    if (FAILED(hr)) return hr;
    const BYTE* own = opened.entryId.data() + kUidOffset;
    if (const SessionStore* holder = StoreWithUid(*stores, own)) {
        const std::string other = Describe(holder->entry);
        MAPIUID ownUid;
        std::memcpy(ownUid.ab, own, sizeof ownUid.ab);
        const std::string where = CanonicalPath(entry.path);
        MAPIUID routing;
        for (unsigned attempt = 0;; ++attempt) {
            routing = DeriveRoutingUid(ownUid, where, attempt);
            if (StoreWithUid(*stores, routing.ab) == nullptr) break;
        }
        opened = SessionStore();  // the first opening ends before the second begins
        hr = OpenOne(entry, &routing, &opened, why);
        if (FAILED(hr)) {
            *why = "it carries the identity of " + other +
                   " (a copy of that file?) and cannot be opened under another: " + *why;
            return hr;
        }
    }
    opened.file = file;
    stores->push_back(std::move(opened));
    return S_OK;
}

SPropValue Binary(ULONG tag, std::vector<BYTE>& bytes) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    v.Value.bin.lpb = bytes.data();
    return v;
}

SPropValue Long(ULONG tag, LONG l) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = l;
    return v;
}

SPropValue String(ULONG tag, const std::string& s) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char*>(s.c_str());
    return v;
}

class Session final : public ComObject<IMAPISession> {
public:
    explicit Session(std::vector<SessionStore> stores) : stores_(std::move(stores)) {}

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }

    HRESULT GetMsgStoresTable(ULONG flags, LPMAPITABLE* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        std::vector<SessionStore> stores;
        HRESULT hr = Snapshot(&stores);
        if (hr != S_OK) return hr;
        auto rows = std::make_shared<MemoryRows>();
        for (size_t i = 0; i < stores.size(); ++i) {
            SessionStore& s = stores[i];
            MAPIUID uid = s.provider->ProviderUid();
            std::vector<BYTE> mdbProvider(uid.ab, uid.ab + sizeof(uid.ab));
            std::vector<BYTE> instance(sizeof(ULONG));
            const ULONG index = static_cast<ULONG>(i);
            std::memcpy(instance.data(), &index, sizeof(index));
            const std::string providerName = s.provider->DisplayName();
            SPropValue values[] = {
                String(PR_DISPLAY_NAME_A, s.entry.displayName),
                Binary(PR_ENTRYID, s.entryId),
                String(PR_PROVIDER_DISPLAY_A, providerName),
                Binary(PR_MDB_PROVIDER, mdbProvider),
                Long(PR_RESOURCE_FLAGS, i == 0 ? STATUS_DEFAULT_STORE : 0),
                Binary(PR_RECORD_KEY, s.recordKey),
                Binary(PR_INSTANCE_KEY, instance),
                Long(PR_ROWID, static_cast<LONG>(i)),
                Long(PR_OBJECT_TYPE, MAPI_STORE),
            };
            SPropValue isDefault{};
            isDefault.ulPropTag = PR_DEFAULT_STORE;
            isDefault.Value.b = i == 0;
            std::vector<SPropValue> row(std::begin(values), std::end(values));
            row.push_back(isDefault);
            hr = rows->AddRow(row.data(), static_cast<ULONG>(row.size()));
            if (hr != S_OK) return hr;
        }
        const ULONG text = (flags & MAPI_UNICODE) ? PT_UNICODE : PT_STRING8;
        SizedSPropTagArray(9, columns) = {
            9,
            {CHANGE_PROP_TYPE(PR_DISPLAY_NAME, text), PR_ENTRYID,
             CHANGE_PROP_TYPE(PR_PROVIDER_DISPLAY, text), PR_MDB_PROVIDER, PR_RESOURCE_FLAGS,
             PR_RECORD_KEY, PR_INSTANCE_KEY, PR_ROWID, PR_DEFAULT_STORE}};
        return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&columns), out);
    }

    HRESULT OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG,
                         LPMDB* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        ComRef<IMsgStore> store;
        HRESULT hr = Route(cbEntryID, lpEntryID, &store, nullptr);
        if (hr == MAPI_E_UNKNOWN_ENTRYID) return MAPI_E_NOT_FOUND;
        if (hr != S_OK) return hr;
        return store->QueryInterface(lpInterface ? *lpInterface : IID_IMsgStore,
                                     reinterpret_cast<void**>(out));
    }

    HRESULT OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetStatusTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG* lpulObjType, LPUNKNOWN* lppUnk) override {
        if (lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        ComRef<IMsgStore> store;
        bool isStore = false;
        HRESULT hr = Route(cbEntryID, lpEntryID, &store, &isStore);
        if (hr != S_OK) return hr;
        if (!isStore)
            return store->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                                    lppUnk);
        hr = store->QueryInterface(lpInterface ? *lpInterface : IID_IMsgStore,
                                   reinterpret_cast<void**>(lppUnk));
        if (hr == S_OK && lpulObjType != nullptr) *lpulObjType = MAPI_STORE;
        return hr;
    }

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG flags,
                            ULONG* result) override {
        if (result == nullptr || (cb1 > 0 && id1 == nullptr) || (cb2 > 0 && id2 == nullptr))
            return MAPI_E_INVALID_PARAMETER;
        *result = FALSE;
        if (cb1 < kMinEntryIdSize || cb2 < kMinEntryIdSize) return MAPI_E_INVALID_ENTRYID;
        const auto* a = reinterpret_cast<const BYTE*>(id1);
        const auto* b = reinterpret_cast<const BYTE*>(id2);
        if (!SameUid(a, b)) return S_OK;
        ComRef<IMsgStore> store;
        HRESULT hr = Route(cb1, id1, &store, nullptr);
        if (hr == S_OK) return store->CompareEntryIDs(cb1, id1, cb2, id2, flags, result);
        // No store of the session knows them: equal bytes are the same entry.
        *result = (cb1 == cb2 && std::memcmp(a, b, cb1) == 0) ? TRUE : FALSE;
        return S_OK;
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

    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
        std::vector<SessionStore> released;
        {
            std::lock_guard<std::mutex> lock(mu_);
            released.swap(stores_);
            loggedOff_ = true;
        }
        return S_OK;  // the stores are released here, outside the guard
    }

    HRESULT SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT AdminServices(ULONG, LPSERVICEADMIN*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                     ULONG, LPSTR) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }

    HRESULT WriterLocation(ULONG cb, const BYTE* id, std::string* out) {
        if (id == nullptr || cb < kMinEntryIdSize) return MAPI_E_INVALID_ENTRYID;
        std::lock_guard<std::mutex> lock(mu_);
        if (loggedOff_) return MAPI_E_END_OF_SESSION;
        for (const SessionStore& s : stores_) {
            if (!SameUid(s.entryId.data(), id)) continue;
            *out = s.provider->WriterLocation(s.entry);
            return S_OK;
        }
        return MAPI_E_NOT_FOUND;
    }

private:
    bool SupportsInterface(REFIID riid) const override { return riid == IID_IMAPISession; }

    HRESULT Snapshot(std::vector<SessionStore>* out) {
        std::lock_guard<std::mutex> lock(mu_);
        if (loggedOff_) return MAPI_E_END_OF_SESSION;
        *out = stores_;
        return S_OK;
    }

    // The store an entry id belongs to; *isStore tells whether the id is
    // the store's own.
    HRESULT Route(ULONG cb, LPENTRYID id, ComRef<IMsgStore>* store, bool* isStore) {
        if (id == nullptr || cb < kMinEntryIdSize) return MAPI_E_INVALID_ENTRYID;
        const auto* bytes = reinterpret_cast<const BYTE*>(id);
        std::lock_guard<std::mutex> lock(mu_);
        if (loggedOff_) return MAPI_E_END_OF_SESSION;
        for (const SessionStore& s : stores_) {
            if (!SameUid(s.entryId.data(), bytes)) continue;
            *store = s.store;
            if (isStore != nullptr)
                *isStore = cb == s.entryId.size() && std::memcmp(bytes, s.entryId.data(), cb) == 0;
            return S_OK;
        }
        return MAPI_E_UNKNOWN_ENTRYID;
    }

    std::mutex mu_;
    std::vector<SessionStore> stores_;
    bool loggedOff_ = false;
};

}  // namespace

HRESULT StoreWriterLocation(IMAPISession* session, ULONG cb, const BYTE* entryId,
                            std::string* location) {
    if (location == nullptr) return MAPI_E_INVALID_PARAMETER;
    location->clear();
    auto* ours = dynamic_cast<Session*>(session);
    if (ours == nullptr) return MAPI_E_NO_SUPPORT;
    return ours->WriterLocation(cb, entryId, location);
}

HRESULT OpenSession(const Profile& profile, IMAPISession** session,
                    std::vector<std::string>* warnings) {
    if (session == nullptr || warnings == nullptr) return MAPI_E_INVALID_PARAMETER;
    *session = nullptr;
    std::vector<SessionStore> stores;
    for (const ProfileEntry& entry : profile.Entries()) {
        std::string why;
        if (FAILED(AddStore(entry, &stores, &why)))
            warnings->push_back(Describe(entry) + " left out: " + why);
    }
    *session = new (std::nothrow) Session(std::move(stores));
    return *session != nullptr ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

}  // namespace mapi
