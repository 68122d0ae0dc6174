// Store and session doubles.
#include "fake_store.h"

#include <cstring>

namespace fake {

Store::Store(std::string name)
    : PropObject(Context::Alone(name), kObjectType, true), name_(std::move(name)) {
    Set(Str(PR_DISPLAY_NAME_A, name_));
    root_ = Make<Folder>(Shared(), "", FOLDER_ROOT);
    ipmRoot_ = root_->AddChild("Top of Personal Folders");
    Set(Bin(PR_IPM_SUBTREE_ENTRYID, ipmRoot_->Eid()));
}

HRESULT Store::CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG,
                               ULONG* result) {
    *result = BytesOf(cb1, id1) == BytesOf(cb2, id2);
    return S_OK;
}

HRESULT Store::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                         LPUNKNOWN* out) {
    *out = nullptr;
    if (HRESULT hr = Failure(Call::OpenEntry)) return hr;
    return entries->Open(cb, eid, flags, type, out);
}

HRESULT Store::SetReceiveFolder(LPTSTR messageClass, ULONG, ULONG cb, LPENTRYID eid) {
    receiveFolders[messageClass != nullptr ? messageClass : ""] = BytesOf(cb, eid);
    return S_OK;
}

HRESULT Store::GetReceiveFolder(LPTSTR messageClass, ULONG, ULONG* cb, LPENTRYID* eid,
                                LPTSTR* explicitClass) {
    lastReceiveClass = messageClass != nullptr ? messageClass : "<null>";
    *cb = 0;
    *eid = nullptr;
    if (explicitClass != nullptr) *explicitClass = nullptr;
    if (HRESULT hr = Failure(Call::GetReceiveFolder)) return hr;
    std::string cls = messageClass != nullptr ? messageClass : "";
    auto found = receiveFolders.find(cls);
    while (found == receiveFolders.end() && !cls.empty()) {
        const size_t dot = cls.rfind('.');
        cls = dot == std::string::npos ? std::string() : cls.substr(0, dot);
        found = receiveFolders.find(cls);
    }
    if (found == receiveFolders.end()) return MAPI_E_NOT_FOUND;
    void* block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(found->second.size()), &block) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    if (!found->second.empty()) std::memcpy(block, found->second.data(), found->second.size());
    *cb = static_cast<ULONG>(found->second.size());
    *eid = static_cast<LPENTRYID>(block);
    return S_OK;
}

bool Store::Supports(REFIID riid) const {
    return mapi::IidIn(riid, {IID_IMsgStore, IID_IMAPIProp});
}

void Session::AddStore(Store* store) {
    stores_.push_back(mapi::ComRef<Store>::Share(store));
    const std::string eid = "store:" + store->Name();
    entries->Add(Bytes(eid.begin(), eid.end()), store);
}

HRESULT Session::GetMsgStoresTable(ULONG, LPMAPITABLE* out) {
    ++storesCalls;
    *out = nullptr;
    if (HRESULT hr = Failure(Call::GetMsgStoresTable)) return hr;
    if (storesTable != nullptr) {
        *out = storesTable->Share();
        return S_OK;
    }
    auto table = Make<Table>(std::vector<ULONG>{PR_DISPLAY_NAME_A, PR_ENTRYID});
    for (const auto& store : stores_) {
        const std::string eid = "store:" + store->Name();
        table->AddRow({Str(PR_DISPLAY_NAME_A, store->Name()),
                       Bin(PR_ENTRYID, Bytes(eid.begin(), eid.end()))});
    }
    *out = table.Detach();
    return S_OK;
}

HRESULT Session::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                           LPUNKNOWN* out) {
    *out = nullptr;
    if (HRESULT hr = Failure(Call::OpenEntry)) return hr;
    HRESULT hr = entries->Open(cb, eid, flags, type, out);
    if (hr == S_OK) {
        const Bytes key = BytesOf(cb, eid);
        opened.emplace_back(key.begin(), key.end());
    }
    return hr;
}

}  // namespace fake
