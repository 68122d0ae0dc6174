// quirnel-copy --batch FILE [--jobs N] [--shard I/N] [--query TEXT] [--batch-dir DIR]:
// one copy per line of FILE, at most N at a time, each a quirnel-copy
// process of its own (one run, one log file, one ledger per line, and a
// line that fails or crashes cannot take the others with it).
//
// Line K's output goes to DIR/line-K/output.txt and its activity log to
// DIR/line-K/quirnel.log (DIR defaults to FILE.d). As each line ends, one
// line names it, its exit status and its ledger; the last line is the total.
// Lines whose targets are one store run one after another.
// Exit status: 0 every line completed (status 0); 3 some line did not;
// 4 stopped (Ctrl-C, or SIGINT or SIGTERM to the batch: every running line
// stops after its item and the batch waits for them); 1 the batch could not
// start; 64 wrong usage.
//
// --shard I/N runs only the lines whose number modulo N is I, so that N
// machines sharing DIR share one batch; lines that share a target all go
// with the first of them. A line that completed before (batch_state.h) is
// skipped, one that another batch runs now too, so a shard can be started
// again after its machine failed.
// quirnel-copy --batch-report FILE [--batch-dir DIR]: one line per batch
// line (completed, failed, not started, running) with its last ledger,
// then their sum; exit 0 only when every line completed, else 3.
#pragma once

namespace quirnel {

// True when argv asks for a batch (has --batch).
bool IsBatchCommand(int argc, char** argv);
int RunBatchCommand(int argc, char** argv);

}  // namespace quirnel
