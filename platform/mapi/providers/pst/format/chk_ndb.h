// The checking reader's node database: a personal folder file (.pst or
// .ost, Unicode or ANSI, unencoded or with the compressible encoding) read
// without trusting any of it. Every page and block is checked (trailer
// type, signature, CRC, id, size against the B-tree entry; B-tree levels,
// counts and key order; data tree totals) and whatever fails is reported
// where it was found instead of being read as data.
//
// Damage never ends the reading: a damaged B-tree page costs its subtree,
// whose leaf pages are then looked for by scanning the file; a damaged
// block costs the data it held. Leaf pages the scan finds outside the
// current trees (older revisions of the B-trees), and the slots past the
// count of any leaf page (entries a leaf dropped), yield the node entries
// a rescue can still offer as recovered items.
//
// Read-only. The bytes come through a ByteSource (chk_bytes.h): a block or
// page that cannot be read is damage like any other.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "providers/pst/format/chk_bytes.h"
#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_page.h"

namespace mapi::pst::fmt {

// A node as far as it could be read. Its data is kept per block, because
// a heap page is a block and one bad block then costs only that page.
struct CheckedNode {
    uint64_t dataBid = 0;  // the block (or data tree) the data came from
    std::vector<Bytes> pages;
    std::vector<std::string> pageErrors;  // one per page, "" when sound
    std::string dataError;                // the data tree itself failed: no data known
    std::map<uint32_t, CheckedNode> subnodes;
    std::string subnodeError;             // some subnodes could not be listed

    // Every byte of the data is known and sound.
    bool DataWhole() const;
    // The first reason the data is not whole, "" when it is.
    std::string DataProblem() const;
    // The pages joined; only meaningful when DataWhole().
    Bytes Joined() const;
};

class CheckedFile {
public:
    // Reads the header and indexes both B-trees. False only when the bytes
    // are not a personal folder file at all (no magic, too short, a header
    // whose B-tree roots and a scan give nothing); damage is in Problems().
    // The bytes are borrowed and must outlive the reader.
    bool Open(const uint8_t* data, size_t size, std::string* error);
    // The file at path, read with pread for the reader's life.
    bool Open(const std::string& path, std::string* error);
    bool Open(std::unique_ptr<ByteSource> bytes, std::string* error);

    bool Unicode() const { return unicode_; }
    uint8_t CryptMethod() const { return crypt_; }
    // Damage found while indexing, one line each in words for the user, in
    // file order of finding.
    const std::vector<std::string>& Problems() const { return problems_; }
    // Where the whole-file scan met read errors: the first unreadable
    // offset, 0 when every byte could be read.
    uint64_t FirstReadError() const { return firstReadError_; }

    // The node B-tree as reached from its root, by node id.
    const std::map<uint32_t, NbtEntry>& Nodes() const { return nodes_; }
    // Node entries found only by scanning: leaves of subtrees lost to
    // damage, leaves of older revisions of the node B-tree, and the unused
    // slots of any leaf. An entry equal to one in Nodes() is not repeated.
    const std::vector<NbtEntry>& StrayNodes() const { return strays_; }

    // Safe from several threads at once: the index is only read after Open,
    // and the block scan it may start runs once.
    // attachments false: the node's attachment subnodes are left unread
    // (what a message's own properties need is all in the rest).
    CheckedNode ReadNode(const NbtEntry& entry, bool attachments = true) const;
    // Where the block B-trees place a block: false when they do not know it.
    bool BlockPlace(uint64_t bid, uint64_t* ib, uint16_t* cb) const;
    // Reads the data behind one block id (a data tree when internal) into
    // *node's pages; used for node data and subnode data alike.
    void ReadData(uint64_t bid, CheckedNode* node) const;

private:
    bool ReadHeader(std::string* error);
    // keys [minKey, maxKey) are the ones the parent gave the page.
    void WalkTree(uint64_t ib, uint8_t type, int depth, int level, uint64_t minKey, uint64_t maxKey,
                  std::set<uint64_t>* seen);
    // A page that cannot be used: its keys are lost with it (block ids
    // are later looked up there to say why a block is not found).
    void LosePage(uint64_t ib, uint8_t type, uint64_t minKey, uint64_t maxKey, const std::string& why);
    // With crcOk, a page whose CRC fails is parsed too and *crcOk says so.
    bool ParsePage(uint64_t ib, uint8_t type, BtPage* page, std::string* why, bool* crcOk = nullptr) const;
    // The same on the page's bytes, already read.
    bool ParsePage(uint64_t ib, const uint8_t* p, uint8_t type, BtPage* page, std::string* why, bool* crcOk) const;
    void ScanLeaves();
    // The entries in the slots of a parsed leaf page p past its count,
    // where entries it dropped may remain; the obviously empty ones left out.
    void LeafSlack(const uint8_t* p, const BtPage& page, std::vector<NbtEntry>* nodes,
                   std::vector<BbtEntry>* blocks) const;
    // Finds blocks by their trailers alone (size, signature of their place,
    // CRC, id), for blocks no B-tree leaf names any more; run once, on the
    // first block the trees do not know.
    void ScanBlocks() const;
    const BbtEntry* FindBlock(uint64_t bid) const;
    bool Block(uint64_t bid, Bytes* out, std::string* why) const;
    void ReadTree(uint64_t bid, int depth, CheckedNode* node) const;
    void ReadSubnodes(uint64_t bid, int depth, CheckedNode* node, bool attachments = true) const;
    void Problem(std::string what) { problems_.push_back(std::move(what)); }

    std::unique_ptr<ByteSource> bytes_;
    uint64_t size_ = 0;
    bool unicode_ = true;
    uint8_t crypt_ = kCryptNone;
    Bref nbtRoot_, bbtRoot_;
    std::map<uint64_t, BbtEntry> blocks_;   // by block id without bit 0
    std::map<uint64_t, BbtEntry> scannedBlocks_;
    mutable std::once_flag blockScan_;
    mutable std::map<uint64_t, BbtEntry> trailerBlocks_;  // filled by ScanBlocks
    std::map<uint32_t, NbtEntry> nodes_;
    std::vector<NbtEntry> strays_;
    std::vector<std::string> problems_;
    struct LostKeys {
        uint64_t from, to, ib;
        std::string why;
    };
    std::vector<LostKeys> lostBlockKeys_;
    uint64_t firstReadError_ = 0;
};

// n with its thousands grouped by commas ("1,265,664"), as the lines for
// the user write offsets and sizes.
std::string Grouped(uint64_t n);

}  // namespace mapi::pst::fmt
