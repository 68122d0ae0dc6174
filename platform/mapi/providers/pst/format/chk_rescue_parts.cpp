#include "providers/pst/format/chk_rescue_parts.h"

#include <algorithm>

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt::rescue {

std::string HexNid(uint32_t nid) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (int shift = 28; shift >= 0; shift -= 4) s.push_back(digits[(nid >> shift) & 0xF]);
    s.erase(0, std::min(s.find_first_not_of('0'), s.size() - 1));
    return "0x" + s;
}

bool IsMessageNid(uint32_t nid) {
    return NidType(nid) == kNidTypeNormalMessage || NidType(nid) == kNidTypeAssocMessage;
}

bool IsFolderNid(uint32_t nid) {
    return NidType(nid) == kNidTypeNormalFolder || NidType(nid) == kNidTypeSearchFolder;
}

bool SameProps(const std::vector<PropValue>& a, const std::vector<PropValue>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].tag != b[i].tag || a[i].bytes != b[i].bytes) return false;
    return true;
}

bool SoundProps(const CheckedNode& node, std::vector<PropValue>* props, std::vector<std::string>* lost) {
    std::vector<CheckedProp> checked;
    std::string error;
    props->clear();
    if (!ReadCheckedPc(node, &checked, lost, &error)) {
        lost->push_back(error);
        return false;
    }
    for (CheckedProp& p : checked) {
        if (p.error.empty()) props->push_back({p.tag, std::move(p.bytes)});
        else lost->push_back("property " + HexNid(p.tag) + ": " + p.error);
    }
    return true;
}

size_t DropNamed(MessageContent* m) {
    auto drop = [](std::vector<PropValue>& props) {
        size_t before = props.size();
        props.erase(std::remove_if(props.begin(), props.end(), [](const PropValue& v) { return PropId(v.tag) >= 0x8000; }),
                    props.end());
        return before - props.size();
    };
    size_t n = drop(m->props);
    for (auto& r : m->recipients) n += drop(r);
    for (auto& a : m->attachments) {
        n += drop(a.props);
        if (a.embedded) n += DropNamed(a.embedded.get());
    }
    return n;
}

Node PcNode(const std::vector<PropValue>& props) {
    Node n;
    WritePropertyContext(props, &n);
    return n;
}

Node RowIdTable(const std::vector<uint32_t>& ids) {
    std::vector<TableRow> rows;
    for (uint32_t id : ids) rows.push_back({id, {}});
    Node n;
    WriteTableContext({}, rows, &n);
    return n;
}

}  // namespace mapi::pst::fmt::rescue
