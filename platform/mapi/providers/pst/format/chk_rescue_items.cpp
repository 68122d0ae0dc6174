#include "providers/pst/format/chk_rescuer.h"

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_rescue_parts.h"
#include "providers/pst/format/chk_tc.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_values.h"

namespace mapi::pst::fmt::rescue {

void Rescuer::AddFailing(uint32_t nid, uint32_t folder, std::vector<PropValue> props) {
    // The store model keeps the row's properties for the contents table;
    // the recipient table no reader accepts makes every open of the item
    // fail, which is what a copy must see.
    Node n = PcNode(props);
    n.subnodes[kNidRecipientTable].data = Bytes{0};
    nodes_[nid] = {folder, std::move(n)};
    (NidType(nid) == kNidTypeAssocMessage ? associated_ : contents_)[folder].push_back(nid);
    ++stats_->failed;
}

void Rescuer::AddWhole(uint32_t nid, uint32_t folder, Node&& whole) {
    (NidType(nid) == kNidTypeAssocMessage ? associated_ : contents_)[folder].push_back(nid);
    ++stats_->whole;
    std::vector<PropValue> props;
    std::string why;
    // Only a message of the current node index can be found again by its id.
    auto entry = file_.Nodes().find(nid);
    if (inFile_ == nullptr || entry == file_.Nodes().end() || !ReadPropertyContext(whole, &props, &why)) {
        nodes_[nid] = {folder, std::move(whole)};
        return;
    }
    rowsOnly_[nid] = StoreModel::RowCells(std::move(props), NidType(nid) == kNidTypeAssocMessage);
    inFile_->nids_.push_back(nid);
}

void Rescuer::AddMessage(uint32_t nid, uint32_t folder, CheckedNode&& node, bool recovered,
                         const std::string& origin) {
    Node whole;
    SalvagedMessage m;
    bool salvaged = false;
    std::string why, error;
    // A note to add (origin) makes it a salvaged one whatever it holds.
    if (origin.empty()) {
        if (MakeWhole(node, file_.Unicode(), namesLost_, &whole, &m, &salvaged, &why, &error)) {
            if (recovered) ++stats_->recovered;
            return AddWhole(nid, folder, std::move(whole));
        }
    } else {
        salvaged = SalvageMessage(node, &m, &error);
        if (salvaged) m.lost.push_back(origin);
    }
    if (!salvaged && !recovered) {
        std::string reason = error;
        if (const std::vector<PropValue>* row = RowOf(nid); row != nullptr)
            salvaged = SalvageFromRow(&node, *row, reason, &m, &error);
    }
    if (!salvaged) {
        if (recovered) return;  // nothing to offer, and nobody listed it
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        SoundProps(node, &props, &lost);
        return AddFailing(nid, folder, std::move(props));
    }
    DropNamesIfLost(&m);
    if (m.Whole()) m.lost.push_back("a part of the item no property refers to: " + why);
    AddSalvaged(nid, folder, std::move(m));
    if (recovered) ++stats_->recovered;
}

namespace {

void DropNames(bool namesLost, SalvagedMessage* m) {
    // Without the name map a named property's id says nothing of what it
    // is; handed on, it would arrive as some other property or not at all.
    if (!namesLost) return;
    if (size_t n = DropNamed(&m->content); n > 0)
        m->lost.push_back(std::to_string(n) + " named properties, whose names are lost with the file's name map");
}

}  // namespace

bool MakeWhole(CheckedNode& node, bool unicode, bool namesLost, Node* out, SalvagedMessage* m, bool* salvaged,
               std::string* why, std::string* error) {
    bool keepAsStored = unicode || node.pages.size() <= 1;
    // The common case first: a whole item, kept as stored, with none of its
    // values copied to find that out.
    if (!namesLost && keepAsStored && MessageIsWhole(node) && WholeNode(std::move(node), out, why)) return true;
    *salvaged = SalvageMessage(node, m, error);
    if (!*salvaged) return false;
    DropNames(namesLost, m);
    if (!m->Whole()) return false;
    if (keepAsStored) return WholeNode(std::move(node), out, why);
    std::vector<PropValue> rowProps;
    *out = BuildMessageNode(m->content, &rowProps);
    return true;
}

void Rescuer::DropNamesIfLost(SalvagedMessage* m) {
    DropNames(namesLost_, m);
}

void Rescuer::AddSalvaged(uint32_t nid, uint32_t folder, SalvagedMessage m) {
    std::string report = "This item was damaged in the source file. What could be read was copied; "
                         "these parts were lost:\n" + m.Report();
    if (reportId_ != 0) SetValue(m.content.props, UnicodeValue((uint32_t{reportId_} << 16) | 0x001F, report));
    AttachmentContent note;
    Bytes text(report.begin(), report.end());
    note.props = {LongValue(kTagAttachMethod, kAttachByValue),
                  UnicodeValue(kTagAttachLongFilename, kDamageAttachmentName),
                  UnicodeValue(kTagDisplayName, kDamageAttachmentName),
                  UnicodeValue(kTagAttachMimeTag, "text/plain"), BinaryValue(kTagAttachDataBin, text)};
    m.content.attachments.push_back(std::move(note));
    std::vector<PropValue> rowProps;
    nodes_[nid] = {folder, BuildMessageNode(m.content, &rowProps)};
    ++stats_->salvaged;
    (NidType(nid) == kNidTypeAssocMessage ? associated_ : contents_)[folder].push_back(nid);
}

void Rescuer::Messages() {
    for (const auto& [nid, entry] : file_.Nodes()) {
        if (!IsMessageNid(nid)) continue;
        uint32_t folder = entry.nidParent;
        bool placed = folderParent_.count(folder) != 0 && NidType(folder) == kNidTypeNormalFolder;
        if (!placed) folder = SpecialFolder(&recoveredItems_, kRecoveredItemsName);
        size_t before = stats_->recovered;
        AddMessage(nid, folder, file_.ReadNode(entry), !placed);
        if (!placed && NidType(nid) == kNidTypeNormalMessage) toRecovered_[entry.nidParent] += stats_->recovered - before;
    }
}

void Rescuer::LoadRows() {
    for (const auto& [folder, parent] : folderParent_) {
        if (NidType(folder) != kNidTypeNormalFolder) continue;
        LoadHierarchy(folder);
        for (uint32_t type : {kNidTypeContentsTable, kNidTypeAssocContentsTable}) {
            const char* which = type == kNidTypeContentsTable ? "contents table" : "table of hidden items";
            auto t = file_.Nodes().find(SiblingNid(folder, type));
            if (t == file_.Nodes().end()) {
                // A folder found only by scanning may have lost its tables'
                // index entries with its own.
                if (file_.Nodes().count(folder) != 0) FolderIssue(folder, std::string("its ") + which + " is missing");
                continue;
            }
            Node table;
            std::string why;
            std::vector<uint32_t> ids;
            if (!WholeNode(file_.ReadNode(t->second), &table, &why) || !CheckTableContext(table, &ids, &why)) {
                FolderIssue(folder, std::string("its ") + which + " cannot be read (" + why + ")");
                continue;
            }
            tables_.push_back(std::move(table));
            for (uint32_t id : ids) {
                if (!IsMessageNid(id)) continue;
                rows_[id] = {folder, tables_.size() - 1};
                if (NidType(id) == kNidTypeNormalMessage) ++listedItems_[folder];
            }
        }
    }
}

const std::vector<PropValue>* Rescuer::RowOf(uint32_t nid) {
    auto listed = rows_.find(nid);
    if (listed == rows_.end()) return nullptr;
    size_t t = listed->second.table;
    auto read = tableRows_.find(t);
    if (read == tableRows_.end()) {
        read = tableRows_.emplace(t, std::map<uint32_t, std::vector<PropValue>>()).first;
        std::vector<uint32_t> columns;
        std::vector<TableRow> rows;
        std::string why;
        // The check passed, so the strict reader reads it too.
        if (ReadTableContext(tables_[t], &columns, &rows, &why)) {
            for (TableRow& row : rows) {
                std::vector<PropValue> props;
                for (PropValue& v : row.cells)
                    if (v.tag != kTagLtpRowId && v.tag != kTagLtpRowVer) props.push_back(std::move(v));
                read->second[row.rowId] = std::move(props);
            }
        }
    }
    auto row = read->second.find(nid);
    return row == read->second.end() ? nullptr : &row->second;
}

void Rescuer::ListedButGone() {
    for (const auto& [nid, listed] : rows_) {
        if (file_.Nodes().count(nid) != 0 || nodes_.count(nid) != 0) continue;
        uint32_t folder = listed.folder;
        const std::vector<PropValue>* row = RowOf(nid);
        std::vector<PropValue> props = row != nullptr ? *row : std::vector<PropValue>();
        SalvagedMessage m;
        std::string error;
        if (SalvageFromRow(nullptr, props, "the item's node is gone from the file", &m, &error)) {
            DropNamesIfLost(&m);
            AddSalvaged(nid, folder, std::move(m));
            continue;
        }
        if (FindValue(props, kTagMessageClass) == nullptr) SetValue(props, UnicodeValue(kTagMessageClass, "IPM"));
        AddFailing(nid, folder, std::move(props));
    }
}

void Rescuer::Strays() {
    // Revisions already offered per node id, so that a deleted item the
    // scan finds in several older leaves is offered once per content. A
    // live item's own state counts as offered: an older entry of it with
    // the same properties (the item moved to another folder, say) is no
    // version of its own.
    std::map<uint32_t, std::vector<std::vector<PropValue>>> offered;
    for (const NbtEntry& entry : file_.StrayNodes()) {
        uint32_t nid = static_cast<uint32_t>(entry.nid);
        // An older revision of a node the current tree still has is no lost
        // item: its current state is served where it belongs, and the older
        // one only when asked for.
        auto live = file_.Nodes().find(nid);
        bool isLive = live != file_.Nodes().end();
        if (!IsMessageNid(nid) || (isLive && !options_.revisions)) continue;
        CheckedNode node = file_.ReadNode(entry);
        SalvagedMessage m;
        std::string error;
        if (!SalvageMessage(node, &m, &error)) continue;
        auto [seenAt, first] = offered.try_emplace(nid);
        auto& seen = seenAt->second;
        if (first && isLive) {
            std::vector<PropValue> current;
            std::vector<std::string> lost;
            if (SoundProps(file_.ReadNode(live->second, false), &current, &lost)) seen.push_back(std::move(current));
        }
        bool again = false;
        for (const auto& props : seen) again = again || SameProps(props, m.content.props);
        if (again) continue;
        seen.push_back(m.content.props);
        if (isLive) {
            AddRevision(nid, std::move(m));
            continue;
        }
        // A node id no tree has any more keeps its id, so the item is the
        // one a copy saw before, if it saw it; a second version of it gets
        // an id of its own.
        bool keep = nodes_.count(nid) == 0;
        uint32_t id = keep ? nid : FreshNid(NidType(nid));
        bool inRecoveredFolder = strayFolders_.count(entry.nidParent) != 0 &&
                                 NidType(entry.nidParent) == kNidTypeNormalFolder;
        // A folder that still lists the item (its index entry lost to
        // damage) gets it back in its place, instead of the bare row.
        auto row = rows_.find(nid);
        bool listed = keep && row != rows_.end() && row->second.folder == entry.nidParent;
        uint32_t folder = listed || inRecoveredFolder ? entry.nidParent
                                                      : SpecialFolder(&recoveredItems_, kRecoveredItemsName);
        size_t before = stats_->recovered;
        AddMessage(id, folder, std::move(node), true,
                   "found outside the file's current node index: an item lost from its folder or a deleted "
                   "item; it may not be the item's last state");
        if (folder == recoveredItems_ && NidType(nid) == kNidTypeNormalMessage)
            toRecovered_[entry.nidParent] += stats_->recovered - before;
    }
}

}  // namespace mapi::pst::fmt::rescue
