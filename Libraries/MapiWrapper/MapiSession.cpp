// The session wrapper: logon, the cached message store table, OpenEntry.
#include "MapiSession.h"

#include "MapiException.h"

void CMapiSession::Logon(ULONG flags) {
    char empty[] = "";
    CInterfaceRef<IMAPISession> session;
    CheckHr(MAPILogonEx(0, empty, empty, flags, session.Receive()));
    m_storesTable.Reset();
    m_session = std::move(session);
}

void CMapiSession::Attach(LPMAPISESSION adopted) {
    m_storesTable.Reset();
    m_session = CInterfaceRef<IMAPISession>::Adopt(adopted);
}

LPMAPITABLE CMapiSession::GetStoresTable() {
    if (!m_storesTable && m_session) {
        // Unchecked on purpose: a refusal leaves nothing cached and the next
        // call asks again.
        (void)m_session->GetMsgStoresTable(0, m_storesTable.Receive());
    }
    return m_storesTable.get();
}

CInterfaceRef<IUnknown> CMapiSession::OpenEntry(const CMapiBinary& eid) const {
    if (!m_session) throw CMAPIException(MAPI_E_INVALID_OBJECT, nullptr);
    CInterfaceRef<IUnknown> object;
    ULONG type = 0;
    CheckHr(m_session->OpenEntry(eid.Size(), eid.AsEntryID(), nullptr, MAPI_BEST_ACCESS, &type,
                                 object.Receive()));
    return object;
}
