// A whole message store held in memory and turned into nodes
// ([MS-PST] 2.4.3 message store, 2.4.4 folders, 2.7.1 and 2.7.3 the nodes
// and folders every file needs): the store's property context, the
// name-to-id map, the root folder with the IPM subtree, the search root
// and the spam search folder, the special folders, the receive folder
// table, the search queues and the table templates.
//
// Folders' tables are generated from the folders and messages each time
// the nodes are built, so they always agree with them. A change rebuilds
// only the nodes it reaches: a new message its folder's property context
// and contents table and the parent's hierarchy table, never the tables of
// the folders around it.
#pragma once

#include <cstdint>
#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_message.h"
#include "providers/pst/format/msg_namemap.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

class NdbFile;

class StoreModel {
public:
    struct Folder {
        uint32_t parent = 0;
        bool search = false;
        std::vector<PropValue> props;  // without the counts, which are computed
        std::vector<uint32_t> children;
        std::vector<uint32_t> messages;
        std::vector<uint32_t> associated;
        uint32_t unread = 0;  // of messages, kept as they are added and replaced
    };
    struct StoredMessage {
        uint32_t folder = 0;
        bool associated = false;
        // Until committed (or for a model loaded with its messages' nodes);
        // empty once in the file, which is then where it is read from.
        Node node;
        std::vector<PropValue> props;  // as stored, for its contents table row
        // props holds only the cells of its contents table row (a model read
        // from a file open for commits, or a message committed since); the
        // rest is in node, or in the file once node is empty.
        bool rowOnly = false;
    };

    // A new store with the folders every file has: the root, "Top of
    // Personal Folders" with Deleted Items, Inbox, Outbox and Sent Items,
    // "Search Root" and the spam search folder.
    static StoreModel NewStore(const StoreUid& uid, std::string_view displayName);

    const StoreUid& uid() const { return uid_; }
    // Serves the store under another identity (a session routing a copied
    // file); every entry id the model hands out is built from uid().
    void RouteAs(const StoreUid& uid) { uid_ = uid; }
    uint32_t ipmSubtree() const;
    uint32_t inbox() const { return inbox_; }
    uint32_t outbox() const { return outbox_; }
    uint32_t sentItems() const { return sentItems_; }
    uint32_t deletedItems() const { return deletedItems_; }

    // Adds a folder below parent; returns its NID, or 0 when parent is
    // not a folder of this store.
    uint32_t AddFolder(uint32_t parent, std::string_view name, std::string_view containerClass);
    // Adds a message (associated: to the folder's associated contents);
    // returns its NID, or 0 when folder is not a folder of this store.
    uint32_t AddMessage(uint32_t folder, const MessageContent& message, bool associated = false);

    NameMap& names() { return names_; }
    const NameMap& names() const { return names_; }
    const std::string& displayName() const { return displayName_; }

    const Folder* FindFolder(uint32_t nid) const;
    const StoredMessage* FindMessage(uint32_t nid) const;
    // Replaces a folder's own properties (name, class, comment...).
    bool SetFolderProps(uint32_t nid, std::vector<PropValue> props);
    // Replaces a saved message's content; false when nid is no message.
    bool ReplaceMessage(uint32_t nid, const MessageContent& message);
    // Takes a message out of its folder and the store; its node leaves the
    // file with the next TakeChanges. False when nid is no message.
    bool RemoveMessage(uint32_t nid);

    // Folder trees (msg_store_tree.cpp). RemoveFolder takes a folder and
    // everything below it out of the store; their nodes leave the file with
    // the next TakeChanges. False for no folder or the root.
    bool RemoveFolder(uint32_t nid);
    // Moves a folder below parent; false when either is no folder or parent
    // is nid or lies below it.
    bool MoveFolder(uint32_t nid, uint32_t parent);
    // Adds a message whose node is already built (a copy of one of this
    // store); props are its stored properties, for its row.
    uint32_t AddMessageNode(uint32_t folder, Node node, std::vector<PropValue> props, bool associated);
    // Replaces a saved message's node and row with ones changed in place
    // (a flag set where it lies); false when nid is no message.
    bool UpdateMessageNode(uint32_t nid, Node node, std::vector<PropValue> props);

    // The receive folder of each message class ("" for the default).
    const std::map<std::string, uint32_t>& receiveFolders() const { return receive_; }
    void SetReceiveFolder(const std::string& messageClass, uint32_t folder);

    // Reads a store this writer made (or any Unicode file with the same
    // structure) back from its nodes.
    // keepMessageNodes false: messages keep their properties only, for
    // their rows; the nodes stay in the file.
    static bool Load(const NodeSet& nodes, const Header& header, StoreModel* out, std::string* error,
                     bool keepMessageNodes = true);
    // The same, taking the messages' nodes over instead of copying them
    // (nodes is left without them): a reader that built the nodes in
    // memory then holds each message once.
    static bool Load(NodeSet&& nodes, const Header& header, StoreModel* out, std::string* error);
    // The same for a reader that leaves some messages in its file: rows
    // holds those messages' contents table cells (RowCells), and the
    // folders' tables in nodes list them like any other. They are loaded
    // rowOnly with no node; the store reads them from the file when one is
    // opened (WritableFile's MessageSource).
    static bool Load(NodeSet&& nodes, const Header& header, std::map<uint32_t, std::vector<PropValue>> rows,
                     StoreModel* out, std::string* error);
    // Of a message's properties, those its folder's contents table shows:
    // what a rowOnly message keeps.
    static std::vector<PropValue> RowCells(std::vector<PropValue> props, bool associated);
    // The same from a file open for commits, reading only the nodes the
    // model keeps (the store, the name map, the folders with their tables,
    // the receive folder table): messages stay in the file, each known by
    // its contents table row (rowOnly), so memory follows the folders'
    // tables, not the file.
    static bool Load(NdbFile& file, const Header& header, StoreModel* out, std::string* error);

    // Every node of the file; header receives the NID counters.
    NodeSet Build(Header* header) const;

    // The nodes changed since the last TakeChanges (and *removed those to
    // drop), built; counters receives the NID counters for the header.
    // Messages' nodes move out of the model into the set.
    NodeSet TakeChanges(std::set<uint32_t>* removed, std::array<uint32_t, 32>* counters);
    // Marks a node as changed (the name map after names were added).
    void MarkChanged(uint32_t nid) { changed_.insert(nid); }

private:
    static void KeepRowCellsOnly(StoredMessage& m);
    // file: nodes holds the folders' nodes only, the messages are in file.
    static bool LoadFrom(NodeSet& nodes, bool take, bool keepMessageNodes, const Header& header,
                         StoreModel* out, std::string* error, const NdbFile* file = nullptr,
                         std::map<uint32_t, std::vector<PropValue>>* rowsLeft = nullptr);
    uint32_t NewFolderNid();
    uint32_t AddFolderWithNid(uint32_t nid, uint32_t parent, std::string_view name,
                              std::string_view containerClass, bool search);
    void BuildFolder(uint32_t nid, const Folder& f, NodeSet& nodes) const;
    void BuildFolderProps(uint32_t nid, const Folder& f, NodeSet& nodes) const;
    void BuildHierarchy(uint32_t nid, const Folder& f, NodeSet& nodes) const;
    void BuildContents(uint32_t nid, const Folder& f, bool associated, NodeSet& nodes) const;
    // BuildContents through a table kept from the last build, which only
    // lays out the messages added since.
    void UpdateContents(uint32_t nid, const Folder& f, bool associated, NodeSet& nodes);
    // Builds the folder table node nid (hierarchy, contents or associated
    // contents); false when nid is none.
    bool BuildTable(uint32_t nid, NodeSet& nodes);
    // The nodes a change reaches: the folder's own properties (its counts
    // and name), the folder's table of that kind, the row the parent's
    // hierarchy table has of it.
    void FolderPropsChanged(uint32_t nid);
    void TableChanged(uint32_t nid, uint32_t tableType);
    static bool Unread(const std::vector<PropValue>& props);
    std::array<uint32_t, 32> Counters() const;
    void BuildReceiveTable(NodeSet& nodes) const;
    std::vector<PropValue> StoreProps() const;

    StoreUid uid_{};
    std::string displayName_;
    uint32_t inbox_ = 0, outbox_ = 0, sentItems_ = 0, deletedItems_ = 0;
    uint32_t nextFolderIndex_ = 0x403;
    uint32_t nextMessageIndex_ = 0x10000;
    uint32_t nextAssocIndex_ = 0x8000;
    std::map<uint32_t, Folder> folders_;
    std::map<uint32_t, StoredMessage> messages_;
    NameMap names_;
    std::map<std::string, uint32_t> receive_;
    // Folder and message NIDs (a folder stands for its three tables too)
    // and internal nodes changed since the last TakeChanges.
    std::set<uint32_t> changed_;
    // Messages removed since the last TakeChanges.
    std::set<uint32_t> removed_;
    // Contents tables as last built, by table NID; dropped when a row changes
    // other than by a message added at the end.
    std::map<uint32_t, std::unique_ptr<TableBuilder>> tables_;
};

}  // namespace mapi::pst::fmt
