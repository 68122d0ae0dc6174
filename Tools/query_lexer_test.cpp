// Tests of the query lexer: token kinds and texts, push-back, the helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restriction_compiler.h"

namespace {

struct Tok {
    int kind;
    std::string text;
    bool operator==(const Tok& o) const { return kind == o.kind && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
    return os << "{" << t.kind << ", \"" << t.text << "\"}";
}

std::vector<Tok> Lex(const char* text) {
    RestrictionCompiler compiler;
    compiler.SetCursor(text);
    std::vector<Tok> tokens;
    for (int i = 0; i < 100; ++i) {
        int kind = compiler.NextToken();
        if (kind == kTokEnd) break;
        tokens.push_back({kind, compiler.TokenText()});
    }
    return tokens;
}

Tok Id(const char* t) {
    return {kTokIdentifier, t};
}
Tok Str(const char* t) {
    return {kTokString, t};
}
Tok Op(int c) {
    return {c, ""};
}

TEST(QueryLexer, TokensOfTypicalTexts) {
    struct Case {
        const char* text;
        std::vector<Tok> tokens;
    };
    const Case cases[] = {
        {"", {}},
        {"   \t\r\n", {}},
        {"a>=5", {Id("a"), Op(kTokGreaterEqual), Id("5")}},
        {"a > = 5", {Id("a"), Op('>'), Op('='), Id("5")}},
        {"a<5", {Id("a"), Op('<'), Id("5")}},
        {"a<>5", {Id("a"), Op(kTokNotEqual), Id("5")}},
        {"a<=5", {Id("a"), Op(kTokLessEqual), Id("5")}},
        {"Subject:\"x\"", {Id("Subject"), Op(':'), Str("x")}},
        {"AND And and \"and\"",
         {{kTokAnd, "AND"}, {kTokAnd, "And"}, {kTokAnd, "and"}, {kTokAnd, "and"}}},
        {"\"Order\"", {{kTokOrder, "Order"}}},
        {"date(", {{kTokDate, "date"}, Op('(')}},
        {"Date(1,2,2006)",
         {{kTokDate, "Date"}, Op('('), Id("1"), Op(','), Id("2"), Op(','), Id("2006"), Op(')')}},
        {"Email1Address", {Id("Email1Address")}},
        {"Gr\xF6\xDF"
         "e",
         {Id("Gr"), Id("\xF6"),
          Id("\xDF"
             "e")}},
        {"\"Gr\xF6\xDF"
         "e\"",
         {Str("Gr\xF6\xDF"
              "e")}},
        {"PR_SUBJECT", {Id("PR"), Id("_SUBJECT")}},
        {"0x1A", {Id("0x1A")}},
        {"a;b", {Id("a"), Id(";b")}},
        {"\"open ended", {Str("open ended")}},
        {"\"\"", {Str("")}},
        {"Subject = \"x\"  \r\n", {Id("Subject"), Op('='), Str("x")}},
        {"()*+,-/=><:",
         {Op('('), Op(')'), Op('*'), Op('+'), Op(','), Op('-'), Op('/'), Op('='), Op('>'), Op('<'),
          Op(':')}},
        {"hierrarchy accociated bit exist exists bitmask string long userfield field",
         {{kTokHierrarchy, "hierrarchy"},
          {kTokAccociated, "accociated"},
          {kTokBitmask, "bit"},
          {kTokExists, "exist"},
          {kTokExists, "exists"},
          {kTokBitmask, "bitmask"},
          {kTokString8Type, "string"},
          {kTokLong, "long"},
          {kTokUserField, "userfield"},
          {kTokField, "field"}}},
        {"a(b)c", {Id("a"), Op('('), Id("b"), Op(')'), Id("c")}},
    };
    for (const Case& c : cases) EXPECT_EQ(Lex(c.text), c.tokens) << c.text;
}

TEST(QueryLexer, EndRepeatsAndNeverReadsPastTheText) {
    RestrictionCompiler compiler;
    const char text[] = "x  ";
    compiler.SetCursor(text);
    EXPECT_EQ(compiler.NextToken(), kTokIdentifier);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(compiler.NextToken(), kTokEnd);
}

TEST(QueryLexer, UngetReturnsTheSameTokenAgain) {
    RestrictionCompiler compiler;
    compiler.SetCursor("  Subject  >=  \"a b\"");
    EXPECT_EQ(compiler.NextToken(), kTokIdentifier);
    EXPECT_EQ(compiler.NextToken(), kTokGreaterEqual);
    compiler.UngetToken();
    EXPECT_EQ(compiler.NextToken(), kTokGreaterEqual);
    EXPECT_EQ(compiler.NextToken(), kTokString);
    compiler.UngetToken();
    EXPECT_EQ(compiler.NextToken(), kTokString);
    EXPECT_EQ(compiler.TokenText(), "a b");
}

TEST(QueryLexer, TokensUpTo255CharactersFitLongerOnesAreRejected) {
    for (bool quoted : {false, true}) {
        for (size_t length : {255u, 256u, 1000u}) {
            std::string word(length, 'w');
            std::string query = "Subject = " + (quoted ? "\"" + word + "\"" : word) + " or x";
            RestrictionCompiler compiler;
            compiler.Compile(query.c_str());
            const bool rejected =
                compiler.ErrorText() == " Word or string longer than 255 characters";
            EXPECT_EQ(rejected, length > 255) << length << " quoted " << quoted;
        }
    }
}

TEST(QueryLexer, HexToInt) {
    struct Case {
        const char* text;
        ULONG value;
    };
    const Case cases[] = {{"", 0},
                          {"0", 0},
                          {"1A", 0x1A},
                          {"1a", 0x1A},
                          {"0037001E", 0x0037001E},
                          {"FFFFFFFF", 0xFFFFFFFF},
                          {"12G4", 0x12},
                          {"x12", 0},
                          {"123456789", 0x23456789}};
    for (const Case& c : cases) EXPECT_EQ(RestrictionCompiler::HexToInt(c.text), c.value) << c.text;
}

TEST(QueryLexer, RelationalOperators) {
    for (int kind : {int('='), int('<'), int('>'), int(kTokLessEqual), int(kTokGreaterEqual),
                     int(kTokNotEqual), int('+'), int('-'), int(':')})
        EXPECT_TRUE(RestrictionCompiler::IsRelationalOperator(kind)) << kind;
    for (int kind : {int('('), int(')'), int('*'), int('/'), int(','), int(kTokEnd),
                     int(kTokIdentifier), int(kTokAnd)})
        EXPECT_FALSE(RestrictionCompiler::IsRelationalOperator(kind)) << kind;
}

}  // namespace
