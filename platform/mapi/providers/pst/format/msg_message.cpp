#include "providers/pst/format/msg_message.h"

#include <algorithm>
#include <set>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_subject.h"
#include "providers/pst/format/msg_templates.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kTagMessageFlags = 0x0E070003;
constexpr uint32_t kTagMessageSize = 0x0E080003;
constexpr uint32_t kTagMessageClass = 0x001A001F;
constexpr uint32_t kTagMessageClass8 = 0x001A001E;
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
    SubjectToFile(props);
    Node node;
    // A recipient keeps the table row id it came with (a copy from another
    // file carries it), unless two claim the same one.
    std::vector<TableRow> recipientRows;
    std::set<uint32_t> used;
    bool ownIds = true;
    for (const auto& r : message.recipients) {
        const PropValue* id = FindValue(r, kTagLtpRowId);
        ownIds = ownIds && id != nullptr && id->bytes.size() == 4 && used.insert(Get32(id->bytes.data())).second;
    }
    for (size_t i = 0; i < message.recipients.size(); ++i) {
        uint32_t rowId = ownIds ? Get32(FindValue(message.recipients[i], kTagLtpRowId)->bytes.data())
                                : static_cast<uint32_t>(i);
        TableRow row{rowId, message.recipients[i]};
        SetValue(row.cells, LongValue(kTagRowId, static_cast<uint32_t>(i)));
        recipientRows.push_back(std::move(row));
    }
    // Recipients live only in their table's rows, so its columns are every
    // property some recipient has, and no more: libpff reports each column
    // for each recipient (regardless of the cell existence bits), so a
    // template column would add empty properties to every recipient. An
    // empty message still gets the template's columns.
    std::vector<uint32_t> columns;
    for (const TableRow& row : recipientRows)
        for (const PropValue& v : row.cells)
            if (std::none_of(columns.begin(), columns.end(), [&](uint32_t t) { return PropId(t) == PropId(v.tag); }))
                columns.push_back(v.tag);
    if (columns.empty()) columns = RecipientColumns();
    // Every message has a recipient table, even an empty one.
    WriteTableContext(columns, recipientRows, &node.subnodes[kNidRecipientTable]);

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
    // Every message has a class ([MS-PST] 2.4.5.1.1); readers such as libpff
    // cannot tell what a message without one is and will not open it.
    if (FindValue(*props, kTagMessageClass) == nullptr && FindValue(*props, kTagMessageClass8) == nullptr)
        SetValue(*props, UnicodeValue(kTagMessageClass, "IPM"));
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

bool ParseMessageNode(const Node& node, MessageContent* message, std::string* error) {
    MessageContent m;
    if (!ReadPropertyContext(node, &m.props, error)) return false;
    SubjectFromFile(&m.props);
    std::vector<uint32_t> columns;
    std::vector<TableRow> rows;
    if (auto r = node.subnodes.find(kNidRecipientTable); r != node.subnodes.end()) {
        if (!ReadTableContext(r->second, &columns, &rows, error)) return false;
        for (TableRow& row : rows) {
            std::vector<PropValue> cells;
            for (PropValue& v : row.cells)
                if (v.tag != kTagRowId) cells.push_back(std::move(v));
            SetValue(cells, LongValue(kTagLtpRowId, row.rowId));
            m.recipients.push_back(std::move(cells));
        }
    }
    if (auto a = node.subnodes.find(kNidAttachmentTable); a != node.subnodes.end()) {
        if (!ReadTableContext(a->second, &columns, &rows, error)) return false;
        for (const TableRow& row : rows) {
            auto sub = node.subnodes.find(row.rowId);
            if (sub == node.subnodes.end()) {
                if (error != nullptr) *error = "an attachment row without its attachment";
                return false;
            }
            AttachmentContent att;
            if (!ReadPropertyContext(sub->second, &att.props, error)) return false;
            std::vector<PropValue> kept;
            for (PropValue& v : att.props) {
                if (v.tag == kTagAttachDataObject) {
                    if (v.bytes.size() < 4) continue;
                    auto inner = sub->second.subnodes.find(Get32(v.bytes.data()));
                    if (inner == sub->second.subnodes.end()) {
                        if (error != nullptr) *error = "an embedded message that is missing";
                        return false;
                    }
                    att.embedded = std::make_shared<MessageContent>();
                    if (!ParseMessageNode(inner->second, att.embedded.get(), error)) return false;
                    continue;
                }
                kept.push_back(std::move(v));
            }
            att.props = std::move(kept);
            m.attachments.push_back(std::move(att));
        }
    }
    *message = std::move(m);
    return true;
}

}  // namespace mapi::pst::fmt
