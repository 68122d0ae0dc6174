// Container operations and folder creation through the wrappers.
#include <functional>

#include <gtest/gtest.h>

#include "MapiContPtr.h"
#include "MapiException.h"
#include "fake_raised.h"
#include "fakes.h"

namespace {

using fake::Raised;

TEST(CGenMapiContPtr, TablesAndEntriesWithTheirFlags) {
    fake::Folder folder;
    fake::Table contents, hierarchy;
    fake::Store item;  // any object will do as an opened entry
    folder.contents = &contents;
    folder.hierarchy = &hierarchy;
    folder.entries->Add({1, 2, 3}, &item);
    const BYTE eid[] = {1, 2, 3};
    {
        IMAPIFolderPtr f(&folder);
        IMAPITablePtr t = f._rawContentsTable();
        EXPECT_EQ(t.get(), &contents);
        EXPECT_EQ(folder.lastContentsFlags, 0u);
        EXPECT_EQ(contents.refs, 2);  // exactly the one MAPI handed out
        t = f._rawAssociatedTable();
        EXPECT_EQ(folder.lastContentsFlags, MAPI_ASSOCIATED);
        EXPECT_EQ(contents.refs, 2);
        t = f._rawHierrarchyTable();
        EXPECT_EQ(t.get(), &hierarchy);
        EXPECT_EQ(folder.lastHierarchyFlags, 0u);
        EXPECT_EQ(contents.refs, 1);

        IMAPIPropPtr opened = f.OpenEntryv(CMapiBinary(3, eid));
        EXPECT_EQ(opened._rawInterface(), static_cast<LPMAPIPROP>(&item));
        EXPECT_EQ(folder.entries->lastFlags, MAPI_BEST_ACCESS);
        EXPECT_EQ(item.refs, 2);
    }
    EXPECT_EQ(folder.refs, 1);
    EXPECT_EQ(contents.refs, 1);
    EXPECT_EQ(hierarchy.refs, 1);
    EXPECT_EQ(item.refs, 1);
}

TEST(CGenMapiContPtr, FailuresCarryTheOperationsName) {
    fake::Folder folder;
    folder.Fail(fake::Call::GetContentsTable, MAPI_E_NO_ACCESS);
    folder.Fail(fake::Call::GetHierarchyTable, MAPI_E_NO_ACCESS);
    folder.Fail(fake::Call::OpenEntry, MAPI_E_NO_ACCESS);
    IMAPIFolderPtr f(&folder);
    struct Case {
        std::function<void()> call;
        const char* context;
    } cases[] = {
        {[&] { f._rawContentsTable(); }, "CGenMapiContPtr::_rawContentsTable"},
        {[&] { f._rawAssociatedTable(); }, "CGenMapiContPtr::_rawAssociatedTable"},
        {[&] { f._rawHierrarchyTable(); }, "CGenMapiContPtr::_rawHierrarchyTable"},
        {[&] { f.OpenEntryv(CMapiBinary(1, reinterpret_cast<const BYTE*>("x"))); },
         "CGenMapiContPtr::OpenEntryv"},
    };
    for (const auto& c : cases) {
        const CMAPIException e = Raised(c.call);
        EXPECT_EQ(e.m_hr, MAPI_E_NO_ACCESS) << c.context;
        EXPECT_EQ(e.m_strContext, c.context);
    }
    EXPECT_EQ(folder.refs, 2);
}

TEST(CGenMapiContPtr, EmptyContainer) {
    IMAPIContainerPtr empty;
    EXPECT_FALSE(empty._rawContentsTable());  // no call, no raise
    EXPECT_EQ(Raised([&] { empty._rawAssociatedTable(); }).m_strContext,
              "CGenMapiContPtr::_rawAssociatedTable");
    EXPECT_EQ(Raised([&] { empty._rawHierrarchyTable(); }).m_strContext,
              "CGenMapiContPtr::_rawHierrarchyTable");
    EXPECT_EQ(Raised([&] { empty.OpenEntryv(CMapiBinary()); }).m_strContext,
              "CGenMapiContPtr::OpenEntryv");
}

TEST(IMAPIFolderPtr, CreateFolderOpensOrRefusesAnExistingName) {
    fake::Folder parent;
    IMAPIFolderPtr p(&parent);

    CInterfaceRef<IMAPIFolder> inbox = p.CreateFolder(FOLDER_GENERIC, "Inbox", "", OPEN_IF_EXISTS);
    ASSERT_EQ(parent.children.size(), 1u);
    fake::Folder& child = *parent.children[0];
    EXPECT_EQ(inbox.get(), &child);
    EXPECT_EQ(child.refs, 2);  // the parent's and the one handed out
    EXPECT_EQ(parent.lastCreateComment, "");

    CInterfaceRef<IMAPIFolder> again = p.CreateFolder(FOLDER_GENERIC, "INBOX", "", OPEN_IF_EXISTS);
    EXPECT_EQ(again.get(), &child);
    EXPECT_EQ(parent.children.size(), 1u);

    const CMAPIException e = Raised([&] { p.CreateFolder(FOLDER_GENERIC, "Inbox", "", 0); });
    EXPECT_EQ(e.m_hr, MAPI_E_COLLISION);
    EXPECT_EQ(e.m_strContext, "IMAPIFolderPtr::CreateFolder");
    EXPECT_EQ(parent.lastCreateFlags, 0u);

    {
        IMAPIFolderPtr wrapped(inbox.get());  // a further reference of the wrapper's own
        EXPECT_EQ(child.refs, 4);
    }
    inbox.Reset();
    again.Reset();
    EXPECT_EQ(child.refs, 1);
    EXPECT_EQ(child.overReleases, 0);

    EXPECT_EQ(
        Raised([] { IMAPIFolderPtr().CreateFolder(FOLDER_GENERIC, "x", "", 0); }).m_strContext,
        "IMAPIFolderPtr::CreateFolder");
}

}  // namespace
