// Where each line of a batch stands, kept in the line's own folder
// (DIR/line-K) so that every shard of the batch, on whatever machine shares
// that folder, and the report see the same: the line's output and ledger,
// a "state" file with how its run ended, and while it runs a writer lock
// (CTargetLock) held by the batch that runs it.
#pragma once

#include <memory>
#include <string>

#include "batch_file.h"
#include "target_lock.h"

namespace quirnel {

enum class LineState { NotStarted, Running, Completed, Failed };

struct LineStatus {
    LineState state = LineState::NotStarted;
    std::string ended;   // how its last run ended ("exit 3"), when one did
    LedgerTotal ledger;  // its last ledger (ledger.ledgers is 0 without one)
};

std::string LineFolder(const std::string& batchDir, int number);

// Claims line folder dir for this process (made when missing); null when
// another batch runs it now. The claim ends when the lock is destroyed.
std::unique_ptr<CTargetLock> ClaimLine(const std::string& dir);

// Records in dir how the line's run ended ("running" as it starts).
void NoteLineState(const std::string& dir, const std::string& state);

// Completed: its run ended with exit 0 and a balanced ledger. claimed: the
// caller holds the line's claim (it is not running elsewhere).
LineStatus ReadLineStatus(const std::string& dir, bool claimed = false);

const char* StateName(LineState state);

}  // namespace quirnel
