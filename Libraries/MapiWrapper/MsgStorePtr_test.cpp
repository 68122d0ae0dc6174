// Store operations: the IPM root, receive folders and opening entries.
#include <gtest/gtest.h>
#include <runtime/alloc_fault.h>

#include "MapiException.h"
#include "MsgStorePtr.h"
#include "fake_raised.h"
#include "fakes.h"

namespace {

using fake::Raised;

const fake::Bytes kRootEid = {0, 0, 0, 0, 0x11, 0x22};
const fake::Bytes kInboxEid = {0, 0, 0, 0, 0x33};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        chains = mapi::LiveAllocationChains();
        store.Set(fake::Bin(PR_IPM_SUBTREE_ENTRYID, kRootEid));
        store.entries->Add(kRootEid, &root);
        store.entries->Add(kInboxEid, &inbox);
        store.receiveFolders[""] = kInboxEid;
    }
    void TearDown() override {
        EXPECT_EQ(mapi::LiveAllocationChains(), chains);
        EXPECT_EQ(root.refs, 1);
        EXPECT_EQ(inbox.refs, 1);
    }
    fake::Store store;
    fake::Folder root, inbox;
    long chains = 0;
};

TEST_F(StoreTest, OpensTheIpmRoot) {
    IMsgStorePtr s(&store);
    IMAPIFolderPtr r = s._getIPMRoot();
    EXPECT_EQ(r._rawInterface(), &root);
    EXPECT_EQ(root.refs, 2);
    EXPECT_EQ(store.entries->lastFlags, MAPI_BEST_ACCESS);
}

TEST_F(StoreTest, IpmRootWithoutTheIdentifierRaisesTheReadsCode) {
    // Read as missing; replaced rather than erased, so the store's own
    // memory stays what SetUp counted.
    store.Set(fake::Err(PR_IPM_SUBTREE_ENTRYID, MAPI_E_NOT_FOUND));
    const CMAPIException e = Raised([&] { IMsgStorePtr(&store)._getIPMRoot(); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "");
}

// A store whose property read succeeds but delivers nothing.
class SilentStore : public IMsgStorePtr {
public:
    using IMsgStorePtr::IMsgStorePtr;
    HRESULT GetProp(ULONG, MapiBufferPtr<SPropValue>& value) const override {
        value.reset();
        return S_OK;
    }
};

TEST_F(StoreTest, IpmRootReadWithoutValueRaisesItsOwnContext) {
    const CMAPIException e = Raised([&] { SilentStore(&store)._getIPMRoot(); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "IMsgStorePtr::_getIPMRoot");
}

TEST_F(StoreTest, IpmRootOpenFailureFreesTheIdentifier) {
    store.Fail(fake::Call::OpenEntry, MAPI_E_NO_ACCESS);
    const CMAPIException e = Raised([&] { IMsgStorePtr(&store)._getIPMRoot(); });
    EXPECT_EQ(e.m_hr, MAPI_E_NO_ACCESS);
    EXPECT_EQ(e.m_strContext, "");
}

TEST_F(StoreTest, ReceiveFolder) {
    IMsgStorePtr s(&store);
    {
        IMAPIFolderPtr f = s.GetReceiveFolder("");
        EXPECT_EQ(f._rawInterface(), &inbox);
        EXPECT_EQ(store.lastReceiveClass, "");
        EXPECT_EQ(inbox.refs, 2);
    }
    store.Fail(fake::Call::OpenEntry, MAPI_E_NOT_FOUND);  // the identifier is still freed
    EXPECT_EQ(Raised([&] { s.GetReceiveFolder(""); }).m_hr, MAPI_E_NOT_FOUND);
    store.Fail(fake::Call::GetReceiveFolder, MAPI_E_NO_SUPPORT);
    const CMAPIException e = Raised([&] { s.GetReceiveFolder(""); });
    EXPECT_EQ(e.m_hr, MAPI_E_NO_SUPPORT);
    EXPECT_EQ(e.m_strContext, "");
}

TEST_F(StoreTest, OpenEntryCheckedAndRaw) {
    IMsgStorePtr s(&store);
    const CMapiBinary inboxEid(static_cast<ULONG>(kInboxEid.size()), kInboxEid.data());
    {
        IMAPIPropPtr p = s.OpenEntry(inboxEid);
        EXPECT_EQ(p._rawInterface(), static_cast<LPMAPIPROP>(&inbox));
        EXPECT_EQ(inbox.refs, 2);
    }
    const CMAPIException e = Raised([&] { s.OpenEntry(CMapiBinary(2, kRootEid.data())); });
    EXPECT_EQ(e.m_hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(e.m_strContext, "");

    CInterfaceRef<IUnknown> object;
    ULONG type = 0;
    EXPECT_EQ(s._rawOpenEntry(inboxEid, MAPI_MODIFY, object, &type), S_OK);
    EXPECT_EQ(object.get(), static_cast<IUnknown*>(static_cast<IMAPIFolder*>(&inbox)));
    EXPECT_EQ(type, MAPI_FOLDER);
    EXPECT_EQ(store.entries->lastFlags, MAPI_MODIFY);
    EXPECT_EQ(s._rawOpenEntry(CMapiBinary(), 0, object), MAPI_E_NOT_FOUND);  // unchecked
    EXPECT_FALSE(object);
}

}  // namespace
