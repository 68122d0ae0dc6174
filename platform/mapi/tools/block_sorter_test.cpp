// The dump's item sorter: spilled to runs and merged, it must give exactly
// what one in-memory sort gives, for any budget, and say so when it cannot
// use the disk.
#include "block_sorter.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace mapi::tools {
namespace {

std::vector<std::string> RandomBlocks(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string> blocks;
    for (size_t i = 0; i < count; ++i) {
        // Short alphabet, so prefixes and duplicates are common; now and
        // then a block far larger than a small budget, and empty ones.
        size_t size = random() % 13 == 0 ? 5000 + random() % 3000 : random() % 40;
        std::string b;
        for (size_t k = 0; k < size; ++k) b += static_cast<char>("ab\n\xC3\xFF"[random() % 5]);
        blocks.push_back(b);
    }
    return blocks;
}

std::string SortedAtOnce(std::vector<std::string> blocks) {
    std::sort(blocks.begin(), blocks.end());
    std::string all;
    for (const std::string& b : blocks) all += b;
    return all;
}

TEST(BlockSorterTest, AnyBudgetGivesTheSameOutputAsOneSort) {
    const std::vector<std::string> blocks = RandomBlocks(3000, 17);
    const std::string expected = SortedAtOnce(blocks);
    for (size_t budget : {size_t{1}, size_t{100}, size_t{4096}, size_t{100000}, size_t{1} << 30}) {
        SCOPED_TRACE(budget);
        BlockSorter sorter(budget);
        std::string error;
        for (const std::string& b : blocks) ASSERT_TRUE(sorter.Add(b, &error)) << error;
        const size_t runs = sorter.Runs();
        std::ostringstream out;
        ASSERT_TRUE(sorter.WriteSorted(out, &error)) << error;
        EXPECT_EQ(out.str(), expected);
        if (budget <= 4096) {
            EXPECT_GT(runs, 10u);
        } else if (budget == size_t{1} << 30) {
            EXPECT_EQ(runs, 0u);
        }

        // A sorter is reused folder after folder and starts empty each time.
        const std::vector<std::string> next = RandomBlocks(200, 5);
        for (const std::string& b : next) ASSERT_TRUE(sorter.Add(b, &error)) << error;
        std::ostringstream second;
        ASSERT_TRUE(sorter.WriteSorted(second, &error)) << error;
        EXPECT_EQ(second.str(), SortedAtOnce(next));
        std::ostringstream empty;
        ASSERT_TRUE(sorter.WriteSorted(empty, &error));
        EXPECT_EQ(empty.str(), "");
    }
}

TEST(BlockSorterTest, AFolderWithoutATemporaryPlaceIsReported) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TMPDIR", "/nonexistent/quirnel", 1);
    BlockSorter sorter(10);
    std::string error;
    EXPECT_TRUE(sorter.Add("short", &error));
    EXPECT_FALSE(sorter.Add("long enough to spill", &error));
    EXPECT_NE(error.find("/nonexistent/quirnel"), std::string::npos) << error;
    if (old != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

}  // namespace
}  // namespace mapi::tools
