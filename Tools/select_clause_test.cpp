// Tests of select statements and sort clauses without a session: column
// sets, sort orders and their messages.
#include <gtest/gtest.h>

#include <string>

#include "compiler_test_helpers.h"

namespace {

struct Case {
    std::string query;
    std::string restriction;  // or "error:..." for a failed compile
    std::string columns;      // "" when no column set
    std::string sort;         // "" when no sort order
};

TEST(SelectClause, ColumnsSortOrdersAndMessages) {
    const Case cases[] = {
        {"Subject = \"abc\" order by descending MessageSize, Subject",
         "property(EQ, 0x0037001E, 0x0037001E=\"abc\")", "",
         "0x0E080003 DESC, 0x0037001E ASC; categories 0"},
        {"order by combine Categories", "none", "", "0x8000101E COMBINE; categories 1"},
        {"order by ascending Subject, combine Categories, combine Body", "none", "",
         "0x0037001E ASC, 0x8000101E COMBINE, 0x1000001E COMBINE; categories 2"},
        {"order by Subject order by MessageSize", "none", "", "0x0E080003 ASC; categories 0"},
        {"select Subject, SenderName where MessageSize > 10",
         "property(GT, 0x0E080003, 0x0E080003=10)", "0x0037001E, 0x0C1A001E, 0x0E080003", ""},
        {"select Subject where", "none", "0x0037001E", ""},
        {"select \"Subject\", Body where Subject = \"x\"",
         "property(EQ, 0x0037001E, 0x0037001E=\"x\")", "0x0037001E, 0x1000001E", ""},
        {"select Subject where Body = \"x\" order by MessageSize",
         "property(EQ, 0x1000001E, 0x1000001E=\"x\")", "0x0037001E, 0x1000001E, 0x0E080003",
         "0x0E080003 ASC; categories 0"},
        {"select Subject from \"X\\Inbox\" where Subject = \"x\"",
         "error: For selecting a table, Session must be set", "", ""},
        {"select Nonsense where Subject = \"x\"", "error: Nonsense is not a field", "", ""},
        {"select , where", "error: Expeced field name", "", ""},
        {"select Subject Subject = \"x\"", "error: Expected WHERE", "", ""},
        {"order Subject", "error: Expeced by", "", ""},
        {"order by Nonsense", "error: Expected fieldname", "", ""},
        {"order by descending", "error: Expected fieldname", "", ""},
        {"order by Subject,", "error: Expected fieldname", "", ""},
    };
    for (const Case& c : cases) {
        fake::Folder container;
        RestrictionCompiler compiler;
        compiler.SetPropertyObject(&container);
        EXPECT_EQ(Outcome(compiler, c.query), c.restriction) << c.query;
        if (compiler.HasError()) continue;
        EXPECT_EQ(compiler.Columns() ? ColumnsText(*compiler.Columns()) : "", c.columns) << c.query;
        EXPECT_EQ(compiler.SortOrder() ? SortOrderText(*compiler.SortOrder()) : "", c.sort)
            << c.query;
    }
}

TEST(SelectClause, ResultsAreReleasedByTheNextCompile) {
    RestrictionCompiler compiler;
    compiler.Compile("select Subject where Subject = \"a\" order by Subject");
    ASSERT_NE(compiler.Columns(), nullptr);
    ASSERT_NE(compiler.SortOrder(), nullptr);
    compiler.Compile("Subject = \"a\"");
    EXPECT_EQ(compiler.Columns(), nullptr);
    EXPECT_EQ(compiler.SortOrder(), nullptr);
}

}  // namespace
