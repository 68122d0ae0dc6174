// Tests of the saved queries file: what it reports line by line, what it
// writes back, and that the shipped examples compile to what they promise.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "compiler_test_helpers.h"
#include "saved_queries.h"
#include "stored_query.h"

namespace {

namespace fs = std::filesystem;

TEST(SavedQueries, BrokenLinesAreNamedAndTheRestStillCounts) {
    const SavedQueryList list = ParseSavedQueries(
        "# comment\n"
        "stray = 1\n"  // 2: before any section
        "[Good]\n"     // 3
        "parameter = who or\n"
        "text = [SenderName = $who]\n"
        "[Sub ject]\n"              // 6: no name
        "text = Subject = \"a\"\n"  // skipped with its section
        "[NoText]\n"                // 8
        "description = nothing\n"
        "[Subject]\n"  // 10: a field
        "[and]\n"      // 11: a keyword
        "[Typo]\n"
        "parameter = a\n"
        "text = Subject = $b\n"  // 14: $b is no parameter
        "[Good]\n"               // 15: second of the name
        "[Odd]\n"
        "colour = red\n"     // 17
        "just words\n"       // 18
        "parameter = x-y\n"  // 19
        "text = Subject = \"odd\"\n"
        "[Unclosed\n",  // 21
        "q.ini");
    ASSERT_EQ(list.queries.size(), 2u);
    EXPECT_EQ(list.queries[0].name, "Good");
    ASSERT_EQ(list.queries[0].parameters.size(), 1u);
    EXPECT_EQ(list.queries[0].parameters[0].joiner, "or");
    EXPECT_EQ(list.queries[1].name, "Odd");
    const std::vector<std::string> expected = {
        "q.ini:2: \"stray\" stands before any [name]",
        "q.ini:6: the name Sub ject may hold only letters and digits",
        "q.ini:8: the query NoText has no text",
        "q.ini:10: the name Subject is a field of the query language",
        "q.ini:11: the name and is a word of the query language",
        "q.ini:14: the text uses $b, which is no parameter of Typo",
        "q.ini:15: a second query named Good; the first one counts",
        "q.ini:17: unknown key \"colour\" (description, parameter or text)",
        "q.ini:18: a line must be [name], key = value or a comment starting with #",
        "q.ini:19: a parameter is one word of letters and digits, then its joiner",
        "q.ini:21: a section header must look like [name]",
    };
    EXPECT_EQ(list.problems, expected);
}

TEST(SavedQueries, TheExamplesCompileAndSurviveAWriteAndRead) {
    const std::vector<SavedQuery> examples = ExampleSavedQueries();
    const SavedQueryList back = ParseSavedQueries(SavedQueriesText(examples), "x");
    EXPECT_TRUE(back.problems.empty()) << back.problems[0];
    EXPECT_EQ(SavedQueriesText(back.queries), SavedQueriesText(examples));

    StoredQueryCollection stored;
    FillStoredQueries(back.queries, stored);
    fake::Folder container;
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(&container);
    compiler.SetStoredQueries(&stored);
    EXPECT_EQ(Outcome(compiler, "ItemsOfYear(2024, 2025)"),
              "and(property(LT, 0x30070040, 0x30070040=2025-01-01T00:00:00), "
              "property(GE, 0x30070040, 0x30070040=2024-01-01T00:00:00))");
    EXPECT_EQ(Outcome(compiler, "FromSender(\"Anna; b@x.org\")"),
              "or(content(0x00010001, 0x0C1F001E, 0x0C1F001E=\"b@x.org\"), "
              "content(0x00010001, 0x0C1A001E, 0x0C1A001E=\"b@x.org\"), "
              "content(0x00010001, 0x0C1F001E, 0x0C1F001E=\"Anna\"), "
              "content(0x00010001, 0x0C1A001E, 0x0C1A001E=\"Anna\"))");
    EXPECT_EQ(Outcome(compiler, "AttachmentOver(1000) and Subject : \"x\""),
              "and(content(0x00010001, 0x0037001E, 0x0037001E=\"x\"), "
              "sub(0x0E13000D, property(GT, 0x0E200003, 0x0E200003=1000)))");
}

TEST(SavedQueries, FilesThatAreMissingUnreadableOrWritten) {
    const fs::path dir = fs::temp_directory_path() / ("saved_queries_" + std::to_string(getpid()));
    fs::remove_all(dir);
    const std::string path = (dir / "quirnel" / "queries.ini").string();

    // No file yet: the examples stand in for it.
    SavedQueryList none = LoadSavedQueries(path);
    EXPECT_FALSE(none.fromFile);
    EXPECT_EQ(none.queries.size(), ExampleSavedQueries().size());
    EXPECT_TRUE(none.problems.empty());

    // Saving makes the folder; what is read back is what was saved.
    std::vector<SavedQuery> mine = {{"Mine", "line one\nline two", {}, "Subject = \"x\""}};
    std::string error;
    ASSERT_TRUE(SaveSavedQueries(path, mine, &error)) << error;
    SavedQueryList read = LoadSavedQueries(path);
    EXPECT_TRUE(read.fromFile);
    ASSERT_EQ(read.queries.size(), 1u);
    EXPECT_EQ(read.queries[0].description, "line one line two");
    EXPECT_FALSE(fs::exists(path + ".new"));

    // A folder where the file should be is reported, never read as empty.
    fs::remove(path);
    fs::create_directories(path);
    SavedQueryList folder = LoadSavedQueries(path);
    ASSERT_EQ(folder.problems.size(), 1u);
    EXPECT_EQ(folder.problems[0], path + ": is a folder, not a file of saved queries");
    EXPECT_TRUE(folder.queries.empty());
    EXPECT_FALSE(SaveSavedQueries(path, mine, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    fs::remove_all(dir);
}

}  // namespace
