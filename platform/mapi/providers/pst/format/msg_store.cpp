#include "providers/pst/format/msg_store.h"

#include <algorithm>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_internal_nodes.h"
#include "providers/pst/format/msg_templates.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kTagRecordKey = 0x0FF90102;
constexpr uint32_t kTagDisplayName = 0x3001001F;
constexpr uint32_t kTagContentCount = 0x36020003;
constexpr uint32_t kTagContentUnread = 0x36030003;
constexpr uint32_t kTagSubfolders = 0x360A000B;
constexpr uint32_t kTagContainerClass = 0x3613001F;
constexpr uint32_t kTagMessageFlags = 0x0E070003;
constexpr uint32_t kTagMessageClass = 0x001A001F;
constexpr uint32_t kTagValidFolderMask = 0x35DF0003;
constexpr uint32_t kTagIpmSubtree = 0x35E00102;
constexpr uint32_t kTagIpmOutbox = 0x35E20102;
constexpr uint32_t kTagIpmWastebasket = 0x35E30102;
constexpr uint32_t kTagIpmSentmail = 0x35E40102;
constexpr uint32_t kTagFinder = 0x35E70102;
constexpr uint32_t kTagPstPassword = 0x67FF0003;
constexpr uint32_t kTagReceiveFolderNid = 0x66050003;
constexpr uint32_t kMsgFlagRead = 0x1;
// PR_VALID_FOLDER_MASK: subtree, inbox, outbox, wastebasket, sent mail, finder.
constexpr uint32_t kValidFolders = 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x80;

}  // namespace

StoreModel StoreModel::NewStore(const StoreUid& uid, std::string_view displayName) {
    StoreModel s;
    s.uid_ = uid;
    s.displayName_ = displayName;
    // libpff refuses a file whose name map has no entry at all, so a new
    // store starts with the names Quirnel records the origin of copied
    // items in; they take the first ids.
    // PS_QUIRNEL {f3c4d0d7-b05b-4214-a817-a819212ea842}, as stored.
    const Guid quirnel = {0xd7, 0xd0, 0xc4, 0xf3, 0x5b, 0xb0, 0x14, 0x42,
                          0xa8, 0x17, 0xa8, 0x19, 0x21, 0x2e, 0xa8, 0x42};
    for (const char16_t* name : {u"SourceStore", u"SourceEntryId", u"SourceModified"})
        s.names_.IdOf(PropertyName{quirnel, true, 0, name}, true);
    s.AddFolderWithNid(kNidRootFolder, kNidRootFolder, "", "", false);
    s.AddFolderWithNid(kNidIpmSubtree, kNidRootFolder, "Top of Personal Folders", "", false);
    s.AddFolderWithNid(kNidSearchRoot, kNidRootFolder, "Search Root", "", false);
    s.AddFolderWithNid(kNidSpamSearchFolder, kNidRootFolder, "SPAM Search Folder 2", "", true);
    s.inbox_ = s.AddFolder(kNidIpmSubtree, "Inbox", "IPF.Note");
    s.outbox_ = s.AddFolder(kNidIpmSubtree, "Outbox", "IPF.Note");
    s.deletedItems_ = s.AddFolder(kNidIpmSubtree, "Deleted Items", "IPF.Note");
    s.sentItems_ = s.AddFolder(kNidIpmSubtree, "Sent Items", "IPF.Note");
    // Mail of every class goes to the inbox.
    for (const char* cls : {"", "IPM", "REPORT.IPM"}) s.receive_[cls] = s.inbox_;
    return s;
}

uint32_t StoreModel::ipmSubtree() const { return kNidIpmSubtree; }

uint32_t StoreModel::NewFolderNid() { return MakeNid(kNidTypeNormalFolder, nextFolderIndex_++); }

uint32_t StoreModel::AddFolderWithNid(uint32_t nid, uint32_t parent, std::string_view name,
                                      std::string_view containerClass, bool search) {
    Folder f;
    f.parent = parent;
    f.search = search;
    f.props.push_back(UnicodeValue(kTagDisplayName, name));
    if (!containerClass.empty()) f.props.push_back(UnicodeValue(kTagContainerClass, containerClass));
    folders_[nid] = std::move(f);
    // Its own nodes; the parent's subfolder flag and hierarchy table, and
    // the grandparent's row of the parent.
    for (uint32_t type : {kNidTypeHierarchyTable, kNidTypeContentsTable, kNidTypeAssocContentsTable})
        TableChanged(nid, type);
    FolderPropsChanged(nid);
    if (nid != parent) {
        folders_[parent].children.push_back(nid);
        TableChanged(parent, kNidTypeHierarchyTable);
        FolderPropsChanged(parent);
    }
    return nid;
}

uint32_t StoreModel::AddFolder(uint32_t parent, std::string_view name, std::string_view containerClass) {
    if (folders_.count(parent) == 0) return 0;
    return AddFolderWithNid(NewFolderNid(), parent, name, containerClass, false);
}

uint32_t StoreModel::AddMessage(uint32_t folder, const MessageContent& message, bool associated) {
    if (folders_.count(folder) == 0) return 0;
    std::vector<PropValue> props;
    Node node = BuildMessageNode(message, &props);
    uint32_t nid = AddMessageNode(folder, std::move(node), std::move(props), associated);
    messages_.at(nid).rowOnly = false;  // every value, until it is committed
    return nid;
}

const StoreModel::Folder* StoreModel::FindFolder(uint32_t nid) const {
    auto it = folders_.find(nid);
    return it == folders_.end() ? nullptr : &it->second;
}

const StoreModel::StoredMessage* StoreModel::FindMessage(uint32_t nid) const {
    auto it = messages_.find(nid);
    return it == messages_.end() ? nullptr : &it->second;
}

bool StoreModel::SetFolderProps(uint32_t nid, std::vector<PropValue> props) {
    auto it = folders_.find(nid);
    if (it == folders_.end()) return false;
    it->second.props = std::move(props);
    FolderPropsChanged(nid);
    return true;
}

bool StoreModel::ReplaceMessage(uint32_t nid, const MessageContent& message) {
    auto it = messages_.find(nid);
    if (it == messages_.end()) return false;
    StoredMessage& m = it->second;
    Folder& f = folders_.at(m.folder);
    tables_.erase(SiblingNid(m.folder, m.associated ? kNidTypeAssocContentsTable : kNidTypeContentsTable));
    if (!m.associated && Unread(m.props)) --f.unread;
    m.node = BuildMessageNode(message, &m.props);
    m.rowOnly = false;
    if (!m.associated && Unread(m.props)) ++f.unread;
    changed_.insert(nid);
    TableChanged(m.folder, m.associated ? kNidTypeAssocContentsTable : kNidTypeContentsTable);
    if (!m.associated) FolderPropsChanged(m.folder);
    return true;
}

bool StoreModel::RemoveMessage(uint32_t nid) {
    auto it = messages_.find(nid);
    if (it == messages_.end()) return false;
    const StoredMessage& m = it->second;
    Folder& f = folders_.at(m.folder);
    std::vector<uint32_t>& ids = m.associated ? f.associated : f.messages;
    ids.erase(std::remove(ids.begin(), ids.end(), nid), ids.end());
    if (!m.associated && Unread(m.props)) --f.unread;
    // Rows after it move up: the kept table cannot simply grow.
    uint32_t table = SiblingNid(m.folder, m.associated ? kNidTypeAssocContentsTable : kNidTypeContentsTable);
    tables_.erase(table);
    changed_.insert(table);
    if (!m.associated) FolderPropsChanged(m.folder);
    changed_.erase(nid);
    removed_.insert(nid);
    messages_.erase(it);
    return true;
}

void StoreModel::SetReceiveFolder(const std::string& messageClass, uint32_t folder) {
    if (folder == 0)
        receive_.erase(messageClass);
    else
        receive_[messageClass] = folder;
    changed_.insert(kNidReceiveFolderTable);
}

bool StoreModel::Unread(const std::vector<PropValue>& props) {
    const PropValue* flags = FindValue(props, kTagMessageFlags);
    return flags == nullptr || flags->bytes.size() != 4 || (Get32(flags->bytes.data()) & kMsgFlagRead) == 0;
}

void StoreModel::FolderPropsChanged(uint32_t nid) {
    changed_.insert(nid);
    auto it = folders_.find(nid);
    if (it != folders_.end() && it->second.parent != nid) TableChanged(it->second.parent, kNidTypeHierarchyTable);
}

void StoreModel::TableChanged(uint32_t nid, uint32_t tableType) { changed_.insert(SiblingNid(nid, tableType)); }

bool StoreModel::BuildTable(uint32_t nid, NodeSet& nodes) {
    uint32_t type = NidType(nid);
    if (type != kNidTypeHierarchyTable && type != kNidTypeContentsTable && type != kNidTypeAssocContentsTable)
        return false;
    for (uint32_t folderType : {kNidTypeNormalFolder, kNidTypeSearchFolder}) {
        auto f = folders_.find(SiblingNid(nid, folderType));
        if (f == folders_.end()) continue;
        if (type == kNidTypeHierarchyTable)
            BuildHierarchy(f->first, f->second, nodes);
        else
            UpdateContents(f->first, f->second, type == kNidTypeAssocContentsTable, nodes);
        return true;
    }
    return false;
}

std::array<uint32_t, 32> StoreModel::Counters() const {
    std::array<uint32_t, 32> c = Header::ForNewFile().nextNidIndex;
    c[kNidTypeNormalFolder] = nextFolderIndex_;
    for (uint32_t t : {kNidTypeHierarchyTable, kNidTypeContentsTable, kNidTypeAssocContentsTable})
        c[t] = nextFolderIndex_;
    c[kNidTypeNormalMessage] = nextMessageIndex_;
    c[kNidTypeAssocMessage] = nextAssocIndex_;
    return c;
}

// A committed message keeps in memory only what its table row shows (its
// flags among them, for the folder's unread count); the rest is read back
// from the file when asked. Keeping every value of every message made a
// large copy's memory grow with everything it had written.
std::vector<PropValue> StoreModel::RowCells(std::vector<PropValue> props, bool associated) {
    const std::vector<uint32_t>& columns = associated ? AssocContentsColumns() : ContentsColumns();
    auto shown = [&](uint32_t tag) {
        for (uint32_t c : columns)
            if (c >> 16 == tag >> 16) return true;
        return false;
    };
    std::vector<PropValue> cells;
    for (PropValue& v : props)
        if (shown(v.tag)) cells.push_back(std::move(v));
    return cells;
}

void StoreModel::KeepRowCellsOnly(StoredMessage& m) {
    m.props = RowCells(std::move(m.props), m.associated);
    m.rowOnly = true;
}

NodeSet StoreModel::TakeChanges(std::set<uint32_t>* removed, std::array<uint32_t, 32>* counters) {
    NodeSet nodes;
    for (uint32_t nid : changed_) {
        if (auto f = folders_.find(nid); f != folders_.end()) {
            BuildFolderProps(nid, f->second, nodes);  // its tables are marked on their own
        } else if (auto m = messages_.find(nid); m != messages_.end()) {
            TopNode& t = nodes[nid];
            t.parent = m->second.folder;
            t.node = std::move(m->second.node);
            m->second.node = Node();  // the file holds it from now on
            KeepRowCellsOnly(m->second);
        } else if (nid == kNidNameToIdMap) {
            WritePropertyContext(names_.ToProps(), &nodes[kNidNameToIdMap].node);
        } else if (nid == kNidReceiveFolderTable) {
            BuildReceiveTable(nodes);
        } else if (!BuildInternalNode(nid, nodes)) {
            BuildTable(nid, nodes);
        }
    }
    changed_.clear();
    *removed = std::move(removed_);
    removed_.clear();
    *counters = Counters();
    return nodes;
}

void StoreModel::BuildReceiveTable(NodeSet& nodes) const {
    std::vector<TableRow> receive;
    uint32_t row = 1;
    for (const auto& [cls, folder] : receive_)
        receive.push_back({row++, {UnicodeValue(kTagMessageClass, cls), LongValue(kTagReceiveFolderNid, folder)}});
    WriteTableContext(ReceiveFolderColumns(), receive, &nodes[kNidReceiveFolderTable].node);
}

std::vector<PropValue> StoreModel::StoreProps() const {
    return {
        BinaryValue(kTagRecordKey, Bytes(uid_.begin(), uid_.end())),
        UnicodeValue(kTagDisplayName, displayName_),
        LongValue(kTagValidFolderMask, kValidFolders),
        BinaryValue(kTagIpmSubtree, EntryIdBytes(uid_, kNidIpmSubtree)),
        BinaryValue(kTagIpmOutbox, EntryIdBytes(uid_, outbox_)),
        BinaryValue(kTagIpmWastebasket, EntryIdBytes(uid_, deletedItems_)),
        BinaryValue(kTagIpmSentmail, EntryIdBytes(uid_, sentItems_)),
        BinaryValue(kTagFinder, EntryIdBytes(uid_, kNidSearchRoot)),
        LongValue(kTagPstPassword, 0),
    };
}

void StoreModel::BuildFolder(uint32_t nid, const Folder& f, NodeSet& nodes) const {
    BuildFolderProps(nid, f, nodes);
    BuildHierarchy(nid, f, nodes);
    BuildContents(nid, f, false, nodes);
    BuildContents(nid, f, true, nodes);
}

void StoreModel::BuildFolderProps(uint32_t nid, const Folder& f, NodeSet& nodes) const {
    std::vector<PropValue> props = f.props;
    SetValue(props, LongValue(kTagContentCount, static_cast<uint32_t>(f.messages.size())));
    SetValue(props, LongValue(kTagContentUnread, f.unread));
    SetValue(props, BoolValue(kTagSubfolders, !f.children.empty()));
    TopNode& pc = nodes[nid];
    pc.parent = f.parent;
    WritePropertyContext(props, &pc.node);
}

void StoreModel::BuildHierarchy(uint32_t nid, const Folder& f, NodeSet& nodes) const {
    std::vector<TableRow> hierarchy;
    for (uint32_t child : f.children) {
        const Folder& c = folders_.at(child);
        std::vector<PropValue> cells = c.props;
        SetValue(cells, LongValue(kTagContentCount, static_cast<uint32_t>(c.messages.size())));
        SetValue(cells, LongValue(kTagContentUnread, c.unread));
        SetValue(cells, BoolValue(kTagSubfolders, !c.children.empty()));
        hierarchy.push_back({child, std::move(cells)});
    }
    // A folder's three tables share its index ([MS-PST] 2.4.4).
    WriteTableContext(HierarchyColumns(), hierarchy, &nodes[SiblingNid(nid, kNidTypeHierarchyTable)].node);
}

void StoreModel::BuildContents(uint32_t nid, const Folder& f, bool associated, NodeSet& nodes) const {
    const std::vector<uint32_t>& ids = associated ? f.associated : f.messages;
    std::vector<TableRowRef> rows;
    rows.reserve(ids.size());
    for (uint32_t m : ids) rows.push_back({m, &messages_.at(m).props});
    if (associated)
        WriteTableRows(AssocContentsColumns(), rows, &nodes[SiblingNid(nid, kNidTypeAssocContentsTable)].node);
    else
        WriteTableRows(ContentsColumns(), rows, &nodes[SiblingNid(nid, kNidTypeContentsTable)].node);
}

void StoreModel::UpdateContents(uint32_t nid, const Folder& f, bool associated, NodeSet& nodes) {
    const std::vector<uint32_t>& ids = associated ? f.associated : f.messages;
    uint32_t tableNid = SiblingNid(nid, associated ? kNidTypeAssocContentsTable : kNidTypeContentsTable);
    std::unique_ptr<TableBuilder>& table = tables_[tableNid];
    bool grows = table && table->RowCount() <= ids.size();
    for (size_t i = grows ? table->RowCount() : ids.size(); i < ids.size() && grows; ++i)
        grows = table->Append(ids[i], messages_.at(ids[i]).props);
    if (!grows) {
        // A table that cannot take the new rows at its end is built again;
        // its first patch is the whole node.
        table = std::make_unique<TableBuilder>(associated ? AssocContentsColumns() : ContentsColumns());
        for (uint32_t m : ids) table->Append(m, messages_.at(m).props);
    }
    nodes[tableNid].patch = table->TakePatch();
}

NodeSet StoreModel::Build(Header* header) const {
    NodeSet nodes;
    WritePropertyContext(StoreProps(), &nodes[kNidMessageStore].node);
    WritePropertyContext(names_.ToProps(), &nodes[kNidNameToIdMap].node);
    for (const auto& [nid, folder] : folders_) BuildFolder(nid, folder, nodes);
    for (const auto& [nid, message] : messages_) {
        TopNode& t = nodes[nid];
        t.parent = message.folder;
        t.node = message.node;
    }
    BuildReceiveTable(nodes);
    for (uint32_t nid : InternalNodeNids()) BuildInternalNode(nid, nodes);

    *header = Header::ForNewFile();
    header->nextNidIndex = Counters();
    return nodes;
}

}  // namespace mapi::pst::fmt
