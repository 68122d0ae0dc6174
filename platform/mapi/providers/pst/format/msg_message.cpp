#include "providers/pst/format/msg_message.h"

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_templates.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kTagMessageFlags = 0x0E070003;
constexpr uint32_t kTagMessageSize = 0x0E080003;
constexpr uint32_t kTagMessageClass = 0x001A001F;
constexpr uint32_t kTagMessageStatus = 0x0E170003;
constexpr uint32_t kTagAttachSize = 0x0E200003;
constexpr uint32_t kTagAttachMethod = 0x37050003;
constexpr uint32_t kTagRenderingPosition = 0x370B0003;
constexpr uint32_t kTagAttachDataObject = 0x3701000D;
constexpr uint32_t kTagRowId = 0x30000003;  // PR_ROWID
constexpr uint32_t kMsgFlagHasAttach = 0x10;
constexpr uint32_t kAttachEmbeddedMsg = 5;

size_t NodeBytes(const Node& n) {
    size_t total = n.data.size();
    for (const auto& [nid, sub] : n.subnodes) total += NodeBytes(sub);
    return total;
}

Node BuildAttachmentNode(const AttachmentContent& a, std::vector<PropValue>* props) {
    *props = a.props;
    Node node;
    if (a.embedded != nullptr) {
        // The embedded message is a subnode of the attachment; the
        // attachment's PtypObject value names it with its size.
        std::vector<PropValue> inner;
        Node message = BuildMessageNode(*a.embedded, &inner);
        uint32_t nid = NextLtpSubnode(node.subnodes);
        Bytes object(8);
        Put32(object.data(), nid);
        Put32(object.data() + 4, static_cast<uint32_t>(NodeBytes(message)));
        node.subnodes[nid] = std::move(message);
        SetValue(*props, {kTagAttachDataObject, object});
        SetValue(*props, LongValue(kTagAttachMethod, kAttachEmbeddedMsg));
    }
    if (FindValue(*props, kTagRenderingPosition) == nullptr)
        SetValue(*props, LongValue(kTagRenderingPosition, 0xFFFFFFFF));  // not rendered
    // PR_ATTACH_SIZE counts the attachment as stored; computed twice so
    // that the value counts its own bytes.
    for (int pass = 0; pass < 2; ++pass) {
        Node attempt = node;
        WritePropertyContext(*props, &attempt);
        SetValue(*props, LongValue(kTagAttachSize, static_cast<uint32_t>(NodeBytes(attempt))));
    }
    WritePropertyContext(*props, &node);
    return node;
}

}  // namespace

Node BuildMessageNode(const MessageContent& message, std::vector<PropValue>* props) {
    *props = message.props;
    Node node;
    std::vector<TableRow> recipientRows;
    for (size_t i = 0; i < message.recipients.size(); ++i) {
        TableRow row{static_cast<uint32_t>(i), message.recipients[i]};
        SetValue(row.cells, LongValue(kTagRowId, static_cast<uint32_t>(i)));
        recipientRows.push_back(std::move(row));
    }
    // Every message has a recipient table, even an empty one.
    WriteTableContext(RecipientColumns(), recipientRows, &node.subnodes[kNidRecipientTable]);

    uint32_t flags = 0;
    if (const PropValue* f = FindValue(*props, kTagMessageFlags); f != nullptr && f->bytes.size() == 4)
        flags = Get32(f->bytes.data());
    flags &= ~kMsgFlagHasAttach;
    if (!message.attachments.empty()) {
        flags |= kMsgFlagHasAttach;
        std::vector<TableRow> rows;
        for (size_t i = 0; i < message.attachments.size(); ++i) {
            uint32_t nid = MakeNid(kNidTypeAttachment, 0x400 + static_cast<uint32_t>(i));
            std::vector<PropValue> attProps;
            node.subnodes[nid] = BuildAttachmentNode(message.attachments[i], &attProps);
            rows.push_back({nid, attProps});
        }
        WriteTableContext(AttachmentColumns(), rows, &node.subnodes[kNidAttachmentTable]);
    }
    SetValue(*props, LongValue(kTagMessageFlags, flags));
    if (FindValue(*props, kTagMessageClass) == nullptr) SetValue(*props, UnicodeValue(kTagMessageClass, "IPM.Note"));
    if (FindValue(*props, kTagMessageStatus) == nullptr) SetValue(*props, LongValue(kTagMessageStatus, 0));
    // PR_MESSAGE_SIZE is the message's size as stored; the second pass
    // counts the size value itself.
    for (int pass = 0; pass < 2; ++pass) {
        Node attempt = node;
        WritePropertyContext(*props, &attempt);
        SetValue(*props, LongValue(kTagMessageSize, static_cast<uint32_t>(NodeBytes(attempt))));
    }
    WritePropertyContext(*props, &node);
    return node;
}

}  // namespace mapi::pst::fmt
