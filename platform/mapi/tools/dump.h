// `mapiprofile dump`: a store's folder tree (and with --props its items) as
// text that can be compared between a store and its copy.
//
// One line per folder below the root of the IPM subtree, depth first in
// hierarchy-table order:
//   folder PATH items=N [special=inbox|outbox|wastebasket|sentmail]
// PATH is \-separated from the IPM subtree root, with each byte below 0x20
// and 0x7F of a folder name written \xHH; N counts the folder's normal (not
// associated) items. With props, each item follows its folder line as
// `  item` and the text of dump_message.h at four spaces. Items are sorted
// by their text, so the order in which a store lists them does not matter;
// they are read a batch at a time and sorted through a temporary file when
// a folder's text outgrows BlockSorter's budget, so memory stays flat.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <mapidefs.h>

namespace mapi::tools {

struct DumpOptions {
    bool props = false;
};

struct DumpResult {
    uint32_t folders = 0;
    uint32_t items = 0;
    // Items that could not be read; each is printed as
    // `  item error=0xXXXXXXXX` in place of its text.
    uint32_t unreadable = 0;
};

// Writes the dump of store to out. A folder that cannot be read stops the
// dump with its code and *error naming it.
HRESULT DumpStore(IMsgStore* store, const DumpOptions& options, std::ostream& out,
                  DumpResult* result, std::string* error);

}  // namespace mapi::tools
