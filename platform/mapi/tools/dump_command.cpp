// dump: logs on to the profile's session and dumps one of its stores.
#include "commands.h"

#include <mapiutil.h>

#include "error_text.h"
#include "runtime/mapi_ptr.h"
#include "runtime/profile.h"
#include "runtime/provider.h"
#include "runtime/session.h"

namespace mapi::tools {
namespace {

// MAPIInitialize for the length of a scope.
class MapiScope {
public:
    MapiScope() : hr_(MAPIInitialize(nullptr)) {}
    ~MapiScope() {
        if (SUCCEEDED(hr_)) MAPIUninitialize();
    }
    MapiScope(const MapiScope&) = delete;
    MapiScope& operator=(const MapiScope&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// Opens the first store of the session whose display name is name;
// MAPI_E_NOT_FOUND when there is none.
HRESULT OpenStoreByName(IMAPISession* session, const std::string& name, ComRef<IMsgStore>* store) {
    ComRef<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(0, table.Out());
    if (FAILED(hr)) return hr;
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME, PR_ENTRYID}};
    LPSRowSet rawRows = nullptr;
    hr = HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                        0, &rawRows);
    RowSetPtr rows(rawRows);
    if (FAILED(hr)) return hr;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        if (rows->aRow[r].cValues < 2) continue;
        const SPropValue* v = rows->aRow[r].lpProps;
        if (v[0].ulPropTag != PR_DISPLAY_NAME || v[1].ulPropTag != PR_ENTRYID) continue;
        if (name != v[0].Value.lpszA) continue;
        return session->OpenMsgStore(0, v[1].Value.bin.cb,
                                     reinterpret_cast<LPENTRYID>(v[1].Value.bin.lpb), nullptr,
                                     MAPI_BEST_ACCESS, store->Out());
    }
    return MAPI_E_NOT_FOUND;
}

// The session leaves out stores it cannot open; when the profile names
// one, ask its provider why, so the user hears the real reason.
void ExplainMissingStore(const CommandContext& ctx, const std::string& name) {
    Profile profile;
    std::string error;
    const ProfileEntry* entry = nullptr;
    if (SUCCEEDED(Profile::Load(ctx.profilePath, &profile, &error))) entry = profile.Find(name);
    if (entry == nullptr) {
        ctx.err << "mapiprofile: the profile " << ctx.profilePath << " has no store named '" << name
                << "'\n";
        return;
    }
    // The session said why when it left the store out (a taken identity,
    // for one, which opening the store alone would not show).
    const std::string leftOut =
        "store \"" + entry->displayName + "\" (" + entry->path + ") left out: ";
    error.clear();
    for (const std::string& warning : LastLogonWarnings())
        if (error.empty() && warning.rfind(leftOut, 0) == 0) error = warning.substr(leftOut.size());
    if (!error.empty()) {
        ctx.err << "mapiprofile: the store '" << name << "' (" << entry->path
                << ") cannot be opened: " << error << "\n";
        return;
    }
    StoreProvider* provider = FindProvider(entry->provider);
    ComRef<IMsgStore> store;
    HRESULT hr = MAPI_E_NOT_FOUND;
    if (provider == nullptr)
        error = "no provider named '" + entry->provider + "'";
    else
        hr = provider->OpenStore(*entry, store.Out(), &error);
    if (error.empty()) error = DescribeResult(hr);
    ctx.err << "mapiprofile: the store '" << name << "' (" << entry->path
            << ") cannot be opened: " << error << "\n";
}

}  // namespace

int RunDump(const CommandContext& ctx, const std::string& name, const DumpOptions& options) {
    MapiScope mapi;
    if (FAILED(mapi.Result())) {
        ctx.err << "mapiprofile: MAPI did not start (" << DescribeResult(mapi.Result()) << ")\n";
        return 1;
    }
    ComRef<IMAPISession> session;
    HRESULT hr = MAPILogonEx(0, nullptr, nullptr, 0, session.Out());
    if (FAILED(hr)) {
        const std::string& why = LastLogonError();
        ctx.err << "mapiprofile: cannot log on to the profile " << ctx.profilePath << ": "
                << (why.empty() ? DescribeResult(hr) : why) << "\n";
        return 1;
    }
    ComRef<IMsgStore> store;
    hr = OpenStoreByName(session.get(), name, &store);
    if (hr == MAPI_E_NOT_FOUND) {
        ExplainMissingStore(ctx, name);
        return 1;
    }
    if (FAILED(hr)) {
        ctx.err << "mapiprofile: cannot open the store '" << name << "' (" << DescribeResult(hr)
                << ")\n";
        return 1;
    }
    DumpResult result;
    std::string error;
    hr = DumpStore(store.get(), options, ctx.out, &result, &error);
    ctx.out.flush();
    if (FAILED(hr)) {
        ctx.err << "mapiprofile: the dump of '" << name << "' stopped: " << error << "\n";
        return 1;
    }
    if (result.unreadable > 0) {
        ctx.err << "mapiprofile: " << result.unreadable << " of " << result.items << " items of '"
                << name << "' could not be read\n";
        return 1;
    }
    return 0;
}

}  // namespace mapi::tools
