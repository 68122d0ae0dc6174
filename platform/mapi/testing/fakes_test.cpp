// The promises of the shared doubles that other tests lean on without
// checking them: lifetime and counting, what is not modelled, the registry
// staying clean, and the tables and receive folders a store builds.
#include "fakes.h"

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "runtime/alloc_fault.h"

namespace {

TEST(FakeObjects, LifetimeFaultsAndWhatIsNotModelled) {
    // (Counting on stack doubles is what the access layer's tests check.)
    // One made with Make is gone at zero: its entry leaves the registry, so
    // OpenEntry cannot hand out a dead object.
    auto store = fake::Make<fake::Store>("S");
    fake::Bytes eid;
    eid = store->Root()->AddChild("Child")->Eid();
    store->Root()->children.clear();
    mapi::ComRef<IUnknown> opened;
    ULONG type = 0;
    EXPECT_EQ(
        store->OpenEntry(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()),
                         nullptr, 0, &type, opened.Out()),
        MAPI_E_NOT_FOUND);

    // Everything not modelled answers MAPI_E_NO_SUPPORT, and faults replace
    // the answer of what is.
    fake::Folder folder;
    EXPECT_EQ(folder.EmptyFolder(0, nullptr, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(folder.SetSearchCriteria(nullptr, nullptr, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(store->StoreLogoff(nullptr), MAPI_E_NO_SUPPORT);
    mapi::ComRef<IMAPITable> table;
    folder.Fail(fake::Call::GetContentsTable, MAPI_E_NO_ACCESS);
    EXPECT_EQ(folder.GetContentsTable(0, table.Out()), MAPI_E_NO_ACCESS);
    folder.Fail(fake::Call::GetContentsTable, S_OK);
    EXPECT_EQ(folder.GetContentsTable(0, table.Out()), S_OK);
    EXPECT_EQ(folder.refs, 1);
}

TEST(FakeObjects, FolderTablesRestrictAndSplitAssociatedItems) {
    const long chains = mapi::LiveAllocationChains();
    {
        fake::Folder folder;
        folder.AddItem("alpha");
        folder.AddItem("beta");
        folder.AddMessage()->Set(fake::Long(PR_MESSAGE_FLAGS, MSGFLAG_ASSOCIATED));

        mapi::ComRef<IMAPITable> contents;
        ASSERT_EQ(folder.GetContentsTable(0, contents.Out()), S_OK);
        SPropValue beta{};
        beta.ulPropTag = PR_SUBJECT_A;
        beta.Value.lpszA = const_cast<char*>("beta");
        SRestriction only{};
        only.rt = RES_PROPERTY;
        only.res.resProperty = {RELOP_EQ, PR_SUBJECT_A, &beta};
        ASSERT_EQ(contents->Restrict(&only, 0), S_OK);
        LPSRowSet raw = nullptr;
        SizedSPropTagArray(2, cols) = {2, {PR_SUBJECT_A, PR_ENTRYID}};
        ASSERT_EQ(HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&cols), nullptr,
                                 nullptr, 0, &raw),
                  S_OK);
        mapi::RowSetPtr rows(raw);
        ASSERT_EQ(rows->cRows, 1u);
        EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "beta");
        EXPECT_EQ(fake::BytesOf(rows->aRow[0].lpProps[1].Value.bin.cb,
                                rows->aRow[0].lpProps[1].Value.bin.lpb),
                  folder.messages[1]->Eid());
        EXPECT_EQ(folder.restrictCalls, 1);

        mapi::ComRef<IMAPITable> associated;
        ASSERT_EQ(folder.GetContentsTable(MAPI_ASSOCIATED, associated.Out()), S_OK);
        ULONG count = 0;
        ASSERT_EQ(associated->GetRowCount(0, &count), S_OK);
        EXPECT_EQ(count, 1u);
    }
    EXPECT_EQ(mapi::LiveAllocationChains(), chains);
}

TEST(FakeObjects, CopyMovesAndReceiveFoldersFollowTheClass) {
    auto store = fake::Make<fake::Store>("S");
    fake::Folder* from = store->Root()->AddChild("From");
    fake::Folder* to = store->Root()->AddChild("To");
    fake::Bytes kept = from->AddItem("kept").Eid();
    fake::Bytes refused = from->AddItem("refused", MAPI_E_NO_ACCESS).Eid();
    SBinary ids[] = {{static_cast<ULONG>(kept.size()), kept.data()},
                     {static_cast<ULONG>(refused.size()), refused.data()}};
    ENTRYLIST list{1, ids};
    ASSERT_EQ(
        from->CopyMessages(&list, nullptr, static_cast<IMAPIFolder*>(to), 0, nullptr, MESSAGE_MOVE),
        S_OK);
    ASSERT_EQ(to->messages.size(), 1u);
    EXPECT_EQ(to->messages[0]->Text(PR_SUBJECT_A), "kept");
    EXPECT_NE(to->messages[0]->Eid(), kept);
    EXPECT_EQ(from->messages.size(), 1u);
    list = {1, &ids[1]};
    EXPECT_EQ(from->CopyMessages(&list, nullptr, static_cast<IMAPIFolder*>(to), 0, nullptr, 0),
              MAPI_E_NO_ACCESS);

    store->SetInbox(from);
    store->receiveFolders["IPM.Note"] = to->Eid();
    auto receive = [&](const char* cls) {
        ULONG cb = 0;
        LPENTRYID eid = nullptr;
        EXPECT_EQ(store->GetReceiveFolder(const_cast<LPTSTR>(cls), 0, &cb, &eid, nullptr), S_OK);
        mapi::MapiBuffer<ENTRYID> hold(eid);
        return fake::BytesOf(cb, eid);
    };
    EXPECT_EQ(receive("IPM.Note.Secure"), to->Eid());
    EXPECT_EQ(receive("IPM.Note"), to->Eid());
    EXPECT_EQ(receive("IPM.Contact"), from->Eid());
    EXPECT_EQ(store->lastReceiveClass, "IPM.Contact");
}

}  // namespace
