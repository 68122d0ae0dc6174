// The session wrapper: the cached store table and opening entries.
#include <gtest/gtest.h>

#include "MapiException.h"
#include "MapiSession.h"
#include "MsgStorePtr.h"
#include "wrapper_fakes.h"

namespace {

TEST(CMapiSession, StoresTableIsFetchedOnceAndKept) {
    fakes::Session session;
    fakes::Table stores;
    session.storesTable = &stores;
    {
        CMapiSession s(&session);
        LPMAPITABLE first = s.GetStoresTable();
        LPMAPITABLE second = s.GetStoresTable();
        EXPECT_EQ(first, &stores);
        EXPECT_EQ(second, first);
        EXPECT_EQ(session.storesCalls, 1);
        EXPECT_EQ(stores.refs, 2);  // the session's cache holds one
    }
    EXPECT_EQ(stores.refs, 1);
    EXPECT_EQ(session.refs, 1);
}

TEST(CMapiSession, RefusedStoresTableIsAskedForAgain) {
    fakes::Session session;
    fakes::Table stores;
    session.storesTable = &stores;
    session.storesHr = MAPI_E_NO_ACCESS;
    CMapiSession s(&session);
    EXPECT_EQ(s.GetStoresTable(), nullptr);
    EXPECT_EQ(s.GetStoresTable(), nullptr);
    EXPECT_EQ(session.storesCalls, 2);
    session.storesHr = S_OK;
    EXPECT_EQ(s.GetStoresTable(), &stores);
    EXPECT_EQ(CMapiSession().GetStoresTable(), nullptr);
}

TEST(CMapiSession, OpenEntryHandsOutMapisReference) {
    fakes::Session session;
    fakes::Store store;
    session.entries.Add({7, 7}, &store);
    const BYTE eid[] = {7, 7};
    CMapiSession s(&session);
    {
        CInterfaceRef<IUnknown> opened = s.OpenEntry(CMapiBinary(2, eid));
        EXPECT_EQ(session.entries.lastFlags, MAPI_BEST_ACCESS);
        EXPECT_EQ(store.refs, 2);
        IMsgStorePtr wrapped(static_cast<LPMDB>(opened.get()));
        EXPECT_EQ(store.refs, 3);
    }
    EXPECT_EQ(store.refs, 1);
    const CMAPIException e = fakes::Raised([&] { s.OpenEntry(CMapiBinary(1, eid)); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "");
    EXPECT_EQ(fakes::Raised([] { CMapiSession().OpenEntry(CMapiBinary()); }).m_hr,
              MAPI_E_INVALID_OBJECT);
}

TEST(CMapiSession, AttachAdoptsTheLogonReference) {
    fakes::Session session;
    fakes::Table stores;
    session.storesTable = &stores;
    {
        CMapiSession s;
        session.AddRef();  // as MAPILogonEx hands it out
        s.Attach(&session);
        s.GetStoresTable();
        EXPECT_EQ(session.refs, 2);
    }
    EXPECT_EQ(session.refs, 1);
    EXPECT_EQ(stores.refs, 1);
}

}  // namespace
