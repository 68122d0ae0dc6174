// Which lines of a batch write one store: their targets are compared by
// where the store's data lives (the profile entry's provider and path),
// not by the name text, so that two names of one file, or two addresses of
// one mailbox, still take turns.
#pragma once

#include <string>
#include <vector>

#include "batch_file.h"

namespace quirnel {

// One key per line, equal for lines whose targets are one store. A target
// the profile does not name keys by its name (its run fails on its own).
std::vector<std::string> TargetKeys(const std::vector<BatchLine>& lines);

}  // namespace quirnel
