// CMapiSession, the logged-on MAPI session with its message store table,
// fetched on first use and then kept.
#pragma once

#include <mapix.h>

#include "InterfaceRef.h"
#include "MapiBinary.h"

// Holds one reference to the session and, once fetched, one to the store
// table. Not copyable. Used from one thread at a time: the table cache is
// not locked.
class CMapiSession {
public:
    CMapiSession() = default;
    // Takes a reference of its own on session.
    explicit CMapiSession(LPMAPISESSION session) : m_session(session) {}
    CMapiSession(const CMapiSession&) = delete;
    CMapiSession& operator=(const CMapiSession&) = delete;

    // MAPILogonEx(no window, "" profile, "" password, flags) through CheckHr;
    // keeps the new session (and forgets any earlier one and its table).
    void Logon(ULONG flags = 0);
    // Keeps session, taking over the reference the caller owns.
    void Attach(LPMAPISESSION adopted);

    LPMAPISESSION _rawInterface() const { return m_session.get(); }
    explicit operator bool() const { return static_cast<bool>(m_session); }

    // The cached message store table, fetched with GetMsgStoresTable(0) when
    // none is cached. The result code is not checked: a refusal (or an empty
    // session) returns null, caches nothing, and the next call asks again.
    // The session keeps the reference; the caller must not release it.
    LPMAPITABLE GetStoresTable();

    // IMAPISession::OpenEntry(eid, no interface, MAPI_BEST_ACCESS) through
    // CheckHr (an empty session: MAPI_E_INVALID_OBJECT). The result holds the
    // one reference MAPI handed out; a store is wrapped with
    // IMsgStorePtr(static_cast<LPMDB>(result.get())).
    CInterfaceRef<IUnknown> OpenEntry(const CMapiBinary& eid) const;

private:
    CInterfaceRef<IMAPISession> m_session;
    CInterfaceRef<IMAPITable> m_storesTable;
};
