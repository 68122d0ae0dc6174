// The ledger of a copy run: what happened to every item the source listed,
// per folder and in total, and how the run ended.
//
// It balances: listed = filtered + alreadyThere + copied + failed, per
// folder and in total. Items of a folder that a stop or a run-ending failure
// kept the run from reaching are not listed (they were not looked at), so
// the ledger balances at any point a run can end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quirnel {

// How a run ended, for the host's report and quirnel-copy's exit status.
enum class RunOutcome {
    Completed,              // every selected item copied or already there
    CompletedWithFailures,  // the walk finished, but items failed or folders were skipped
    Stopped,                // the stop flag ended the walk
    Failed,                 // a run-ending failure (stores, read-only or full target)
    QueryError,             // the query did not compile or did not use its whole text
};

struct ItemCounts {
    uint64_t listed = 0;        // items the source folder's contents table held
    uint64_t filtered = 0;      // left out by the query
    uint64_t alreadyThere = 0;  // received by the target in an earlier run
    uint64_t copied = 0;        // copied by this run (with --dry-run: would be)
    uint64_t failed = 0;        // tried and not copied
    // Of the copied ones, those the source could only partly read: the copy
    // holds what was sound and says what was lost.
    uint64_t salvaged = 0;

    bool Balanced() const { return listed == filtered + alreadyThere + copied + failed; }
    ItemCounts& operator+=(const ItemCounts& other);
};

struct FolderLedger {
    std::string path;  // "\\"-separated from the IPM root, store texts escaped
    ItemCounts items;
};

struct CopyLedger {
    ItemCounts items;  // the totals
    // The source's damage above its items, as its store accounts for it:
    // structures it could not use, and the items they are known to have
    // cost (items that no folder listing holds any more).
    uint64_t structuresLost = 0;
    uint64_t itemsKnownLost = 0;
    uint64_t foldersCopied = 0;   // folders whose items the run went through
    uint64_t foldersSkipped = 0;  // folders, subtrees or rests of folders left out
    std::vector<FolderLedger> folders;  // in the order the run reached them

    // Adds one folder's counts to the list and the totals.
    void AddFolder(FolderLedger folder);
    // The same for a folder whose items ended part way (an exception within
    // an item): its items so far are counted, the folder itself as skipped.
    void AddPartOfFolder(FolderLedger folder);
    // "Summary: listed N, filtered N, already there N, copied N, failed N;
    // folders copied N, skipped N"
    std::string SummaryLine() const;
    // Whether the run met damage it could not repair: items that arrived
    // with parts lost, structures lost or items known lost.
    bool Damaged() const { return items.salvaged > 0 || structuresLost > 0 || itemsKnownLost > 0; }
    // "Damage: salvaged N, structures lost N, items known lost N"
    std::string DamageLine() const;
};

}  // namespace quirnel
