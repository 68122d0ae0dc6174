// A personal folder file open for incremental commits.
//
// Crash safety by writing new pages and then switching the header: a
// commit writes the changed nodes' blocks and the changed B-tree pages into
// free space only, updates the allocation maps, flushes, and only then
// rewrites the header, which names the new B-tree roots. (The header is a
// single 564-byte write within the first disk sector.)
//
// The header is not flushed on its own: the next commit's flush, which
// comes before that commit's header, makes it durable, and so does closing
// the file. This is the embedded store's choice too (its write-ahead log
// is not synced per transaction): a killed process loses nothing that a
// commit returned, a power cut at most the last commit, never the file's
// soundness. For that, space a commit stops using is handed out again only
// two commits later: until the next commit's flush, the header on disk may
// still be the one before the commit, which reaches that space.
//
// The B-trees are kept as leaves in memory: a commit rewrites the leaves
// whose entries changed and the levels above them, so the work per commit
// follows the size of the change, not of the file. A changed node keeps
// every block whose bytes it still has (the rows of a long contents table
// before the one added, an attachment of a message saved again): only the
// blocks that differ are written. A node given as a patch (a folder's
// contents table, which changes at its end on every commit) names those
// blocks itself, so the others are neither assembled nor compared.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "providers/pst/format/ndb_amap.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_node.h"
#include "providers/pst/format/ndb_node_patch.h"
#include "providers/pst/format/ndb_page.h"

namespace mapi::pst::fmt {

class NdbFile {
public:
    ~NdbFile();
    NdbFile(const NdbFile&) = delete;
    NdbFile& operator=(const NdbFile&) = delete;

    // Opens a file made by this writer (Unicode, unencoded or compressible): reads its header
    // and both B-trees, checking every page, and no node. A node's blocks are
    // checked when it is read (ReadNode); a damaged node then fails there,
    // and a commit that would replace or drop it fails too.
    static std::unique_ptr<NdbFile> Open(const std::string& path, Header* header, std::string* error);
    // The same, reading every node into *nodes as well (so checking every
    // block of the file); for tools and tests that want the whole content.
    static std::unique_ptr<NdbFile> Open(const std::string& path, NodeSet* nodes, Header* header,
                                         std::string* error);

    // Writes changed (new or replaced) top nodes, drops removed ones, and
    // switches the header, with nidCounters as its rgnid. Refused when
    // another writer committed since this object read the file. On failure
    // the file on disk is still the last commit, but this object is not:
    // open the file again.
    bool Commit(const NodeSet& changed, const std::set<uint32_t>& removed,
                const std::array<uint32_t, 32>& nidCounters, std::string* error);

    uint64_t FileSize() const { return header_.root.fileEof; }

    // Reads a committed top node back from the file, block by block, with
    // every block's trailer checked; false with a reason when nid is not in
    // the file or cannot be read. withAttachments false leaves out the
    // subnodes that are a message's attachments, for a reader that wants its
    // properties only.
    bool ReadNode(uint32_t nid, Node* out, std::string* error, bool withAttachments = true);

    // The top nodes of the file as last committed, with their parents.
    const std::map<uint32_t, NbtEntry>& Nodes() const { return nodes_; }

private:
    struct Leaf {
        std::vector<uint64_t> keys;  // sorted
        Bref at;                     // where it is stored; ib 0 for new
        bool dirty = false;
    };
    struct Tree {
        uint8_t type = kPageNBT;
        std::vector<Leaf> leaves;
        // The pages above the leaves, level by level from the lowest, as last
        // written: a page is written again only when its entries change.
        struct Upper {
            std::vector<BtEntry> children;
            Bref at;
        };
        std::vector<std::vector<Upper>> upper;
        std::vector<Bref> retired;  // pages the next write replaces or drops
        size_t shiftFrom = SIZE_MAX;  // the first leaf inserted or removed since the last write
        Bref root;
    };

    NdbFile() = default;
    bool LoadTrees(std::string* error);
    bool WalkTree(const Bref& ref, Tree& tree, int depth, int expectedLevel, uint64_t minKey, uint64_t* lastKey,
                  std::string* error);
    // Null *out when nid has no blocks in the file.
    bool OwnedBlocks(uint32_t nid, std::vector<uint64_t>** out, std::string* error);
    bool CollectData(uint64_t bid, std::vector<uint64_t>* out, int depth, std::string* error);
    bool CollectSubnodes(uint64_t bid, std::vector<uint64_t>* out, int depth, std::string* error);
    bool Fresh(std::string* error);
    bool CommitLocked(const NodeSet& changed, const std::set<uint32_t>& removed,
                      const std::array<uint32_t, 32>& nidCounters, std::string* error);
    bool Write(uint64_t ib, const uint8_t* data, size_t size, std::string* error);
    // Blocks a node had, by a hash of their bytes, that its new version may
    // keep; each is kept at most once.
    using Reusable = std::unordered_multimap<uint64_t, uint64_t>;
    bool StoreBlock(const Bytes& data, bool internal, uint64_t* bid, std::vector<uint64_t>* owned,
                    Reusable* reusable, std::string* error);
    bool SameBytes(uint64_t bid, const Bytes& data);
    bool ReadBlock(uint64_t bid, Bytes* data, std::string* error);
    bool ReadData(uint64_t bid, Bytes* out, int depth, std::string* error);
    bool ReadSubnodes(uint64_t bid, std::map<uint32_t, Node>* out, int depth, bool withAttachments,
                      std::string* error);
    void DropBlocks(uint32_t nid, const std::set<uint64_t>& keep = {});
    // Commits a node given as a patch (ndb_commit_patch.cpp).
    bool CommitPatched(uint32_t nid, const TopNode& top, std::string* error);
    void DropBlock(uint64_t bid);
    static void Insert(Tree& tree, uint64_t key, size_t maxPerLeaf);
    static void Erase(Tree& tree, uint64_t key);
    static void Touch(Tree& tree, uint64_t key);
    bool WriteTree(Tree& tree, std::string* error);
    bool WriteMaps(std::string* error);

    int fd_ = -1;
    std::string path_;
    Header header_;
    FileSpace space_;
    std::map<uint64_t, BbtEntry> blocks_;
    std::map<uint32_t, NbtEntry> nodes_;
    // Every block of each node's trees, and a hash of each block's bytes:
    // known for what this object wrote, learned for the rest when a commit
    // replaces or drops the node.
    std::map<uint32_t, std::vector<uint64_t>> owned_;
    std::unordered_map<uint64_t, uint64_t> hashOf_;
    // How each node last committed as a patch lies in blocks; a node
    // committed otherwise has none, and its next patch must be whole.
    std::map<uint32_t, NodeLayout> layouts_;
    std::vector<std::pair<uint64_t, uint64_t>> releaseNext_;    // freed by this or the last commit
    std::vector<std::pair<uint64_t, uint64_t>> releaseLater_;   // freed by the one before
    bool unsynced_ = false;  // a header written since the last flush
    Tree nbt_, bbt_;
};

}  // namespace mapi::pst::fmt
