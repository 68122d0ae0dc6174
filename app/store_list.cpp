// The store list of the main dialog, from the profile, the session and the
// logon's warnings.
#include "store_list.h"

#include <filesystem>

namespace {

StoreState StateOfOpened(CMapiSession& session, const CMapiPropValue& eidCell) {
    try {
        CMapiBinary eid;
        eid = eidCell;
        CInterfaceRef<IUnknown> object = session.OpenEntry(eid);
        CInterfaceRef<IMsgStore> store;
        if (!object || FAILED(object->QueryInterface(IID_IMsgStore,
                                                     reinterpret_cast<void**>(store.Receive())))) {
            return StoreState::ReadOnly;
        }
        return StoreIsWritable(IMsgStorePtr(store.get())) ? StoreState::Usable
                                                          : StoreState::ReadOnly;
    } catch (const CMAPIException&) {
        // A store that cannot say what it allows is not trusted with a copy.
        return StoreState::ReadOnly;
    }
}

std::string Text(const CMapiPropValue& cell) {
    const char* text = cell.String8();
    return text ? std::string(text) : std::string();
}

}  // namespace

bool StoreIsWritable(const IMsgStorePtr& store) {
    try {
        const ULONG mask = static_cast<ULONG>(store.GetLongProp(PR_STORE_SUPPORT_MASK));
        return (mask & STORE_MODIFY_OK) != 0 && (mask & STORE_READONLY) == 0;
    } catch (const CMAPIException&) {
        return false;
    }
}

std::vector<StoreListEntry> ListStores(CMapiSession& session, const mapi::Profile& profile,
                                       const std::vector<std::string>& logonWarnings) {
    LPMAPITABLE table = session.GetStoresTable();
    if (!table) throw CMAPIException(MAPI_E_CALL_FAILED, "CMapiSession::GetStoresTable");
    CMapiRowSet rows = QueryAllRows(table, {PR_DISPLAY_NAME_A, PR_PROVIDER_DISPLAY_A, PR_ENTRYID});

    std::vector<StoreListEntry> list;
    ULONG row = 0;
    for (const mapi::ProfileEntry& entry : profile.Entries()) {
        const std::string prefix = "store \"" + entry.displayName + "\" (" + entry.path + ")";
        const std::string* warning = nullptr;
        for (const std::string& w : logonWarnings) {
            if (w.rfind(prefix, 0) == 0) warning = &w;
        }
        StoreListEntry item;
        item.name = entry.displayName;
        item.path = entry.path;
        const mapi::StoreProvider* provider = mapi::FindProvider(entry.provider);
        item.kind = provider ? provider->DisplayName() : entry.provider;
        if (warning) {
            std::error_code ec;
            // An account is never "missing": its server said no, or nobody
            // gave its password.
            const bool exists = entry.provider == "imap" || std::filesystem::exists(entry.path, ec);
            item.state = exists ? StoreState::Unusable : StoreState::Missing;
            const std::string leftOut = " left out: ";
            const size_t at = warning->find(leftOut, prefix.size());
            item.reason = at == std::string::npos ? *warning : warning->substr(at + leftOut.size());
            list.push_back(std::move(item));
            continue;
        }
        // The session keeps the stores that opened in profile order.
        if (row < rows.Count() && Text(rows.Cell(row, 0)) == entry.displayName) {
            item.kind = Text(rows.Cell(row, 1));
            item.state = StateOfOpened(session, rows.Cell(row, 2));
            ++row;
        } else {
            item.state = StoreState::Unusable;
            item.reason = "not in the session";
        }
        list.push_back(std::move(item));
    }
    for (; row < rows.Count(); ++row) {
        StoreListEntry item;
        item.name = Text(rows.Cell(row, 0));
        item.kind = Text(rows.Cell(row, 1));
        item.state = StateOfOpened(session, rows.Cell(row, 2));
        list.push_back(std::move(item));
    }
    return list;
}
