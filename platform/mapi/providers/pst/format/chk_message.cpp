#include "providers/pst/format/chk_message.h"

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_tc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kTagRowId = 0x30000003;            // PR_ROWID
constexpr uint32_t kTagAttachDataObject = 0x3701000D;  // PR_ATTACH_DATA_OBJ
constexpr uint32_t kTagAttachFilename = 0x3704001F;    // PR_ATTACH_FILENAME_W
constexpr uint32_t kTagAttachLongFilename = 0x3707001F;
constexpr int kMaxEmbedding = 16;

std::string Hex(uint32_t v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) s.push_back(digits[(v >> shift) & 0xF]);
    return s;
}

// A short name for a lost property, so the note says what the user lost.
std::string PropName(uint32_t tag) {
    switch (PropId(tag)) {
        case 0x001A: return "message class";
        case 0x0037: return "subject";
        case 0x1000: return "plain text body";
        case 0x1009: return "RTF body";
        case 0x1013: return "HTML body";
        case 0x0C1A: return "sender name";
        case 0x0E04: return "display To";
        case 0x3701: return "attachment data";
        case 0x3704: case 0x3707: return "attachment file name";
        case 0x007D: return "message headers";
        default: return "property " + Hex(tag);
    }
}

bool IsEssential(uint16_t id) {
    return id == 0x001A || id == 0x0037 || id == 0x1000 || id == 0x1009 || id == 0x1013;
}

// The attachment's name for the note, from what could be read of it.
std::string AttachmentLabel(const std::vector<PropValue>& props, size_t index) {
    for (uint32_t tag : {kTagAttachLongFilename, kTagAttachFilename}) {
        const PropValue* v = FindValue(props, tag);
        if (v == nullptr || v->bytes.empty()) continue;
        std::string name;
        for (size_t i = 0; i + 1 < v->bytes.size() && name.size() < 80; i += 2) {
            uint16_t c = Get16(v->bytes.data() + i);
            name.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
        }
        return "attachment " + std::to_string(index + 1) + " (\"" + name + "\")";
    }
    return "attachment " + std::to_string(index + 1);
}

class Salvager {
public:
    explicit Salvager(PcValues values = PcValues::Copy) : values_(values) {}
    bool Message(const CheckedNode& node, const std::string& where, int depth, SalvagedMessage* out,
                 std::string* error);
    void Recipients(const CheckedNode& node, const std::string& where, SalvagedMessage* out);
    void Attachments(const CheckedNode& node, const std::string& where, int depth, SalvagedMessage* out);

private:
    // A table's rows; a check gets their ids only (a mailing list's
    // thousand recipient rows would otherwise be built to be dropped).
    bool Rows(const Node& table, std::vector<TableRow>* rows, std::string* why) const;

    PcValues values_;
};

bool Salvager::Rows(const Node& table, std::vector<TableRow>* rows, std::string* why) const {
    if (values_ == PcValues::Copy) {
        std::vector<uint32_t> columns;
        return ReadTableContext(table, &columns, rows, why);
    }
    std::vector<uint32_t> ids;
    if (!CheckTableContext(table, &ids, why)) return false;
    rows->clear();
    for (uint32_t id : ids) rows->push_back(TableRow{id, {}});
    return true;
}

bool Salvager::Message(const CheckedNode& node, const std::string& where, int depth,
                       SalvagedMessage* out, std::string* error) {
    std::vector<CheckedProp> props;
    std::vector<std::string> lost;
    size_t lostBefore = out->lost.size();
    if (!ReadCheckedPc(node, &props, &lost, error, values_)) return false;
    for (const std::string& l : lost) out->lost.push_back(where + "some properties: " + l);
    bool hasClass = false, hasText = false;
    for (CheckedProp& p : props) {
        if (!p.error.empty()) {
            out->lost.push_back(where + PropName(p.tag) + ": " + p.error);
            continue;
        }
        uint16_t id = PropId(p.tag);
        hasClass = hasClass || id == 0x001A;
        hasText = hasText || (IsEssential(id) && id != 0x001A);
        if (values_ == PcValues::Copy) out->content.props.push_back({p.tag, std::move(p.bytes)});
    }
    // Read as: the item is beyond salvage when damage took every value
    // that says what it was (class, subject, bodies). An item that never
    // had them and lost nothing is handed on as it is.
    if (out->lost.size() > lostBefore && !hasClass && !hasText) {
        if (error != nullptr) *error = where + "the message class, subject and body are all lost";
        return false;
    }
    Recipients(node, where, out);
    Attachments(node, where, depth, out);
    return true;
}

void Salvager::Recipients(const CheckedNode& node, const std::string& where, SalvagedMessage* out) {
    auto it = node.subnodes.find(kNidRecipientTable);
    if (it == node.subnodes.end()) {
        // Every message has its recipient table; one the subnode tree lost
        // may have held recipients.
        if (!node.subnodeError.empty()) out->lost.push_back(where + "the recipients: " + node.subnodeError);
        return;
    }
    Node table;
    std::string why;
    std::vector<TableRow> rows;
    if (!WholeNode(it->second, &table, &why) || !Rows(table, &rows, &why)) {
        out->lost.push_back(where + "the recipients: " + why);
        return;
    }
    if (values_ == PcValues::CheckOnly) return;
    for (TableRow& row : rows) {
        std::vector<PropValue> cells;
        for (PropValue& v : row.cells)
            if (v.tag != kTagRowId) cells.push_back(std::move(v));
        SetValue(cells, LongValue(kTagLtpRowId, row.rowId));
        out->content.recipients.push_back(std::move(cells));
    }
}

void Salvager::Attachments(const CheckedNode& node, const std::string& where, int depth,
                           SalvagedMessage* out) {
    auto it = node.subnodes.find(kNidAttachmentTable);
    if (it == node.subnodes.end()) {
        if (!node.subnodeError.empty()) out->lost.push_back(where + "any attachments: " + node.subnodeError);
        return;
    }
    Node table;
    std::string why;
    std::vector<TableRow> rows;
    if (!WholeNode(it->second, &table, &why) || !Rows(table, &rows, &why)) {
        out->lost.push_back(where + "the attachments: " + why);
        return;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        auto sub = node.subnodes.find(rows[i].rowId);
        std::string label = AttachmentLabel(rows[i].cells, i);
        if (sub == node.subnodes.end()) {
            out->lost.push_back(where + label + ": its node is missing");
            continue;
        }
        std::vector<CheckedProp> props;
        std::vector<std::string> lost;
        if (!ReadCheckedPc(sub->second, &props, &lost, &why, values_)) {
            out->lost.push_back(where + label + ": " + why);
            continue;
        }
        AttachmentContent att;
        std::vector<std::string> attLost = lost;
        for (CheckedProp& p : props) {
            if (!p.error.empty()) {
                attLost.push_back(PropName(p.tag) + ": " + p.error);
                continue;
            }
            att.props.push_back({p.tag, std::move(p.bytes)});
        }
        label = AttachmentLabel(att.props, i);
        // An attachment whose data is lost is left out whole: a copy with
        // a name and no data reads as an empty file.
        bool dataLost = false;
        for (const CheckedProp& p : props) dataLost = dataLost || (!p.error.empty() && PropId(p.tag) == 0x3701);
        if (dataLost || !lost.empty()) {
            for (const std::string& l : attLost) out->lost.push_back(where + label + " left out: " + l);
            continue;
        }
        for (const std::string& l : attLost) out->lost.push_back(where + label + ": " + l);
        std::vector<PropValue> kept;
        for (PropValue& v : att.props) {
            if (v.tag != kTagAttachDataObject) {
                kept.push_back(std::move(v));
                continue;
            }
            // PtypObject: the subnode holding the embedded message, then its size.
            auto inner = v.bytes.size() >= 4 ? sub->second.subnodes.find(Get32(v.bytes.data()))
                                             : sub->second.subnodes.end();
            std::string inWhere = where + label + ", embedded message: ";
            if (inner == sub->second.subnodes.end() || depth >= kMaxEmbedding) {
                out->lost.push_back(inWhere + "missing");
                dataLost = true;
                break;
            }
            SalvagedMessage embedded;
            std::string innerError;
            if (!Message(inner->second, inWhere, depth + 1, &embedded, &innerError)) {
                out->lost.push_back(innerError);
                dataLost = true;
                break;
            }
            out->lost.insert(out->lost.end(), embedded.lost.begin(), embedded.lost.end());
            att.embedded = std::make_shared<MessageContent>(std::move(embedded.content));
        }
        if (dataLost) continue;
        att.props = std::move(kept);
        out->content.attachments.push_back(std::move(att));
    }
}

}  // namespace

std::string SalvagedMessage::Report() const {
    std::string s;
    for (const std::string& l : lost) s += l + "\n";
    return s;
}

bool SalvageFromRow(const CheckedNode* node, const std::vector<PropValue>& row, const std::string& why,
                    SalvagedMessage* out, std::string* error) {
    SalvagedMessage m;
    m.lost.push_back("the item's own properties, its body among them (" + why +
                     "); what its folder's contents table lists of it (subject, sender, dates, flags, size) "
                     "was kept");
    std::vector<CheckedProp> props;
    std::vector<std::string> lost;
    std::string pcError;
    // Whatever the damage left sound of its own properties comes first;
    // the row only fills in what they lack.
    if (node != nullptr && ReadCheckedPc(*node, &props, &lost, &pcError))
        for (CheckedProp& p : props)
            if (p.error.empty()) m.content.props.push_back({p.tag, std::move(p.bytes)});
    for (const PropValue& v : row) {
        if (v.tag == kTagLtpRowId || v.tag == kTagLtpRowVer || FindValue(m.content.props, v.tag) != nullptr) continue;
        m.content.props.push_back(v);
    }
    bool hasClass = false, hasSubject = false;
    for (const PropValue& v : m.content.props) {
        hasClass = hasClass || PropId(v.tag) == 0x001A;
        hasSubject = hasSubject || PropId(v.tag) == 0x0037;
    }
    if (!hasClass || !hasSubject) {
        if (error != nullptr) *error = why + "; its folder's contents table lacks its class or subject";
        return false;
    }
    Salvager s;
    if (node == nullptr) {
        m.lost.push_back("its recipients and attachments: the item's node is gone");
    } else {
        s.Recipients(*node, "", &m);
        s.Attachments(*node, "", 0, &m);
    }
    *out = std::move(m);
    return true;
}

bool MessageIsWhole(const CheckedNode& node) {
    SalvagedMessage m;
    std::string error;
    Salvager s(PcValues::CheckOnly);
    return s.Message(node, "", 0, &m, &error) && m.Whole();
}

bool SalvageMessage(const CheckedNode& node, SalvagedMessage* out, std::string* error) {
    SalvagedMessage m;
    Salvager s;
    if (!s.Message(node, "", 0, &m, error)) return false;
    *out = std::move(m);
    return true;
}

}  // namespace mapi::pst::fmt
