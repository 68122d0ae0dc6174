// Tests of the condition parser: every primary, the combinations and tree
// shapes, and every message of the failure tables, as the restriction text
// that quirnel-query prints.
#include <gtest/gtest.h>

#include <string>

#include "compiler_test_helpers.h"

namespace {

const std::string kSubjectA = "property(EQ, 0x0037001E, 0x0037001E=\"a\")";
const std::string kBodyB = "property(EQ, 0x1000001E, 0x1000001E=\"b\")";
const std::string kNameC = "property(EQ, 0x3001001E, 0x3001001E=\"c\")";

struct Case {
    std::string query;
    std::string outcome;
};

TEST(ConditionParser, PrimariesAndComparisons) {
    const Case cases[] = {
        {"", "none"},
        {"   ", "none"},
        {"SenderName = \"abc\"", "property(EQ, 0x0C1A001E, 0x0C1A001E=\"abc\")"},
        {"MessageSize > 1000", "property(GT, 0x0E080003, 0x0E080003=1000)"},
        {"MessageSize < 10", "property(LT, 0x0E080003, 0x0E080003=10)"},
        {"MessageSize <= 10", "property(LE, 0x0E080003, 0x0E080003=10)"},
        {"MessageSize >= 10", "property(GE, 0x0E080003, 0x0E080003=10)"},
        {"MessageSize <> 10", "property(NE, 0x0E080003, 0x0E080003=10)"},
        {"MessageSize = 12abc", "property(EQ, 0x0E080003, 0x0E080003=12)"},
        // A word that is no number at all would compare with 0 unseen.
        {"MessageSize = abc",
         "error: Not a number: \"abc\" (a numeric field compares with numbers only)"},
        {"MessageSize = .5", "property(EQ, 0x0E080003, 0x0E080003=0)"},
        {"MessageSize = 99999999999", "property(EQ, 0x0E080003, 0x0E080003=2147483647)"},
        {"1000 < MessageSize", "property(LT, 0x0E080003, 0x0E080003=1000)"},
        {"size MessageSize > 1000", "size(GT, 0x0E080003, 1000)"},
        {"size \"Subject\" : 7", "size(EQ, 0x0037001E, 7)"},
        {"Hasattach = 1", "property(EQ, 0x0E1B000B, 0x0E1B000B=1)"},
        {"HasAttach = 1", "error: Neither HasAttach nor 1 is a keyword"},
        {"Entryid = \"0A0B\"", "property(EQ, 0x0FFF0102, 0x0FFF0102=<0A0B>)"},
        {"Subject = Body", "compareprops(EQ, 0x0037001E, 0x1000001E)"},
        {"Subject : \"abc\"", "content(0x00010001, 0x0037001E, 0x0037001E=\"abc\")"},
        {"Subject = substring ignorecase \"abc\"",
         "content(0x00010001, 0x0037001E, 0x0037001E=\"abc\")"},
        {"Subject = prefix loose ignorespace \"a\"",
         "content(0x00060002, 0x0037001E, 0x0037001E=\"a\")"},
        {"Subject = substring fullstring",
         "content(0x00000001, 0x0037001E, 0x0037001E=\"fullstring\")"},
        {"MessageFlags = bitmask 1", "bitmask(EQZ, 0x0E070003, 0x00000001)"},
        // A mask written 0x... is read as a property tag, not as a number.
        {"MessageFlags <> bit 0x10", "compareprops(NE, 0x0E070003, 0x00000010)"},
        {"MessageFlags = bitmask 16", "bitmask(EQZ, 0x0E070003, 0x00000010)"},
        {"exists Subject", "exist(0x0037001E)"},
        {"EXIST MessageSize", "exist(0x0E080003)"},
        {"recipient(EmailAddress = \"abc\")",
         "sub(0x0E12000D, property(EQ, 0x3003001E, 0x3003001E=\"abc\"))"},
        {"attachment(exists Subject)", "sub(0x0E13000D, exist(0x0037001E))"},
        {"LastModificationTime > Date(1,2,2006)",
         "property(GT, 0x30080040, 0x30080040=2006-02-01T00:00:00)"},
        {"Date(1,1,2006) < CreationTime",
         "property(LT, 0x30070040, 0x30070040=2006-01-01T00:00:00)"},
        {"Categories = \"x\"", "property(EQ, 0x8000101E, 0x8000001E=\"x\")"},
        {"userfield(Foo) = \"a\"", "property(EQ, 0x8000001E, 0x8000001E=\"a\")"},
        {"userfield(Foo, string) = \"a\"", "property(EQ, 0x8000001E, 0x8000001E=\"a\")"},
        {"userfield(Foo, long) > 5", "property(GT, 0x80000003, 0x80000003=5)"},
        {"field 0x0037001E = \"a\"", kSubjectA},
        {"field 37001E = \"a\"", kSubjectA},
        {"0x0037001E = \"a\"", kSubjectA},
        {"0x00010048 = \"000102030405060708090A0B0C0D0E0F\"",
         "property(EQ, 0x00010048, 0x00010048={03020100-0504-0706-0809-0A0B0C0D0E0F})"},
        {"0x00010002 = 70000", "property(EQ, 0x00010002, 0x00010002=32767)"},
        {"0x00010014 = 5", "property(EQ, 0x00010014, 0x00010014=?)"},
        {"EmsAbServer = \"x\"", "property(EQ, 0xFFFE001F, 0xFFFE001F=?)"},
        // A string literal that spells a keyword is that keyword.
        {"Subject = \"a\" \"AND\" Body = \"b\"", "and(" + kBodyB + ", " + kSubjectA + ")"},
        // A second comparison without a joiner is not read.
        {"Subject = \"a\" Subject = \"b\"", kSubjectA},
        // A lone operand is no condition.
        {"Subject", "none"},
        // A chain compares the first comparison's result.
        {"Subject = \"a\" = Body", "property(EQ, 0x1000001E, 0x1000001E=\"\")"},
    };
    for (const Case& c : cases) EXPECT_EQ(Outcome(c.query), c.outcome) << c.query;
}

TEST(ConditionParser, CombinationsAndTreeShapes) {
    const Case cases[] = {
        {"Subject = \"a\" and Body = \"b\"", "and(" + kBodyB + ", " + kSubjectA + ")"},
        {"Subject = \"a\" + Body = \"b\"", "and(" + kBodyB + ", " + kSubjectA + ")"},
        {"Subject = \"a\" or Body = \"b\"", "or(" + kBodyB + ", " + kSubjectA + ")"},
        {"Subject = \"a\" and Body = \"b\" and DisplayName = \"c\"",
         "and(" + kNameC + ", " + kBodyB + ", " + kSubjectA + ")"},
        {"Subject = \"a\" or Body = \"b\" and DisplayName = \"c\"",
         "and(" + kNameC + ", or(" + kBodyB + ", " + kSubjectA + "))"},
        {"not Subject = \"a\" and Body = \"b\"", "not(and(" + kBodyB + ", " + kSubjectA + "))"},
        {"not (Subject = \"a\") and Body = \"b\"", "not(and(" + kBodyB + ", " + kSubjectA + "))"},
        {"(not Subject = \"a\") and Body = \"b\"", "and(" + kBodyB + ", not(" + kSubjectA + "))"},
        {"(Subject = \"a\" or Body = \"b\") and DisplayName = \"c\"",
         "and(" + kNameC + ", or(" + kBodyB + ", " + kSubjectA + "))"},
        {"(Subject = \"a\" and Body = \"b\") and (DisplayName = \"c\" and Subject = \"a\")",
         "and(" + kSubjectA + ", " + kNameC + ", " + kBodyB + ", " + kSubjectA + ")"},
        {"Subject = \"a\" and (Body = \"b\" or DisplayName = \"c\")",
         "and(or(" + kNameC + ", " + kBodyB + "), " + kSubjectA + ")"},
        {"recipient(Subject = \"a\" or Body = \"b\") and not exists Subject",
         "and(not(exist(0x0037001E)), sub(0x0E12000D, or(" + kBodyB + ", " + kSubjectA + ")))"},
        {"((((Subject = \"a\"))))", kSubjectA},
    };
    for (const Case& c : cases) EXPECT_EQ(Outcome(c.query), c.outcome) << c.query;
}

TEST(ConditionParser, LongChainsStayFlatAndLinear) {
    std::string query = "Subject = \"a\"";
    for (int i = 1; i < 20000; ++i) query += i % 2 ? " or Body = \"b\"" : " or Subject = \"a\"";
    RestrictionCompiler compiler;
    compiler.Compile(query.c_str());
    ASSERT_FALSE(compiler.HasError()) << compiler.ErrorText();
    const SRestriction* r = compiler.Restriction();
    ASSERT_EQ(r->rt, RES_OR);
    ASSERT_EQ(r->res.resOr.cRes, 20000u);
    // Right-most comparison first, the first one last.
    EXPECT_EQ(RestrictionText(&r->res.resOr.lpRes[0]), kBodyB);
    EXPECT_EQ(RestrictionText(&r->res.resOr.lpRes[19999]), kSubjectA);
}

TEST(ConditionParser, DatesOfTheClock) {
    // daysfromnow(0) and today are the same reading (barring a midnight between).
    EXPECT_EQ(Outcome("CreationTime > daysfromnow(0)"), Outcome("CreationTime > today"));
    const std::string today = Outcome("CreationTime > today");
    EXPECT_NE(today.find("T00:00:00)"), std::string::npos) << today;
    EXPECT_NE(Outcome("CreationTime > daysfromnow(1)"), today);
    EXPECT_EQ(Outcome("CreationTime > now").rfind("property(GT, 0x30070040, 0x30070040=", 0), 0u);
}

TEST(ConditionParser, MessagesOfTheFailureTables) {
    const Case cases[] = {
        {"(Subject = \"a\"", "error: Syntax error expeced ')'\n"},
        {"CreationTime > Date(1,2,2006", "error: Expected ')'"},
        {"CreationTime > Date 1,2,2006)",
         "error: Expected '(' Expected ',' Expected ',' Expected ')'"},
        {"CreationTime > Date(1,2 2006)", "error: Expected ',' Expected ')'"},
        {"CreationTime > daysfromnow(,)", "error: Expected integer"},
        {"CreationTime > daysfromnow(3", "error: Expeced ')'"},
        {"CreationTime > daysfromnow 3)", "error: Expected '(' Expected integer Expeced ')'"},
        {"userfield(Foo = 1", "error: Expected '('"},
        {"recipient Subject = \"a\"", "error: Expeced '('\n"},
        {"recipient(Subject = \"a\"", "error: Expeced ')'\n"},
        {"attachment()", "error: Expected expression"},
        {"attachment(Subject)", "error: Expected expression"},
        {"exists Nonsense", "error: Expected Fieldname"},
        {"exists", "error: Expected Fieldname"},
        {"size = 5", "error: Expected field"},
        {"size Subject 5", "error: Exptected relop"},
        {"size Subject > )", "error: Expected constant"},
        {"Foo = \"abc\"", "error: Neither Foo nor abc is a keyword"},
        {"MessageFlags > bitmask 1", "error: Bitmask works only with = and <>"},
        {"LastModificationTime > \"yesterday\"", "error: Wrong type: Expeced time"},
        {"0x00010048 = \"0001\"", "error: GUID has have 16 byte"},
        {"0x00010048 = \"000102030405060708090A0B0C0D0E0G\"", "error: GUID has have 16 byte"},
        {"Foo = 1 and Bar = 2", "error: Neither Foo nor 1 is a keyword"},
    };
    for (const Case& c : cases) EXPECT_EQ(Outcome(c.query), c.outcome) << c.query;
}

TEST(ConditionParser, MessagesOfTheCasesThisCompilerRejects) {
    std::string deep(300, '(');
    std::string nots;
    for (int i = 0; i < 300; ++i) nots += "not ";
    const Case cases[] = {
        {"and Subject = \"a\"", "error: 'and' needs a condition on each side"},
        {"Subject and Body = \"b\"", "error: 'and' needs a condition on each side"},
        {"Subject = \"a\" + Body", "error: '+' needs a condition on each side"},
        {"Subject = \"a\" OR", "error: 'OR' needs a condition on each side"},
        {"not", "error: 'not' needs a condition after it"},
        {"not Subject", "error: 'not' needs a condition after it"},
        {"= \"a\"", "error: Expected an operand before '='"},
        {"Subject >=", "error: Expected an operand after '>='"},
        {"size Subject + 5", "error: size cannot compare with '+'"},
        {"size Subject - 5", "error: size cannot compare with '-'"},
        {"userfield(Foo, date) = \"a\"", "error: userfield type must be string or long"},
        {"userfield(\"\") = \"a\"", "error: Expected a name in userfield"},
        {"field = 1", "error: Expected a property tag after field"},
        {"CreationTime > Date(31,2,2006)", "error: Invalid date"},
        {"CreationTime > Date(1,1,1600)", "error: Invalid date"},
        {"CreationTime > daysfromnow(999999)", "error: Invalid date"},
        {"MessageRecipients = \"x\"",
         "error: Cannot compare a property of type PT_OBJECT with a constant"},
        {deep + "Subject = \"a\"", "error: Query nested too deeply"},
        {nots + "Subject = \"a\"", "error: Query nested too deeply"},
    };
    for (const Case& c : cases) EXPECT_EQ(Outcome(c.query), c.outcome) << c.query;
}

TEST(ConditionParser, ResultsBelongToTheLastCompile) {
    fake::Folder container;
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(&container);
    EXPECT_EQ(Outcome(compiler, "Foo = 1"), "error: Neither Foo nor 1 is a keyword");
    EXPECT_EQ(compiler.Restriction(), nullptr);
    EXPECT_EQ(Outcome(compiler, "Subject = \"a\""), kSubjectA);
    EXPECT_EQ(compiler.ErrorText(), "");
    EXPECT_EQ(Outcome(compiler, ""), "none");
}

}  // namespace
