#include "providers/pst/format/chk_rescue.h"

#include "providers/pst/format/chk_rescue_parts.h"

#include <algorithm>
#include <map>
#include <set>

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {

const Guid kPsQuirnel = {0xd7, 0xd0, 0xc4, 0xf3, 0x5b, 0xb0, 0x14, 0x42,
                         0xa8, 0x17, 0xa8, 0x19, 0x21, 0x2e, 0xa8, 0x42};

namespace {

using namespace rescue;

constexpr uint32_t kTagRecordKey = 0x0FF90102;
constexpr uint32_t kTagDisplayName = 0x3001001F;
constexpr uint32_t kTagDisplayName8 = 0x3001001E;
constexpr uint32_t kTagMessageClass = 0x001A001F;
constexpr uint32_t kTagAttachMethod = 0x37050003;
constexpr uint32_t kTagAttachDataBin = 0x37010102;
constexpr uint32_t kTagAttachLongFilename = 0x3707001F;
constexpr uint32_t kTagAttachMimeTag = 0x370E001F;
constexpr uint32_t kAttachByValue = 1;

class Rescuer {
public:
    Rescuer(const CheckedFile& file, RescueStats* stats) : file_(file), stats_(stats) {}
    bool Run(const StoreUid& fallbackUid, StoreModel* out, std::string* error);

private:
    void Store(const StoreUid& fallbackUid);
    void NameMapNode();
    void Folders();
    uint32_t SpecialFolder(uint32_t* nid, const char* name);
    void LoadRows();
    void Messages();
    void ListedButGone();
    void Strays();
    void AddMessage(uint32_t nid, uint32_t folder, const CheckedNode& node, bool recovered,
                    const std::string& origin = "");
    void AddFailing(uint32_t nid, uint32_t folder, std::vector<PropValue> props);
    void AddSalvaged(uint32_t nid, uint32_t folder, SalvagedMessage m);
    void DropNamesIfLost(SalvagedMessage* m);
    uint32_t FreshNid(uint32_t type) { return MakeNid(type, nextIndex_++); }
    void Note(std::string line) { stats_->notes.push_back(std::move(line)); }

    const CheckedFile& file_;
    RescueStats* stats_;
    NodeSet nodes_;
    uint16_t reportId_ = 0;
    bool namesLost_ = false;  // named properties cannot be named
    std::map<uint32_t, uint32_t> folderParent_;  // folder -> parent as placed
    std::set<uint32_t> strayFolders_;
    std::map<uint32_t, std::vector<uint32_t>> contents_, associated_;
    uint32_t recoveredItems_ = 0, recoveredFolders_ = 0;
    uint32_t nextIndex_ = 0;
    // The rows of the folders' contents tables by item: the folder and the
    // row's cells. A row is what is left of an item whose node is damaged.
    std::map<uint32_t, std::pair<uint32_t, std::vector<PropValue>>> rows_;
};

void Rescuer::Store(const StoreUid& fallbackUid) {
    std::vector<PropValue> props;
    std::vector<std::string> lost;
    auto it = file_.Nodes().find(kNidMessageStore);
    if (it == file_.Nodes().end()) {
        Note("the message store object is missing; a plain one stands in for it");
    } else if (!SoundProps(file_.ReadNode(it->second), &props, &lost) || !lost.empty()) {
        for (const std::string& l : lost) Note("message store object: " + l);
    }
    const PropValue* key = FindValue(props, kTagRecordKey);
    if (key == nullptr || key->bytes.size() != 16) {
        SetValue(props, BinaryValue(kTagRecordKey, Bytes(fallbackUid.begin(), fallbackUid.end())));
        if (it != file_.Nodes().end()) Note("the message store's record key is lost; the store gets a new one");
    }
    if (FindValue(props, kTagDisplayName) == nullptr && FindValue(props, kTagDisplayName8) == nullptr)
        SetValue(props, UnicodeValue(kTagDisplayName, "Personal Folders"));
    nodes_[kNidMessageStore].node = PcNode(props);
}

void Rescuer::NameMapNode() {
    NameMap names;
    auto it = file_.Nodes().find(kNidNameToIdMap);
    if (it != file_.Nodes().end()) {
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        std::string why;
        Node whole;
        // The map is all or nothing: a partly read map would give named
        // properties the wrong names.
        if (!WholeNode(file_.ReadNode(it->second), &whole, &why) || !ReadPropertyContext(whole, &props, &why) ||
            !names.FromProps(props, &why)) {
            names = NameMap();
            namesLost_ = true;
            Note("the named property map is damaged (" + why + "); named properties are left out");
        }
    } else {
        namesLost_ = true;
        Note("the named property map is missing; named properties are left out");
    }
    PropertyName report;
    report.guid = kPsQuirnel;
    report.isString = true;
    report.name = kDamageReportName;
    reportId_ = names.IdOf(report, true);
    nodes_[kNidNameToIdMap].node = PcNode(names.ToProps());
}

uint32_t Rescuer::SpecialFolder(uint32_t* nid, const char* name) {
    if (*nid != 0) return *nid;
    *nid = FreshNid(kNidTypeNormalFolder);
    nodes_[*nid] = {kNidIpmSubtree, PcNode({UnicodeValue(kTagDisplayName, name)})};
    folderParent_[*nid] = kNidIpmSubtree;
    return *nid;
}

void Rescuer::Folders() {
    std::map<uint32_t, uint32_t> parentOf;
    for (const auto& [nid, entry] : file_.Nodes()) {
        if (!IsFolderNid(nid)) continue;
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        bool read = SoundProps(file_.ReadNode(entry), &props, &lost);
        if (!lost.empty() || !read) {
            std::string why = lost.empty() ? "" : lost.front();
            Note("folder " + HexNid(nid) + ": " + why);
        }
        bool named = FindValue(props, kTagDisplayName) != nullptr || FindValue(props, kTagDisplayName8) != nullptr;
        if (!named && nid != kNidRootFolder) {
            SetValue(props, UnicodeValue(kTagDisplayName, "Recovered folder " + HexNid(nid)));
            ++stats_->recoveredFolders;
        }
        nodes_[nid].node = PcNode(props);
        parentOf[nid] = entry.nidParent;
    }
    // Folders only a scan found (their index page damaged, or deleted for
    // good) come back below "Recovered folders" with what they hold.
    for (const NbtEntry& entry : file_.StrayNodes()) {
        uint32_t nid = static_cast<uint32_t>(entry.nid);
        if (!IsFolderNid(nid) || parentOf.count(nid) != 0) continue;
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        SoundProps(file_.ReadNode(entry), &props, &lost);
        if (FindValue(props, kTagDisplayName) == nullptr && FindValue(props, kTagDisplayName8) == nullptr)
            SetValue(props, UnicodeValue(kTagDisplayName, "Recovered folder " + HexNid(nid)));
        nodes_[nid].node = PcNode(props);
        parentOf[nid] = entry.nidParent;
        // The fixed folders have one place only, wherever they were found.
        if (nid == kNidIpmSubtree || nid == kNidSearchRoot || nid == kNidSpamSearchFolder) continue;
        strayFolders_.insert(nid);
        ++stats_->recoveredFolders;
        Note("folder " + HexNid(nid) + " is found only outside the node index; it is placed below \"" +
             kRecoveredFoldersName + "\"");
    }
    if (parentOf.count(kNidRootFolder) != 0 && strayFolders_.count(kNidRootFolder) != 0) strayFolders_.erase(kNidRootFolder);
    if (parentOf.count(kNidRootFolder) == 0) {
        Note("the root folder is missing; a new one stands in for it");
        nodes_[kNidRootFolder].node = PcNode({UnicodeValue(kTagDisplayName, "")});
    }
    parentOf[kNidRootFolder] = kNidRootFolder;
    if (parentOf.count(kNidIpmSubtree) == 0) {
        Note("the folder \"Top of Personal Folders\" is missing; a new one stands in for it");
        nodes_[kNidIpmSubtree].node = PcNode({UnicodeValue(kTagDisplayName, "Top of Personal Folders")});
        parentOf[kNidIpmSubtree] = kNidRootFolder;
    }
    // A folder that cannot reach the root through existing folders (a lost
    // parent, a loop) is an orphan.
    for (const auto& [nid, parent] : parentOf) {
        uint32_t at = nid;
        bool reaches = false;
        for (size_t steps = 0; steps <= parentOf.size(); ++steps) {
            if (at == kNidRootFolder) {
                reaches = true;
                break;
            }
            auto up = parentOf.find(at);
            if (up == parentOf.end() || !IsFolderNid(up->second)) break;
            at = up->second;
        }
        // A recovered folder stays below the recovered folder it was in,
        // unless their parent links loop; the topmost goes below
        // "Recovered folders".
        bool stray = strayFolders_.count(nid) != 0;
        bool underStray = false;
        if (stray && strayFolders_.count(parent) != 0) {
            underStray = true;
            uint32_t up = parent;
            for (size_t steps = 0; steps <= strayFolders_.size() && strayFolders_.count(up) != 0; ++steps) {
                if (up == nid) underStray = false;
                auto next = parentOf.find(up);
                if (next == parentOf.end()) break;
                up = next->second;
            }
        }
        folderParent_[nid] = (reaches && !stray) || underStray ? parent : 0;
    }
    for (auto& [nid, parent] : folderParent_) {
        if (parent != 0) continue;
        if (strayFolders_.count(nid) != 0) {
            parent = SpecialFolder(&recoveredFolders_, kRecoveredFoldersName);
            continue;
        }
        ++stats_->recoveredFolders;
        Note("folder " + HexNid(nid) + " cannot be reached from the root; it is placed below \"" +
             kRecoveredFoldersName + "\"");
        parent = SpecialFolder(&recoveredFolders_, kRecoveredFoldersName);
    }
    // Whatever the links found, every folder must hang below the root: a
    // folder out of reach would hide its items from every walk.
    for (auto& [nid, parent] : folderParent_) {
        uint32_t at = nid;
        size_t steps = 0;
        while (at != kNidRootFolder && steps++ <= folderParent_.size()) {
            auto up = folderParent_.find(at);
            if (up == folderParent_.end()) break;
            at = up->second;
        }
        if (at != kNidRootFolder && nid != kNidRootFolder) parent = kNidRootFolder;
    }
}

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

void Rescuer::AddMessage(uint32_t nid, uint32_t folder, const CheckedNode& node, bool recovered,
                         const std::string& origin) {
    SalvagedMessage m;
    std::string error;
    bool salvaged = SalvageMessage(node, &m, &error);
    if (salvaged && !origin.empty()) m.lost.push_back(origin);
    if (!salvaged && !recovered) {
        auto row = rows_.find(nid);
        std::string why = error;
        if (row != rows_.end()) salvaged = SalvageFromRow(&node, row->second.second, why, &m, &error);
    }
    if (!salvaged) {
        if (recovered) return;  // nothing to offer, and nobody listed it
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        SoundProps(node, &props, &lost);
        return AddFailing(nid, folder, std::move(props));
    }
    DropNamesIfLost(&m);
    Node whole;
    std::string why;
    auto& list = (NidType(nid) == kNidTypeAssocMessage ? associated_ : contents_)[folder];
    // The writer's readers cut a heap into Unicode-sized pages; an ANSI
    // node of more than one block is rebuilt from what this reader read.
    bool keepAsStored = file_.Unicode() || node.pages.size() <= 1;
    if (m.Whole() && keepAsStored && WholeNode(node, &whole, &why)) {
        nodes_[nid] = {folder, std::move(whole)};
        ++stats_->whole;
    } else if (m.Whole() && !keepAsStored) {
        std::vector<PropValue> rowProps;
        nodes_[nid] = {folder, BuildMessageNode(m.content, &rowProps)};
        ++stats_->whole;
    } else {
        if (m.Whole()) m.lost.push_back("a part of the item no property refers to: " + why);
        AddSalvaged(nid, folder, std::move(m));
        if (recovered) ++stats_->recovered;
        return;
    }
    if (recovered) ++stats_->recovered;
    list.push_back(nid);
}

void Rescuer::DropNamesIfLost(SalvagedMessage* m) {
    // Without the name map a named property's id says nothing of what it
    // is; handed on, it would arrive as some other property or not at all.
    if (!namesLost_) return;
    if (size_t n = DropNamed(&m->content); n > 0)
        m->lost.push_back(std::to_string(n) + " named properties, whose names are lost with the file's name map");
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
    size_t read = 0;
    for (const auto& [nid, entry] : file_.Nodes()) {
        if (!IsMessageNid(nid)) continue;
        if (++read % 256 == 0) file_.Trim();
        uint32_t folder = entry.nidParent;
        bool placed = folderParent_.count(folder) != 0 && NidType(folder) == kNidTypeNormalFolder;
        if (!placed) folder = SpecialFolder(&recoveredItems_, kRecoveredItemsName);
        AddMessage(nid, folder, file_.ReadNode(entry), !placed);
    }
}

void Rescuer::LoadRows() {
    for (const auto& [folder, parent] : folderParent_) {
        if (NidType(folder) != kNidTypeNormalFolder) continue;
        for (uint32_t type : {kNidTypeContentsTable, kNidTypeAssocContentsTable}) {
            auto t = file_.Nodes().find(SiblingNid(folder, type));
            if (t == file_.Nodes().end()) continue;
            Node table;
            std::string why;
            std::vector<uint32_t> columns;
            std::vector<TableRow> rows;
            if (!WholeNode(file_.ReadNode(t->second), &table, &why) ||
                !ReadTableContext(table, &columns, &rows, &why)) {
                Note("the contents table of folder " + HexNid(folder) + " is damaged (" + why +
                     "); items it listed whose nodes are damaged or gone cannot be named");
                continue;
            }
            for (TableRow& row : rows) {
                if (!IsMessageNid(row.rowId)) continue;
                std::vector<PropValue> props;
                for (PropValue& v : row.cells)
                    if (v.tag != kTagLtpRowId && v.tag != kTagLtpRowVer) props.push_back(std::move(v));
                rows_[row.rowId] = {folder, std::move(props)};
            }
        }
    }
}

void Rescuer::ListedButGone() {
    for (auto& [nid, row] : rows_) {
        if (file_.Nodes().count(nid) != 0 || nodes_.count(nid) != 0) continue;
        auto& [folder, props] = row;
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
    // scan finds in several older leaves is offered once per content.
    std::map<uint32_t, std::vector<std::vector<PropValue>>> offered;
    for (const NbtEntry& entry : file_.StrayNodes()) {
        uint32_t nid = static_cast<uint32_t>(entry.nid);
        // An older revision of a node the current tree still has is no lost
        // item: its current state is served where it belongs.
        if (!IsMessageNid(nid) || file_.Nodes().count(nid) != 0) continue;
        CheckedNode node = file_.ReadNode(entry);
        SalvagedMessage m;
        std::string error;
        if (!SalvageMessage(node, &m, &error)) continue;
        auto& seen = offered[nid];
        bool again = false;
        for (const auto& props : seen) again = again || SameProps(props, m.content.props);
        if (again) continue;
        seen.push_back(m.content.props);
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
        bool listed = keep && row != rows_.end() && row->second.first == entry.nidParent;
        uint32_t folder = listed || inRecoveredFolder ? entry.nidParent
                                                      : SpecialFolder(&recoveredItems_, kRecoveredItemsName);
        AddMessage(id, folder, node, true,
                   "found outside the file's current node index: an item lost from its folder or a deleted "
                   "item; it may not be the item's last state");
    }
}

bool Rescuer::Run(const StoreUid& fallbackUid, StoreModel* out, std::string* error) {
    for (const auto& [nid, e] : file_.Nodes()) nextIndex_ = std::max(nextIndex_, NidIndex(nid) + 1);
    for (const NbtEntry& e : file_.StrayNodes())
        nextIndex_ = std::max(nextIndex_, NidIndex(static_cast<uint32_t>(e.nid)) + 1);
    // Rows of contents tables may name nodes no longer in either tree.
    nextIndex_ = std::max<uint32_t>(nextIndex_ + 0x100, 0x10000);
    Store(fallbackUid);
    NameMapNode();
    Folders();
    LoadRows();
    Messages();
    Strays();
    ListedButGone();
    if (auto r = file_.Nodes().find(kNidReceiveFolderTable); r != file_.Nodes().end()) {
        Node whole;
        std::string why;
        if (WholeNode(file_.ReadNode(r->second), &whole, &why)) nodes_[kNidReceiveFolderTable].node = std::move(whole);
        else Note("the receive folder table is damaged (" + why + "); the Inbox is not known");
    }
    for (const auto& [nid, parent] : folderParent_) {
        nodes_[nid].parent = parent;
        if (NidType(nid) != kNidTypeNormalFolder) continue;
        std::vector<uint32_t> children;
        for (const auto& [child, p] : folderParent_)
            if (p == nid && child != nid) children.push_back(child);
        nodes_[SiblingNid(nid, kNidTypeHierarchyTable)].node = RowIdTable(children);
        nodes_[SiblingNid(nid, kNidTypeContentsTable)].node = RowIdTable(contents_[nid]);
        nodes_[SiblingNid(nid, kNidTypeAssocContentsTable)].node = RowIdTable(associated_[nid]);
    }
    // Damage above the items is told on the IPM subtree, where a copy and
    // a dump see it (the store object's own properties are not served).
    if (!stats_->notes.empty() && reportId_ != 0) {
        std::vector<PropValue> props;
        std::string why;
        if (ReadPropertyContext(nodes_[kNidIpmSubtree].node, &props, &why)) {
            std::string report = "The source file is damaged above its items:\n";
            for (const std::string& n : stats_->notes) report += n + "\n";
            SetValue(props, UnicodeValue((uint32_t{reportId_} << 16) | 0x001F, report));
            nodes_[kNidIpmSubtree].node = PcNode(props);
        }
    }
    Header header;
    return StoreModel::Load(std::move(nodes_), header, out, error);
}

}  // namespace

bool RescueStore(const CheckedFile& file, const StoreUid& fallbackUid, StoreModel* out,
                 RescueStats* stats, std::string* error) {
    *stats = RescueStats();
    Rescuer r(file, stats);
    return r.Run(fallbackUid, out, error);
}

}  // namespace mapi::pst::fmt
