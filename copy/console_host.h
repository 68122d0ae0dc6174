// The copy host of quirnel-copy: activity lines to standard output, progress
// and boxes to standard error.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "copy_host.h"

namespace quirnel {

struct ConsoleOptions {
    std::string source;
    std::string target;
    std::string query;
    bool dryRun = false;
    bool again = false;
    bool verify = false;
    bool noWait = false;
    // The caption of boxes that name none (the program's name).
    std::string appName = "quirnel-copy";
    // Progress as one status line redrawn in place (a terminal) instead of
    // one plain line per update.
    bool liveStatus = false;
    // Plain progress lines when the status line is not live (--progress);
    // without either, no progress is written.
    bool progress = false;
};

// Not thread-safe: one run's worker (or the main thread) uses it. The stop
// flag it hands out and the interrupt flag are owned by the caller, so a
// signal handler can set them. The interrupt flag is never cleared: the
// handler sets it before the stop flag, and a run that starts after it was
// set stops at once although it clears the stop flag.
class CConsoleHost : public CCopyHost {
public:
    CConsoleHost(ConsoleOptions options, std::atomic<bool>& stop, std::atomic<bool>& interrupted,
                 std::FILE* out, std::FILE* err);

    void SetStartEnabled(bool) override {}
    std::string SourceStoreName() override { return m_options.source; }
    std::string TargetStoreName() override { return m_options.target; }
    std::string QueryText() override { return m_options.query; }
    std::atomic<bool>& StopFlag() override { return m_stop; }
    bool StopRequestedBeforeRun() override { return m_interrupted.load(); }
    // The text after the folder the run is in ("\\Inbox: 32 vom 250"), so
    // that a line read in a log says where the run was.
    void SetProgressText(const std::string& text) override;
    void OnItemProgress(const RunProgress& progress) override { m_folder = progress.folder; }
    void AppendActivityLine(const std::string& line) override;
    // "CAPTION: TEXT" on the error stream; line breaks inside the caption
    // (ReportError's "\r\nin CONTEXT") become single blanks, other control
    // characters \xHH.
    void ShowMessageBox(const std::string& caption, const std::string& text) override;

    // Ends a live status line so that later output starts on a line of its
    // own.
    void FinishStatus();

private:
    void HideStatus();
    void ShowStatus();

    ConsoleOptions m_options;
    std::atomic<bool>& m_stop;
    std::atomic<bool>& m_interrupted;
    std::FILE* m_out;
    std::FILE* m_err;
    std::string m_status;
    std::string m_folder;
    bool m_statusShown = false;
};

}  // namespace quirnel
