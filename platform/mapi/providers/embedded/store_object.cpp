// The message store object: store properties, entry opening and the receive
// folder settings.
#include "store_object.h"

#include <cstring>

#include <mapix.h>

#include "folder_object.h"
#include "object_props.h"
#include "prop_object.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"
#include "store_schema.h"

namespace mapi::embedded {
namespace {

std::string ClassArg(LPTSTR cls, ULONG flags) {
    if (cls == nullptr) return std::string();
    if (flags & MAPI_UNICODE) return Utf16ToUtf8(reinterpret_cast<const WCHAR*>(cls));
    return std::string(cls);
}

bool IsStoreComputed(ULONG id) {
    switch (id) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_STORE_RECORD_KEY):
        case PROP_ID(PR_MDB_PROVIDER):
        case PROP_ID(PR_DISPLAY_NAME):
        case PROP_ID(PR_STORE_SUPPORT_MASK):
        case PROP_ID(PR_OBJECT_TYPE):
            return true;
        default:
            return false;
    }
}

// The store's own entry ids kept among its properties (the special
// folders) carry the MAPIUID of the file. Under a routing identity they are
// handed out with that instead, and written back with the file's, or the
// session would send them to the store the file was copied from.
void SwapStoreUid(const MAPIUID& from, const MAPIUID& to, EncodedProp* value) {
    if (value->type != PT_BINARY || value->bytes.size() != kEntryIdSize) return;
    char* uid = value->bytes.data() + 4;
    if (value->bytes.compare(0, 4, std::string(4, '\0')) != 0 ||
        std::memcmp(uid, from.ab, sizeof from.ab) != 0)
        return;
    std::memcpy(uid, to.ab, sizeof to.ab);
}

class Store final : public PropObject<IMsgStore> {
public:
    Store(std::shared_ptr<StoreCore> core, const MAPIUID& provider)
        : core_(std::move(core)), provider_(provider) {}

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID eid1, ULONG cb2, LPENTRYID eid2, ULONG,
                            ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        ParsedEntryId a, b;
        if (!ParseEntryId(eid1, cb1, &a) || !ParseEntryId(eid2, cb2, &b))
            return MAPI_E_INVALID_ENTRYID;
        *result = IsEqualMAPIUID(&a.store, &b.store) && a.kind == b.kind && a.id == b.id;
        return S_OK;
    }

    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        ParsedEntryId parsed;
        if (eid != nullptr && cb != 0 && ParseEntryId(eid, cb, &parsed) &&
            parsed.kind == ObjectKind::kStore && IsEqualMAPIUID(&parsed.store, &core_->Uid())) {
            if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (type != nullptr) *type = MAPI_STORE;
            if (iid == nullptr) {
                AddRef();
                *out = static_cast<IMsgStore*>(this);
                return S_OK;
            }
            return QueryInterface(*iid, reinterpret_cast<void**>(out));
        }
        return OpenStoreEntry(core_, cb, eid, iid, flags, type, out);
    }

    HRESULT SetReceiveFolder(LPTSTR cls, ULONG flags, ULONG cb, LPENTRYID eid) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        std::string name = ClassArg(cls, flags);
        if (eid == nullptr || cb == 0) {
            // Removing the default entry would leave the store without an inbox.
            if (name.empty()) return MAPI_E_CALL_FAILED;
            return core_->SetReceiveFolder(name, 0);
        }
        ParsedEntryId parsed;
        if (HRESULT hr = core_->ParseOwnEntryId(cb, eid, &parsed); FAILED(hr)) return hr;
        ObjectRow row;
        if (HRESULT hr = core_->LoadObject(parsed.id, &row); FAILED(hr)) return hr;
        if (row.kind != ObjectKind::kFolder) return MAPI_E_INVALID_ENTRYID;
        return core_->SetReceiveFolder(name, row.id);
    }

    HRESULT GetReceiveFolder(LPTSTR cls, ULONG flags, ULONG* cb, LPENTRYID* eid,
                             LPTSTR* explicitClass) override {
        if (cb == nullptr || eid == nullptr) return MAPI_E_INVALID_PARAMETER;
        *cb = 0;
        *eid = nullptr;
        if (explicitClass != nullptr) *explicitClass = nullptr;
        int64_t folder = 0;
        std::string matched;
        HRESULT hr = core_->ReceiveFolder(ClassArg(cls, flags), &folder, &matched);
        if (FAILED(hr)) return hr;
        std::string bytes = core_->EntryId(ObjectKind::kFolder, folder);
        MapiBuffer<ENTRYID> id = AllocateMapi<ENTRYID>(static_cast<ULONG>(bytes.size()));
        if (!id) return MAPI_E_NOT_ENOUGH_MEMORY;
        std::memcpy(id.get(), bytes.data(), bytes.size());
        if (explicitClass != nullptr) {
            if (flags & MAPI_UNICODE) {
                std::u16string w = Utf8ToUtf16(matched);
                auto text = AllocateMapi<char>(static_cast<ULONG>((w.size() + 1) * 2));
                if (!text) return MAPI_E_NOT_ENOUGH_MEMORY;
                std::memcpy(text.get(), w.c_str(), (w.size() + 1) * 2);
                *explicitClass = text.release();
            } else {
                auto text = AllocateMapi<char>(static_cast<ULONG>(matched.size() + 1));
                if (!text) return MAPI_E_NOT_ENOUGH_MEMORY;
                std::memcpy(text.get(), matched.c_str(), matched.size() + 1);
                *explicitClass = text.release();
            }
        }
        *cb = static_cast<ULONG>(bytes.size());
        *eid = id.release();
        return S_OK;
    }

    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::vector<std::pair<std::string, int64_t>> rows;
        HRESULT hr = core_->ReceiveFolderRows(&rows);
        if (FAILED(hr)) return hr;
        auto source = std::make_shared<MemoryRows>();
        for (const auto& [cls, folder] : rows) {
            std::string eid = core_->EntryId(ObjectKind::kFolder, folder);
            int64_t key = folder;
            SPropValue values[4]{};
            values[0].ulPropTag = PR_MESSAGE_CLASS_A;
            values[0].Value.lpszA = const_cast<char*>(cls.c_str());
            values[1].ulPropTag = PR_ENTRYID;
            values[1].Value.bin =
                SBinary{static_cast<ULONG>(eid.size()), reinterpret_cast<LPBYTE>(eid.data())};
            values[2].ulPropTag = PR_RECORD_KEY;
            values[2].Value.bin = values[1].Value.bin;
            values[3].ulPropTag = PR_INSTANCE_KEY;
            values[3].Value.bin = SBinary{8, reinterpret_cast<LPBYTE>(&key)};
            if (FAILED(hr = source->AddRow(values, 4))) return hr;
        }
        static const struct {
            ULONG cValues;
            ULONG aulPropTag[3];
        } columns{3, {PR_MESSAGE_CLASS_A, PR_ENTRYID, PR_RECORD_KEY}};
        return CreateTable(source, reinterpret_cast<const SPropTagArray*>(&columns), table);
    }

    HRESULT StoreLogoff(ULONG*) override { return S_OK; }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMsgStore, IID_IMAPIProp});
    }

    StoreCore& Core() override { return *core_; }
    bool ComputedValue(ULONG id, void* parent, SPropValue* out) override {
        std::string uid(reinterpret_cast<const char*>(core_->Uid().ab), 16);
        auto binary = [&](ULONG tag, const std::string& bytes) {
            if (FAILED(BinaryValue(tag, bytes, parent, out)))
                *out = ErrorValue(tag, MAPI_E_NOT_ENOUGH_MEMORY);
            return true;
        };
        switch (id) {
            case PROP_ID(PR_ENTRYID):
            case PROP_ID(PR_STORE_ENTRYID):
                return binary(PROP_TAG(PT_BINARY, id), core_->EntryId(ObjectKind::kStore, 1));
            case PROP_ID(PR_RECORD_KEY):
            case PROP_ID(PR_STORE_RECORD_KEY):
                return binary(PROP_TAG(PT_BINARY, id), uid);
            case PROP_ID(PR_MDB_PROVIDER):
                return binary(PR_MDB_PROVIDER,
                              std::string(reinterpret_cast<const char*>(provider_.ab), 16));
            case PROP_ID(PR_DISPLAY_NAME):
                if (FAILED(UnicodeValue(PR_DISPLAY_NAME, core_->DisplayName(), parent, out)))
                    *out = ErrorValue(PR_DISPLAY_NAME, MAPI_E_NOT_ENOUGH_MEMORY);
                return true;
            case PROP_ID(PR_OBJECT_TYPE):
                *out = LongValue(PR_OBJECT_TYPE, MAPI_STORE);
                return true;
            case PROP_ID(PR_STORE_SUPPORT_MASK): {
                ULONG mask = STORE_ENTRYID_UNIQUE | STORE_MV_PROPS_OK | STORE_RESTRICTION_OK |
                             STORE_SORT_OK | STORE_UNICODE_OK;
                mask |= core_->ReadOnly() ? STORE_READONLY
                                          : (STORE_MODIFY_OK | STORE_CREATE_OK | STORE_ATTACH_OK);
                *out = LongValue(PR_STORE_SUPPORT_MASK, static_cast<LONG>(mask));
                return true;
            }
            default:
                return false;
        }
    }
    std::vector<ULONG> ComputedTags() override {
        return {PR_ENTRYID,      PR_STORE_ENTRYID,  PR_RECORD_KEY,  PR_STORE_RECORD_KEY,
                PR_MDB_PROVIDER, PR_DISPLAY_NAME_W, PR_OBJECT_TYPE, PR_STORE_SUPPORT_MASK};
    }
    bool IsReadOnlyProp(ULONG id) override { return IsStoreComputed(id); }
    HRESULT StoredTypes(std::vector<std::pair<ULONG, ULONG>>* out) override {
        return core_->ReadPropTypes(kStoreObjectId, out);
    }
    HRESULT ReadStored(ULONG id, EncodedProp* out) override {
        HRESULT hr = core_->ReadProp(kStoreObjectId, id, out);
        if (SUCCEEDED(hr)) SwapStoreUid(core_->FileUid(), core_->Uid(), out);
        return hr;
    }
    HRESULT WriteStored(ULONG id, EncodedProp value) override {
        SwapStoreUid(core_->Uid(), core_->FileUid(), &value);
        return core_->WriteProp(kStoreObjectId, id, value);
    }
    HRESULT RemoveStored(ULONG id) override { return core_->DeleteProp(kStoreObjectId, id); }
    bool CanWrite() override { return !core_->ReadOnly(); }

private:
    std::shared_ptr<StoreCore> core_;
    MAPIUID provider_;
};

}  // namespace

HRESULT NewStoreObject(std::shared_ptr<StoreCore> core, const MAPIUID& providerUid,
                       IMsgStore** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = new Store(std::move(core), providerUid);
    return S_OK;
}

}  // namespace mapi::embedded
