// MAPIInitialize, MAPIUninitialize and MAPILogonEx over the user's profile.
#include <atomic>
#include <string>

#include <mapix.h>

#include "mapi_ptr.h"
#include "profile.h"
#include "session.h"

namespace mapi {

namespace {

std::atomic<long> g_initCount{0};
thread_local std::string t_logonError;
thread_local std::vector<std::string> t_logonWarnings;

}  // namespace

const std::string& LastLogonError() {
    return t_logonError;
}
const std::vector<std::string>& LastLogonWarnings() {
    return t_logonWarnings;
}

}  // namespace mapi

HRESULT MAPIInitialize(LPVOID) {
    ++mapi::g_initCount;
    return S_OK;
}

void MAPIUninitialize() {
    long count = mapi::g_initCount.load();
    while (count > 0 && !mapi::g_initCount.compare_exchange_weak(count, count - 1)) {
    }
}

HRESULT MAPILogonEx(ULONG_PTR, LPTSTR lpszProfileName, LPTSTR, ULONG, LPMAPISESSION* lppSession) {
    using namespace mapi;
    t_logonError.clear();
    t_logonWarnings.clear();
    if (lppSession == nullptr) {
        t_logonError = "MAPILogonEx: no place for the session was given";
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppSession = nullptr;
    if (g_initCount.load() == 0) {
        t_logonError = "MAPILogonEx: MAPIInitialize has not been called";
        return MAPI_E_NOT_INITIALIZED;
    }
    // A profile name, when given, is the path of a profile file.
    const std::string path = (lpszProfileName != nullptr && *lpszProfileName != 0)
                                 ? std::string(lpszProfileName)
                                 : Profile::DefaultPath();
    Profile profile;
    std::string error;
    HRESULT hr = Profile::Load(path, &profile, &error);
    if (hr == MAPI_E_NOT_FOUND) {
        t_logonError = "no profile at " + path +
                       " (add a message store with \"mapiprofile create\" or \"mapiprofile add\")";
        return MAPI_E_LOGON_FAILED;
    }
    if (FAILED(hr)) {
        t_logonError = "the profile cannot be used: " + error;
        return MAPI_E_LOGON_FAILED;
    }
    std::vector<std::string> warnings;
    hr = OpenSession(profile, lppSession, &warnings);
    t_logonWarnings = std::move(warnings);
    if (FAILED(hr)) t_logonError = "logon failed: out of memory";
    return hr;
}
