// The query builder driven by control id: the texts it writes for its
// option combinations, what does and does not rebuild them, OK and Cancel.
#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QTest>
#include <QTimer>

#include "query_dlg.h"
#include "resource.h"

namespace {

class QueryDlgTest : public testing::Test {
protected:
    void SetUp() override {
        dlg.m_strQuery.clear();
        // What DoModal does before the dialog shows.
        dlg.show();
    }

    QCheckBox* Box(int id) { return qobject_cast<QCheckBox*>(dlg.GetDlgItem(id)); }
    QCalendarWidget* Calendar() {
        return qobject_cast<QCalendarWidget*>(dlg.GetDlgItem(IDC_CALENDAR));
    }
    QString Query() { return dlg.GetDlgItemText(IDC_EDIT_QUERY); }

    void Tick(int id) {
        ASSERT_NE(Box(id), nullptr) << id;
        QTest::mouseClick(Box(id), Qt::LeftButton);
    }
    void TypeCategory(const QString& text) {
        auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT_CATEGORY));
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    void TypeCreator(const QString& text) {
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_CREATOR));
        QTest::keyClicks(combo->lineEdit(), text);
    }
    // Chooses a day the way a user does: the calendar moves there and Enter
    // picks it.
    void ChooseDay(QDate date) {
        Calendar()->setSelectedDate(date);
        QWidget* view = Calendar()->findChild<QWidget*>(QStringLiteral("qt_calendar_calendarview"));
        ASSERT_NE(view, nullptr);
        QTest::keyClick(view, Qt::Key_Return);
    }

    CQueryDlg dlg;
};

TEST_F(QueryDlgTest, StartsEmptyAndUntickedOnToday) {
    EXPECT_EQ(Query(), QString());
    for (int id : {IDC_CHK_NEWER, IDC_CHK_MODIFIED, IDC_CHK_CREATEDBY, IDC_CHK_WITH_CATEGORY,
                   IDC_CHK_WITHOUT_CATEGORY}) {
        EXPECT_FALSE(Box(id)->isChecked()) << id;
    }
    EXPECT_EQ(Calendar()->selectedDate(), QDate::currentDate());
    auto* creator = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_CREATOR));
    EXPECT_EQ(creator->count(), 0);
}

TEST_F(QueryDlgTest, DatesUseTheChosenDayForBothConditions) {
    ChooseDay(QDate(2006, 3, 5));
    EXPECT_EQ(Query(), QString());  // no option ticked yet
    Tick(IDC_CHK_NEWER);
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(5,3,2006)"));
    Tick(IDC_CHK_MODIFIED);
    EXPECT_EQ(
        Query(),
        QStringLiteral("CreationTime > Date(5,3,2006) and LastModificationTime > Date(5,3,2006)"));
    Tick(IDC_CHK_NEWER);
    EXPECT_EQ(Query(), QStringLiteral("LastModificationTime > Date(5,3,2006)"));
    ChooseDay(QDate(2010, 12, 31));
    EXPECT_EQ(Query(), QStringLiteral("LastModificationTime > Date(31,12,2010)"));
}

TEST_F(QueryDlgTest, BrowsingAMonthOrSettingTheDateDoesNotRebuild) {
    Tick(IDC_CHK_NEWER);
    const QString before = Query();
    Calendar()->showNextMonth();
    Calendar()->setSelectedDate(QDate(2001, 1, 2));
    EXPECT_EQ(Query(), before);
    // The next rebuild takes whatever date is selected by then.
    Tick(IDC_CHK_CREATEDBY);
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(2,1,2001) and SenderName = \"\""));
}

TEST_F(QueryDlgTest, SenderIsQuotedAsTyped) {
    Tick(IDC_CHK_CREATEDBY);
    EXPECT_EQ(Query(), QStringLiteral("SenderName = \"\""));
    TypeCreator(QStringLiteral(" Anna \"B\""));
    EXPECT_EQ(Query(), QStringLiteral("SenderName = \" Anna \"B\"\""));
}

TEST_F(QueryDlgTest, CategoriesWithAndWithoutSeparators) {
    ChooseDay(QDate(2006, 3, 5));
    Tick(IDC_CHK_NEWER);
    Tick(IDC_CHK_WITH_CATEGORY);
    TypeCategory(QStringLiteral("Work;Private"));
    EXPECT_EQ(Query(),
              QStringLiteral("CreationTime > Date(5,3,2006) and (Categories = \"Work\" and "
                             "Categories = \"Private\")"));
    TypeCategory(QStringLiteral("a;;b;"));
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(5,3,2006) and (Categories = \"a\" and "
                                      "Categories = \"b\")"));
    TypeCategory(QStringLiteral("a; b"));
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(5,3,2006) and (Categories = \"a\" and "
                                      "Categories = \" b\")"));
    TypeCategory(QStringLiteral(";;"));
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(5,3,2006) and ()"));
    TypeCategory(QStringLiteral("Work"));
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(5,3,2006) and Categories = \"Work\""));
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT_CATEGORY))->clear();
    Tick(IDC_CHK_NEWER);
    EXPECT_EQ(Query(), QStringLiteral("Categories = \"\""));
    TypeCategory(QStringLiteral(";"));
    EXPECT_EQ(Query(), QStringLiteral("()"));
}

TEST_F(QueryDlgTest, BothCategoryBoxesMeanWithout) {
    Tick(IDC_CHK_WITHOUT_CATEGORY);
    TypeCategory(QStringLiteral("x"));
    EXPECT_EQ(Query(), QStringLiteral("Categories <> \"x\""));
    Tick(IDC_CHK_WITH_CATEGORY);
    EXPECT_EQ(Query(), QStringLiteral("Categories <> \"x\""));
    Tick(IDC_CHK_WITHOUT_CATEGORY);
    EXPECT_EQ(Query(), QStringLiteral("Categories = \"x\""));
}

TEST_F(QueryDlgTest, AllPiecesInTheirFixedOrder) {
    ChooseDay(QDate(2006, 3, 5));
    // Ticked in reverse order; the text keeps creation, change, sender, categories.
    Tick(IDC_CHK_WITH_CATEGORY);
    TypeCategory(QStringLiteral("A;B"));
    Tick(IDC_CHK_CREATEDBY);
    TypeCreator(QStringLiteral("Bob"));
    Tick(IDC_CHK_MODIFIED);
    Tick(IDC_CHK_NEWER);
    EXPECT_EQ(Query(), QStringLiteral("CreationTime > Date(5,3,2006) and LastModificationTime > "
                                      "Date(5,3,2006) and SenderName = \"Bob\" and (Categories = "
                                      "\"A\" and Categories = \"B\")"));
    // Unticking everything empties the box.
    for (int id : {IDC_CHK_WITH_CATEGORY, IDC_CHK_CREATEDBY, IDC_CHK_MODIFIED, IDC_CHK_NEWER})
        Tick(id);
    EXPECT_EQ(Query(), QString());
}

TEST_F(QueryDlgTest, TypingIntoTheQueryBoxIsReplacedAtOnce) {
    Tick(IDC_CHK_CREATEDBY);
    TypeCreator(QStringLiteral("Eve"));
    auto* edit = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(IDC_EDIT_QUERY));
    QTest::keyClicks(edit, QStringLiteral("xyz"));
    EXPECT_EQ(Query(), QStringLiteral("SenderName = \"Eve\""));
}

TEST(QueryDlg, OkReturnsTheShownTextAndCancelKeepsTheMember) {
    {
        CQueryDlg dlg;
        dlg.m_strQuery = QStringLiteral("Subject = \"kept\"");
        QTimer::singleShot(0, &dlg, [&] {
            EXPECT_EQ(dlg.GetDlgItemText(IDC_EDIT_QUERY), QStringLiteral("Subject = \"kept\""));
            QTest::mouseClick(dlg.GetDlgItem(IDC_CHK_CREATEDBY), Qt::LeftButton);
            QTest::mouseClick(dlg.GetDlgItem(IDOK), Qt::LeftButton);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.m_strQuery, QStringLiteral("SenderName = \"\""));
    }
    {
        CQueryDlg dlg;
        dlg.m_strQuery = QStringLiteral("before");
        QTimer::singleShot(0, &dlg, [&] {
            QTest::mouseClick(dlg.GetDlgItem(IDC_CHK_NEWER), Qt::LeftButton);
            QTest::mouseClick(dlg.GetDlgItem(IDCANCEL), Qt::LeftButton);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(dlg.m_strQuery, QStringLiteral("before"));
    }
    {
        // Nothing ticked: OK hands back the empty text; Enter in the category box is OK.
        CQueryDlg dlg;
        QTimer::singleShot(
            0, &dlg, [&] { QTest::keyClick(dlg.GetDlgItem(IDC_EDIT_CATEGORY), Qt::Key_Return); });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.m_strQuery, QString());
    }
    {
        CQueryDlg dlg;
        QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
}

TEST(QueryDlg, EnterInTheYearFieldTakesTheYearAndKeepsTheBuilderOpen) {
    CQueryDlg dlg;
    bool stillOpen = false;
    int yearAfterEnter = 0;
    QTimer::singleShot(0, &dlg, [&] {
        auto* calendar = qobject_cast<QCalendarWidget*>(dlg.GetDlgItem(IDC_CALENDAR));
        ASSERT_NE(calendar, nullptr);
        auto* yearButton =
            calendar->findChild<QToolButton*>(QStringLiteral("qt_calendar_yearbutton"));
        ASSERT_NE(yearButton, nullptr);
        QTest::mouseClick(yearButton, Qt::LeftButton);
        auto* year = calendar->findChild<QSpinBox*>(QStringLiteral("qt_calendar_yearedit"));
        ASSERT_NE(year, nullptr);
        ASSERT_TRUE(year->isVisible());
        year->setFocus();
        year->selectAll();
        QTest::keyClicks(year, QStringLiteral("2004"));
        QTest::keyClick(year, Qt::Key_Return);
        stillOpen = dlg.isVisible();
        yearAfterEnter = calendar->yearShown();
        // A second Enter, now outside the year field, is the builder's OK again.
        dlg.GetDlgItem(IDC_EDIT_CATEGORY)->setFocus();
        QTest::keyClick(dlg.GetDlgItem(IDC_EDIT_CATEGORY), Qt::Key_Return);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(yearAfterEnter, 2004);
}

TEST(ComposeQuery, EmptyCategoryAndSeparatorEdges) {
    QueryOptions o;
    EXPECT_EQ(ComposeQuery(o), QString());
    o.withCategory = true;
    EXPECT_EQ(ComposeQuery(o), QStringLiteral("Categories = \"\""));
    o.category = QStringLiteral(";a;");
    EXPECT_EQ(ComposeQuery(o), QStringLiteral("(Categories = \"a\")"));
    o.createdBy = true;
    o.creator = QStringLiteral("%1 x");
    EXPECT_EQ(ComposeQuery(o), QStringLiteral("SenderName = \"%1 x\" and (Categories = \"a\")"));
    o.newer = true;
    o.day = 7;
    o.month = 11;
    o.year = 1999;
    EXPECT_EQ(ComposeQuery(o),
              QStringLiteral("CreationTime > Date(7,11,1999) and SenderName = \"%1 x\" and "
                             "(Categories = \"a\")"));
}

}  // namespace
