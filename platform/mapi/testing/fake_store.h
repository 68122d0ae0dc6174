// Store and session doubles.
//
// A Store owns a folder tree (a root and the IPM subtree below it) and one
// entry registry and name map for everything in it; its special folders
// are properties (SetSpecial) and its receive folders a map by message
// class. A Session lists the stores it was given in its store table and
// opens them by "store:" and their name.
//
// Faults: Store Fail(OpenEntry / GetReceiveFolder) and entries->failOpen by
// identifier; Session Fail(GetMsgStoresTable / OpenEntry).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fake_folder.h"

namespace fake {

class Store : public PropObject<IMsgStore> {
public:
    static constexpr ULONG kObjectType = MAPI_STORE;
    explicit Store(std::string name = "store");

    const std::string& Name() const { return name_; }
    // The IPM subtree's root, where a store's visible folders start.
    Folder* Root() const { return ipmRoot_; }
    // Makes folder the special folder of tag (PR_IPM_OUTBOX_ENTRYID, ...).
    void SetSpecial(ULONG tag, const Folder* folder) { Set(Bin(tag, folder->Eid())); }
    void SetInbox(const Folder* folder) { receiveFolders[""] = folder->Eid(); }

    // Receive folders by message class; "" is the default (the inbox).
    std::map<std::string, Bytes> receiveFolders;
    std::string lastReceiveClass;

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG,
                            ULONG* result) override;
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override;
    HRESULT SetReceiveFolder(LPTSTR messageClass, ULONG, ULONG cb, LPENTRYID eid) override;
    // The folder of the class, else of its nearest parent class, else "".
    HRESULT GetReceiveFolder(LPTSTR messageClass, ULONG, ULONG* cb, LPENTRYID* eid,
                             LPTSTR* explicitClass) override;

protected:
    bool Supports(REFIID riid) const override;

private:
    std::string name_;
    mapi::ComRef<Folder> root_;
    Folder* ipmRoot_ = nullptr;
};

class Session : public Object<IMAPISession> {
public:
    // Keeps a reference to store.
    void AddStore(Store* store);

    std::shared_ptr<Entries> entries = std::make_shared<Entries>("session");
    // Handed out by GetMsgStoresTable instead of a table of the stores.
    Table* storesTable = nullptr;
    int storesCalls = 0;
    // Entry identifiers of the objects opened so far, in order.
    std::vector<std::string> opened;

    HRESULT GetMsgStoresTable(ULONG, LPMAPITABLE* out) override;
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override;
    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override { return S_OK; }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IMAPISession; }

private:
    std::vector<mapi::ComRef<Store>> stores_;
};

}  // namespace fake
