// What the checking reader makes of a damaged message ([MS-PST] 2.4.5,
// 2.4.6): every property, recipient and attachment that passed every check,
// and a line for each part that did not. Nothing that failed a check is
// kept in a shortened or emptied form: it is left out and named.
//
// A message whose class and whose subject and body are all lost, or whose
// property context cannot be read at all, is not salvaged: there is nothing
// left to tell the user what it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/msg_message.h"

namespace mapi::pst::fmt {

struct SalvagedMessage {
    // The sound content, in the shape the writer and the stores take.
    MessageContent content;
    // One line per part lost, "" when the message is whole.
    std::vector<std::string> lost;

    bool Whole() const { return lost.empty(); }
    // The lines joined, for the damage note an item carries.
    std::string Report() const;
};

// False with the reason when the message cannot be salvaged at all.
bool SalvageMessage(const CheckedNode& node, SalvagedMessage* out, std::string* error);

// True when SalvageMessage would lose nothing of node's message. The same
// checks, without copying values out of the node or building the content:
// most items of a file are whole, and a whole one is kept as it was
// stored. A value it cannot judge without its bytes counts as lost, so
// true here is never false there.
bool MessageIsWhole(const CheckedNode& node);

// The second chance of a message SalvageMessage gave up on (why): the row
// its folder's contents table holds for it, which repeats the class,
// subject, sender, dates, flags and size, completed by whatever of its own
// properties is sound and by the recipients and attachments of its
// subnodes. node is null when the message's node is gone altogether.
// False when even the row lacks the class or the subject.
bool SalvageFromRow(const CheckedNode* node, const std::vector<PropValue>& row, const std::string& why,
                    SalvagedMessage* out, std::string* error);

}  // namespace mapi::pst::fmt
