// The query builder driven by control id: the texts it writes for its
// option combinations, what does and does not rebuild them, OK and Cancel,
// and its saved queries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

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

#include "message_box.h"
#include "query_dlg.h"
#include "resource.h"
#include "restriction_compiler.h"
#include "restriction_text.h"
#include "stored_query.h"

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

// The builder over a queries file of the test's own; the boxes it shows are
// recorded and its questions answered from a list.
class SavedQueryDlgTest : public testing::Test {
protected:
    SavedQueryDlgTest() {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.string()));
        SetMessageBoxHook([this](const MessageBoxCall& call) { boxes << call.text; });
        SetQuestionHook([](const MessageBoxCall&) { return true; });
        SetTextHook([this](const MessageBoxCall&, QString* value) {
            if (answers.isEmpty()) return false;
            *value = answers.takeFirst();
            return true;
        });
    }
    ~SavedQueryDlgTest() override {
        SetMessageBoxHook(nullptr);
        SetQuestionHook(nullptr);
        SetTextHook(nullptr);
        qunsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(dir);
    }

    QComboBox* Saved(CQueryDlg& d) {
        return qobject_cast<QComboBox*>(d.GetDlgItem(IDC_COMBO_SAVED));
    }
    void Choose(CQueryDlg& d, const char* name) {
        const int at = Saved(d)->findText(QString::fromLatin1(name));
        ASSERT_GE(at, 0) << name;
        Saved(d)->setCurrentIndex(at);
        emit Saved(d)->activated(at);
    }
    void Click(CQueryDlg& d, int id) { QTest::mouseClick(d.GetDlgItem(id), Qt::LeftButton); }
    void Type(CQueryDlg& d, int id, const QString& text) {
        QTest::keyClicks(qobject_cast<QLineEdit*>(d.GetDlgItem(id)), text);
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const SavedQuery& q : LoadSavedQueries(file.string()).queries) names.push_back(q.name);
        return names;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("query_dlg_saved_" + std::to_string(getpid()));
    const std::filesystem::path file = dir / "quirnel" / "queries.ini";
    QStringList boxes;
    QStringList answers;
};

TEST_F(SavedQueryDlgTest, ASavedQueryGoesIntoTextTheCompilerReadsWhole) {
    CQueryDlg d;
    ASSERT_EQ(Saved(d)->count(), 3);
    EXPECT_EQ(Saved(d)->itemText(0), QStringLiteral("AttachmentOver"));
    Choose(d, "ItemsOfYear");
    answers = {QStringLiteral("2024"), QStringLiteral("2025")};
    Click(d, IDC_CHK_SAVED);
    Click(d, IDC_CHK_SUBJECT);
    Type(d, IDC_EDIT_SUBJECT, QStringLiteral("Invoice"));
    Click(d, IDC_CHK_OLDER);
    Type(d, IDC_EDIT_DAYS, QStringLiteral("3x0"));  // only digits are taken
    const QString query = d.GetDlgItemText(IDC_EDIT_QUERY);
    EXPECT_EQ(query, QStringLiteral("CreationTime < DaysFromNow(30) and Subject : \"Invoice\" and "
                                    "ItemsOfYear(\"2024\", \"2025\")"));

    StoredQueryCollection stored;
    FillStoredQueries(ExampleSavedQueries(), stored);
    RestrictionCompiler compiler;
    compiler.SetStoredQueries(&stored);
    const std::string text = query.toStdString();
    compiler.Compile(text.c_str());
    ASSERT_FALSE(compiler.HasError()) << compiler.ErrorText();
    EXPECT_EQ(compiler.UnreadText(), "");
    const std::string made = RestrictionText(compiler.Restriction());
    EXPECT_NE(made.find("property(GE, 0x30070040, 0x30070040=2024-01-01T00:00:00)"),
              std::string::npos)
        << made;
    EXPECT_NE(made.find("content(0x00010001, 0x0037001E, 0x0037001E=\"Invoice\")"),
              std::string::npos)
        << made;

    // Another query chosen while the box is ticked asks anew; cancelling drops the call.
    Choose(d, "FromSender");
    EXPECT_FALSE(qobject_cast<QCheckBox*>(d.GetDlgItem(IDC_CHK_SAVED))->isChecked());
    EXPECT_EQ(d.GetDlgItemText(IDC_EDIT_QUERY),
              QStringLiteral("CreationTime < DaysFromNow(30) and Subject : \"Invoice\""));
    answers = {QStringLiteral("a \"b\"")};
    Click(d, IDC_CHK_SAVED);
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_FALSE(qobject_cast<QCheckBox*>(d.GetDlgItem(IDC_CHK_SAVED))->isChecked());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(SavedQueryDlgTest, SaveAndRemoveKeepTheFileAndABrokenFileIsLeftAlone) {
    {
        CQueryDlg d;
        Click(d, IDC_CHK_SUBJECT);
        Type(d, IDC_EDIT_SUBJECT, QStringLiteral("x"));
        answers = {QStringLiteral("2bad")};
        Click(d, IDC_SAVED_SAVE);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].contains(QStringLiteral("2bad"))) << boxes[0].toStdString();
        EXPECT_FALSE(std::filesystem::exists(file));

        answers = {QStringLiteral("Invoices")};
        Click(d, IDC_SAVED_SAVE);
        EXPECT_EQ(Names(), (std::vector<std::string>{"ItemsOfYear", "FromSender", "AttachmentOver",
                                                     "Invoices"}));
        EXPECT_EQ(LoadSavedQueries(file.string()).queries[3].text, "Subject : \"x\"");
        EXPECT_EQ(Saved(d)->currentText(), QStringLiteral("Invoices"));

        Choose(d, "ItemsOfYear");
        Click(d, IDC_SAVED_REMOVE);
        EXPECT_EQ(Names(), (std::vector<std::string>{"FromSender", "AttachmentOver", "Invoices"}));
        EXPECT_EQ(Saved(d)->findText(QStringLiteral("ItemsOfYear")), -1);
        EXPECT_EQ(boxes.size(), 1);
    }
    // A file with a line it cannot read is named on opening and never rewritten.
    const std::string broken = "garbage\n[Mine]\ntext = Subject = \"a\"\n";
    std::ofstream(file) << broken;
    CQueryDlg d;
    QTimer::singleShot(0, &d, [&] {
        EXPECT_EQ(Saved(d)->count(), 1);
        answers = {QStringLiteral("Other")};
        Click(d, IDC_CHK_SUBJECT);
        Click(d, IDC_SAVED_SAVE);
        Click(d, IDCANCEL);
    });
    d.DoModal();
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_TRUE(boxes[1].contains(QString::fromStdString(file.string() + ":1: a line must be")))
        << boxes[1].toStdString();
    EXPECT_TRUE(boxes[2].contains(QString::fromStdString(file.string()))) << boxes[2].toStdString();
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), broken);
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
