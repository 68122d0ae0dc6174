// Counts over a whole folder tree that the dialog needs before a run: how
// many items the run will look at (for its progress bar) and how many items
// a target already received from a source (for the offer to resume).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <MapiWrapper.h>

namespace quirnel {

// The items of every folder below root (root's own items are not copied),
// by each contents table's row count: no item is read. Search folders are
// left out as the copy leaves them out, a folder listed twice counts once,
// and a folder that cannot be opened or counted adds nothing. Returns what
// was counted so far when stop becomes true. Lets no exception out.
uint64_t CountItemsBelow(const IMAPIFolderPtr& root, const std::atomic<bool>& stop);

// The items in the folders below targetRoot (root included) whose provenance
// names the store identity sourceIdentity (see StoreIdentityOf). A store
// that has never received a copy holds none, and nothing is created in it to
// find that out. Throws CMAPIException when the store fails.
uint64_t CountCopiesFrom(const IMAPIFolderPtr& targetRoot, const std::string& sourceIdentity);

}  // namespace quirnel
