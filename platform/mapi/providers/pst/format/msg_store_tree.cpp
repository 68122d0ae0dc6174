// Whole folder trees of the store model: removing one with everything
// below it, moving one under another parent, and adding the messages of a
// copied tree from their nodes as they are; and taking a message's node
// back after a change made in place.
#include <algorithm>

#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr std::array<uint32_t, 3> kTableTypes = {kNidTypeHierarchyTable, kNidTypeContentsTable,
                                                 kNidTypeAssocContentsTable};

}  // namespace

bool StoreModel::RemoveFolder(uint32_t nid) {
    auto it = folders_.find(nid);
    if (it == folders_.end() || it->second.parent == nid) return false;
    const uint32_t parent = it->second.parent;
    std::vector<uint32_t> tree{nid};
    for (size_t i = 0; i < tree.size(); ++i)
        for (uint32_t child : folders_.at(tree[i]).children) tree.push_back(child);
    std::set<uint32_t> gone(tree.begin(), tree.end());
    for (uint32_t f : tree) {
        Folder& folder = folders_.at(f);
        for (const std::vector<uint32_t>* ids : {&folder.messages, &folder.associated}) {
            for (uint32_t m : *ids) {
                messages_.erase(m);
                changed_.erase(m);
                removed_.insert(m);
            }
        }
        changed_.erase(f);
        removed_.insert(f);
        for (uint32_t type : kTableTypes) {
            uint32_t table = SiblingNid(f, type);
            changed_.erase(table);
            tables_.erase(table);
            removed_.insert(table);
        }
        folders_.erase(f);
    }
    std::vector<uint32_t>& siblings = folders_.at(parent).children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), nid), siblings.end());
    TableChanged(parent, kNidTypeHierarchyTable);
    FolderPropsChanged(parent);  // its subfolder flag, and its row above
    // A receive folder that is gone leaves its classes to the default.
    if (std::erase_if(receive_, [&](const auto& entry) { return gone.count(entry.second) != 0; }) !=
        0)
        changed_.insert(kNidReceiveFolderTable);
    return true;
}

bool StoreModel::MoveFolder(uint32_t nid, uint32_t parent) {
    auto it = folders_.find(nid);
    if (it == folders_.end() || it->second.parent == nid || folders_.count(parent) == 0)
        return false;
    // Below itself, a folder would leave the tree that starts at the root.
    for (uint32_t up = parent;; up = folders_.at(up).parent) {
        if (up == nid) return false;
        if (folders_.at(up).parent == up) break;
    }
    const uint32_t old = it->second.parent;
    if (old == parent) return true;
    std::vector<uint32_t>& from = folders_.at(old).children;
    from.erase(std::remove(from.begin(), from.end(), nid), from.end());
    folders_.at(parent).children.push_back(nid);
    it->second.parent = parent;
    for (uint32_t f : {old, parent}) {
        TableChanged(f, kNidTypeHierarchyTable);
        FolderPropsChanged(f);
    }
    FolderPropsChanged(nid);  // its node names its parent
    return true;
}

uint32_t StoreModel::AddMessageNode(uint32_t folder, Node node, std::vector<PropValue> props,
                                    bool associated) {
    auto f = folders_.find(folder);
    if (f == folders_.end()) return 0;
    uint32_t nid = associated ? MakeNid(kNidTypeAssocMessage, nextAssocIndex_++)
                              : MakeNid(kNidTypeNormalMessage, nextMessageIndex_++);
    StoredMessage m;
    m.folder = folder;
    m.associated = associated;
    m.node = std::move(node);
    m.props = std::move(props);
    m.rowOnly = true;  // the node, not props, is the whole message
    if (!associated && Unread(m.props)) ++f->second.unread;
    messages_[nid] = std::move(m);
    (associated ? f->second.associated : f->second.messages).push_back(nid);
    changed_.insert(nid);
    TableChanged(folder, associated ? kNidTypeAssocContentsTable : kNidTypeContentsTable);
    if (!associated) FolderPropsChanged(folder);
    return nid;
}

bool StoreModel::UpdateMessageNode(uint32_t nid, Node node, std::vector<PropValue> props) {
    auto it = messages_.find(nid);
    if (it == messages_.end()) return false;
    StoredMessage& m = it->second;
    Folder& f = folders_.at(m.folder);
    const uint32_t table =
        SiblingNid(m.folder, m.associated ? kNidTypeAssocContentsTable : kNidTypeContentsTable);
    // Its row is in the middle of the kept table, which only grows at the end.
    tables_.erase(table);
    if (!m.associated && Unread(m.props)) --f.unread;
    m.node = std::move(node);
    m.props = std::move(props);
    m.rowOnly = true;  // the node, not props, is the whole message
    if (!m.associated && Unread(m.props)) ++f.unread;
    changed_.insert(nid);
    changed_.insert(table);
    if (!m.associated) FolderPropsChanged(m.folder);
    return true;
}

}  // namespace mapi::pst::fmt
