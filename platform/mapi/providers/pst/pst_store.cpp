// The message store object of a personal folder file and the opening of
// entries by identifier.
#include <cstring>
#include <string>

#include <mapitags.h>
#include <mapix.h>

#include "providers/pst/pst_object.h"
#include "providers/pst/pst_objects.h"
#include "providers/pst/pst_tables.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::pst {
namespace {

// Store properties that name folders by entry identifier: PR_IPM_SUBTREE_ENTRYID
// through the finder's. They are rebuilt from their node ids so that they
// equal the folders' PR_ENTRYID byte for byte even where the file wrote
// another store id into them.
constexpr ULONG kFirstFolderIdProp = 0x35E0;
constexpr ULONG kLastFolderIdProp = 0x35E7;

std::string ToLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

class PstStore final : public PstObject<IMsgStore> {
public:
    explicit PstStore(std::unique_ptr<ItemProps> props) : PstObject(std::move(props)) {}

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG,
                            ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        uint32_t nid1 = 0, nid2 = 0;
        if (!File()->NidOf(cb1, id1, &nid1) || !File()->NidOf(cb2, id2, &nid2))
            return MAPI_E_UNKNOWN_ENTRYID;
        *result = nid1 == nid2 ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* object) override {
        return GuardCall(
            [&] { return OpenEntryOf(File(), 0, cb, entryId, iid, flags, type, object); });
    }
    HRESULT SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_ACCESS; }
    HRESULT GetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* cbEntryId, LPENTRYID* entryId,
                             LPTSTR* explicitClass) override {
        if (cbEntryId == nullptr || entryId == nullptr) return MAPI_E_INVALID_PARAMETER;
        *cbEntryId = 0;
        *entryId = nullptr;
        if (explicitClass != nullptr) *explicitClass = nullptr;
        return GuardCall([&] {
            return FindReceiveFolder(messageClass, flags, cbEntryId, entryId, explicitClass);
        });
    }
    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return GuardCall(
            [&] { return MakeTable(ReceiveFolderRows(File()), TableKind::ReceiveFolders, table); });
    }
    HRESULT StoreLogoff(ULONG*) override { return S_OK; }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE* table) override {
        if (table != nullptr) *table = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMsgStore});
    }

private:
    // The receive folder for a class is the one registered for the longest
    // prefix of it (compared without regard to case), down to the default "".
    HRESULT FindReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* cbEntryId,
                              LPENTRYID* entryId, LPTSTR* explicitClass) {
        std::string wanted;
        if (messageClass != nullptr) {
            wanted = (flags & MAPI_UNICODE) != 0
                         ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(messageClass))
                         : std::string(messageClass);
        }
        wanted = ToLower(wanted);
        const ReceiveFolder* best = nullptr;
        for (const ReceiveFolder& folder : File()->ReceiveFolders()) {
            std::string cls = ToLower(folder.messageClass);
            bool matches = cls.empty() || wanted == cls ||
                           (wanted.size() > cls.size() && wanted.compare(0, cls.size(), cls) == 0 &&
                            wanted[cls.size()] == '.');
            if (matches && (best == nullptr || cls.size() > best->messageClass.size()))
                best = &folder;
        }
        if (best == nullptr) return MAPI_E_NOT_FOUND;

        std::vector<BYTE> id = File()->EntryId(best->folderNid);
        auto idBuffer = AllocateMapi<ENTRYID>(static_cast<ULONG>(id.size()));
        if (!idBuffer) return MAPI_E_NOT_ENOUGH_MEMORY;
        std::memcpy(idBuffer.get(), id.data(), id.size());
        if (explicitClass != nullptr) {
            ULONG cb;
            std::u16string wide;
            if ((flags & MAPI_UNICODE) != 0) {
                wide = Utf8ToUtf16(best->messageClass);
                cb = static_cast<ULONG>((wide.size() + 1) * sizeof(WCHAR));
            } else {
                cb = static_cast<ULONG>(best->messageClass.size() + 1);
            }
            auto text = AllocateMapi<char>(cb);
            if (!text) return MAPI_E_NOT_ENOUGH_MEMORY;
            if ((flags & MAPI_UNICODE) != 0)
                std::memcpy(text.get(), wide.c_str(), cb);
            else
                std::memcpy(text.get(), best->messageClass.c_str(), cb);
            *explicitClass = text.release();
        }
        *cbEntryId = static_cast<ULONG>(id.size());
        *entryId = idBuffer.release();
        return S_OK;
    }
};

HRESULT AsInterface(IUnknown* object, LPCIID iid, IUnknown** out) {
    if (iid == nullptr) {
        *out = object;
        return S_OK;
    }
    HRESULT hr = object->QueryInterface(*iid, reinterpret_cast<void**>(out));
    object->Release();
    return hr == S_OK ? S_OK : MAPI_E_INTERFACE_NOT_SUPPORTED;
}

}  // namespace

HRESULT CreateStoreObject(std::shared_ptr<PstFile> file, const std::string& displayName,
                          const MAPIUID& providerUid, IMsgStore** store) {
    SharedItem item = file->MessageStore();
    auto props = std::make_unique<ItemProps>(file, item, 0,
                                             item != nullptr ? ItemKind::Store : ItemKind::Fixed);
    {
        std::lock_guard<std::recursive_mutex> lock(file->Lock());
        for (ULONG id = kFirstFolderIdProp; id <= kLastFolderIdProp; ++id) {
            const SPropValue* stored = props->GetById(id);
            if (stored == nullptr || PROP_TYPE(stored->ulPropTag) != PT_BINARY ||
                stored->Value.bin.cb != 24)
                continue;
            const BYTE* b = stored->Value.bin.lpb;
            uint32_t nid =
                b[20] | (b[21] << 8) | (b[22] << 16) | (static_cast<uint32_t>(b[23]) << 24);
            props->SetBinary(PROP_TAG(PT_BINARY, id), file->EntryId(nid));
        }
    }
    std::vector<BYTE> storeId = file->EntryId(kNidMessageStore);
    std::vector<BYTE> uid(file->Uid().ab, file->Uid().ab + 16);
    props->SetString(PR_DISPLAY_NAME, displayName);
    props->SetBinary(PR_ENTRYID, storeId);
    props->SetBinary(PR_STORE_ENTRYID, storeId);
    props->SetBinary(PR_RECORD_KEY, uid);
    props->SetBinary(PR_STORE_RECORD_KEY, uid);
    props->SetBinary(PR_MDB_PROVIDER, std::vector<BYTE>(providerUid.ab, providerUid.ab + 16));
    props->SetLong(PR_OBJECT_TYPE, MAPI_STORE);
    props->SetLong(PR_STORE_SUPPORT_MASK,
                   static_cast<LONG>(STORE_READONLY | STORE_ENTRYID_UNIQUE | STORE_ATTACH_OK |
                                     STORE_MV_PROPS_OK | STORE_RESTRICTION_OK | STORE_SORT_OK |
                                     STORE_UNICODE_OK));
    *store = new PstStore(std::move(props));
    return S_OK;
}

HRESULT OpenEntryOf(std::shared_ptr<PstFile> file, uint32_t parentNid, ULONG cbEntryId,
                    const ENTRYID* entryId, LPCIID iid, ULONG flags, ULONG* objectType,
                    IUnknown** object) {
    if (object == nullptr) return MAPI_E_INVALID_PARAMETER;
    *object = nullptr;
    if ((flags & MAPI_MODIFY) != 0) return MAPI_E_NO_ACCESS;

    uint32_t nid = kNidRootFolder;
    if (cbEntryId != 0 && entryId != nullptr && !file->NidOf(cbEntryId, entryId, &nid))
        return MAPI_E_INVALID_ENTRYID;
    uint32_t type = NidType(nid);
    bool folder = type == kNidTypeNormalFolder || type == kNidTypeSearchFolder;
    bool message = type == kNidTypeNormalMessage || type == kNidTypeAssocMessage;
    if (!folder && !message) return MAPI_E_INVALID_ENTRYID;

    SharedItem item;
    HRESULT hr = file->ItemById(nid, &item);
    if (hr != S_OK) return hr;
    IUnknown* created = nullptr;
    if (folder) {
        IMAPIFolder* f = nullptr;
        hr = CreateFolderObject(file, std::move(item), nid, 0, &f);
        created = f;
    } else {
        IMessage* m = nullptr;
        hr = CreateMessageObject(file, std::move(item), nid, parentNid, &m);
        created = m;
    }
    if (hr != S_OK) return hr;
    hr = AsInterface(created, iid, object);
    if (hr == S_OK && objectType != nullptr) *objectType = folder ? MAPI_FOLDER : MAPI_MESSAGE;
    return hr;
}

}  // namespace mapi::pst
