// Messages as nodes ([MS-PST] 2.4.5 messages, 2.4.6 attachments): the
// message's property context, its recipient table (subnode 0x692), its
// attachment table (subnode 0x671) and one property context subnode per
// attachment, an embedded message inside its attachment's subnode.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "providers/pst/format/ltp_value.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

struct MessageContent;

struct AttachmentContent {
    std::vector<PropValue> props;
    // An embedded message (PR_ATTACH_METHOD = ATTACH_EMBEDDED_MSG), or null.
    std::shared_ptr<MessageContent> embedded;
};

struct MessageContent {
    std::vector<PropValue> props;
    std::vector<std::vector<PropValue>> recipients;
    std::vector<AttachmentContent> attachments;
};

// Builds the message's node. The values derived from the content are set
// here: PR_MESSAGE_SIZE (the message's bytes as stored), MSGFLAG_HASATTACH
// in PR_MESSAGE_FLAGS, each attachment's PR_ATTACH_SIZE (its bytes as
// stored) and, when it has none, PR_RENDERING_POSITION -1 (not rendered);
// a message without a class gets "IPM"; the subject is stored with its
// prefix marker (msg_subject.h). *props receives the message's
// properties as stored, for its row in the folder's contents table.
Node BuildMessageNode(const MessageContent& message, std::vector<PropValue>* props);

// Reads a message node back: properties (the subject as MAPI serves it),
// recipients (without the row id this layer adds) and attachments with
// their embedded messages.
bool ParseMessageNode(const Node& node, MessageContent* message, std::string* error);

}  // namespace mapi::pst::fmt
