// Batch files as users write them, and ledgers added up as the batch
// reports them.
#include "batch_file.h"

#include <gtest/gtest.h>

namespace quirnel {
namespace {

TEST(BatchFile, TabsQuotesAndBareWordsGiveTheNamesAndBadLinesAreNamed) {
    std::vector<BatchLine> lines;
    std::string error;
    ASSERT_TRUE(
        ParseBatchText("# sources and targets\n"
                       "\n"
                       "Personal Folders 2019\t alice on mail \r\n"
                       "archive  bob\n"
                       "   \"Mailbox of \\\"Carol\\\"\" \"a\\\\b\"\n"
                       "  # indented comment\n"
                       "last\tone",
                       &lines, &error))
        << error;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].number, 3);
    EXPECT_EQ(lines[0].source, "Personal Folders 2019");
    EXPECT_EQ(lines[0].target, "alice on mail");
    EXPECT_EQ(lines[1].source, "archive");
    EXPECT_EQ(lines[1].target, "bob");
    EXPECT_EQ(lines[2].number, 5);
    EXPECT_EQ(lines[2].source, "Mailbox of \"Carol\"");
    EXPECT_EQ(lines[2].target, "a\\b");
    EXPECT_EQ(lines[3].source, "last");
    EXPECT_EQ(lines[3].target, "one");

    const std::pair<const char*, const char*> bad[] = {
        {"a b\nlonely\n", "line 2: a source and a target are needed"},
        {"a b c\n", "line 1: more than two names"},
        {"\"open b\n", "line 1: a quote is not closed"},
        {"\"\" b\n", "line 1: an empty store name"},
        {"a\t\n", "line 1: a source and a target are needed"},
        {"a\tb\tc\n", "line 1: more than two names"},
    };
    for (const auto& [text, why] : bad) {
        EXPECT_FALSE(ParseBatchText(text, &lines, &error)) << text;
        EXPECT_EQ(error.rfind(why, 0), 0u) << text << " -> " << error;
    }
    EXPECT_TRUE(ParseBatchText("# nothing to do\n\n", &lines, &error));
    EXPECT_TRUE(lines.empty());
}

TEST(BatchFile, LedgersAddUpFromTheLastSummaryOfEachRun) {
    LedgerTotal total;
    EXPECT_FALSE(AddLedger("Copy folder \\Inbox to Inbox\n", &total));
    EXPECT_TRUE(
        AddLedger("Summary: listed 1, filtered 0, already there 0, copied 1, failed 0; "
                  "folders copied 1, skipped 0\n"
                  "Summary: listed 12, filtered 1, already there 2, copied 8, failed 1; "
                  "folders copied 5, skipped 2\n",
                  &total));
    EXPECT_TRUE(
        AddLedger("Summary: listed 3, filtered 0, already there 3, copied 0, failed 0; "
                  "folders copied 2, skipped 0",
                  &total));
    EXPECT_EQ(total.ledgers, 2);
    EXPECT_EQ(FormatLedger(total),
              "listed 15, filtered 1, already there 5, copied 8, failed 1; folders copied 7, "
              "skipped 2");
}

}  // namespace
}  // namespace quirnel
