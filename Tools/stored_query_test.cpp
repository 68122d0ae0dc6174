// Tests of stored query calls: arguments, expansion with bracket sections
// and joiners, nesting and loops.
#include <gtest/gtest.h>

#include <string>

#include "compiler_test_helpers.h"
#include "stored_query.h"

namespace {

const std::string kSubjectAbc = "property(EQ, 0x0037001E, 0x0037001E=\"abc\")";

std::string Cat(const char* value) {
    return std::string("property(EQ, 0x8000101E, 0x8000001E=\"") + value + "\")";
}

class StoredQueries : public ::testing::Test {
protected:
    StoredQueries() {
        compiler.SetPropertyObject(&container);
        compiler.SetStoredQueries(&queries);
        queries.Add("Q", "Subject = $p").AddParameter("p");
        queries.Add("Q0", "Subject = \"abc\"");
        StoredQuery& two = queries.Add("Two", "Subject = $a or Body = $b");
        two.AddParameter("a");
        two.AddParameter("b");
        queries.Add("Cats", "[Categories = $c]").AddParameter("c", "or");
        queries.Add("AllCats", "[Categories = $c]").AddParameter("c", "and");
        queries.Add("Wrapped", "(Cats($x)) and Subject = \"abc\"").AddParameter("x");
        queries.Add("Self", "Subject = \"a\" or Self()");
        queries.Add("Ping", "Pong()");
        queries.Add("Pong", "Ping()");
    }

    std::string Run(const std::string& query) { return Outcome(compiler, query); }
    StoredQuery& Query(const std::string& name) {
        for (auto& q : queries.queries)
            if (q->name == name) return *q;
        throw std::runtime_error("no query " + name);
    }

    fake::Folder container;
    StoredQueryCollection queries;
    RestrictionCompiler compiler;
};

TEST_F(StoredQueries, ArgumentsAreInsertedUnquotedOutsideBrackets) {
    EXPECT_EQ(Run("Q(abc)"), kSubjectAbc);
    EXPECT_EQ(Run("Q(\"abc\")"), kSubjectAbc);
    EXPECT_EQ(Run("Q0()"), kSubjectAbc);
    EXPECT_EQ(Run("Q0() and Q(abc)"), "and(" + kSubjectAbc + ", " + kSubjectAbc + ")");
    // Body resolves, so Q(Body) compares two properties.
    EXPECT_EQ(Run("Q(Body)"), "compareprops(EQ, 0x0037001E, 0x1000001E)");
}

TEST_F(StoredQueries, ArgumentsSplitAtCommasAndSemicolons) {
    Run("Q(a;b)");
    EXPECT_EQ(Query("Q").parameters[0]->value, "a ;b");
    EXPECT_EQ(Run("Two(x, y)"),
              "or(property(EQ, 0x1000001E, 0x1000001E=\"y\"), "
              "property(EQ, 0x0037001E, 0x0037001E=\"x\"))");
    Run("Q(substring ignorecase \"a b\" c)");
    EXPECT_EQ(Query("Q").parameters[0]->value, "substring ignorecase a b c");
}

TEST_F(StoredQueries, BracketSectionsRepeatPerItemWithTheJoiner) {
    EXPECT_EQ(Run("Cats(a; b)"), "or(" + Cat("b") + ", " + Cat("a") + ")");
    EXPECT_EQ(Run("Cats(a)"), Cat("a"));
    EXPECT_EQ(Run("Cats(x;;y)"), "or(" + Cat("y") + ", " + Cat("x") + ")");
    EXPECT_EQ(Run("AllCats(a;b;c)"), "and(" + Cat("c") + ", " + Cat("b") + ", " + Cat("a") + ")");
    EXPECT_EQ(Run("Cats()"), "none");
    EXPECT_EQ(Run("Wrapped(p;q)"),
              "and(" + kSubjectAbc + ", or(" + Cat("q") + ", " + Cat("p") + "))");
}

TEST_F(StoredQueries, LoopsAreReportedNotFollowed) {
    EXPECT_EQ(Run("Self()"), "error: Loop in Query execution");
    EXPECT_EQ(Run("Ping()"), "error: Loop in Query execution");
    // A finished call may be made again.
    EXPECT_EQ(Run("Q0() or Q0()"), "or(" + kSubjectAbc + ", " + kSubjectAbc + ")");
}

TEST_F(StoredQueries, CallMessages) {
    EXPECT_EQ(Run("Q0"), "error: Expeced '(' Expected ')'");
    EXPECT_EQ(Run("Q0(x"), "error: Expected ')'");
    EXPECT_EQ(Run("Q abc)"), "error: Expeced '('");
}

TEST_F(StoredQueries, OtherIdentifiersAreOperandsAndReferencesAddParameters) {
    EXPECT_EQ(Run("Subject = q"), "property(EQ, 0x0037001E, 0x0037001E=\"q\")");
    StoredQuery& extra = queries.Add("Extra", "Subject = $p and Body = $r");
    extra.AddParameter("p");
    EXPECT_EQ(Run("Extra(abc)"), "error: Expected an operand after '='");
    ASSERT_EQ(extra.parameters.size(), 2u);
    EXPECT_EQ(extra.parameters[1]->name, "r");
}

}  // namespace
