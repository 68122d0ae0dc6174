// Tests of the compiler's memory: every path frees what it allocated, also
// when the MAPI allocator fails at any point, and the results live exactly
// until the next compile.
#include <gtest/gtest.h>

#include <runtime/alloc_fault.h>

#include "compiler_test_helpers.h"
#include "stored_query.h"

namespace {

const char* const kQueries[] = {
    "Subject = \"a\" and MessageSize > 10 or not exists Body",
    "recipient(EmailAddress = \"x\") and attachment(size Subject > 5)",
    "Entryid = \"00AB\" or 0x00010048 = \"000102030405060708090A0B0C0D0E0F\"",
    "select Subject, Body where Categories = \"x\" order by combine Categories",
    "MessageFlags = bitmask 1 and LastModificationTime > Date(1,2,2006)",
    "Cats(a; b; c) and Subject : \"q\"",
    "Foo = \"abc\"",
    "(Subject = \"a\"",
};

class CompileMemory : public ::testing::Test {
protected:
    void SetUp() override {
        queries.Add("Cats", "[Categories = $c]").AddParameter("c", "or");
        chainsBefore = mapi::LiveAllocationChains();
    }
    void TearDown() override {
        mapi::SetAllocationFailureCountdown(-1);
        EXPECT_EQ(mapi::LiveAllocationChains(), chainsBefore);
    }

    StoredQueryCollection queries;
    long chainsBefore = 0;
};

TEST_F(CompileMemory, ResultsLiveUntilTheNextCompile) {
    fake::Folder container;
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(&container);
    compiler.SetStoredQueries(&queries);
    for (const char* query : kQueries) {
        compiler.Compile(query);
        // The tree, the column set and the sort order are separate chains.
        long expected = chainsBefore;
        if (compiler.Restriction() != nullptr) ++expected;
        if (compiler.Columns() != nullptr) ++expected;
        if (compiler.SortOrder() != nullptr) ++expected;
        EXPECT_LE(mapi::LiveAllocationChains(), expected + (compiler.HasError() ? 1 : 0)) << query;
    }
    compiler.Compile("");
    EXPECT_EQ(mapi::LiveAllocationChains(), chainsBefore);
}

TEST_F(CompileMemory, AllocationFailuresAnywhereEndInAnErrorAndLeakNothing) {
    int injected = 0;
    for (const char* query : kQueries) {
        std::string expected;
        {
            fake::Folder container;
            RestrictionCompiler compiler;
            compiler.SetPropertyObject(&container);
            compiler.SetStoredQueries(&queries);
            expected = Outcome(compiler, query);
        }
        for (long n = 0;; ++n) {
            std::string outcome;
            {
                fake::Folder container;
                RestrictionCompiler compiler;
                compiler.SetPropertyObject(&container);
                compiler.SetStoredQueries(&queries);
                mapi::SetAllocationFailureCountdown(n);
                outcome = Outcome(compiler, query);
                mapi::SetAllocationFailureCountdown(-1);
                EXPECT_EQ(container.refs, 2);
            }
            EXPECT_EQ(mapi::LiveAllocationChains(), chainsBefore) << query << " fails after " << n;
            if (outcome == expected) break;
            ++injected;
            EXPECT_NE(outcome.find("Crash in Compile"), std::string::npos)
                << query << " fails after " << n << ": " << outcome;
            ASSERT_LT(n, 1000) << query;
        }
    }
    EXPECT_GT(injected, 20);
}

}  // namespace
