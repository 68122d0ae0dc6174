// Reference counting of the owning holders and the object wrappers.
#include <stdexcept>

#include <gtest/gtest.h>

#include "MapiContPtr.h"
#include "MsgStorePtr.h"
#include "fake_raised.h"
#include "fakes.h"

namespace {

TEST(CInterfaceRef, TakesAndGivesBackExactlyItsReferences) {
    fake::Table a, b;
    {
        IMAPITablePtr p(&a);
        EXPECT_EQ(a.refs, 2);
        IMAPITablePtr copy(p);
        EXPECT_EQ(a.refs, 3);
        copy = copy;  // self-assignment
        EXPECT_EQ(a.refs, 3);
        IMAPITablePtr other(&b);
        copy = other;  // takes b, gives back a
        EXPECT_EQ(a.refs, 2);
        EXPECT_EQ(b.refs, 3);
        IMAPITablePtr moved(std::move(copy));
        EXPECT_EQ(b.refs, 3);
        EXPECT_FALSE(copy);
        moved = IMAPITablePtr();
        EXPECT_EQ(b.refs, 2);
        *p.Receive() = &b;  // an out parameter: p gave back a, owns what was written
        EXPECT_EQ(a.refs, 1);
        b.AddRef();  // as MAPI would for that out parameter
    }
    EXPECT_EQ(a.refs, 1);
    EXPECT_EQ(b.refs, 1);
    EXPECT_EQ(a.overReleases + b.overReleases, 0);
}

TEST(CInterfaceRef, SelfAssignmentOfTheLastReferenceKeepsTheObject) {
    fake::Table t;
    auto only = IMAPITablePtr::Adopt(&t);  // the holder now owns the fake's one reference
    auto& alias = only;
    only = alias;
    EXPECT_EQ(t.refs, 1);
    EXPECT_EQ(t.resurrections, 0);
    only.Reset();
    EXPECT_EQ(t.refs, 0);
    EXPECT_EQ(t.overReleases, 0);
}

TEST(CInterfaceRef, AdoptTakesNoReference) {
    fake::Table t;
    t.AddRef();  // the reference a MAPI call would hand out
    { auto held = IMAPITablePtr::Adopt(&t); }
    EXPECT_EQ(t.refs, 1);
}

TEST(CInterfaceRef, ReleasesWhenAnExceptionLeaves) {
    fake::Folder folder;
    try {
        IMAPIFolderPtr held(&folder);
        IMAPIFolderPtr second = held;
        EXPECT_EQ(folder.refs, 3);
        throw std::runtime_error("leaving");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(folder.refs, 1);
}

template <class Wrapper, class Fake>
void CheckWrapperCounting() {
    Fake x, y;
    {
        Wrapper a(&x);
        EXPECT_EQ(x.refs, 2);
        Wrapper b = a;
        EXPECT_EQ(x.refs, 3);
        b = b;
        EXPECT_EQ(x.refs, 3);
        Wrapper c(&y);
        b = c;
        EXPECT_EQ(x.refs, 2);
        EXPECT_EQ(y.refs, 3);
        Wrapper empty;
        c = empty;
        EXPECT_EQ(y.refs, 2);
        EXPECT_EQ(c._rawInterface(), nullptr);
        EXPECT_EQ(a._rawInterface(), &x);
    }
    EXPECT_EQ(x.refs, 1);
    EXPECT_EQ(y.refs, 1);
    EXPECT_EQ(x.overReleases + y.overReleases, 0);
}

TEST(ObjectWrappers, CopyAssignAndDestroyBalanceReferences) {
    CheckWrapperCounting<IMAPIFolderPtr, fake::Folder>();
    CheckWrapperCounting<IMAPIContainerPtr, fake::Folder>();
    CheckWrapperCounting<IMsgStorePtr, fake::Store>();
    CheckWrapperCounting<IMAPIPropPtr, fake::Store>();
}

TEST(ObjectWrappers, BothBasesHandOutTheOneKeptInterface) {
    fake::Folder folder;
    IMAPIFolderPtr wrapper(&folder);
    const CGenMapiPropPtr& asProp = wrapper;
    const CGenMapiContPtr& asCont = wrapper;
    EXPECT_EQ(asProp._rawInterface(), static_cast<LPMAPIPROP>(&folder));
    EXPECT_EQ(asCont._rawInterface(), static_cast<LPMAPICONTAINER>(&folder));
    EXPECT_EQ(folder.refs, 2);
}

}  // namespace
