// StoreModel::Load: a store read back from its nodes, so that a file this
// writer made can be opened again and written on.
#include <algorithm>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_internal_nodes.h"
#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_ids.h"
#include "runtime/utf.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kTagRecordKey = 0x0FF90102;
constexpr uint32_t kTagDisplayName = 0x3001001F;
constexpr uint32_t kTagMessageClass = 0x001A001F;
constexpr uint32_t kTagReceiveFolderNid = 0x66050003;

uint32_t NidOfEntryId(const std::vector<PropValue>& props, uint32_t tag) {
    const PropValue* v = FindValue(props, tag);
    return v == nullptr || v->bytes.size() != 24 ? 0 : Get32(v->bytes.data() + 20);
}

std::string Ascii(const Bytes& utf16) {
    std::string s;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        uint16_t c = Get16(utf16.data() + i);
        s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return s;
}

bool IsComputedFolderProp(uint32_t tag) {
    uint16_t id = PropId(tag);
    return id == 0x3602 || id == 0x3603 || id == 0x360A;  // counts and PR_SUBFOLDERS
}

}  // namespace

bool StoreModel::Load(const NodeSet& nodes, const Header& header, StoreModel* out, std::string* error,
                      bool keepMessageNodes) {
    // Without take, nodes is only read.
    return LoadFrom(const_cast<NodeSet&>(nodes), false, keepMessageNodes, header, out, error);
}

bool StoreModel::Load(NodeSet&& nodes, const Header& header, StoreModel* out, std::string* error) {
    return LoadFrom(nodes, true, true, header, out, error);
}

bool StoreModel::Load(NodeSet&& nodes, const Header& header, std::map<uint32_t, std::vector<PropValue>> rows,
                      StoreModel* out, std::string* error) {
    return LoadFrom(nodes, true, true, header, out, error, nullptr, &rows);
}

bool StoreModel::Load(NdbFile& file, const Header& header, StoreModel* out, std::string* error) {
    NodeSet nodes;
    std::string why;
    auto read = [&](uint32_t nid) {
        auto entry = file.Nodes().find(nid);
        if (entry == file.Nodes().end()) return true;
        TopNode& top = nodes[nid];
        top.parent = entry->second.nidParent;
        if (file.ReadNode(nid, &top.node, &why)) return true;
        if (error != nullptr) *error = "node " + std::to_string(nid) + ": " + why;
        return false;
    };
    if (!read(kNidMessageStore) || !read(kNidNameToIdMap) || !read(kNidReceiveFolderTable)) return false;
    for (const auto& [nid, entry] : file.Nodes()) {
        uint32_t type = NidType(nid);
        if (type != kNidTypeNormalFolder && type != kNidTypeSearchFolder) continue;
        for (uint32_t t : {kNidTypeHierarchyTable, kNidTypeContentsTable, kNidTypeAssocContentsTable})
            if (!read(SiblingNid(nid, t))) return false;
        if (!read(nid)) return false;
    }
    return LoadFrom(nodes, false, false, header, out, error, &file);
}

bool StoreModel::LoadFrom(NodeSet& nodes, bool take, bool keepMessageNodes, const Header& header,
                          StoreModel* out, std::string* error, const NdbFile* file,
                          std::map<uint32_t, std::vector<PropValue>>* rowsLeft) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return false;
    };
    StoreModel s;
    auto node = [&](uint32_t nid) -> const TopNode* {
        auto it = nodes.find(nid);
        return it == nodes.end() ? nullptr : &it->second;
    };
    const TopNode* store = node(kNidMessageStore);
    if (store == nullptr) return fail("the file has no message store node");
    std::vector<PropValue> props;
    if (!ReadPropertyContext(store->node, &props, error)) return false;
    const PropValue* key = FindValue(props, kTagRecordKey);
    if (key == nullptr || key->bytes.size() != 16) return fail("the message store has no record key");
    std::copy(key->bytes.begin(), key->bytes.end(), s.uid_.begin());
    if (const PropValue* name = FindValue(props, kTagDisplayName); name != nullptr) {
        std::u16string text;
        for (size_t i = 0; i + 1 < name->bytes.size(); i += 2) text.push_back(static_cast<char16_t>(Get16(name->bytes.data() + i)));
        for (char32_t c : CodePointsFromUtf16(text)) AppendUtf8(s.displayName_, c);
    }
    s.outbox_ = NidOfEntryId(props, 0x35E20102);
    s.deletedItems_ = NidOfEntryId(props, 0x35E30102);
    s.sentItems_ = NidOfEntryId(props, 0x35E40102);

    if (const TopNode* map = node(kNidNameToIdMap); map != nullptr) {
        if (!ReadPropertyContext(map->node, &props, error) || !s.names_.FromProps(props, error)) return false;
    }

    std::vector<uint32_t> columns;
    std::vector<TableRow> rows;
    uint32_t maxFolder = 0, maxMessage = 0, maxAssoc = 0;
    for (const auto& [nid, top] : nodes) {
        uint32_t type = NidType(nid);
        if (type != kNidTypeNormalFolder && type != kNidTypeSearchFolder) continue;
        Folder f;
        f.parent = top.parent;
        f.search = type == kNidTypeSearchFolder;
        if (!ReadPropertyContext(top.node, &props, error)) return false;
        for (PropValue& v : props)
            if (!IsComputedFolderProp(v.tag)) f.props.push_back(std::move(v));
        s.folders_[nid] = std::move(f);
        if (type == kNidTypeNormalFolder) maxFolder = std::max(maxFolder, NidIndex(nid));
    }
    if (s.folders_.count(kNidRootFolder) == 0) return fail("the file has no root folder");
    for (auto& [nid, f] : s.folders_) {
        // Children and messages in the order of the folder's tables.
        if (const TopNode* h = node(SiblingNid(nid, kNidTypeHierarchyTable)); h != nullptr) {
            if (!ReadTableContext(h->node, &columns, &rows, error)) return false;
            for (const TableRow& r : rows)
                if (s.folders_.count(r.rowId) != 0 && r.rowId != nid) f.children.push_back(r.rowId);
        }
        for (uint32_t tableType : {kNidTypeContentsTable, kNidTypeAssocContentsTable}) {
            const TopNode* t = node(SiblingNid(nid, tableType));
            if (t == nullptr) continue;
            if (!ReadTableContext(t->node, &columns, &rows, error)) return false;
            bool associated = tableType == kNidTypeAssocContentsTable;
            for (TableRow& r : rows) {
                std::vector<PropValue>* cells = nullptr;
                if (rowsLeft != nullptr)
                    if (auto it = rowsLeft->find(r.rowId); it != rowsLeft->end()) cells = &it->second;
                const TopNode* m = file != nullptr || cells != nullptr ? nullptr : node(r.rowId);
                if (file != nullptr ? file->Nodes().count(r.rowId) == 0 : m == nullptr && cells == nullptr)
                    return fail("a contents table lists a message the file lacks");
                StoredMessage sm;
                sm.folder = nid;
                sm.associated = associated;
                if (cells != nullptr) {
                    sm.props = std::move(*cells);
                    sm.rowOnly = true;
                } else if (file != nullptr) {
                    // The row holds every column the tables are built from.
                    sm.props = std::move(r.cells);
                    sm.rowOnly = true;
                } else {
                    if (take)
                        sm.node = std::move(nodes.at(r.rowId).node);
                    else if (keepMessageNodes)
                        sm.node = m->node;
                    if (!ReadPropertyContext(take ? sm.node : m->node, &sm.props, error)) return false;
                }
                if (!associated && Unread(sm.props)) ++f.unread;
                s.messages_[r.rowId] = std::move(sm);
                (associated ? f.associated : f.messages).push_back(r.rowId);
                uint32_t& high = associated ? maxAssoc : maxMessage;
                high = std::max(high, NidIndex(r.rowId));
            }
        }
    }
    if (const TopNode* r = node(kNidReceiveFolderTable); r != nullptr) {
        if (!ReadTableContext(r->node, &columns, &rows, error)) return false;
        for (const TableRow& row : rows) {
            const PropValue* cls = FindValue(row.cells, kTagMessageClass);
            const PropValue* folder = FindValue(row.cells, kTagReceiveFolderNid);
            if (folder != nullptr && folder->bytes.size() == 4)
                s.receive_[cls == nullptr ? "" : Ascii(cls->bytes)] = Get32(folder->bytes.data());
        }
    }
    auto inbox = s.receive_.find("");
    s.inbox_ = inbox == s.receive_.end() ? 0 : inbox->second;
    s.nextFolderIndex_ = std::max(header.nextNidIndex[kNidTypeNormalFolder], maxFolder + 1);
    s.nextMessageIndex_ = std::max(header.nextNidIndex[kNidTypeNormalMessage], maxMessage + 1);
    s.nextAssocIndex_ = std::max(header.nextNidIndex[kNidTypeAssocMessage], maxAssoc + 1);
    // A file made before the writer wrote every internal node gets the
    // missing ones with its next commit.
    for (uint32_t nid : InternalNodeNids())
        if ((file != nullptr ? file->Nodes().count(nid) : nodes.count(nid)) == 0) s.changed_.insert(nid);
    *out = std::move(s);
    return true;
}

}  // namespace mapi::pst::fmt
