// The message store object of a mail file store.
#include <cstring>

#include <mapitags.h>
#include <mapiutil.h>

#include "providers/mailfiles/mail_object.h"
#include "providers/mailfiles/mail_objects.h"
#include "providers/mailfiles/mail_store.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"

namespace mapi::mailfiles {

namespace {

struct SpecialProp {
    ULONG tag;
    Special which;
};
constexpr SpecialProp kSpecialProps[] = {
    {PR_IPM_OUTBOX_ENTRYID, Special::kOutbox},
    {PR_IPM_WASTEBASKET_ENTRYID, Special::kWastebasket},
    {PR_IPM_SENTMAIL_ENTRYID, Special::kSentMail},
    {PR_IPM_DRAFTS_ENTRYID, Special::kDrafts},
};

class MailStore final : public MailObject<IMsgStore> {
public:
    explicit MailStore(std::shared_ptr<StoreCore> core) : MailObject(std::move(core)) {}

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG,
                            ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        ParsedEntryId a, b;
        if (!Core()->ParseEntryId(id1, cb1, &a) || !Core()->ParseEntryId(id2, cb2, &b))
            return MAPI_E_UNKNOWN_ENTRYID;
        *result = cb1 == cb2 && std::memcmp(id1, id2, cb1) == 0 ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        return Guard([&] { return OpenEntryOf(Core(), cb, id, iid, flags, type, out); });
    }
    HRESULT SetReceiveFolder(LPTSTR, ULONG, ULONG cb, LPENTRYID id) override {
        return Guard([&]() -> HRESULT {
            ParsedEntryId parsed;
            if (id == nullptr || !Core()->ParseEntryId(id, cb, &parsed) ||
                parsed.kind != EntryKind::kFolder || parsed.folder.empty())
                return MAPI_E_INVALID_ENTRYID;
            return Core()->SetSpecialFolder(Special::kInbox, parsed.folder);
        });
    }
    // Every message class is received in the inbox.
    HRESULT GetReceiveFolder(LPTSTR, ULONG flags, ULONG* cb, LPENTRYID* id,
                             LPTSTR* explicitClass) override {
        if (cb == nullptr || id == nullptr) return MAPI_E_INVALID_PARAMETER;
        *cb = 0;
        *id = nullptr;
        if (explicitClass != nullptr) *explicitClass = nullptr;
        return Guard([&]() -> HRESULT {
            auto inbox = Core()->SpecialFolder(Special::kInbox);
            if (!inbox) return MAPI_E_NOT_FOUND;
            const std::string bytes = Core()->EntryId(EntryKind::kFolder, *inbox);
            auto buffer = AllocateMapi<ENTRYID>(static_cast<ULONG>(bytes.size()));
            if (!buffer) return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(buffer.get(), bytes.data(), bytes.size());
            if (explicitClass != nullptr) {
                auto text = AllocateMapi<char>((flags & MAPI_UNICODE) != 0 ? 2 : 1);
                if (!text) return MAPI_E_NOT_ENOUGH_MEMORY;
                std::memset(text.get(), 0, (flags & MAPI_UNICODE) != 0 ? 2 : 1);
                *explicitClass = reinterpret_cast<LPTSTR>(text.release());
            }
            *cb = static_cast<ULONG>(bytes.size());
            *id = buffer.release();
            return S_OK;
        });
    }
    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return Guard([&]() -> HRESULT {
            auto rows = std::make_shared<MemoryRows>();
            if (auto inbox = Core()->SpecialFolder(Special::kInbox)) {
                mime::PropBag row;
                const std::string id = Core()->EntryId(EntryKind::kFolder, *inbox);
                row.SetBinary(PROP_ID(PR_ENTRYID), id);
                row.SetBinary(PROP_ID(PR_RECORD_KEY), id);
                row.SetText(PROP_ID(PR_MESSAGE_CLASS), "");
                std::vector<SPropValue> values;
                for (const auto& [pid, v] : row.All()) values.push_back(*v);
                HRESULT hr = rows->AddRow(values.data(), static_cast<ULONG>(values.size()));
                if (FAILED(hr)) return hr;
            }
            SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_MESSAGE_CLASS}};
            return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&columns), table);
        });
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

    // What names the store, which a session asks of every store of its
    // profile when it starts, needs no server; anything else is the first
    // use of the store, which logs on to a server now.
    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* values) override {
        if (!IdentityOnly(tags)) {
            HRESULT hr = Guard([&] {
                std::lock_guard<std::recursive_mutex> lock(Core()->Lock());
                return ExplainLayout(Core()->Layout().Connect());
            });
            if (FAILED(hr)) return hr;
        }
        return MailObject::GetProps(tags, flags, count, values);
    }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMsgStore});
    }

    void ComputeFor(LPSPropTagArray tags, mime::PropBag& out) override {
        ComputeIdentity(out);
        if (!IdentityOnly(tags)) ComputeSpecialFolders(out);
    }

    void Compute(mime::PropBag& out) override {
        ComputeIdentity(out);
        ComputeSpecialFolders(out);
    }

private:
    static bool IdentityOnly(LPSPropTagArray tags) {
        if (tags == nullptr) return false;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            switch (PROP_ID(tags->aulPropTag[i])) {
                case PROP_ID(PR_DISPLAY_NAME):
                case PROP_ID(PR_ENTRYID):
                case PROP_ID(PR_STORE_ENTRYID):
                case PROP_ID(PR_RECORD_KEY):
                case PROP_ID(PR_STORE_RECORD_KEY):
                case PROP_ID(PR_MDB_PROVIDER):
                case PROP_ID(PR_OBJECT_TYPE):
                case PROP_ID(PR_STORE_SUPPORT_MASK):
                    break;
                default:
                    return false;
            }
        }
        return true;
    }

    void ComputeIdentity(mime::PropBag& out) {
        StoreCore& core = *Core();
        const std::string uid(reinterpret_cast<const char*>(core.Uid().ab), sizeof core.Uid().ab);
        out.SetText(PROP_ID(PR_DISPLAY_NAME), core.DisplayName());
        out.SetBinary(PROP_ID(PR_ENTRYID), core.StoreEntryId());
        out.SetBinary(PROP_ID(PR_STORE_ENTRYID), core.StoreEntryId());
        out.SetBinary(PROP_ID(PR_RECORD_KEY), uid);
        out.SetBinary(PROP_ID(PR_STORE_RECORD_KEY), uid);
        out.SetBinary(PROP_ID(PR_MDB_PROVIDER),
                      std::string(reinterpret_cast<const char*>(core.ProviderUid().ab), 16));
        out.SetLong(PROP_ID(PR_OBJECT_TYPE), MAPI_STORE);
        // Asked each time: the files' permissions may change while the
        // store is open, and a copy checks the mask right before it writes.
        const ULONG access =
            core.Layout().Writable() ? STORE_MODIFY_OK | STORE_CREATE_OK : STORE_READONLY;
        out.SetLong(PROP_ID(PR_STORE_SUPPORT_MASK),
                    static_cast<LONG>(access | STORE_ENTRYID_UNIQUE |
                                      STORE_ATTACH_OK | STORE_MV_PROPS_OK | STORE_RESTRICTION_OK |
                                      STORE_SORT_OK | STORE_UNICODE_OK));
        out.SetBinary(PROP_ID(PR_IPM_SUBTREE_ENTRYID), core.EntryId(EntryKind::kFolder));
    }

    void ComputeSpecialFolders(mime::PropBag& out) {
        StoreCore& core = *Core();
        for (const SpecialProp& special : kSpecialProps)
            if (auto folder = core.SpecialFolder(special.which))
                out.SetBinary(PROP_ID(special.tag), core.EntryId(EntryKind::kFolder, *folder));
    }

protected:
    // The special-folder identifiers can be set; they are kept in the
    // store's hidden file. Nothing else of the store can change.
    HRESULT SetOther(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (values == nullptr && count > 0) return MAPI_E_INVALID_PARAMETER;
        std::vector<SPropValue> refused;
        std::vector<ULONG> refusedIndex;
        for (ULONG i = 0; i < count; ++i) {
            const SPropValue& v = values[i];
            HRESULT hr = MAPI_E_NO_ACCESS;
            for (const SpecialProp& special : kSpecialProps) {
                if (v.ulPropTag != special.tag) continue;
                ParsedEntryId parsed;
                if (Core()->ParseEntryId(v.Value.bin.lpb, v.Value.bin.cb, &parsed) &&
                    parsed.kind == EntryKind::kFolder)
                    hr = Core()->SetSpecialFolder(special.which, parsed.folder);
                else
                    hr = MAPI_E_INVALID_ENTRYID;
            }
            if (FAILED(hr)) {
                refused.push_back(v);
                refusedIndex.push_back(i);
            }
        }
        HRESULT hr = AllProblems(static_cast<ULONG>(refused.size()), refused.data(),
                                 MAPI_E_NO_ACCESS, problems);
        if (SUCCEEDED(hr) && problems != nullptr && *problems != nullptr)
            for (ULONG i = 0; i < (*problems)->cProblem; ++i)
                (*problems)->aProblem[i].ulIndex = refusedIndex[i];
        return hr;
    }
};

}  // namespace

HRESULT CreateStoreObject(std::shared_ptr<StoreCore> core, IMsgStore** store) {
    *store = new MailStore(std::move(core));
    return S_OK;
}

}  // namespace mapi::mailfiles
