// Tests of quirnel-copy's host: what lands on which stream, plain and live.
#include "console_host.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string ReadAll(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
}

struct Streams {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ~Streams() {
        std::fclose(out);
        std::fclose(err);
    }
};

TEST(ConsoleHost, WritesLinesToOutAndProgressAndBoxesToErr) {
    struct Case {
        bool live, progress;
        std::string err;
    } cases[] = {
        // Progress lines only when asked for, each with the folder the
        // run is in.
        {false, false,
         "Query: bad query\nStart in Ctx: MAPI_E_NOT_FOUND\n"
         "quirnel-copy: Please select source and target\nStore: \"\\x1B[2Jx\\x09Y\"\n"},
        {false, true,
         "Folder creation\n\\A: 0 vom 40\nQuery: bad query\nStart in Ctx: MAPI_E_NOT_FOUND\n"
         "quirnel-copy: Please select source and target\nStore: \"\\x1B[2Jx\\x09Y\"\n"},
        // A live status line is erased before other output and drawn again.
        {true, false,
         "\r\033[KFolder creation\r\033[K\r\033[KFolder creation\r\033[K\\A: 0 vom 40"
         "\r\033[KQuery: bad query\n\r\033[K\\A: 0 vom 40\r\033[KStart in Ctx: MAPI_E_NOT_FOUND\n"
         "\r\033[K\\A: 0 vom 40\r\033[Kquirnel-copy: Please select source and target\n"
         "\r\033[K\\A: 0 vom 40\r\033[KStore: \"\\x1B[2Jx\\x09Y\"\n"
         "\r\033[K\\A: 0 vom 40\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.live) + std::to_string(c.progress));
        Streams s;
        std::atomic<bool> stop{false};
        std::atomic<bool> interrupted{false};
        quirnel::ConsoleOptions options;
        options.source = "A";
        options.target = "B";
        options.query = "q";
        options.liveStatus = c.live;
        options.progress = c.progress;
        quirnel::CConsoleHost host(options, stop, interrupted, s.out, s.err);
        EXPECT_EQ(host.SourceStoreName(), "A");
        EXPECT_EQ(host.TargetStoreName(), "B");
        EXPECT_EQ(host.QueryText(), "q");

        host.SetProgressText("Folder creation");
        host.AppendActivityLine("Copy folder \\A to A");
        quirnel::RunProgress progress;
        progress.folder = "\\A";
        host.OnItemProgress(progress);
        host.SetProgressText("0 vom 40");
        host.ShowMessageBox("Query", "bad query");
        host.ShowMessageBox("Start\r\nin Ctx", "MAPI_E_NOT_FOUND");
        host.ShowMessageBox("", "Please select source and target");
        host.ShowMessageBox("Store", "\"\x1b[2Jx\tY\"");
        host.FinishStatus();

        EXPECT_EQ(ReadAll(s.out), "Copy folder \\A to A\n");
        EXPECT_EQ(ReadAll(s.err), c.err);
        host.StopFlag().store(true);
        EXPECT_TRUE(stop.load());
    }
}

TEST(ConsoleHost, AnInterruptOutlivesTheClearingOfTheStopFlag) {
    Streams s;
    std::atomic<bool> stop{false};
    std::atomic<bool> interrupted{false};
    quirnel::CConsoleHost host(quirnel::ConsoleOptions{}, stop, interrupted, s.out, s.err);
    EXPECT_FALSE(host.StopRequestedBeforeRun());

    // Ctrl-C (the handler sets both), then the run's clearing.
    interrupted.store(true);
    stop.store(true);
    host.StopFlag().store(false);
    EXPECT_TRUE(host.StopRequestedBeforeRun());
    EXPECT_FALSE(stop.load());
}

}  // namespace
