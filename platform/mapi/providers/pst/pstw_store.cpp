// The message store object of a writable personal folder file.
#include <cstring>

#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>

#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/pstw_objects.h"
#include "providers/pst/pstw_props.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"

namespace mapi::pst {
namespace {

fmt::PropValue Long(ULONG tag, uint32_t v) { return fmt::LongValue(tag, v); }
fmt::PropValue Binary(ULONG tag, const std::vector<BYTE>& b) { return {tag, fmt::Bytes(b.begin(), b.end())}; }

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

class Store final : public PstwObject<IMsgStore> {
public:
    Store(std::shared_ptr<WritableFile> file, std::string displayName)
        : PstwObject(std::move(file)), displayName_(std::move(displayName)) {}

    HRESULT SaveChanges(ULONG) override { return S_OK; }
    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] {
            uint32_t a = 0, b = 0;
            if (!File()->NidOf(cb1, id1, &a) || !File()->NidOf(cb2, id2, &b)) return HRESULT(MAPI_E_UNKNOWN_ENTRYID);
            *result = a == b ? TRUE : FALSE;
            return HRESULT(S_OK);
        });
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] {
            if (id != nullptr) return OpenWritableEntry(File(), cb, id, type, out);
            if (type != nullptr) *type = MAPI_FOLDER;
            return CreateFolderObject(File(), fmt::kNidRootFolder, reinterpret_cast<IMAPIFolder**>(out));
        });
    }
    HRESULT SetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG cb, LPENTRYID id) override {
        return Guard([&] {
            std::string cls = messageClass == nullptr ? std::string()
                              : (flags & MAPI_UNICODE) != 0 ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(messageClass))
                                                            : std::string(messageClass);
            uint32_t nid = 0;
            if (id != nullptr) {
                if (!File()->NidOf(cb, id, &nid)) return HRESULT(MAPI_E_INVALID_ENTRYID);
                if (File()->Model().FindFolder(nid) == nullptr) return HRESULT(MAPI_E_NOT_FOUND);
            }
            File()->Model().SetReceiveFolder(Upper(cls), nid);
            return File()->Commit();
        });
    }
    HRESULT GetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* cb, LPENTRYID* id, LPTSTR* explicitClass) override {
        if (cb == nullptr || id == nullptr) return MAPI_E_INVALID_PARAMETER;
        *cb = 0;
        *id = nullptr;
        if (explicitClass != nullptr) *explicitClass = nullptr;
        return Guard([&] {
            std::string cls = messageClass == nullptr ? std::string()
                              : (flags & MAPI_UNICODE) != 0 ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(messageClass))
                                                            : std::string(messageClass);
            cls = Upper(cls);
            // The longest registered class that is cls or a prefix of it at a dot.
            const auto& table = File()->Model().receiveFolders();
            const std::pair<const std::string, uint32_t>* best = nullptr;
            for (const auto& entry : table) {
                const std::string& c = entry.first;
                bool matches = c.empty() || cls == c || (cls.size() > c.size() && cls.compare(0, c.size(), c) == 0 && cls[c.size()] == '.');
                if (matches && (best == nullptr || c.size() > best->first.size())) best = &entry;
            }
            if (best == nullptr) return HRESULT(MAPI_E_NOT_FOUND);
            std::vector<BYTE> eid = File()->EntryId(best->second);
            auto buffer = AllocateMapi<ENTRYID>(static_cast<ULONG>(eid.size()));
            if (!buffer) return HRESULT(MAPI_E_NOT_ENOUGH_MEMORY);
            std::memcpy(buffer.get(), eid.data(), eid.size());
            if (explicitClass != nullptr) {
                auto text = AllocateMapi<char>(static_cast<ULONG>(best->first.size() + 1));
                if (!text) return HRESULT(MAPI_E_NOT_ENOUGH_MEMORY);
                std::memcpy(text.get(), best->first.c_str(), best->first.size() + 1);
                *explicitClass = text.release();
            }
            *cb = static_cast<ULONG>(eid.size());
            *id = buffer.release();
            return HRESULT(S_OK);
        });
    }
    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] {
            auto rows = std::make_shared<MemoryRows>();
            for (const auto& [cls, nid] : File()->Model().receiveFolders()) {
                std::vector<BYTE> eid = File()->EntryId(nid);
                SPropValue values[3];
                values[0].ulPropTag = PR_MESSAGE_CLASS_A;
                values[0].Value.lpszA = const_cast<char*>(cls.c_str());
                values[1].ulPropTag = PR_ENTRYID;
                values[1].Value.bin = SBinary{static_cast<ULONG>(eid.size()), eid.data()};
                values[2].ulPropTag = PR_RECORD_KEY;
                values[2].Value.bin = values[1].Value.bin;
                HRESULT hr = rows->AddRow(values, 3);
                if (FAILED(hr)) return hr;
            }
            SizedSPropTagArray(3, columns) = {3, {PR_MESSAGE_CLASS_A, PR_ENTRYID, PR_RECORD_KEY}};
            return CreateTable(rows, reinterpret_cast<const SPropTagArray*>(&columns), table);
        });
    }
    HRESULT StoreLogoff(ULONG*) override { return S_OK; }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override { return IidIn(riid, {IID_IMAPIProp, IID_IMsgStore}); }
    Values& Stored() override { return none_; }
    bool Writable() override { return false; }
    Values Computed() override {
        WritableFile& f = *File();
        fmt::StoreModel& m = f.Model();
        MAPIUID uid = f.StoreUid();
        MAPIUID provider = f.ProviderUid();
        fmt::Bytes key(uid.ab, uid.ab + 16);
        ULONG mask = STORE_ENTRYID_UNIQUE | STORE_ATTACH_OK | STORE_MV_PROPS_OK | STORE_RESTRICTION_OK |
                     STORE_SORT_OK | STORE_UNICODE_OK |
                     (f.IsReadOnly() ? STORE_READONLY : STORE_MODIFY_OK | STORE_CREATE_OK);
        Values v = {Binary(PR_ENTRYID, f.EntryId(fmt::kNidMessageStore)),
                    Binary(PR_STORE_ENTRYID, f.EntryId(fmt::kNidMessageStore)),
                    {PR_RECORD_KEY, key},
                    {PR_STORE_RECORD_KEY, key},
                    {PR_MDB_PROVIDER, fmt::Bytes(provider.ab, provider.ab + 16)},
                    fmt::UnicodeValue(PR_DISPLAY_NAME_W, displayName_.empty() ? m.displayName() : displayName_),
                    Long(PR_OBJECT_TYPE, MAPI_STORE),
                    Long(PR_STORE_SUPPORT_MASK, mask),
                    Binary(PR_IPM_SUBTREE_ENTRYID, f.EntryId(m.ipmSubtree())),
                    Binary(PR_FINDER_ENTRYID, f.EntryId(fmt::kNidSearchRoot))};
        if (m.outbox() != 0) v.push_back(Binary(PR_IPM_OUTBOX_ENTRYID, f.EntryId(m.outbox())));
        if (m.deletedItems() != 0) v.push_back(Binary(PR_IPM_WASTEBASKET_ENTRYID, f.EntryId(m.deletedItems())));
        if (m.sentItems() != 0) v.push_back(Binary(PR_IPM_SENTMAIL_ENTRYID, f.EntryId(m.sentItems())));
        v.insert(v.end(), f.StoreExtras().begin(), f.StoreExtras().end());
        return v;
    }
    bool IsComputed(ULONG) override { return true; }

private:
    std::string displayName_;
    Values none_;
};

}  // namespace

HRESULT CreateWritableStoreObject(std::shared_ptr<WritableFile> file, const std::string& displayName,
                                  IMsgStore** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    try {
        *out = new Store(std::move(file), displayName);
        return S_OK;
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace mapi::pst
