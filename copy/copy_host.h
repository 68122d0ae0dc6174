// The host of a copy run: everything the copy engine needs from the window
// (or the command line) that started it, and nothing else.
//
// The engine never depends on a user-interface toolkit. The main dialog and
// quirnel-copy each implement this interface; the engine reads the chosen
// store names and the query through it, reports progress, activity lines and
// boxes through it, and shares the stop flag with it.
//
// Threads: the engine calls every member from the worker thread of the run,
// one call at a time, never from two threads at once. A host that owns a user
// interface marshals each call to its interface thread and waits for it to be
// done (a blocking queued call), so the interface thread must keep processing
// events while a run is active and must never block waiting for the worker;
// to end a run before closing, set the stop flag and keep processing events
// until SetStartEnabled(true) has been called (the worker's last call).
// StopFlag() is the one member that may be used from any thread at any time
// without marshalling. No member may throw.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "copy_ledger.h"

namespace quirnel {

// Where a run stands over all its items, for an overall progress bar.
struct RunProgress {
    // Items the run has dealt with: copied, failed or found already there.
    uint64_t done = 0;
    // Items the run will deal with: the source's items counted before the
    // walk, less those the query has left out so far. It only shrinks as
    // the walk meets the query, so the bar never runs backwards; it is never
    // below done.
    uint64_t total = 0;
    // The source folder being copied ("\\"-separated path) and the subject
    // of the item in hand; store texts escaped as the log escapes them.
    std::string folder;
    std::string subject;
};

class CCopyHost {
public:
    virtual ~CCopyHost() = default;

    // Start button: disabled as the worker's first step, enabled again as its
    // last step, whatever the outcome of the run.
    virtual void SetStartEnabled(bool enabled) = 0;

    // Display name of the store chosen as source / as target, exactly as the
    // list shows it (UTF-8); the empty text when nothing is chosen.
    virtual std::string SourceStoreName() = 0;
    virtual std::string TargetStoreName() = 0;

    // The query box's current text (UTF-8). Read anew before each folder's
    // items are copied, so an edit during a run applies to later folders.
    virtual std::string QueryText() = 0;

    // The stop request. Owned by the host and living at least as long as the
    // engine. The engine clears it at the start of every run (but see
    // StopRequestedBeforeRun), polls it before each folder and each item, and
    // sets it itself when the query does not compile. The host (Stop button,
    // Ctrl-C) only ever sets it to true; a signal handler may set it when it
    // is lock-free.
    virtual std::atomic<bool>& StopFlag() = 0;

    // True when a stop was asked for before the run began (Ctrl-C while
    // quirnel-copy was still logging on): the clearing at the start of the
    // run must not swallow it. The engine asks right after clearing the stop
    // flag; like StopFlag(), it may be used from any thread without
    // marshalling. Hosts whose stop requests can only come during a run keep
    // the default.
    virtual bool StopRequestedBeforeRun() { return false; }

    // Replaces the progress text ("Folder creation", "32 of 250").
    virtual void SetProgressText(const std::string& text) = 0;

    // Appends one line (at most 511 bytes, no line break) to the end of the
    // activity list. The engine writes the same line to the log file itself.
    virtual void AppendActivityLine(const std::string& line) = 0;

    // Shows a modal box owned by the host's window with an OK button and
    // returns when the user has closed it. An empty caption stands for the
    // application's name. Boxes of the access layer's ReportError do not
    // come here: they go to the access layer's message-box sink, which the
    // host installs and which is likewise called on the worker thread.
    virtual void ShowMessageBox(const std::string& caption, const std::string& text) = 0;

    // Called before the first folder, as items are done (at most a few
    // times a second, so a host may redraw on every call) and once more when
    // the walk is over.
    virtual void OnItemProgress(const RunProgress& /*progress*/) {}

    // The end of every run, whatever its outcome: after the last activity
    // line (the summary) and before SetStartEnabled(true). The ledger is the
    // engine's and valid only during the call; a host that keeps it copies it.
    virtual void OnRunFinished(const CopyLedger& /*ledger*/, RunOutcome /*outcome*/) {}
};

}  // namespace quirnel
