// The session wrapper: the cached store table and opening entries.
#include <gtest/gtest.h>

#include "MapiException.h"
#include "MapiSession.h"
#include "MsgStorePtr.h"
#include "fake_raised.h"
#include "fakes.h"

namespace {

TEST(CMapiSession, StoresTableIsFetchedOnceAndKept) {
    fake::Session session;
    fake::Table stores;
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
    fake::Session session;
    fake::Table stores;
    session.storesTable = &stores;
    session.Fail(fake::Call::GetMsgStoresTable, MAPI_E_NO_ACCESS);
    CMapiSession s(&session);
    EXPECT_EQ(s.GetStoresTable(), nullptr);
    EXPECT_EQ(s.GetStoresTable(), nullptr);
    EXPECT_EQ(session.storesCalls, 2);
    session.Fail(fake::Call::GetMsgStoresTable, S_OK);
    EXPECT_EQ(s.GetStoresTable(), &stores);
    EXPECT_EQ(CMapiSession().GetStoresTable(), nullptr);
}

TEST(CMapiSession, OpenEntryHandsOutMapisReference) {
    fake::Session session;
    fake::Store store;
    session.entries->Add({7, 7}, &store);
    const BYTE eid[] = {7, 7};
    CMapiSession s(&session);
    {
        CInterfaceRef<IUnknown> opened = s.OpenEntry(CMapiBinary(2, eid));
        EXPECT_EQ(session.entries->lastFlags, MAPI_BEST_ACCESS);
        EXPECT_EQ(store.refs, 2);
        IMsgStorePtr wrapped(static_cast<LPMDB>(opened.get()));
        EXPECT_EQ(store.refs, 3);
    }
    EXPECT_EQ(store.refs, 1);
    const CMAPIException e = fake::Raised([&] { s.OpenEntry(CMapiBinary(1, eid)); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "");
    EXPECT_EQ(fake::Raised([] { CMapiSession().OpenEntry(CMapiBinary()); }).m_hr,
              MAPI_E_INVALID_OBJECT);
}

TEST(CMapiSession, AttachAdoptsTheLogonReference) {
    fake::Session session;
    fake::Table stores;
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
