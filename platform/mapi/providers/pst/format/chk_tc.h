// A table context checked without being read: accepts exactly the tables
// the strict reader (ReadTableContext) accepts, and gives their row ids,
// but builds no cells. Checking every item's recipient and attachment
// tables at open was, with the cells built and dropped, a fifth of the
// checking reader's cost on a file of small items.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

// True when ReadTableContext would read node; *rowIds (when not null)
// receives each row's id in the table's order. False with the strict
// reader's reason otherwise.
bool CheckTableContext(const Node& node, std::vector<uint32_t>* rowIds, std::string* error);

}  // namespace mapi::pst::fmt
