// Row sets from QueryAllRows and their cells.
#include <gtest/gtest.h>
#include <runtime/alloc_fault.h>

#include "MapiException.h"
#include "MapiBinary.h"
#include "MapiRowSet.h"
#include "fake_raised.h"
#include "fakes.h"

namespace {

class RowSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        table.AddRow({fake::Str(PR_DISPLAY_NAME, "Inbox"), fake::Bin(PR_ENTRYID, {1, 2})});
        table.AddRow({fake::Bin(PR_ENTRYID, {3}), fake::Long(PR_FOLDER_TYPE, 1)});  // no name
        chains = mapi::LiveAllocationChains();
    }
    void TearDown() override {
        EXPECT_EQ(mapi::LiveAllocationChains(), chains);
        EXPECT_EQ(table.refs, 1);
    }
    fake::Table table;
    long chains = 0;
};

TEST_F(RowSetTest, ReadsAllRowsInTheRequestedColumns) {
    CMapiRowSet rows = QueryAllRows(&table, {PR_DISPLAY_NAME, PR_ENTRYID});
    EXPECT_EQ(table.columns, (std::vector<ULONG>{PR_DISPLAY_NAME, PR_ENTRYID}));
    ASSERT_EQ(rows.Count(), 2u);
    EXPECT_TRUE(rows.Owned());
    EXPECT_EQ(rows.Cell(0, 0).ToString(), "Inbox");
    EXPECT_EQ(rows.Cell(0, 1).ToString(), "0102");
    EXPECT_EQ(rows.Cell(1, 0).Type(), PT_ERROR);  // missing in that row
    CMapiBinary eid;
    eid = rows.Cell(1, 1);
    const BYTE three[] = {3};
    EXPECT_TRUE(eid == CMapiBinary(1, three));

    CMapiRowSet moved = std::move(rows);
    EXPECT_EQ(rows.Count(), 0u);
    EXPECT_EQ(moved.Count(), 2u);
}

TEST_F(RowSetTest, CellOutsideTheRowsIsAnEmptyView) {
    CMapiRowSet rows;
    rows.QueryAllRows(&table, {PR_DISPLAY_NAME});
    struct Case {
        ULONG row, column;
    } outside[] = {{2, 0}, {0, 1}, {99, 99}};
    for (const auto& c : outside) {
        const CMapiPropValue cell = rows.Cell(c.row, c.column);
        EXPECT_TRUE(cell.Empty());
        EXPECT_EQ(cell.ToString(), "");
        CMapiBinary bin;
        bin = cell;
        EXPECT_TRUE(bin.Empty());
    }
    EXPECT_TRUE(CMapiRowSet().Cell(0, 0).Empty());
}

TEST_F(RowSetTest, FailuresRaiseAndLeaveNothingBehind) {
    table.Fail(fake::Call::QueryRows, MAPI_E_TABLE_TOO_BIG);
    CMAPIException e = fake::Raised([&] { QueryAllRows(&table, {PR_ENTRYID}); });
    EXPECT_EQ(e.m_hr, MAPI_E_TABLE_TOO_BIG);
    EXPECT_EQ(e.m_strContext, "");
    table.Fail(fake::Call::QueryRows, S_OK);
    for (long n : {0L, 1L, 2L, 3L}) {
        mapi::SetAllocationFailureCountdown(n);
        try {
            CMapiRowSet rows = QueryAllRows(&table, {PR_DISPLAY_NAME, PR_ENTRYID});
        } catch (CMAPIException e) {
            EXPECT_EQ(e.m_hr, MAPI_E_NOT_ENOUGH_MEMORY);
        }
    }
    mapi::SetAllocationFailureCountdown(-1);
    EXPECT_EQ(fake::Raised([] { QueryAllRows(LPMAPITABLE{}, {PR_ENTRYID}); }).m_hr,
              MAPI_E_INVALID_PARAMETER);
}

TEST(CMapiRowSet, RowsNotOwnedAreNotFreed) {
    SPropValue value{};
    value.ulPropTag = PR_FOLDER_TYPE;
    value.Value.l = 1;
    SRowSet set{1, {SRow{0, 1, &value}}};
    {
        CMapiRowSet view(&set, false);
        EXPECT_EQ(view.Cell(0, 0).ToString(), "1");
    }  // ASan would report a free of stack memory here
    EXPECT_EQ(set.cRows, 1u);
}

}  // namespace
