// Tests of the listing spool: what goes in comes back, in order, whether it
// stayed in memory or went through the temporary file, and a temporary file
// that cannot be written is an error that says why.
#include "listing_spool.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using quirnel::CListingSpool;
using quirnel::ListedItem;

bool Same(const ListedItem& a, const ListedItem& b) {
    return a.subject == b.subject && a.idError == b.idError && a.entryId == b.entryId &&
           a.modified == b.modified && a.damageReport == b.damageReport && a.locator == b.locator;
}

// Rows of every shape a damaged table gives, many times over, so that
// items straddle the points where the memory is written out.
std::vector<ListedItem> Shapes(int rounds) {
    std::vector<ListedItem> items;
    for (int r = 0; r < rounds; ++r) {
        const std::string n = std::to_string(r);
        items.push_back({"subject " + n, S_OK, std::string("\0id\0", 4) + n, 0x01D9A1B2C3D4E5F6ULL,
                         std::nullopt, ""});
        items.push_back({"", MAPI_E_CORRUPT_DATA, "", std::nullopt, std::string(), ""});
        items.push_back({"salvaged " + n, S_OK, "", 0,
                         "Parts were lost:\nattachment 1\n" + std::string(r % 7 * 50, 'x'),
                         "node 0x" + n});
        items.push_back(
            {std::string(300 + r % 3, 's'), MAPI_E_NOT_FOUND, "", std::nullopt, std::nullopt, ""});
    }
    return items;
}

TEST(ListingSpoolTest, ItemsComeBackWholeAndInOrderFromMemoryOrTheTemporaryFile) {
    const std::vector<ListedItem> items = Shapes(200);
    constexpr std::size_t kRoomForAll = std::size_t{16} << 20;
    for (std::size_t budget : {kRoomForAll, std::size_t{0}, std::size_t{333}}) {
        CListingSpool spool(budget);
        for (const ListedItem& item : items) spool.Add(item);
        EXPECT_EQ(spool.Count(), items.size());
        EXPECT_EQ(spool.Spilled(), budget != kRoomForAll) << budget;
        spool.Rewind();
        // One item reused for every read, as the copy does: nothing of an
        // earlier item may show through in a later one.
        ListedItem back;
        for (std::size_t i = 0; i < items.size(); ++i) {
            ASSERT_TRUE(spool.Next(back)) << budget << " " << i;
            EXPECT_TRUE(Same(back, items[i])) << budget << " " << i;
        }
        EXPECT_FALSE(spool.Next(back)) << budget;
    }
}

// Spills items past a disk that fills up at 4 KB; exits 0 after printing
// the error the spool gave, 1 when it gave none. Run in a child, since the
// limit holds for the whole process.
[[noreturn]] void SpillOntoAFullDisk() {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
        CListingSpool spool(64);
        for (const ListedItem& item : Shapes(100)) spool.Add(item);
        spool.Rewind();
    } catch (const quirnel::ListingSpoolError& e) {
        fprintf(stderr, "%s\n", e.what());
        _exit(0);
    }
    _exit(1);
}

TEST(ListingSpoolTest, ATemporaryFileThatCannotBeWrittenIsAnErrorThatSaysWhy) {
    EXPECT_EXIT(
        SpillOntoAFullDisk(), ::testing::ExitedWithCode(0),
        "cannot write to the temporary file for the folder's listing in .*: File too large");
}

}  // namespace
